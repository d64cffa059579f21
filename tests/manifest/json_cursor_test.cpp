#include "manifest/json_cursor.h"

#include <gtest/gtest.h>

#include <string>

namespace kestrelume {
namespace {

using namespace std::string_literals;

TEST(JsonCursor, SkipWhitespaceStopsAtAnythingButTheFourJsonSpaces) {
  JsonCursor all(" \t\r\n \n");
  all.SkipWhitespace();
  EXPECT_TRUE(all.AtEnd());

  for (const std::string& stop : {"\fx"s, "\vx"s, "\xC2\xA0x"s, "x"s, "\0 "s}) {
    const std::string text = " " + stop;
    JsonCursor cursor(text);
    cursor.SkipWhitespace();
    EXPECT_EQ(cursor.position(), 1u) << "stop byte " << int(static_cast<unsigned char>(stop[0]));
  }
}

TEST(JsonCursor, ReadHex4ReadsFourDigitsOfEitherCaseMostSignificantFirst) {
  uint32_t value = 0;
  JsonCursor lower("00e9");
  EXPECT_TRUE(lower.ReadHex4(value));
  EXPECT_EQ(value, 0xE9u);
  EXPECT_EQ(lower.position(), 4u);

  JsonCursor mixed("aBcDz");
  EXPECT_TRUE(mixed.ReadHex4(value));
  EXPECT_EQ(value, 0xABCDu);
  EXPECT_EQ(mixed.position(), 4u);

  // Too short: fails without moving.
  JsonCursor short_text("ab1");
  EXPECT_FALSE(short_text.ReadHex4(value));
  EXPECT_EQ(short_text.position(), 0u);

  JsonCursor at_end("x", 1);
  EXPECT_FALSE(at_end.ReadHex4(value));

  for (const char* bad : {"12g4", "-123", "+123", " 123", "12 4"}) {
    JsonCursor cursor(bad);
    EXPECT_FALSE(cursor.ReadHex4(value)) << bad;
  }
}

TEST(JsonCursor, MatchLiteralMovesOnlyOnAWholeMatch) {
  JsonCursor match("truex");
  EXPECT_TRUE(match.MatchLiteral("true"));
  EXPECT_EQ(match.position(), 4u);

  JsonCursor prefix("nul");
  EXPECT_FALSE(prefix.MatchLiteral("null"));
  EXPECT_EQ(prefix.position(), 0u);

  JsonCursor differs("falsy");
  EXPECT_FALSE(differs.MatchLiteral("false"));
  EXPECT_EQ(differs.position(), 0u);

  JsonCursor case_differs("True");
  EXPECT_FALSE(case_differs.MatchLiteral("true"));

  JsonCursor at_end("null", 4);
  EXPECT_FALSE(at_end.MatchLiteral("null"));
}

TEST(JsonCursor, AppendUtf8EncodesEachLengthBoundary) {
  struct Case {
    uint32_t code_point;
    std::string bytes;
  };
  const Case cases[] = {
      {0x00, "\0"s},
      {0x41, "A"},
      {0x7F, "\x7F"},
      {0x80, "\xC2\x80"},
      {0xE9, "\xC3\xA9"},
      {0x7FF, "\xDF\xBF"},
      {0x800, "\xE0\xA0\x80"},
      {0x20AC, "\xE2\x82\xAC"},
      {0xFFFF, "\xEF\xBF\xBF"},
      {0x10000, "\xF0\x90\x80\x80"},
      {0x1F600, "\xF0\x9F\x98\x80"},
      {0x10FFFF, "\xF4\x8F\xBF\xBF"},
  };
  for (const Case& c : cases) {
    std::string out = "x";
    AppendUtf8(out, c.code_point);
    EXPECT_EQ(out, "x" + c.bytes) << std::hex << c.code_point;
  }
}

TEST(JsonCursor, ReadStringDecodesEveryEscapeAndSurrogatePair) {
  struct Case {
    std::string json;
    std::string decoded;
  };
  const Case cases[] = {
      {R"("")", ""},
      {R"("plain")", "plain"},
      {R"("\"\\\/\b\f\n\r\t")", "\"\\/\b\f\n\r\t"},
      {R"("\u00e9")", "\xC3\xA9"},
      {R"("\u00C9")", "\xC3\x89"},
      {R"("\u20ac")", "\xE2\x82\xAC"},
      {R"("\ud83d\ude00")", "\xF0\x9F\x98\x80"},
      {R"("\uD83D\uDE00!")", "\xF0\x9F\x98\x80!"},
      {R"("a\u0000b")", "a\0b"s},
      {R"("\u0041BC")", "ABC"},
      // Raw bytes from 0x80 are copied as they stand, valid UTF-8 or not.
      {"\"\xC3\xA9\xFF\x80\"", "\xC3\xA9\xFF\x80"},
      {"\"\x7F\"", "\x7F"},
  };
  for (const Case& c : cases) {
    const std::string text = c.json + "rest";
    JsonCursor cursor(text);
    std::string out = "stale";
    ASSERT_TRUE(cursor.ReadString(out)) << c.json;
    EXPECT_EQ(out, c.decoded) << c.json;
    EXPECT_EQ(cursor.position(), c.json.size()) << c.json;
  }
}

TEST(JsonCursor, ReadStringFailsOnBadEscapesSurrogatesAndRawControls) {
  const std::string bad[] = {
      "plain",                  // no opening quote
      R"("unterminated)",       // ends before the closing quote
      R"(")",                   // only the opening quote
      R"("ends in \)",          // backslash as the last byte
      R"("\)",                  //
      R"("\x41")",              // unknown escape
      R"("\U0041")",            // escapes are case-sensitive
      R"("\'")",                //
      R"("\u00")",              // too few hex digits before the end
      R"("\u00g1")",            // non-hex digit
      R"("\ude00")",            // lone low surrogate
      R"("\ud83d")",            // high surrogate, then the quote
      R"("\ud83dx\ude00")",     // high surrogate, then a byte
      R"("\ud83d\u0041")",      // high surrogate, then a non-surrogate escape
      R"("\ud83d\ud83d")",      // two high surrogates
      R"("\ud83d\n")",          // high surrogate, then another escape
      "\"tab\there\"",          // raw control characters
      "\"line\nbreak\"",
      "\"nul\0byte\""s,
      "\"\x1F\"",
  };
  for (const std::string& json : bad) {
    JsonCursor cursor(json);
    std::string out;
    EXPECT_FALSE(cursor.ReadString(out)) << json;
  }
}

