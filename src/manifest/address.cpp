#include "manifest/address.h"

namespace kestrelume {
namespace {

constexpr std::string_view kHttpsScheme = "https://";
constexpr std::string_view kHttpScheme = "http://";
constexpr std::string_view kDownloadMarker = "via=bootstrap";

std::string AsciiLower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

bool IsLocalHost(std::string_view host) { return host == "127.0.0.1" || host == "localhost"; }

}  // namespace

HostInfo HostOf(std::string_view address) {
  const std::string lower = AsciiLower(address);
  const std::string_view text = lower;
  HostInfo info;
  size_t start = 0;
  if (text.starts_with(kHttpsScheme)) {
    start = kHttpsScheme.size();
    info.https = true;
  } else if (text.starts_with(kHttpScheme)) {
    start = kHttpScheme.size();
  } else {
    return info;
  }
  std::string_view authority = text.substr(start);
  // User information could dress one host up as another; never accepted.
  // WinHTTP ends the authority at the first "/" only, so an "@" after a "?"
  // or "#" but before that "/" would make all before it user information.
  if (authority.substr(0, authority.find('/')).find('@') != std::string_view::npos) return info;
  authority = authority.substr(0, authority.find_first_of("/?#"));
  info.host = authority.substr(0, authority.find(':'));
  return info;
}

bool IsAllowedAddress(std::string_view address) {
  const HostInfo info = HostOf(address);
  if (info.host.empty()) return false;
  if (info.https) return true;
  return IsLocalHost(info.host);
}

std::string DownloadAddress(std::string_view address) {
  std::string result(address);
  const std::string host = HostOf(address).host;
  if (host != AsciiLower(kDownloadHost) && !IsLocalHost(host)) return result;
  // A query appended after a fragment would never reach the server.
  if (address.find('#') != std::string_view::npos) return result;
  result += address.find('?') != std::string_view::npos ? '&' : '?';
  result += kDownloadMarker;
  return result;
}

}  // namespace kestrelume
