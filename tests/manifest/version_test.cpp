#include "manifest/manifest.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace kestrelume {
namespace {

using Components = std::array<uint32_t, 4>;

TEST(Version, ParseVersionReadsOneToFourComponentsOfUpToNineDigits) {
  struct Case {
    const char* text;
    Components expected;
  };
  const Case cases[] = {
      {"10", {10, 0, 0, 0}},
      {"10.0.17", {10, 0, 17, 0}},
      {"1.2.3.4", {1, 2, 3, 4}},
      {"0", {0, 0, 0, 0}},
      {"01.002.0003", {1, 2, 3, 0}},
      {"000000000", {0, 0, 0, 0}},
      {"999999999.999999999.999999999.999999999", {999999999, 999999999, 999999999, 999999999}},
      {"10.0.22631", {10, 0, 22631, 0}},
  };
  for (const Case& c : cases) {
    Components components{7, 7, 7, 7};
    EXPECT_TRUE(ParseVersion(c.text, components)) << c.text;
    EXPECT_EQ(components, c.expected) << c.text;
  }
}

TEST(Version, ParseVersionRefusesEverythingElse) {
  for (const char* text : {"", ".", "1.", ".1", "1..2", "1.2.", "1.2.3.4.5", "1.2.3.4.", "1234567890",
                           "1.1234567890", "0000000000", "v1.2", "1.2.3-beta", "1.2.3 ", " 1.2", "+1",
                           "-1", "1,2", "1.2a", "a", "1.2.3.4\n", "\xEF\xBC\x91"}) {
    Components components{};
    EXPECT_FALSE(ParseVersion(text, components)) << text;
  }
}

TEST(Version, CompareVersionsOrdersComponentWiseWithMissingOnesAsZero) {
  struct Case {
    const char* a;
    const char* b;
    int expected;
  };
  const Case cases[] = {
      {"1.2", "1.2.0", 0},
      {"1.2", "1.2.0.0", 0},
      {"01.2", "1.2", 0},
      {"0.10.0", "0.9.9", 1},
      {"0.9.9", "0.10.0", -1},
      {"1.2.3.4", "1.2.3.5", -1},
      {"1.2.3.5", "1.2.3.4", 1},
      {"2", "1.999999999", 1},
      {"10.0.20000", "10.0", 1},
      {"10.0.20000", "10.0.30000", -1},
      {"999999999", "999999998.999999999", 1},
      // Texts that do not parse tie with 0.
      {"junk", "0", 0},
      {"junk", "0.0.0.0", 0},
      {"", "0.0.0.1", -1},
      {"0.0.0.1", "1.2.3.4.5", 1},
      {"1234567890", "0", 0},
      {"1.2-beta", "junk", 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CompareVersions(c.a, c.b), c.expected) << c.a << " vs " << c.b;
    EXPECT_EQ(CompareVersions(c.b, c.a), -c.expected) << c.b << " vs " << c.a;
  }
}

}  // namespace
}  // namespace kestrelume
