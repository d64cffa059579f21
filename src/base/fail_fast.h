#pragma once

#include <windows.h>

namespace kestrelume {

// Ends the process at once, for the faults the program cannot carry on
// from (no memory, no thread): no handler, no message box and no clean-up
// that could run into the half-made state. The exit code is 3, as abort's.
[[noreturn]] inline void FailFast() {
  TerminateProcess(GetCurrentProcess(), 3);
  __builtin_unreachable();
}

}  // namespace kestrelume
