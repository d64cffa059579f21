#pragma once
// The one bound on how long a transfer waits without progress. Every network
// step of a transfer (connecting with its TLS handshake and sending, the
// response headers, each wait for body bytes) is started asynchronously and
// awaited here, so that no step outlives kStallLimitMs whether or not the
// HTTP stack applies its own timeouts: WinHTTP under Wine ignores them for the
// TLS handshake. The limit is a little above the session's own 20-second
// timeouts, which therefore end a step first wherever they work.
//
// Worker thread only.

#include <windows.h>

namespace kestrelume {

inline constexpr DWORD kStallLimitMs = 21000;

enum class StepEnd : unsigned {
  Completed = 0,  // `step_done` was signalled
  Cancelled = 1,  // `cancelled` was signalled first
  Stalled = 2,    // neither within kStallLimitMs
};

// Waits for one step. `cancelled` may be null (no cancel).
StepEnd AwaitStep(HANDLE step_done, HANDLE cancelled);

}  // namespace kestrelume
