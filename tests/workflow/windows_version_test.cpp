#include "workflow/windows_version.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

namespace kestrelume {
namespace {

TEST(WindowsVersionText, IsMajorMinorBuildInPlainDecimal) {
  const std::string text = WindowsVersionText();
  ASSERT_FALSE(text.empty());
  int parts = 1;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '.') {
      ++parts;
      EXPECT_TRUE(i > 0 && i + 1 < text.size() && text[i + 1] != '.') << text;
    } else {
      EXPECT_TRUE(text[i] >= '0' && text[i] <= '9') << text;
    }
    EXPECT_FALSE(text[i] == '0' && (i == 0 || text[i - 1] == '.') && i + 1 < text.size() &&
                 text[i + 1] != '.')
        << "leading zero in " << text;
  }
  EXPECT_EQ(parts, 3) << text;
  // Every Windows this program can run on reports at least 6.1.
  EXPECT_GE(std::stoul(text), 6u) << text;
}

}  // namespace
}  // namespace kestrelume
