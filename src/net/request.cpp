#include "manifest/address.h"
#include "net/http_session.h"
#include "net/proxy_auth.h"
#include "net/stall_watchdog.h"
#include "base/utf.h"

namespace kestrelume {

namespace {

constexpr DWORD kHostUnits = 256;
constexpr DWORD kPathUnits = 2048;
constexpr DWORD kExtraUnits = 2048;
constexpr DWORD kRedirectPolicy = 88;          // WINHTTP_OPTION_REDIRECT_POLICY
constexpr DWORD kDisallowHttpsToHttp = 1;      // WINHTTP_OPTION_REDIRECT_POLICY_DISALLOW_HTTPS_TO_HTTP
constexpr DWORD kStatusCodeNumber = 0x20000013;  // WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER

// The cracked host as the address rule spells hosts: UTF-8, ASCII letters
// in lower case.
std::string RuleSpelling(std::wstring_view cracked) {
  std::string host = WideToUtf8(cracked);
  for (char& c : host) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return host;
}

}  // namespace

HINTERNET HttpSession::OpenRequest(std::string_view address, UniqueInternet& connection,
                                   AsyncRequest& call) {
  connection.reset();
  if (!handle || !IsAllowedAddress(address)) return nullptr;
  const std::wstring wide = Utf8ToWide(address);

  // Fixed buffers: an address with a longer host, path or query is refused
  // by the crack itself.
  wchar_t host[kHostUnits];
  wchar_t path[kPathUnits];
  wchar_t extra[kExtraUnits];
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  parts.lpszHostName = host;
  parts.dwHostNameLength = kHostUnits;
  parts.lpszUrlPath = path;
  parts.dwUrlPathLength = kPathUnits;
  parts.lpszExtraInfo = extra;
  parts.dwExtraInfoLength = kExtraUnits;
  if (!System().WinHttpCrackUrl(wide.c_str(), 0, 0, &parts)) return nullptr;
  // The rule judged one host; WinHTTP reads the address by its own rules
  // (user information, for one, ends only at the first "/"). Whatever they
  // disagree on, no connection goes to a host the rule did not see.
  const HostInfo judged = HostOf(address);
  std::wstring server(host, parts.dwHostNameLength);
  INTERNET_PORT port = parts.nPort;
  if (judged.host.starts_with('[')) {
    // An IPv6 literal: the crack may end the host at its first ":" (Wine's
    // does, and loses the port). The connection goes to the literal and the
    // port the rule read.
    server = Utf8ToWide(judged.host);
    port = judged.port != 0 ? judged.port
           : judged.https   ? INTERNET_DEFAULT_HTTPS_PORT
                            : INTERNET_DEFAULT_HTTP_PORT;
  } else if (RuleSpelling(server) != judged.host) {
    return nullptr;
  }

  // Through the session of the proxy this address resolves to, if any.
  HINTERNET session = proxies.For(wide, handle.get(), &OpenTransferSession);
  if (!session) return nullptr;
  connection.reset(System().WinHttpConnect(session, server.c_str(), port, 0));
  if (!connection) return nullptr;

  const std::wstring object = std::wstring(path, parts.dwUrlPathLength) +
                              std::wstring(extra, parts.dwExtraInfoLength);
  DWORD flags = WINHTTP_FLAG_REFRESH;
  if (parts.nScheme == INTERNET_SCHEME_HTTPS) flags |= WINHTTP_FLAG_SECURE;
  HINTERNET opened = System().WinHttpOpenRequest(connection.get(), L"GET", object.c_str(), nullptr,
                                        WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, flags);
  if (!opened) {
    connection.reset();
    return nullptr;
  }
  if (!call.Attach(opened)) {
    System().WinHttpCloseHandle(opened);
    connection.reset();
    return nullptr;
  }
  DWORD policy = kDisallowHttpsToHttp;
  System().WinHttpSetOption(opened, kRedirectPolicy, &policy, sizeof policy);

  {
    std::lock_guard lock(request_lock);
    request = opened;
  }
  // Registered before this check: a cancel from now on closes the request,
  // and one that came earlier is seen here.
  if (cancelled.load()) {
    Cancel();
    return nullptr;
  }
  return opened;
}

TransferResult HttpSession::Await(AsyncRequest& call, bool started) {
  if (!started) return TransferResult::NetworkError;
  switch (AwaitStep(call.done(), cancel_event.get())) {
    case StepEnd::Completed:
      return call.succeeded() ? TransferResult::Ok : TransferResult::NetworkError;
    case StepEnd::Cancelled:
      return TransferResult::Cancelled;
    default:
      return TransferResult::NetworkError;  // stalled: the same end as a timeout
  }
}

TransferResult HttpSession::Exchange(HINTERNET opened, AsyncRequest& call, bool logon_sent) {
  TransferResult result = Await(
      call, System().WinHttpSendRequest(opened, WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                                        WINHTTP_NO_REQUEST_DATA, 0, 0,
                                        reinterpret_cast<DWORD_PTR>(&call)));
  if (result != TransferResult::Ok) return result;
  result = Await(call, System().WinHttpReceiveResponse(opened, nullptr));
  if (result != TransferResult::Ok) return result;
  DWORD status = 0;
  DWORD length = sizeof status;
  System().WinHttpQueryHeaders(opened, kStatusCodeNumber, WINHTTP_HEADER_NAME_BY_INDEX, &status, &length,
                      WINHTTP_NO_HEADER_INDEX);
  if (status == 401 || status == 407) {
    // Sent again once at most: OfferLogon refuses a request that had it.
    return OfferLogon(opened, status, logon_sent) ? Exchange(opened, call, true)
                                                  : TransferResult::LoginRequired;
  }
  return status == 200 ? TransferResult::Ok : TransferResult::HttpError;
}

TransferResult HttpSession::ReadAvailable(HINTERNET opened, AsyncRequest& call, DWORD& read) {
  read = 0;
  TransferResult result = Await(call, System().WinHttpQueryDataAvailable(opened, nullptr));
  if (result != TransferResult::Ok) return result;
  // Asking for more than is there would wait (under Wine) until the buffer
  // is full; what is there is what a slow link has to show.
  const DWORD wanted = call.count() < call.capacity() ? call.count() : call.capacity();
  if (wanted == 0) return TransferResult::Ok;  // the end of the body
  result = Await(call, System().WinHttpReadData(opened, call.buffer(), wanted, nullptr));
  if (result != TransferResult::Ok) return result;
  if (call.count() > wanted) return TransferResult::NetworkError;  // never more than asked
  read = call.count();
  // A read of nothing after data was reported available ends the body too.
  return TransferResult::Ok;
}

void HttpSession::ReleaseRequest(HINTERNET opened) {
  std::lock_guard lock(request_lock);
  // A cancel may have closed it already; a handle is closed exactly once.
  if (opened && opened == request) System().WinHttpCloseHandle(opened);
  request = nullptr;
}

}  // namespace kestrelume
