#include "net/stall_watchdog.h"

namespace kestrelume {

StepEnd AwaitStep(HANDLE step_done, HANDLE cancelled, const std::atomic<DWORD>* activity,
                  DWORD limit_ms, const std::atomic<bool>* answer_awaited, DWORD answer_limit_ms) {
  const HANDLE handles[2] = {step_done, cancelled};
  const DWORD count = cancelled ? 2 : 1;
  const DWORD started = GetTickCount();
  for (;;) {
    const DWORD limit = answer_awaited && answer_awaited->load() ? answer_limit_ms : limit_ms;
    const DWORD now = GetTickCount();
    DWORD quiet = now - started;
    if (activity) {
      DWORD since = now - activity->load();
      if (since > 0x80000000u) since = 0;  // a sign stamped just after `now` was read
      if (since < quiet) quiet = since;
    }
    if (quiet >= limit) return StepEnd::Stalled;
    // The completion is listed first: when both are signalled, a finished
    // step still counts as finished and the caller's cancel check decides.
    switch (WaitForMultipleObjects(count, handles, FALSE, limit - quiet)) {
      case WAIT_OBJECT_0: return StepEnd::Completed;
      case WAIT_OBJECT_0 + 1: return StepEnd::Cancelled;
      case WAIT_TIMEOUT: break;  // look again: a sign of life may have come meanwhile
      default: return StepEnd::Stalled;  // a wait that failed
    }
  }
}

}  // namespace kestrelume
