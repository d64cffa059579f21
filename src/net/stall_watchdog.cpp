#include "net/stall_watchdog.h"

namespace kestrelume {

StepEnd AwaitStep(HANDLE step_done, HANDLE cancelled) {
  const HANDLE handles[2] = {step_done, cancelled};
  const DWORD count = cancelled ? 2 : 1;
  // The completion is listed first: when both are signalled, a finished
  // step still counts as finished and the caller's cancel check decides.
  switch (WaitForMultipleObjects(count, handles, FALSE, kStallLimitMs)) {
    case WAIT_OBJECT_0: return StepEnd::Completed;
    case WAIT_OBJECT_0 + 1: return StepEnd::Cancelled;
    default: return StepEnd::Stalled;  // timeout, or a wait that failed
  }
}

}  // namespace kestrelume
