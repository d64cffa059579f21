#pragma once
// The program's one WinHTTP session, used in blocking mode by the worker
// thread. The main thread only opens and closes it (while no worker runs),
// cancels it (any time, any number of times) and re-arms it between runs.
//
// Cancel protocol: Cancel sets `cancelled` before it looks at the registered
// request; OpenRequest registers its request before it re-checks the flag. So
// a cancel that overlaps the opening of a request either closes it or is seen
// by the re-check, and a blocked transfer fails at once and reports
// TransferResult::Cancelled.

#include <windows.h>
#include <winhttp.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "net/winhttp_handle.h"
#include "base/function_ref.h"
#include "base/slim_lock.h"

namespace kestrelume {

enum class TransferResult : uint32_t {
  Ok = 0,
  NetworkError = 1,
  HttpError = 2,
  TooLarge = 3,
  DigestMismatch = 4,
  FileError = 5,
  Cancelled = 6,
};

inline constexpr wchar_t kUserAgent[] = L"KestrelumeInstaller/1";

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

  // Any thread, any number of times. Sets the flag, then closes the request
  // in flight so that the worker's blocking call fails; every transfer that
  // starts while the flag is set reports Cancelled without network activity.
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
  // deleted on every failure. on_bytes (may be empty) gets the running count
  // after each chunk.
  TransferResult Download(std::string_view address, const std::wstring& final_path,
                          uint64_t expected_length, std::string_view expected_digest,
                          FunctionRef<void(uint64_t)> on_bytes);

 private:
  // Opens and registers a GET request for an allowed address, or yields
  // null. The host WinHttpCrackUrl finds must be the host the address rule
  // judged (HostOf, compared in lower case), else nothing is connected: an
  // address the two read differently (a bracketed IPv6 literal among them)
  // yields null. The connection, when one was opened, is handed to the caller even
  // if no request comes of it; the caller closes it after ReleaseRequest.
  HINTERNET OpenRequest(std::string_view address, UniqueInternet& connection);
  // Send, receive, status: Ok only for status 200.
  TransferResult Exchange(HINTERNET request);
  // Closes `request` unless a cancel already did, and unregisters it. Null is
  // allowed (no request was opened).
  void ReleaseRequest(HINTERNET request);

  UniqueInternet handle;
  SlimLock request_lock;
  HINTERNET request = nullptr;
  std::atomic<bool> cancelled{false};
};

}  // namespace kestrelume
