#include "net/proxy.h"

#include "net/http_session.h"
#include "system/system_functions.h"

namespace kestrelume {

namespace {

// Takes a string that WinHTTP allocated, and frees it.
std::wstring Take(wchar_t* text) {
  if (!text) return {};
  std::wstring taken(text);
  GlobalFree(text);
  return taken;
}

ProxyRoute TakeRoute(WINHTTP_PROXY_INFO& info) {
  ProxyRoute route{Take(info.lpszProxy), Take(info.lpszProxyBypass)};
  if (info.dwAccessType != WINHTTP_ACCESS_TYPE_NAMED_PROXY) route = {};
  return route;
}

UserProxySettings ReadUserSettings() {
  UserProxySettings user;
  WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config{};
  // Settings that cannot be read count as Windows' defaults: detection only.
  if (!System().WinHttpGetIEProxyConfigForCurrentUser(&config)) {
    user.auto_detect = true;
    return user;
  }
  user.auto_detect = config.fAutoDetect != FALSE;
  user.config_url = Take(config.lpszAutoConfigUrl);
  user.fixed = {Take(config.lpszProxy), Take(config.lpszProxyBypass)};
  return user;
}

// Runs the auto-configuration script, fetched from its address or found by
// detection, for `address`. A session of its own: the call blocks, and the
// transfer session is asynchronous.
std::optional<ProxyRoute> Discover(const std::wstring& address, const UserProxySettings& user,
                                   bool& detection_failed) {
  WINHTTP_AUTOPROXY_OPTIONS options{};
  if (!user.config_url.empty()) {
    options.dwFlags = WINHTTP_AUTOPROXY_CONFIG_URL;
    options.lpszAutoConfigUrl = user.config_url.c_str();
  }
  const bool detect = user.auto_detect && !detection_failed;
  if (detect) {
    options.dwFlags |= WINHTTP_AUTOPROXY_AUTO_DETECT;
    options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
  }
  if (options.dwFlags == 0) return std::nullopt;
  // A script behind a proxy that wants the Windows login gets it.
  options.fAutoLogonIfChallenged = TRUE;
  UniqueInternet session(System().WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_NO_PROXY,
                                              WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
  WINHTTP_PROXY_INFO info{};
  if (!session || !System().WinHttpGetProxyForUrl(session.get(), address.c_str(), &options, &info)) {
    if (detect && user.config_url.empty()) detection_failed = true;
    return std::nullopt;
  }
  return TakeRoute(info);
}

ProxyRoute ReadMachineProxy() {
  WINHTTP_PROXY_INFO info{};
  if (!System().WinHttpGetDefaultProxyConfiguration(&info)) return {};
  return TakeRoute(info);
}

}  // namespace

ProxyRoute ChooseProxy(const UserProxySettings& user, const std::optional<ProxyRoute>& discovered,
                       const ProxyRoute& machine) {
  if (discovered) return *discovered;
  if (!user.fixed.proxy.empty()) return user.fixed;
  // A script the user named but that could not be run: direct, as browsers
  // do. No proxy and no script of the user's: the machine's proxy.
  if (!user.config_url.empty()) return {};
  return machine;
}

HINTERNET ProxySessions::For(const std::wstring& address, HINTERNET direct,
                             HINTERNET (*open)(DWORD, const wchar_t*, const wchar_t*)) {
  const UserProxySettings user = ReadUserSettings();
  const std::optional<ProxyRoute> discovered = Discover(address, user, detection_failed);
  const ProxyRoute chosen = ChooseProxy(user, discovered, ReadMachineProxy());
  if (chosen.proxy.empty()) return direct;
  if (!session || chosen != route) {
    route = chosen;
    session.reset(open(WINHTTP_ACCESS_TYPE_NAMED_PROXY, route.proxy.c_str(),
                       route.bypass.empty() ? WINHTTP_NO_PROXY_BYPASS : route.bypass.c_str()));
  }
  return session.get();
}

}  // namespace kestrelume
