#include "manifest/json_reader.h"

#include <gtest/gtest.h>

#include <string>

namespace kestrelume {
namespace {

using namespace std::string_literals;

// A Manifest no document could produce, to show that a rejected document
// leaves the caller's record as it was.
Manifest Sentinel() {
  Manifest m;
  m.version = "sentinel-version";
  m.published = "sentinel-published";
  m.url = "sentinel-url";
  m.mirror = "sentinel-mirror";
  m.sha256 = "sentinel-sha256";
  m.size = 0xDEADBEEFu;
  m.min_windows = "sentinel-windows";
  m.bootstrap_min = 0xBADu;
  return m;
}

void ExpectSame(const Manifest& a, const Manifest& b) {
  EXPECT_EQ(a.version, b.version);
  EXPECT_EQ(a.published, b.published);
  EXPECT_EQ(a.url, b.url);
  EXPECT_EQ(a.mirror, b.mirror);
  EXPECT_EQ(a.sha256, b.sha256);
  EXPECT_EQ(a.size, b.size);
  EXPECT_EQ(a.min_windows, b.min_windows);
  EXPECT_EQ(a.bootstrap_min, b.bootstrap_min);
}

void ExpectRejected(const std::string& text) {
  Manifest m = Sentinel();
  EXPECT_FALSE(ParseManifest(text, m)) << text;
  ExpectSame(m, Sentinel());
}

Manifest ExpectAccepted(const std::string& text) {
  Manifest m = Sentinel();
  EXPECT_TRUE(ParseManifest(text, m)) << text;
  return m;
}

TEST(JsonReader, AcceptedDocumentReplacesEveryField) {
  const Manifest full = ExpectAccepted(R"({
    "version": "1.4.2", "published": "2024-05-01", "url": "https://a.example/s.exe",
    "mirror": "https://b.example/s.exe", "sha256": "ab", "size": 123456,
    "min_windows": "10.0.17763", "bootstrap_min": 1 })");
  EXPECT_EQ(full.version, "1.4.2");
  EXPECT_EQ(full.published, "2024-05-01");
  EXPECT_EQ(full.url, "https://a.example/s.exe");
  EXPECT_EQ(full.mirror, "https://b.example/s.exe");
  EXPECT_EQ(full.sha256, "ab");
  EXPECT_EQ(full.size, 123456u);
  EXPECT_EQ(full.min_windows, "10.0.17763");
  EXPECT_EQ(full.bootstrap_min, 1u);

