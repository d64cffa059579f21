#pragma once
// The program's one WinHTTP session. WinHTTP runs it asynchronously; the
// worker thread starts each network step and waits for it through the stall
// watchdog (net/stall_watchdog.h), so to the worker every transfer is one
// blocking call. The main thread only opens and closes it (while no worker
// runs), cancels it (any time, any number of times) and re-arms it between
// runs.
//
// Cancel protocol: Cancel sets `cancelled` and signals `cancel_event`, and
// touches no WinHTTP handle: the worker's wait for the step in progress ends
// as soon as the event is signalled, on Windows and under Wine alike, and the
// worker then closes its own request and reports TransferResult::Cancelled.
// So no WinHTTP call ever meets a handle that another thread closed (Wine
// hands a freed handle's value to the next handle it makes). The step itself
// may go on inside WinHTTP after that (under Wine a blocked TLS handshake is
// not interrupted by closing its handle); it then touches only its
// AsyncRequest (net/async_request.h), never the transfer's caller or its
// file.
//
// Stalls: a step that goes kStallLimitMs without completing, without a
// cancel and without a sign of life (a phase reached, bytes received) fails,
// and the attempt reports NetworkError. So no transfer waits longer than that
// on silence, whatever the HTTP stack does with its own timeouts (on Windows
// they end a silent step after 20 s; under Wine the TLS handshake has none),
// while a slow link that keeps sending goes on.

#include <windows.h>
#include <winhttp.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "integrity/sha256.h"
#include "net/async_request.h"
#include "net/proxy.h"
#include "net/stall_watchdog.h"
#include "net/winhttp_handle.h"
#include "base/function_ref.h"
#include "base/unique_handle.h"

namespace kestrelume {

class PartFile;

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
// What one read of a download asks for while bytes are waiting. Each read is
// a step of its own (a thread hop and a wait), so fewer, larger reads keep
// the download at the speed of a plain blocking loop.
inline constexpr DWORD kDownloadBufferBytes = 262144;

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

  // Any thread, any number of times. Sets the flag and the event only; the
  // worker's transfer returns Cancelled at once (its wait ends on the event),
  // and every transfer that starts while the flag is set reports Cancelled
  // without network activity.
  void Cancel();
  // Main thread, only after the previous worker has been joined: clears the
  // flag so that transfers work again.
  void Rearm();
  bool IsCancelled() const { return cancelled.load(); }
  // Tests shorten the stall limit so that silence shows in a second or two.
  void SetStallLimitForTesting(DWORD limit_ms) { stall_limit_ms = limit_ms; }

  // Worker thread. Reads a small document into `body` (emptied on failure);
  // a body of exactly `limit` bytes is accepted.
  TransferResult Fetch(std::string_view address, uint64_t limit, std::string& body);

  // Worker thread. Streams the body into final_path + ".part", hashing as it
  // writes; moves it to final_path only when exactly expected_length bytes
  // are there and their SHA-256 equals expected_digest. A ".part" left by an
  // earlier attempt or run (no longer than expected_length) is hashed again
  // from disk and resumed with a Range request; a broken connection is
  // resumed the same way (Transfer). The ".part" stays after a network or
  // status failure and a cancel, for the next attempt; wrong bytes, a body
  // longer than expected and file errors delete it. When resumed bytes fail
  // the digest, the download runs once more from nothing before it reports
  // DigestMismatch. Bytes are written, hashed and reported as they arrive:
  // on a slow link each read asks for no more than WinHTTP says is
  // available, so progress shows byte by byte rather than a buffer at a
  // time; while bytes wait, each read fills the whole buffer. on_bytes (may
  // be empty) gets the running count after each chunk, starting with the
  // bytes already there (0 when the file starts over).
  TransferResult Download(std::string_view address, const std::wstring& final_path,
                          uint64_t expected_length, std::string_view expected_digest,
                          FunctionRef<void(uint64_t)> on_bytes);

