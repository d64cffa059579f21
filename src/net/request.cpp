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
constexpr DWORD kLocationUnits = 4096;
constexpr DWORD kRedirectPolicy = 88;            // WINHTTP_OPTION_REDIRECT_POLICY
constexpr DWORD kRedirectNever = 0;              // WINHTTP_OPTION_REDIRECT_POLICY_NEVER
constexpr DWORD kStatusCodeNumber = 0x20000013;  // WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER
constexpr DWORD kQueryLocation = 33;             // WINHTTP_QUERY_LOCATION
// As many as WinHTTP itself would follow.
constexpr int kMaxRedirects = 10;
// A piece of at least this much at once means bytes are waiting.
constexpr DWORD kBulkAvailable = 4096;
// A whole-buffer read slower than this means the link cannot fill buffers.
constexpr DWORD kSlowReadMs = 500;

// The cracked host as the address rule spells hosts: UTF-8, ASCII letters
// in lower case.
std::string RuleSpelling(std::wstring_view cracked) {
  std::string host = WideToUtf8(cracked);
  for (char& c : host) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return host;
}

bool IsRedirect(DWORD status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// Where a Location value leads from `from` (an allowed address): itself when
// absolute, the origin of `from` followed by it when it starts with one "/";
// empty (refused) for any other relative form and for https to plain http.
std::string RedirectTarget(std::string_view from, std::string_view location) {
  std::string target;
  if (StartsWith(location, "https://") || StartsWith(location, "http://")) {
    target = location;
  } else if (StartsWith(location, "/") && !StartsWith(location, "//")) {
    const size_t authority = from.find("://");
    const size_t path = from.find_first_of("/?#", authority == std::string_view::npos ? 0 : authority + 3);
    target = std::string(from.substr(0, path)) + std::string(location);
  }
  if (StartsWith(from, "https://") && StartsWith(target, "http://")) target.clear();
  return target;
}

}  // namespace

UniqueInternet HttpSession::OpenRequest(std::string_view address, UniqueInternet& connection,
                                        AsyncRequest& call) {
  connection.reset();
  if (!handle || !IsAllowedAddress(address)) return UniqueInternet();
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
  if (!System().WinHttpCrackUrl(wide.c_str(), 0, 0, &parts)) return UniqueInternet();
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
    return UniqueInternet();
  }

  // Through the session of the proxy this address resolves to, if any.
  HINTERNET session = proxies.For(wide, handle.get(), &OpenTransferSession);
  if (!session) return UniqueInternet();
  connection.reset(System().WinHttpConnect(session, server.c_str(), port, 0));
  if (!connection) return UniqueInternet();

  const std::wstring object = std::wstring(path, parts.dwUrlPathLength) +
                              std::wstring(extra, parts.dwExtraInfoLength);
  DWORD flags = WINHTTP_FLAG_REFRESH;
  if (parts.nScheme == INTERNET_SCHEME_HTTPS) flags |= WINHTTP_FLAG_SECURE;
  UniqueInternet opened(System().WinHttpOpenRequest(connection.get(), L"GET", object.c_str(),
                                                    nullptr, WINHTTP_NO_REFERER,
                                                    WINHTTP_DEFAULT_ACCEPT_TYPES, flags));
  if (!opened || !call.Attach(opened.get())) {
    opened.reset();
    connection.reset();
    return opened;
  }
  // Redirects come back as answers, to be judged before they are followed.
  DWORD policy = kRedirectNever;
  System().WinHttpSetOption(opened.get(), kRedirectPolicy, &policy, sizeof policy);
  // A cancel that came while this was being opened: nothing is sent.
  if (cancelled.load()) opened.reset();
  return opened;
}

TransferResult HttpSession::Await(AsyncRequest& call, bool started, bool secure) {
  if (!started) return TransferResult::NetworkError;
  switch (AwaitStep(call.done(), cancel_event.get(), &call.activity(), stall_limit_ms,
                    secure ? &call.sent() : nullptr, stall_limit_ms * kTlsRecordStallFactor)) {
    case StepEnd::Completed:
      // While bytes wait, each read is done before it is waited for, so the
      // wait alone would never see a cancel: the flag decides.
      if (cancelled.load()) return TransferResult::Cancelled;
      return call.succeeded() ? TransferResult::Ok : TransferResult::NetworkError;
    case StepEnd::Cancelled:
      return TransferResult::Cancelled;
    default:
      return TransferResult::NetworkError;  // stalled: the same end as a timeout
  }
}

