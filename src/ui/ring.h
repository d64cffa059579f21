#pragma once
// Geometry of the ring around the logo and of the arcs drawn on it. Angles
// are degrees measured clockwise on screen from three o'clock, so -90 is
// twelve o'clock. Value in, value out.

#include <d2d1.h>

#include <vector>

namespace kestrelume {

inline constexpr D2D1_POINT_2F kRingCentre{160.0f, 112.0f};
inline constexpr float kRingRadius = 66.0f;

enum class ArcShape { None, FullRing, Partial };

// A sweep of at least 359.9 is the whole ring; at most 0.05, nothing.
ArcShape ArcShapeFor(float sweep);
// The point of the ring at `degrees`.
D2D1_POINT_2F RingPoint(float degrees);
// A clockwise stretch of the ring from RingPoint(start) as cubic Bezier
// segments of at most a quarter turn each (off the true circle by less than
// 0.02 DIPs). Used instead of an arc segment, which not every Direct2D
// implementation draws.
std::vector<D2D1_BEZIER_SEGMENT> RingArcBeziers(float start, float sweep);
// Sweep of the progress arc: the fraction limited to 0 .. 1, times 360.
float ProgressSweep(float fraction);

}  // namespace kestrelume
