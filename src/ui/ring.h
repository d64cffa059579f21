#pragma once
// Geometry of the ring around the logo and of the arcs drawn on it. Angles
// are degrees measured clockwise on screen from three o'clock, so -90 is
// twelve o'clock. Value in, value out.

#include <d2d1.h>

namespace kestrelume {

inline constexpr D2D1_POINT_2F kRingCentre{160.0f, 112.0f};
inline constexpr float kRingRadius = 66.0f;

enum class ArcShape { None, FullRing, Partial };

// A sweep of at least 359.9 is the whole ring; at most 0.05, nothing.
ArcShape ArcShapeFor(float sweep);
// Direct2D needs the large-arc flag for sweeps over half a turn.
inline bool IsLargeArc(float sweep) { return sweep > 180.0f; }
// The point of the ring at `degrees`.
D2D1_POINT_2F RingPoint(float degrees);
// Sweep of the progress arc: the fraction limited to 0 .. 1, times 360.
float ProgressSweep(float fraction);

}  // namespace kestrelume
