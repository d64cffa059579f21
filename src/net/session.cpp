#include "net/http_session.h"

namespace kestrelume {

namespace {

// Not every SDK names these.
constexpr DWORD kAutomaticProxy = 4;         // WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY
constexpr DWORD kSecureProtocols = 84;       // WINHTTP_OPTION_SECURE_PROTOCOLS
constexpr DWORD kTls12 = 0x800;              // WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2
constexpr DWORD kTls13 = 0x2000;             // WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3
constexpr int kTimeoutMs = 20000;

// The completions end steps; the phases and the bytes received on the
// connection are the stall watchdog's signs of life within a step.
constexpr DWORD kCallbackEvents =
    WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS | WINHTTP_CALLBACK_FLAG_HANDLES |
    WINHTTP_CALLBACK_FLAG_RESOLVE_NAME | WINHTTP_CALLBACK_FLAG_CONNECT_TO_SERVER |
    WINHTTP_CALLBACK_FLAG_SEND_REQUEST | WINHTTP_CALLBACK_FLAG_RECEIVE_RESPONSE |
    WINHTTP_CALLBACK_FLAG_REDIRECT | WINHTTP_CALLBACK_FLAG_INTERMEDIATE_RESPONSE;

}  // namespace

HINTERNET OpenTransferSession(DWORD access_type, const wchar_t* proxy, const wchar_t* bypass) {
  UniqueInternet opened(System().WinHttpOpen(kUserAgent, access_type, proxy, bypass, WINHTTP_FLAG_ASYNC));
  if (!opened) return nullptr;
  // Every step's end arrives through the callback; without it none would.
  if (System().WinHttpSetStatusCallback(opened.get(), &AsyncRequest::OnStatus, kCallbackEvents, 0) ==
      WINHTTP_INVALID_STATUS_CALLBACK) {
    return nullptr;
  }

  System().WinHttpSetTimeouts(opened.get(), kTimeoutMs, kTimeoutMs, kTimeoutMs, kTimeoutMs);
  DWORD protocols = kTls12 | kTls13;
  if (!System().WinHttpSetOption(opened.get(), kSecureProtocols, &protocols, sizeof protocols)) {
    // Windows without TLS 1.3 refuses the pair; never fall back below 1.2.
    protocols = kTls12;
    System().WinHttpSetOption(opened.get(), kSecureProtocols, &protocols, sizeof protocols);
  }
  return opened.release();
}

HttpSession::~HttpSession() { Close(); }

void HttpSession::Open() {
  proxies.Close();
  handle.reset();
  cancelled.exchange(false);
  if (!cancel_event) cancel_event.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (cancel_event) ResetEvent(cancel_event.get());
  // No handle: every transfer fails. Without the event a cancel could not
  // reach a waiting transfer, so there is no session without it either.
  if (!System().Has(SystemLibrary::WinHttp) || !cancel_event) return;

  // Automatic proxy discovery exists only on Windows 8.1 and later.
  handle.reset(OpenTransferSession(kAutomaticProxy, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS));
  if (!handle) {
    handle.reset(OpenTransferSession(WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                     WINHTTP_NO_PROXY_BYPASS));
  }
}

void HttpSession::Close() {
  proxies.Close();
  handle.reset();
}

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
