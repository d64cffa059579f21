#include "ui/screen_text.h"

#include <gtest/gtest.h>

namespace kestrelume {
namespace {

Progress Downloading(uint64_t done, uint64_t total) {
  Progress p;
  p.phase = Phase::Downloading;
  p.bytes_done = done;
  p.bytes_total = total;
  return p;
}

TEST(ScreenText, DownloadTitleAndDetailShowPercentAndMegabytes) {
  const ScreenTexts t = TextsFor(Downloading(2'200'000, 6'440'070));
  EXPECT_EQ(t.title, L"Downloading \u00B7 34%");
  EXPECT_EQ(t.second, L"2.1 of 6.1 MB");
}

TEST(ScreenText, PercentIsTruncatedAndZeroWithoutATotal) {
  EXPECT_EQ(DownloadPercent(999, 1000), 99);
  EXPECT_EQ(DownloadPercent(1000, 1000), 100);
  EXPECT_EQ(DownloadPercent(0, 1000), 0);
  EXPECT_EQ(DownloadPercent(5, 0), 0);
  // Counts beyond 2^53 still divide as doubles.
  EXPECT_EQ(DownloadPercent(uint64_t{1} << 62, uint64_t{1} << 63), 50);
  // More bytes than expected saturates instead of overflowing the integer.
  EXPECT_EQ(DownloadPercent(UINT64_MAX, 1), 2147483647);

  const ScreenTexts t = TextsFor(Downloading(0, 0));
  EXPECT_EQ(t.title, L"Downloading \u00B7 0%");
  EXPECT_EQ(t.second, L"0.0 of 0.0 MB");
}

TEST(ScreenText, MegabytesHaveOneDecimalOfBinaryMegabytes) {
  EXPECT_EQ(Megabytes(1'048'576), L"1.0");
  EXPECT_EQ(Megabytes(104'857), L"0.1");   // 0.09999 MB
  EXPECT_EQ(Megabytes(52'428), L"0.0");    // 0.04999 MB
  EXPECT_EQ(Megabytes(0), L"0.0");
  EXPECT_EQ(Megabytes(uint64_t{1} << 40), L"1048576.0");  // no grouping
}

TEST(ScreenText, OtherScreensHaveFixedTextsOrTheFailureExplanation) {
  Progress p;
  EXPECT_EQ(TextsFor(p).title, L"Getting ready");
  EXPECT_EQ(TextsFor(p).second, L"finding the latest version");
  p.phase = Phase::Opening;
  EXPECT_EQ(TextsFor(p).title, L"Opening setup");
  EXPECT_EQ(TextsFor(p).second, L"follow the setup window");
  p.phase = Phase::Failed;
  p.failure = Failure::Disk;
  EXPECT_EQ(TextsFor(p).title, L"Can't save it");
  EXPECT_EQ(TextsFor(p).second,
            L"Windows wouldn't let us write to AppData. Free up some space and try again.");
  p.failure = static_cast<Failure>(9);
  EXPECT_TRUE(TextsFor(p).title.empty() && TextsFor(p).second.empty());
}

}  // namespace
}  // namespace kestrelume
