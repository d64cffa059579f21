#pragma once
// The one bound on how long a transfer waits without a sign of life. Every
// network step of a transfer (connecting with its TLS handshake and sending,
// the response headers, each wait for body bytes) is started asynchronously
// and awaited here, so that no step goes on silent for longer than
// kStallLimitMs whether or not the HTTP stack applies its own timeouts:
// WinHTTP under Wine ignores them for the TLS handshake. The limit is a
// little above the session's own 20-second timeouts, which therefore end a
// step first wherever they work.
//
// A sign of life is anything the session reports on the request while the
// step runs: a phase reached (name resolved, connected, request sent) or
// bytes received from the network. So a read that waits for a whole buffer
// on a slow link, or a send through a slow name lookup and handshake, goes
// on as long as something arrives, and only silence ends it.
//
// Worker thread only.

#include <windows.h>

#include <atomic>

namespace kestrelume {

inline constexpr DWORD kStallLimitMs = 21000;
// Over TLS a read ends only with a whole record (up to 16 KiB), and WinHTTP
// reports nothing while one arrives, so once the request is sent a step may
// take this many stall limits there: a link of about 260 bytes per second
// still installs. The handshake keeps the plain limit: under Wine nothing
// else would end one that is never answered. Silence ends such a step sooner where WinHTTP's own receive
// timeout works, since it counts from the last byte on the connection.
inline constexpr DWORD kTlsRecordStallFactor = 3;

enum class StepEnd : unsigned {
  Completed = 0,  // `step_done` was signalled
  Cancelled = 1,  // `cancelled` was signalled first
  Stalled = 2,    // neither, with no sign of life for `limit_ms`
};

// Waits for one step. `cancelled` may be null (no cancel). `activity` (may
// be null) holds the GetTickCount of the latest sign of life; the step
// stalls after `limit_ms` without one, counted from the later of the step's
// start and that sign. Once `answer_awaited` (may be null) is set, the limit
// is `answer_limit_ms` instead.
StepEnd AwaitStep(HANDLE step_done, HANDLE cancelled, const std::atomic<DWORD>* activity = nullptr,
                  DWORD limit_ms = kStallLimitMs, const std::atomic<bool>* answer_awaited = nullptr,
                  DWORD answer_limit_ms = kStallLimitMs);

}  // namespace kestrelume