  // Fields the document does not name come out empty, not as they were.
  ExpectSame(ExpectAccepted(" \r\n\t{ \n } \t\r\n"), Manifest{});
  ExpectSame(ExpectAccepted("{}"), Manifest{});
  Manifest only_version;
  only_version.version = "2.0";
  ExpectSame(ExpectAccepted(R"({"version":"2.0"})"), only_version);
}

TEST(JsonReader, ByteOrderMarkIsAllowedOnlyAtTheVeryStart) {
  EXPECT_EQ(ExpectAccepted("\xEF\xBB\xBF{\"version\":\"1.0\"}").version, "1.0");
  ExpectAccepted("\xEF\xBB\xBF {}");
  ExpectRejected(" \xEF\xBB\xBF{}");
  ExpectRejected("{\xEF\xBB\xBF}");
  ExpectRejected("{}\xEF\xBB\xBF");
  ExpectRejected("\xEF\xBB\xBF\xEF\xBB\xBF{}");
  ExpectRejected("\xEF\xBB{}");
  ExpectRejected("\xEF\xBB\xBF");
}

TEST(JsonReader, OnlySpaceTabCarriageReturnAndLineFeedCountAsWhitespace) {
  ExpectAccepted(" \t\r\n{ \t\r\n\"a\" \t\r\n: \t\r\n1 \t\r\n, \"b\":2 \t\r\n} \t\r\n");
  for (const std::string& bad : {"\f"s, "\v"s, "\xC2\xA0"s, "\0"s}) {
    ExpectRejected(bad + "{}");
    ExpectRejected("{" + bad + "}");
    ExpectRejected("{\"a\"" + bad + ":1}");
    ExpectRejected("{\"a\":" + bad + "1}");
    ExpectRejected("{\"a\":1" + bad + "}");
    ExpectRejected("{}" + bad);
  }
}

TEST(JsonReader, StructuralFaultsRejectTheWholeDocument) {
  for (const std::string& text : {
           ""s, " "s, "["s, "[]"s, "\"version\""s, "1"s, "null"s,
           "{"s, "{ "s, "}"s,
           R"({"version":"1.0")"s,              // no closing brace
           R"({"version":"1.0",})"s,            // trailing comma
           R"({,"version":"1.0"})"s,            // leading comma
           R"({"version":"1.0",,"url":"x"})"s,  // double comma
           R"({"version" "1.0"})"s,             // no colon
           R"({"version"=1})"s,
           R"({"version":})"s,                  // no value
           R"({"version":)"s,                   // text ends after the colon
           R"({"version": )"s,
           R"({"version")"s,
           R"({"version":"1.0" "url":"x"})"s,   // no comma
           R"({version:"1.0"})"s,               // unquoted key
           R"({'version':'1.0'})"s,
           R"({1:2})"s,
           R"({"version":"1.0"}})"s,            // text after the object
           R"({}{})"s,
           R"({"a":1}{"b":2})"s,
           R"({} x)"s,
           R"({"version":"1.0"} ,)"s,
       }) {
    ExpectRejected(text);
  }
}

TEST(JsonReader, NestedValuesRejectEvenUnderUnknownKeys) {
  for (const std::string& text : {
           R"({"unknown":[]})"s,
           R"({"unknown":{}})"s,
           R"({"unknown":[1,2]})"s,
           R"({"unknown":{"a":1}})"s,
           R"({"version":["1.0"]})"s,
           R"({"version":{"v":"1.0"}})"s,
       }) {
    ExpectRejected(text);
  }
}

TEST(JsonReader, LiteralsAreSkippedWholeAndAnythingElseRejects) {
  ExpectAccepted(R"({"a":true,"b":false,"c":null})");
  ExpectAccepted(R"({"a" : true , "b":null })");
  for (const std::string& text : {
           R"({"a":nul)"s,     // literal cut short by the end of the text
           R"({"a":nul})"s,
           R"({"a":tru})"s,
           R"({"a":True})"s,
           R"({"a":NULL})"s,
           R"({"a":truex})"s,  // consumed "true", then a letter
           R"({"a":nullnull})"s,
           R"({"a":falsey})"s,
           R"({"a":undefined})"s,
           R"({"a":+1})"s,
           R"({"a":.5})"s,
           R"({"a":x})"s,
       }) {
    ExpectRejected(text);
  }
}

TEST(JsonReader, NumbersOfEveryShapeAreReadAndMalformedOnesReject) {
  for (const std::string& value : {"0"s, "007"s, "1.5"s, "1e3"s, "2E-1"s, "2e+1"s, "-0"s, "-7"s, "-1.5"s,
                                  "18446744073709551616"s, "123456789012345678901234567890"s}) {
    ExpectAccepted(R"({"unknown":)" + value + "}");
    ExpectAccepted(R"({"unknown": )" + value + " ,\"x\":1}");
  }
  for (const std::string& value : {"-"s, "- 1"s, "1."s, "1.}"s, "1e"s, "1e}"s, "1E+"s, ".5"s, "+1"s,
                                  "01x"s, "1.5.5"s, "1e3e3"s, "0x10"s, "1 2"s, "--1"s}) {
    ExpectRejected(R"({"unknown":)" + value + "}");
  }
}

TEST(JsonReader, StringMembersRejectOnBadContentAndDecodeEscapes) {
  EXPECT_EQ(ExpectAccepted(R"({"version":"\u00e9"})").version, "\xC3\xA9");
  EXPECT_EQ(ExpectAccepted(R"({"version":"\ud83d\ude00"})").version, "\xF0\x9F\x98\x80");
  EXPECT_EQ(ExpectAccepted(R"({"version":"a\u0000b"})").version, "a\0b"s);
  EXPECT_EQ(ExpectAccepted(R"({"version":"a\tb"})").version, "a\tb");
  EXPECT_EQ(ExpectAccepted("{\"version\":\"\xFF\xFE\x80\"}").version, "\xFF\xFE\x80");
  ExpectRejected("{\"version\":\"a\tb\"}");
  ExpectRejected(R"({"version":"\ude00"})");
  ExpectRejected(R"({"version":"\ud83dx"})");
  ExpectRejected(R"({"unknown":"\q"})");
  ExpectRejected("{\"unk\x01nown\":1}");
  ExpectRejected(R"({"version":"1.0)");
}

TEST(JsonReader, EscapedKeysMatchTheirPlainSpelling) {
  const Manifest m = ExpectAccepted(R"({"\u0076ersion":"1.0","ur\u006C":"https://x.example/","\u0073ize":5})");
  EXPECT_EQ(m.version, "1.0");
  EXPECT_EQ(m.url, "https://x.example/");
  EXPECT_EQ(m.size, 5u);
  // Keys are case-sensitive and must match in full.
  const Manifest other = ExpectAccepted(R"({"Version":"1.0","version ":"2.0","URL":"x","size\u0000":7})");
  EXPECT_EQ(other.version, "");
  EXPECT_EQ(other.url, "");
  EXPECT_EQ(other.size, 0u);
}

TEST(JsonReader, RepeatedKeysLetTheLaterValueOfTheRightKindWin) {
  const Manifest later = ExpectAccepted(R"({"version":"1.0","version":"2.0","size":1,"size":2})");
  EXPECT_EQ(later.version, "2.0");
  EXPECT_EQ(later.size, 2u);

  const Manifest wrong_kind = ExpectAccepted(
      R"({"version":"1.0","version":3,"version":null,"size":9,"size":"10","size":true,"size":1.5})");
  EXPECT_EQ(wrong_kind.version, "1.0");
  EXPECT_EQ(wrong_kind.size, 9u);
}

TEST(JsonReader, NamesTheMemberWhoseValueRejectsTheDocument) {
  struct Case {
    std::string text;
    bool accepted;
    std::string member;  // "-" when none is named
  };
  const Case cases[] = {
      {R"({"version": "1.0", "bootstrap_min": -1})", false, "bootstrap_min"},
      {R"({"bootstrap_min": 1000001, "size": -5})", false, "bootstrap_min"},
      {R"({"size": -5, "bootstrap_min": 1000001})", false, "size"},
      {R"({"url": "x", "size": -0})", false, "size"},
      // Malformed documents name no member: the text itself is at fault.
      {R"({"version": "1.0",})", false, "-"},
      {R"({"bootstrap_min": -1)", false, "-"},
      {R"({"bootstrap_min": 1000000, "size": 3})", true, "-"},
  };
  for (const Case& c : cases) {
    Manifest m = Sentinel();
    std::string member = "-";
    EXPECT_EQ(ParseManifest(c.text, m, &member), c.accepted) << c.text;
    EXPECT_EQ(member, c.member) << c.text;
    if (!c.accepted) ExpectSame(m, Sentinel());
  }
}

}  // namespace
}  // namespace kestrelume
