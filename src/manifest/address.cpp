#include "manifest/address.h"

#include "base/ascii.h"

namespace kestrelume {
namespace {

constexpr std::string_view kHttpsScheme = "https://";
constexpr std::string_view kHttpScheme = "http://";
constexpr std::string_view kDownloadMarker = "via=bootstrap";

// 1 to 65535 from the digits of `text`, else 0.
uint16_t PortNumber(std::string_view text) {
  if (text.empty() || text.size() > 5) return 0;
  uint32_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return 0;
    value = value * 10 + static_cast<uint32_t>(c - '0');
  }
  return value <= 65535 ? static_cast<uint16_t>(value) : 0;
}

// "[literal]" and an optional ":port" after it. Only the characters of an
// IPv6 text form may stand between the brackets: no zone, no name.
bool SplitBracketed(std::string_view authority, HostInfo& info) {
  const size_t close = authority.find(']');
  if (close == std::string_view::npos || close < 3) return false;
  const std::string_view literal = authority.substr(1, close - 1);
  if (literal.find_first_not_of("0123456789abcdef:.") != std::string_view::npos ||
      literal.find(':') == std::string_view::npos) {
    return false;
  }
  const std::string_view rest = authority.substr(close + 1);
  if (!rest.empty() && rest.front() != ':') return false;
  if (rest.size() > 1 && (info.port = PortNumber(rest.substr(1))) == 0) return false;
  info.host = authority.substr(0, close + 1);
  return true;
}

// This machine, the one host plain HTTP may go to.
bool IsLocalHost(std::string_view host) {
  return host == "127.0.0.1" || host == "localhost" || host == "[::1]";
}

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
  if (authority.starts_with('[')) {
    if (!SplitBracketed(authority, info)) info = {{}, info.https, 0};
    return info;
  }
  const size_t colon = authority.find(':');
  info.host = authority.substr(0, colon);
  // A bracket anywhere else is no host WinHTTP and the rule would agree on.
  if (info.host.find_first_of("[]") != std::string::npos) info.host.clear();
  if (colon != std::string_view::npos) info.port = PortNumber(authority.substr(colon + 1));
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
