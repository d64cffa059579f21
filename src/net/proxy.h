#pragma once
// Which proxy a request goes through, found for each address as browsers on
// Windows find it: the user's settings (a fixed proxy with its bypass list, a
// proxy auto-configuration address, automatic detection), the script that
// auto-configuration or detection yields, and the machine-wide WinHTTP proxy
// when the user has none.
//
// Requests reach a named proxy through a session opened for that proxy:
// Wine's WinHTTP accepts WINHTTP_OPTION_PROXY on a request or session and
// ignores it, while a session opened with WINHTTP_ACCESS_TYPE_NAMED_PROXY is
// honoured there and on every Windows.

#include <windows.h>
#include <winhttp.h>

#include <optional>
#include <string>
#include <string_view>

#include "net/winhttp_handle.h"

namespace kestrelume {

// A proxy list as WinHTTP takes it ("host:port", "http=a:1;https=b:2") and
// its bypass list. No proxy: a direct connection.
struct ProxyRoute {
  std::wstring proxy;
  std::wstring bypass;
  bool operator==(const ProxyRoute&) const = default;
};

// The current user's settings (WinHttpGetIEProxyConfigForCurrentUser).
struct UserProxySettings {
  bool auto_detect = false;
  std::wstring config_url;  // proxy auto-configuration script address
  ProxyRoute fixed;
};

// The route for one address. `discovered` is what the auto-configuration
// script or detection answered, when one was asked and answered (its
// "DIRECT" included); `machine` is the machine-wide WinHTTP proxy.
ProxyRoute ChooseProxy(const UserProxySettings& user, const std::optional<ProxyRoute>& discovered,
                       const ProxyRoute& machine);

// Worker thread only, except Close (main thread, no worker running).
class ProxySessions {
 public:
  // The session through which `address` (a full UTF-16 address) is to be
  // connected: `direct` when no proxy applies, else a session opened for
  // that proxy with `open`, kept while later addresses use the same proxy.
  // Null when that session cannot be opened.
  HINTERNET For(const std::wstring& address, HINTERNET direct,
                HINTERNET (*open)(DWORD access_type, const wchar_t* proxy, const wchar_t* bypass));
  void Close() { session.reset(); }

 private:
  UniqueInternet session;
  ProxyRoute route;
  // Automatic detection that found nothing is not repeated for every
  // request: Windows caches its answer, Wine takes most of a second each time.
  bool detection_failed = false;
};

}  // namespace kestrelume
