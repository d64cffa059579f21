#include "ui/ring.h"

#include <cmath>

namespace kestrelume {

ArcShape ArcShapeFor(float sweep) {
  if (sweep >= 359.9f) return ArcShape::FullRing;
  if (sweep <= 0.05f) return ArcShape::None;
  return ArcShape::Partial;
}

D2D1_POINT_2F RingPoint(float degrees) {
  const float radians = degrees * 3.1415927f / 180.0f;
  return {std::cos(radians) * kRingRadius + kRingCentre.x,
          std::sin(radians) * kRingRadius + kRingCentre.y};
}

float ProgressSweep(float fraction) {
  // Written so that NaN also gives no arc.
  if (!(fraction > 0.0f)) return 0.0f;
  if (fraction > 1.0f) fraction = 1.0f;
  return fraction * 360.0f;
}

}  // namespace kestrelume
