#pragma once
// The three motions of the window: the spinner while checking, the progress
// arc gliding toward the download fraction, and the halo fading in while
// setup opens. All of them honour animations_enabled: with it off, every
// value is at its end state. Main thread only.
//
// The window runs ANIMATION_TIMER every 16 ms while AnimationKeepsRunning
// holds: it starts it in App::StartRun and on a WM_APP_PROGRESS that leaves
// something to animate, and App::AnimationTick stops it once nothing moves.

#include <windows.h>

#include <cstdint>

#include "app/app.h"
#include "workflow/progress.h"

namespace kestrelume {

inline constexpr UINT_PTR ANIMATION_TIMER = 1;
inline constexpr UINT kAnimationPeriodMs = 16;
inline constexpr float kSpinnerSweep = 58.0f;

// now - since in seconds (GetTickCount64 milliseconds, unsigned difference).
float ElapsedSeconds(uint64_t now, uint64_t since);
// One clockwise turn every 1.4 s from twelve o'clock; twelve o'clock when off.
float SpinnerStartAngle(float elapsed, bool animations_enabled);
// Halo strength 0 .. 1: ease-out over 0.6 s; 1 when off.
float HaloStrength(float elapsed, bool animations_enabled);
// bytes_done / bytes_total in single precision; 0 when the total is 0.
float TargetFraction(const Progress& progress);
// One 16 ms step: 22 per cent of the gap, snapping on when under 0.002.
float EaseFraction(float fraction, float target);
// The keep-running rule of the timer; since_phase in seconds.
bool AnimationKeepsRunning(Phase phase, bool animations_enabled, float since_phase,
                           float fraction, float target);
// The same rule on the window's current state.
bool AnimationKeepsRunning(const App& app);

}  // namespace kestrelume
