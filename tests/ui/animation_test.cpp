#include "ui/animation.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <tuple>
#include <vector>

#include "ui/ring.h"

namespace kestrelume {
namespace {

TEST(Animation, SpinnerTurnsOnceEvery1400MillisecondsFromTwelveOClock) {
  EXPECT_FLOAT_EQ(SpinnerStartAngle(0.0f, true), -90.0f);
  EXPECT_FLOAT_EQ(SpinnerStartAngle(0.35f, true), 0.0f);   // a quarter turn: three o'clock
  EXPECT_FLOAT_EQ(SpinnerStartAngle(0.7f, true), 90.0f);
  EXPECT_NEAR(SpinnerStartAngle(1.4f + 0.35f, true), 0.0f, 0.01f);  // next revolution
  EXPECT_FLOAT_EQ(SpinnerStartAngle(0.3f, true), -90.0f + 0.3f / 1.4f * 360.0f);
  // Animations off: fixed at twelve o'clock.
  EXPECT_FLOAT_EQ(SpinnerStartAngle(0.35f, false), -90.0f);
  EXPECT_FLOAT_EQ(ElapsedSeconds(10'300, 10'000), 0.3f);
}

TEST(Animation, HaloEasesOutOverSixTenthsOfASecond) {
  EXPECT_FLOAT_EQ(HaloStrength(0.0f, true), 0.0f);
  EXPECT_FLOAT_EQ(HaloStrength(0.3f, true), 0.75f);  // half the time, three quarters of the way
  EXPECT_FLOAT_EQ(HaloStrength(0.6f, true), 1.0f);
  EXPECT_FLOAT_EQ(HaloStrength(5.0f, true), 1.0f);
  EXPECT_FLOAT_EQ(HaloStrength(0.0f, false), 1.0f);  // full from the first frame when off
}

TEST(Animation, TargetFractionIsTheByteRatioInSinglePrecision) {
  Progress p;
  p.bytes_total = 6'440'070;
  p.bytes_done = 2'200'000;
  EXPECT_EQ(std::bit_cast<uint32_t>(TargetFraction(p)), 0x3EAEE7AAu);
  p.bytes_done = 5'100'000;
  EXPECT_EQ(std::bit_cast<uint32_t>(TargetFraction(p)), 0x3F4ABB10u);
  p.bytes_total = 0;
  EXPECT_EQ(TargetFraction(p), 0.0f);
}

TEST(Animation, ProgressGlidesToTheTargetIn26TicksAndTheTimerStopsThen) {
  float fraction = 0.0f;
  int ticks = 0;
  while (fraction != 1.0f && ticks < 100) {
    fraction = EaseFraction(fraction, 1.0f);
    ++ticks;
    // The timer keeps running exactly until the arc has caught up.
    EXPECT_EQ(AnimationKeepsRunning(Phase::Downloading, true, 9.0f, fraction, 1.0f),
              fraction != 1.0f);
  }
  EXPECT_EQ(ticks, 26);
  EXPECT_FLOAT_EQ(EaseFraction(0.5f, 0.0f), 0.39f);  // glides back after a restart
  EXPECT_FLOAT_EQ(EaseFraction(0.999f, 1.0f), 1.0f);  // last small step snaps on
}

TEST(Animation, TimerRunsOnlyWhileSomethingMoves) {
  // Failure screens and animations off never animate.
  EXPECT_FALSE(AnimationKeepsRunning(Phase::Failed, true, 0.0f, 0.0f, 0.5f));
  EXPECT_FALSE(AnimationKeepsRunning(Phase::Checking, false, 0.0f, 0.0f, 0.0f));
  EXPECT_FALSE(AnimationKeepsRunning(Phase::Downloading, false, 0.0f, 0.0f, 0.5f));
  // The spinner turns as long as checking lasts.
  EXPECT_TRUE(AnimationKeepsRunning(Phase::Checking, true, 100.0f, 0.0f, 0.0f));
  // The halo gets 0.7 s, then only a gliding arc keeps it going.
  EXPECT_TRUE(AnimationKeepsRunning(Phase::Opening, true, 0.69f, 1.0f, 1.0f));
  EXPECT_FALSE(AnimationKeepsRunning(Phase::Opening, true, 0.7f, 1.0f, 1.0f));
  EXPECT_TRUE(AnimationKeepsRunning(Phase::Opening, true, 0.7f, 0.9f, 1.0f));
  EXPECT_TRUE(AnimationKeepsRunning(Phase::Downloading, true, 0.0f, 0.3f, 0.3015f));
  EXPECT_FALSE(AnimationKeepsRunning(Phase::Downloading, true, 0.0f, 0.3f, 0.3005f));
}

TEST(Ring, ArcsAreNothingWholeOrPartialBySweep) {
  EXPECT_EQ(ArcShapeFor(0.0f), ArcShape::None);
  EXPECT_EQ(ArcShapeFor(0.05f), ArcShape::None);
  EXPECT_EQ(ArcShapeFor(0.06f), ArcShape::Partial);
  EXPECT_EQ(ArcShapeFor(359.8f), ArcShape::Partial);
  EXPECT_EQ(ArcShapeFor(359.9f), ArcShape::FullRing);

  EXPECT_EQ(ProgressSweep(0.0f), 0.0f);
  EXPECT_EQ(ProgressSweep(0.5f), 180.0f);
  EXPECT_EQ(ProgressSweep(1.0f), 360.0f);
  EXPECT_EQ(ProgressSweep(1.7f), 360.0f);
  EXPECT_EQ(ProgressSweep(-0.2f), 0.0f);
  EXPECT_EQ(ProgressSweep(std::numeric_limits<float>::quiet_NaN()), 0.0f);
}

TEST(Ring, AnglesRunClockwiseFromThreeOClockOnTheRing) {
  const auto expect_point = [](float degrees, float x, float y) {
    const D2D1_POINT_2F p = RingPoint(degrees);
    EXPECT_NEAR(p.x, x, 1e-4f) << degrees;
    EXPECT_NEAR(p.y, y, 1e-4f) << degrees;
  };
  expect_point(-90.0f, 160.0f, 46.0f);   // twelve o'clock
  expect_point(0.0f, 226.0f, 112.0f);    // three o'clock
  expect_point(90.0f, 160.0f, 178.0f);   // six o'clock: y grows downwards
  expect_point(180.0f, 94.0f, 112.0f);
  expect_point(-45.0f, 160.0f + 66.0f * std::sqrt(0.5f), 112.0f - 66.0f * std::sqrt(0.5f));
}

TEST(Ring, ArcBeziersFollowTheCircleInQuarterTurnsAtMost) {
  const auto on_circle = [](D2D1_POINT_2F p) {
    return std::hypot(p.x - 160.0f, p.y - 112.0f);
  };
  for (auto [start, sweep, pieces] : {std::tuple{-90.0f, 58.0f, 1u}, std::tuple{-90.0f, 180.0f, 2u},
                                      std::tuple{-12.9f, 180.01f, 3u}, std::tuple{-90.0f, 359.8f, 4u}}) {
    SCOPED_TRACE(sweep);
    const std::vector<D2D1_BEZIER_SEGMENT> segments = RingArcBeziers(start, sweep);
    ASSERT_EQ(segments.size(), pieces);
    D2D1_POINT_2F from = RingPoint(start);
    for (const D2D1_BEZIER_SEGMENT& s : segments) {
      // Sample the cubic: every point stays on the ring of radius 66.
      for (float t = 0.0f; t <= 1.0f; t += 0.125f) {
        const float u = 1.0f - t;
        const D2D1_POINT_2F p{
            u * u * u * from.x + 3 * u * u * t * s.point1.x + 3 * u * t * t * s.point2.x + t * t * t * s.point3.x,
            u * u * u * from.y + 3 * u * u * t * s.point1.y + 3 * u * t * t * s.point2.y + t * t * t * s.point3.y};
        EXPECT_NEAR(on_circle(p), 66.0f, 0.02f);
      }
      from = s.point3;
    }
    // It ends where the sweep ends, having turned clockwise.
    const D2D1_POINT_2F end = RingPoint(start + sweep);
    EXPECT_NEAR(from.x, end.x, 1e-3f);
    EXPECT_NEAR(from.y, end.y, 1e-3f);
  }
  // Clockwise from twelve o'clock the first control point heads right.
  EXPECT_GT(RingArcBeziers(-90.0f, 58.0f)[0].point1.x, 160.0f);
}

}  // namespace
}  // namespace kestrelume
