#include "net/http_session.h"

namespace kestrelume {

namespace {

// Not every SDK names these.
constexpr DWORD kAutomaticProxy = 4;         // WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY
constexpr DWORD kSecureProtocols = 84;       // WINHTTP_OPTION_SECURE_PROTOCOLS
constexpr DWORD kTls12 = 0x800;              // WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2
constexpr DWORD kTls13 = 0x2000;             // WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3
constexpr int kTimeoutMs = 20000;

HINTERNET OpenWinHttp(DWORD access_type) {
  return System().WinHttpOpen(kUserAgent, access_type, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS,
                              WINHTTP_FLAG_ASYNC);
}

constexpr DWORD kCallbackEvents = WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS | WINHTTP_CALLBACK_FLAG_HANDLES;

}  // namespace

HttpSession::~HttpSession() { Close(); }

void HttpSession::Open() {
  handle.reset();
  cancelled.exchange(false);
  if (!cancel_event) cancel_event.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (cancel_event) ResetEvent(cancel_event.get());
  // No handle: every transfer fails. Without the event a cancel could not
  // reach a waiting transfer, so there is no session without it either.
  if (!System().Has(SystemLibrary::WinHttp) || !cancel_event) return;

  // Automatic proxy discovery exists only on Windows 8.1 and later.
  handle.reset(OpenWinHttp(kAutomaticProxy));
  if (!handle) handle.reset(OpenWinHttp(WINHTTP_ACCESS_TYPE_DEFAULT_PROXY));
  if (!handle) return;
  // Every step's end arrives through the callback; without it none would.
  if (System().WinHttpSetStatusCallback(handle.get(), &AsyncRequest::OnStatus, kCallbackEvents, 0) ==
      WINHTTP_INVALID_STATUS_CALLBACK) {
    handle.reset();
    return;
  }

  System().WinHttpSetTimeouts(handle.get(), kTimeoutMs, kTimeoutMs, kTimeoutMs, kTimeoutMs);
  DWORD protocols = kTls12 | kTls13;
  if (!System().WinHttpSetOption(handle.get(), kSecureProtocols, &protocols, sizeof protocols)) {
    // Windows without TLS 1.3 refuses the pair; never fall back below 1.2.
    protocols = kTls12;
    System().WinHttpSetOption(handle.get(), kSecureProtocols, &protocols, sizeof protocols);
  }
}

void HttpSession::Close() { handle.reset(); }

void HttpSession::Cancel() {
  // No handle is touched here: the worker, woken by the event, closes its
  // own request, so no call of its can meet a handle closed under it.
  cancelled.exchange(true);
  if (cancel_event) SetEvent(cancel_event.get());
}

void HttpSession::Rearm() {
  cancelled.exchange(false);
  if (cancel_event) ResetEvent(cancel_event.get());
}

}  // namespace kestrelume
