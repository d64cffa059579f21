#include "http_status.h"

#include <string>

#include "base/utf.h"
#include "net/http_session.h"
#include "net/winhttp_handle.h"

namespace kestrelume {

unsigned HttpStatusOf(std::string_view address) {
  const std::wstring wide = Utf8ToWide(address);
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  parts.dwHostNameLength = static_cast<DWORD>(-1);
  parts.dwUrlPathLength = static_cast<DWORD>(-1);
  parts.dwExtraInfoLength = static_cast<DWORD>(-1);
  if (!System().WinHttpCrackUrl(wide.c_str(), 0, 0, &parts)) return 0;
  const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
  const std::wstring path = std::wstring(parts.lpszUrlPath, parts.dwUrlPathLength) +
                            std::wstring(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  UniqueInternet session(System().WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                                              WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session) return 0;
  UniqueInternet connection(System().WinHttpConnect(session.get(), host.c_str(), parts.nPort, 0));
  if (!connection) return 0;
  UniqueInternet request(System().WinHttpOpenRequest(connection.get(), L"GET", path.c_str(), nullptr,
                                                     WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                                     parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0));
  if (!request) return 0;
  if (!System().WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
      !System().WinHttpReceiveResponse(request.get(), nullptr)) {
    return 0;
  }
  DWORD status = 0;
  DWORD length = sizeof status;
  if (!System().WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                                    WINHTTP_HEADER_NAME_BY_INDEX, &status, &length, WINHTTP_NO_HEADER_INDEX)) {
    return 0;
  }
  return status;
}

}  // namespace kestrelume
