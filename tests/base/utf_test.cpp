#include "base/utf.h"

#include <gtest/gtest.h>

namespace kestrelume {
namespace {

TEST(Utf, EmptyInputGivesEmptyOutput) {
  EXPECT_EQ(Utf8ToWide(""), L"");
  EXPECT_EQ(WideToUtf8(L""), "");
}

TEST(Utf, WellFormedTextRoundTrips) {
  const std::string utf8 = "Caf\xC3\xA9 \xF0\x9F\x98\x80 \xE2\x82\xAC";  // é, U+1F600, €
  const std::wstring wide = Utf8ToWide(utf8);
  EXPECT_EQ(wide, std::wstring(L"Caf\u00E9 \xD83D\xDE00 \u20AC"));
  EXPECT_EQ(WideToUtf8(wide), utf8);
  // Embedded zero code units are kept: lengths are explicit, not terminated.
  EXPECT_EQ(Utf8ToWide(std::string("a\0b", 3)), std::wstring(L"a\0b", 3));
}

TEST(Utf, EachMalformedSequenceBecomesReplacementCharacter) {
  EXPECT_EQ(Utf8ToWide("a\x80z"), L"a\uFFFDz");            // stray continuation byte
  EXPECT_EQ(Utf8ToWide("a\xC3"), L"a\uFFFD");              // truncated sequence at the end
  EXPECT_EQ(Utf8ToWide("\xFF\xFE"), L"\uFFFD\uFFFD");      // bytes never valid in UTF-8
  EXPECT_EQ(Utf8ToWide("\xED\xA0\x80").find(L'\xD800'), std::wstring::npos);  // encoded surrogate
  EXPECT_NE(Utf8ToWide("\xC0\xAF").find(L'\uFFFD'), std::wstring::npos);      // overlong '/'
  // A lone surrogate in UTF-16 becomes U+FFFD (EF BF BD) in UTF-8.
  EXPECT_EQ(WideToUtf8(std::wstring(L"x") + wchar_t(0xD800) + L"y"), "x\xEF\xBF\xBDy");
}

}  // namespace
}  // namespace kestrelume
