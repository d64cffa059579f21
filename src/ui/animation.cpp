#include "ui/animation.h"

#include <algorithm>
#include <cmath>

namespace kestrelume {

float ElapsedSeconds(uint64_t now, uint64_t since) {
  return static_cast<float>(now - since) / 1000.0f;
}

float SpinnerStartAngle(float elapsed, bool animations_enabled) {
  if (!animations_enabled) return -90.0f;
  return -90.0f + (std::fmod(elapsed, 1.4f) / 1.4f) * 360.0f;
}

float HaloStrength(float elapsed, bool animations_enabled) {
  const float p = animations_enabled ? std::min(1.0f, elapsed / 0.6f) : 1.0f;
  return 1.0f - (1.0f - p) * (1.0f - p);
}

float TargetFraction(const Progress& progress) {
  if (progress.bytes_total == 0) return 0.0f;
  return static_cast<float>(progress.bytes_done) / static_cast<float>(progress.bytes_total);
}

float EaseFraction(float fraction, float target) {
  const float next = fraction + (target - fraction) * 0.22f;
  return std::fabs(target - next) < 0.002f ? target : next;
}

bool AnimationKeepsRunning(Phase phase, bool animations_enabled, float since_phase,
                           float fraction, float target) {
  if (phase == Phase::Failed || !animations_enabled) return false;
  if (phase == Phase::Checking) return true;
  if (phase == Phase::Opening && since_phase < 0.7f) return true;
  return std::fabs(fraction - target) > 0.001f;
}

bool AnimationKeepsRunning(const App& app) {
  return AnimationKeepsRunning(app.shown_progress.phase, app.animations_enabled,
                               ElapsedSeconds(GetTickCount64(), app.phase_tick), app.fraction,
                               TargetFraction(app.shown_progress));
}

void App::AnimationTick() {
  fraction = EaseFraction(fraction, TargetFraction(shown_progress));
  HWND handle = window.load();
  if (!AnimationKeepsRunning(*this)) KillTimer(handle, ANIMATION_TIMER);
  InvalidateRect(handle, nullptr, FALSE);
}

}  // namespace kestrelume
