#include "manifest/attribution.h"

#include <gtest/gtest.h>

#include <string>

namespace kestrelume {
namespace {

TEST(Attribution, IsValidTagTakesLowerCaseLettersDigitsAndInnerHyphensUpToTheLimit) {
  for (const char* tag : {"a", "0", "spring-news", "7f3a", "a-", "a--b", "0-x-9"}) {
    EXPECT_TRUE(IsValidTag(tag, kSrcTagLimit)) << tag;
  }
  for (const char* tag : {"", "-a", "Spring", "a.b", "a_b", "a b", "a/b", "a%20", "caf\xC3\xA9", "a\n"}) {
    EXPECT_FALSE(IsValidTag(tag, kTTagLimit)) << tag;
  }
  EXPECT_TRUE(IsValidTag(std::string(40, 'a'), 40));
  EXPECT_FALSE(IsValidTag(std::string(41, 'a'), 40));
  EXPECT_TRUE(IsValidTag(std::string(64, '9'), 64));
  EXPECT_FALSE(IsValidTag(std::string(65, '9'), 64));
  EXPECT_FALSE(IsValidTag(std::string("a\0b", 3), 64));
}

}  // namespace
}  // namespace kestrelume
