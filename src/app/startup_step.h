#pragma once
// The steps before the window shows that can fail for a moment on a real
// machine: Direct2D, DirectWrite and the window itself can be refused while
// the session's desktop is still coming up or being changed (the first
// program after log-on, a display switch, a remote session connecting).
// Each is tried a few times before the program gives up, and giving up is
// said in a message box, never a silent exit. Main thread, or the thread
// that makes the text resources.

#include <cstdint>

#include "base/function_ref.h"

namespace kestrelume {

enum class StartupStep : uint8_t { None, Drawing, Text, Window };

// Automated checks of development builds make a step fail on its first
// `count` attempts ("--fail-startup-step drawing:2"); release builds never.
struct StartupFault {
  StartupStep step = StartupStep::None;
  uint32_t count = 0;
};

inline constexpr uint32_t kStartupAttempts = 4;

// Calls `attempt` until it returns true, at most kStartupAttempts times,
// pausing 50, 100, then 200 ms between attempts.
bool RetryStartupStep(StartupStep step, const StartupFault& fault, FunctionRef<bool()> attempt);

// The last resort: a message box that names the step that failed and the
// way on (start the installer again, or the offline installer).
void ReportStartupFailure(StartupStep step);

}  // namespace kestrelume
