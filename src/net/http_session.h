#pragma once
// The program's one WinHTTP session. WinHTTP runs it asynchronously; the
// worker thread starts each network step and waits for it through the stall
// watchdog (net/stall_watchdog.h), so to the worker every transfer is one
// blocking call. The main thread only opens and closes it (while no worker
// runs), cancels it (any time, any number of times) and re-arms it between
// runs.
//
// Cancel protocol: Cancel sets `cancelled` and signals `cancel_event` before
// it looks at the registered request; OpenRequest registers its request
// before it re-checks the flag. So a cancel that overlaps the opening of a
// request either closes it or is seen by the re-check. The worker's wait for
// the step in progress ends as soon as the event is signalled, on Windows and
// under Wine alike, and the transfer reports TransferResult::Cancelled at
// once. The step itself may go on inside WinHTTP after that (under Wine a
// blocked TLS handshake is not interrupted by closing its handle); it then
// touches only its AsyncRequest (net/async_request.h), never the transfer's
// caller or its file.
//
// Stalls: a step that neither completes nor is cancelled within
// kStallLimitMs fails, and the transfer reports NetworkError. So no step,
// and hence no transfer, waits longer than that without a byte, whatever the
// HTTP stack does with its own timeouts (on Windows they end a silent step
// after 20 s; under Wine the TLS handshake has none).

#include <windows.h>
#include <winhttp.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "net/async_request.h"
#include "net/proxy.h"
#include "net/winhttp_handle.h"
#include "base/function_ref.h"
#include "base/slim_lock.h"
#include "base/unique_handle.h"

namespace kestrelume {

class PartFile;
class Sha256;

enum class TransferResult : uint32_t {
  Ok = 0,
  NetworkError = 1,
  HttpError = 2,
  TooLarge = 3,
  DigestMismatch = 4,
  FileError = 5,
  Cancelled = 6,
  LoginRequired = 7,  // 401, or a 407 that the user's Windows logon did not answer
};

inline constexpr wchar_t kUserAgent[] = L"KestrelumeInstaller/1";

// An asynchronous session set up for transfers (callback, timeouts, TLS
// versions), or null.
HINTERNET OpenTransferSession(DWORD access_type, const wchar_t* proxy, const wchar_t* bypass);

class HttpSession {
 public:
  HttpSession() = default;
  ~HttpSession();
  HttpSession(const HttpSession&) = delete;
  HttpSession& operator=(const HttpSession&) = delete;

  // Main thread, no worker running. A session that cannot be opened makes
  // every transfer report NetworkError.
  void Open();
  void Close();

  // Any thread, any number of times. Sets the flag and the event, then
  // closes the request in flight; the worker's transfer returns Cancelled at
  // once, and every transfer that starts while the flag is set reports
  // Cancelled without network activity.
  void Cancel();
  // Main thread, only after the previous worker has been joined: clears the
  // flag so that transfers work again.
  void Rearm();
  bool IsCancelled() const { return cancelled.load(); }

  // Worker thread. Reads a small document into `body` (emptied on failure);
  // a body of exactly `limit` bytes is accepted.
  TransferResult Fetch(std::string_view address, uint64_t limit, std::string& body);

  // Worker thread. Streams the body into final_path + ".part", hashing as it
  // writes; moves it to final_path only when exactly expected_length bytes
  // arrived and their SHA-256 equals expected_digest. The ".part" file is
  // deleted on every failure. Bytes are written, hashed and reported as they
  // arrive: each read asks for no more than WinHTTP says is available, so a
  // slow link shows progress byte by byte rather than a buffer at a time.
  // on_bytes (may be empty) gets the running count after each chunk.
  TransferResult Download(std::string_view address, const std::wstring& final_path,
                          uint64_t expected_length, std::string_view expected_digest,
                          FunctionRef<void(uint64_t)> on_bytes);

 private:
  // Opens and registers a GET request for an allowed address, with `call`
  // as its context, or yields null. The host WinHttpCrackUrl finds must be
  // the host the address rule judged (HostOf, compared in lower case), else
  // nothing is connected. A bracketed IPv6 literal, which the crack may cut
  // short, is connected as the rule read it, with the rule's port. The
  // connection, when one was opened, is handed to the caller even if no
  // request comes of it; the caller closes it after ReleaseRequest.
  HINTERNET OpenRequest(std::string_view address, UniqueInternet& connection, AsyncRequest& call);
  // Send, receive, status: Ok only for status 200; a login asked for is
  // answered with the user's Windows logon where net/proxy_auth.h allows.
  TransferResult Exchange(HINTERNET request, AsyncRequest& call, bool logon_sent = false);
  // Waits for the step that `started` (false: it failed at once) began on
  // `call`: Ok, NetworkError (failed or stalled) or Cancelled.
  TransferResult Await(AsyncRequest& call, bool started);
  // The next piece of the body into call.buffer(), at most what is available
  // now; `read` is 0 at the end of the body.
  TransferResult ReadAvailable(HINTERNET request, AsyncRequest& call, DWORD& read);
  // The read loops of Fetch and Download.
  TransferResult FetchBody(HINTERNET request, AsyncRequest& call, uint64_t limit, std::string& body);
  TransferResult StreamBody(HINTERNET request, AsyncRequest& call, PartFile& file,
                            Sha256& digest, uint64_t expected_length,
                            FunctionRef<void(uint64_t)> on_bytes, uint64_t& count);
  // Closes `request` unless a cancel already did, and unregisters it. Null is
  // allowed (no request was opened).
  void ReleaseRequest(HINTERNET request);

  UniqueInternet handle;
  ProxySessions proxies;  // sessions for the proxies that requests resolve to
  SlimLock request_lock;
  HINTERNET request = nullptr;
  std::atomic<bool> cancelled{false};
  UniqueKernelHandle cancel_event;  // manual reset; signalled while `cancelled`
};

}  // namespace kestrelume
