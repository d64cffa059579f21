#include "ui/ring.h"

#include <algorithm>
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

std::vector<D2D1_BEZIER_SEGMENT> RingArcBeziers(float start, float sweep) {
  const int pieces = std::max(1, static_cast<int>(std::ceil(sweep / 90.0f)));
  const float step = sweep / static_cast<float>(pieces);
  // Control points on the tangents, 4/3 tan(step / 4) radii from the ends.
  const float reach = 4.0f / 3.0f * std::tan(step * 3.1415927f / 720.0f) * kRingRadius;
  const auto tangent = [](float degrees) {
    const float radians = degrees * 3.1415927f / 180.0f;
    return D2D1_POINT_2F{-std::sin(radians), std::cos(radians)};  // clockwise on screen
  };
  std::vector<D2D1_BEZIER_SEGMENT> segments;
  for (int i = 0; i < pieces; ++i) {
    const float a0 = start + step * static_cast<float>(i);
    const float a1 = a0 + step;
    const D2D1_POINT_2F p0 = RingPoint(a0), p3 = RingPoint(a1);
    const D2D1_POINT_2F t0 = tangent(a0), t1 = tangent(a1);
    segments.push_back({{p0.x + t0.x * reach, p0.y + t0.y * reach},
                        {p3.x - t1.x * reach, p3.y - t1.y * reach},
                        p3});
  }
  return segments;
}

float ProgressSweep(float fraction) {
  // Written so that NaN also gives no arc.
  if (!(fraction > 0.0f)) return 0.0f;
  if (fraction > 1.0f) fraction = 1.0f;
  return fraction * 360.0f;
}

}  // namespace kestrelume
