#include "ui/layout.h"

#include <gtest/gtest.h>

#include <string>

namespace kestrelume {
namespace {

const TextWidth kUnmeasured = [](std::wstring_view) { return std::optional<float>(); };

TextWidth FixedWidth(float width) {
  return [width](std::wstring_view) { return std::optional<float>(width); };
}

void ExpectRect(const RectF& r, float left, float top, float right, float bottom) {
  EXPECT_FLOAT_EQ(r.left, left);
  EXPECT_FLOAT_EQ(r.top, top);
  EXPECT_FLOAT_EQ(r.right, right);
  EXPECT_FLOAT_EQ(r.bottom, bottom);
}

TEST(Layout, ButtonWidthIsMeasuredWidthRoundedUpPlusPaddingWithMinimum) {
  EXPECT_FLOAT_EQ(ButtonWidth(60.2f, 3), 93.0f);        // ceil 61 + 32
  EXPECT_FLOAT_EQ(ButtonWidth(52.0f, 3), 84.0f);        // exactly the minimum
  EXPECT_FLOAT_EQ(ButtonWidth(10.0f, 30), 84.0f);       // narrow label still 84
  EXPECT_FLOAT_EQ(ButtonWidth(std::nullopt, 9), 101.0f);   // "Try again": 68.4 -> 69 + 32
  EXPECT_FLOAT_EQ(ButtonWidth(std::nullopt, 17), 162.0f);  // "Offline installer": 129.2 -> 130 + 32
  EXPECT_FLOAT_EQ(ButtonWidth(std::nullopt, 5), 84.0f);    // "Close": 38 -> 70, raised to 84
}

TEST(Layout, UnmeasuredPairIsCentredWithSecondaryOnTheLeft) {
  const ScreenLayout l = LayoutScreen(Phase::Failed, Failure::Offline, kUnmeasured, kUnmeasured);
  ExpectRect(l.close_rect, 280, 8, 312, 40);
  EXPECT_EQ(l.primary_action, ButtonAction::TryAgain);
  EXPECT_EQ(l.secondary_action, ButtonAction::OfflineInstaller);
  ExpectRect(l.secondary_rect, 24.5f, 288, 186.5f, 320);  // 162 wide
  ExpectRect(l.primary_rect, 194.5f, 288, 295.5f, 320);   // 8 apart, 101 wide
}

TEST(Layout, MeasuredLabelsSetTheWidthsAndTooWidePairsKeepTheLeftMargin) {
  // 60.2 -> 93 each: pair of 194 centred.
  ScreenLayout l = LayoutScreen(Phase::Failed, Failure::Blocked, FixedWidth(60.2f), kUnmeasured);
  ExpectRect(l.secondary_rect, 63, 288, 156, 320);
  ExpectRect(l.primary_rect, 164, 288, 257, 320);
  EXPECT_EQ(l.primary_action, ButtonAction::Store);

  // 150 -> 182 each: 372 + 8 exceeds 296; left margin 12, runs past 320.
  l = LayoutScreen(Phase::Failed, Failure::Verify, FixedWidth(150.0f), kUnmeasured);
  ExpectRect(l.secondary_rect, 12, 288, 194, 320);
  ExpectRect(l.primary_rect, 202, 288, 384, 320);

  // A single button too wide for the window also keeps 12.
  l = LayoutScreen(Phase::Failed, Failure::WindowsTooOld, FixedWidth(400.0f), kUnmeasured);
  ExpectRect(l.primary_rect, 12, 288, 444, 320);
}

TEST(Layout, SingleCloseButtonIsCentredAndSharesItsActionWithTheGlyph) {
  const ScreenLayout l =
      LayoutScreen(Phase::Failed, Failure::WindowsTooOld, kUnmeasured, kUnmeasured);
  EXPECT_EQ(l.primary_action, ButtonAction::Close);
  EXPECT_EQ(l.secondary_action, ButtonAction::None);
  ExpectRect(l.primary_rect, 118, 288, 202, 320);  // 84 wide, centred
  ExpectRect(l.secondary_rect, 0, 0, 0, 0);
  // Hovering either element gives the same value, so both light up together.
  EXPECT_EQ(HitTest(l, 290, 20), ButtonAction::Close);
  EXPECT_EQ(HitTest(l, 160, 300), ButtonAction::Close);

  const ScreenLayout retired =
      LayoutScreen(Phase::Failed, Failure::Retired, kUnmeasured, kUnmeasured);
  EXPECT_EQ(retired.primary_action, ButtonAction::Website);
  EXPECT_EQ(retired.secondary_action, ButtonAction::Close);
  EXPECT_EQ(HitTest(retired, retired.secondary_rect.left + 1, 300), ButtonAction::Close);
}

TEST(Layout, CancelLinkIsTheMeasuredTextPlusTwentyCentred) {
  for (Phase phase : {Phase::Checking, Phase::Downloading}) {
    ScreenLayout l = LayoutScreen(phase, Failure::None, FixedWidth(200), FixedWidth(41.3f));
    EXPECT_EQ(l.primary_action, ButtonAction::None);
    EXPECT_EQ(l.secondary_action, ButtonAction::Cancel);
    ExpectRect(l.primary_rect, 0, 0, 0, 0);
    ExpectRect(l.secondary_rect, 129, 288, 191, 320);  // 42 + 20 = 62

    l = LayoutScreen(phase, Failure::None, kUnmeasured, kUnmeasured);
    ExpectRect(l.secondary_rect, 127, 288, 193, 320);  // 66 when unmeasured
  }
}

TEST(Layout, OpeningAndUnknownFailureScreensHaveOnlyTheCloseGlyph) {
  const Failure unknown = static_cast<Failure>(42);
  for (const ScreenLayout& l :
       {LayoutScreen(Phase::Opening, Failure::None, kUnmeasured, kUnmeasured),
        LayoutScreen(Phase::Failed, unknown, kUnmeasured, kUnmeasured),
        LayoutScreen(Phase::Failed, Failure::None, kUnmeasured, kUnmeasured)}) {
    ExpectRect(l.close_rect, 280, 8, 312, 40);
    EXPECT_EQ(l.primary_action, ButtonAction::None);
    EXPECT_EQ(l.secondary_action, ButtonAction::None);
    ExpectRect(l.primary_rect, 0, 0, 0, 0);
    ExpectRect(l.secondary_rect, 0, 0, 0, 0);
    EXPECT_EQ(HitTest(l, 160, 300), ButtonAction::None);
    EXPECT_EQ(HitTest(l, 0, 0), ButtonAction::None);
    EXPECT_EQ(HitTest(l, 296, 24), ButtonAction::Close);
  }
}

TEST(Layout, HitTestUsesHalfOpenRectangles) {
  const ScreenLayout l = LayoutScreen(Phase::Failed, Failure::Offline, kUnmeasured, kUnmeasured);
  EXPECT_EQ(HitTest(l, 280, 8), ButtonAction::Close);        // left and top edges are in
  EXPECT_EQ(HitTest(l, 311.99f, 39.99f), ButtonAction::Close);
  EXPECT_EQ(HitTest(l, 312, 20), ButtonAction::None);        // right edge is out
  EXPECT_EQ(HitTest(l, 290, 40), ButtonAction::None);        // bottom edge is out
  EXPECT_EQ(HitTest(l, 24.5f, 288), ButtonAction::OfflineInstaller);
  EXPECT_EQ(HitTest(l, 186.5f, 300), ButtonAction::None);    // the 8-DIP gap
  EXPECT_EQ(HitTest(l, 194.5f, 300), ButtonAction::TryAgain);
  EXPECT_EQ(HitTest(l, 295.5f, 300), ButtonAction::None);
  EXPECT_EQ(HitTest(l, 200, 320), ButtonAction::None);
  EXPECT_EQ(HitTest(l, 200, 287.9f), ButtonAction::None);

  // A rectangle with no action is never hit, whatever its coordinates.
  ScreenLayout stale = l;
  stale.primary_action = ButtonAction::None;
  EXPECT_EQ(HitTest(stale, 200, 300), ButtonAction::None);
}

}  // namespace
}  // namespace kestrelume