 private:
  // Opens a GET request for an allowed address, with `call` as its context,
  // or yields null. The host WinHttpCrackUrl finds must be the host the
  // address rule judged (HostOf, compared in lower case), else nothing is
  // connected. A bracketed IPv6 literal, which the crack may cut short, is
  // connected as the rule read it, with the rule's port. The request goes
  // through the session of the proxy the address resolves to. The connection, when one was opened, is handed
  // to the caller even if no request comes of it; the caller declares it
  // before the request, so that the request is closed first.
  UniqueInternet OpenRequest(std::string_view address, UniqueInternet& connection,
                             AsyncRequest& call);
  // One answered GET: its request (closed before its connection) and the
  // status of the final answer.
  struct Answer {
    UniqueInternet connection;
    UniqueInternet request;
    DWORD status = 0;
    bool secure = false;  // over TLS
  };
  // Opens `address`, sends the GET with `headers` (null: none) and receives
  // the answer, following redirects here rather than inside WinHTTP: each
  // target is judged by the address rule and the cracked-host check
  // (OpenRequest) before anything connects to it, https never leads to
  // plain http, and a chain longer than kMaxRedirects ends. A refused
  // target is a NetworkError. A login asked for (401, 407) is answered with
  // the user's Windows logon where net/proxy_auth.h allows, else the answer
  // is LoginRequired. Ok whatever the final status otherwise.
  TransferResult Ask(std::string_view address, const wchar_t* headers, AsyncRequest& call,
                     Answer& answer);
  // Waits for the step that `started` (false: it failed at once) began on
  // `call`: Ok, NetworkError (failed or stalled) or Cancelled. Over TLS
  // (`secure`), once the request is sent, a step may wait
  // kTlsRecordStallFactor stall limits for a record of the answer.
  TransferResult Await(AsyncRequest& call, bool started, bool secure = false);
  // How a transfer reads its body: what is available (one step to learn how
  // much, one to read it), or whole buffers while bytes are waiting anyway.
  struct ReadPace {
    bool bulk = false;
  };
  // The next piece of the body: `read` bytes at `data` (call's buffer, valid
  // until the next call); `read` is 0 at the end of the body.
  TransferResult ReadPiece(HINTERNET request, bool secure, AsyncRequest& call, ReadPace& pace,
                           const char*& data, DWORD& read);
  // The read loops of Fetch and Download.
  TransferResult FetchBody(const Answer& answer, AsyncRequest& call, uint64_t limit, std::string& body);
  TransferResult StreamBody(const Answer& answer, AsyncRequest& call, PartFile& file,
                            Sha256& digest, uint64_t expected_length,
                            FunctionRef<void(uint64_t)> on_bytes, uint64_t& count);

  // What a download carries from attempt to attempt.
  struct DownloadState {
    PartFile& file;
    uint64_t expected_length;
    FunctionRef<void(uint64_t)> on_bytes;
    uint64_t count = 0;             // bytes in the file, all of them hashed
    std::optional<Sha256> digest;   // of those bytes
    bool resumed = false;           // some bytes came from before the last fresh start
    // Empties the file and the digest for a download from the start.
    bool StartOver();
  };
  // One connection: asks for the rest (the whole file when there is none
  // yet) and appends what comes. A 206 counts only when its Content-Range
  // starts where the file ends and names the expected total; a 200 starts
  // the file again; a 206 that does not fit, or a 416 for the rest (the
  // server's file is shorter than the part), empties it and is a failed
  // attempt (NetworkError); any other status is HttpError.
  TransferResult Attempt(std::string_view address, DownloadState& state);
  // Attempts until the file is whole: reconnects after a network failure
  // (pauses of 1, 2, 4, ... at most 10 s, ended at once by a cancel) while
  // attempts bring the file further, giving up after two in a row that do
  // not or after kMostReconnects.
  TransferResult Transfer(std::string_view address, DownloadState& state);

  UniqueInternet handle;
  ProxySessions proxies;  // sessions for the proxies that requests resolve to
  DWORD stall_limit_ms = kStallLimitMs;
  std::atomic<bool> cancelled{false};
  UniqueKernelHandle cancel_event;  // manual reset; signalled while `cancelled`
};

}  // namespace kestrelume