TEST(JsonCursor, ReadNumberKeepsTheIntegerPartAndMarksEverythingElse) {
  struct Case {
    const char* json;
    uint64_t integer;
    bool negative;
    bool not_integer;
    size_t length;
  };
  const Case cases[] = {
      {"0", 0, false, false, 1},
      {"42,", 42, false, false, 2},
      {"007", 7, false, false, 3},
      {"-0", 0, true, false, 2},
      {"-12}", 12, true, false, 3},
      {"1.5", 1, false, true, 3},
      {"1.0", 1, false, true, 3},
      {"-1.5", 1, true, true, 4},
      {"1e3", 1, false, true, 3},
      {"-1e3", 1, true, true, 4},
      {"2E-1", 2, false, true, 4},
      {"2e+10 ", 2, false, true, 5},
      {"1.25e2x", 1, false, true, 6},
      {"18446744073709551615", UINT64_MAX, false, false, 20},
      {"18446744073709551616", 0, false, true, 20},  // 2^64 wraps and is marked
      {"99999999999999999999999", 0, false, true, 23},
  };
  for (const Case& c : cases) {
    JsonCursor cursor(c.json);
    JsonNumber number;
    ASSERT_TRUE(cursor.ReadNumber(number)) << c.json;
    if (!number.not_integer) {
      EXPECT_EQ(number.integer, c.integer) << c.json;
    }
    EXPECT_EQ(number.negative, c.negative) << c.json;
    EXPECT_EQ(number.not_integer, c.not_integer) << c.json;
    EXPECT_EQ(cursor.position(), c.length) << c.json;
  }
}

TEST(JsonCursor, ReadNumberRejectsMissingDigits) {
  for (const char* json : {"-", "-x", "-.5", "1.", "1.x", "1.e3", "1e", "1E", "1e+", "1e-", "1ex", "2.5e"}) {
    JsonCursor cursor(json);
    JsonNumber number;
    EXPECT_FALSE(cursor.ReadNumber(number)) << json;
  }
}

}  // namespace
}  // namespace kestrelume