TransferResult HttpSession::Ask(std::string_view address, const wchar_t* headers,
                                AsyncRequest& call, Answer& answer) {
  std::string current(address);
  for (int redirects = 0;; ++redirects) {
    answer.request.reset();  // before OpenRequest closes its connection
    answer.request = OpenRequest(current, answer.connection, call);
    if (!answer.request) return TransferResult::NetworkError;
    answer.secure = HostOf(current).https;
    const HINTERNET opened = answer.request.get();
    for (bool logon_sent = false;; logon_sent = true) {
      // Under Wine the send over TLS ends only with the answer's first record.
      TransferResult result = Await(
          call,
          System().WinHttpSendRequest(opened, headers, headers ? static_cast<DWORD>(-1) : 0,
                                      WINHTTP_NO_REQUEST_DATA, 0, 0, reinterpret_cast<DWORD_PTR>(&call)),
          answer.secure);
      if (result != TransferResult::Ok) return result;
      // Over TLS the headers may come in one record with the body's start.
      result = Await(call, System().WinHttpReceiveResponse(opened, nullptr), answer.secure);
      if (result != TransferResult::Ok) return result;
      answer.status = 0;
      DWORD length = sizeof answer.status;
      System().WinHttpQueryHeaders(opened, kStatusCodeNumber, WINHTTP_HEADER_NAME_BY_INDEX,
                                   &answer.status, &length, WINHTTP_NO_HEADER_INDEX);
      if (answer.status != 401 && answer.status != 407) break;
      // Sent again once at most: OfferLogon refuses a request that had it.
      if (!OfferLogon(opened, answer.status, logon_sent)) return TransferResult::LoginRequired;
    }
    if (!IsRedirect(answer.status)) return TransferResult::Ok;
    if (redirects == kMaxRedirects) return TransferResult::NetworkError;
    wchar_t location[kLocationUnits];
    DWORD length = sizeof location;
    if (!System().WinHttpQueryHeaders(opened, kQueryLocation, WINHTTP_HEADER_NAME_BY_INDEX,
                                      location, &length, WINHTTP_NO_HEADER_INDEX)) {
      return TransferResult::NetworkError;
    }
    current = RedirectTarget(current, WideToUtf8({location, length / sizeof(wchar_t)}));
  }
}

TransferResult HttpSession::ReadPiece(HINTERNET opened, bool secure, AsyncRequest& call,
                                     ReadPace& pace, const char*& data, DWORD& read) {
  read = 0;
  DWORD wanted = call.capacity();
  TransferResult result = TransferResult::Ok;
  if (!pace.bulk) {
    result = Await(call, System().WinHttpQueryDataAvailable(opened, nullptr), secure);
    if (result != TransferResult::Ok) return result;
    // Asking for more than is there would wait (under Wine) until the buffer
    // is full; what is there is what a slow link has to show.
    wanted = call.count() < call.capacity() ? call.count() : call.capacity();
    if (wanted == 0) return TransferResult::Ok;  // the end of the body
    // Bytes come faster than they are taken: whole buffers from now on, one
    // step each instead of two per piece of WinHTTP's own buffer. (Under
    // Wine such a read, when it finds bytes waiting, fills the buffer on this
    // thread before it returns; should the link slow down meanwhile,
    // WinHTTP's own receive timeout still ends a silence, and a close does
    // not wait for the read: the process ends.)
    pace.bulk = wanted >= kBulkAvailable;
  }
  const DWORD started = GetTickCount();
  result = Await(call, System().WinHttpReadData(opened, call.buffer(), wanted, nullptr), secure);
  if (result != TransferResult::Ok) return result;
  if (call.count() > wanted) return TransferResult::NetworkError;  // never more than asked
  read = call.count();
  data = call.buffer();
  // A whole buffer that took long means a slow link: back to what is there,
  // so that progress shows as bytes arrive. A read of nothing ends the body.
  if (pace.bulk && GetTickCount() - started > kSlowReadMs) pace.bulk = false;
  return TransferResult::Ok;
}

}  // namespace kestrelume
