#pragma once
// The address policy every network address passes: HTTPS to any host, plain
// HTTP to the local machine only. Value in, value out.

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrelume {

// The build-time download host (host of the default manifest address).
inline constexpr std::string_view kDownloadHost = KESTRELUME_DOWNLOAD_HOST;

struct HostInfo {
  // Lower case; empty when there is none, or when an "@" comes anywhere
  // before the first "/" after the scheme (even after a "?" or "#"). A
  // bracketed IPv6 literal keeps its brackets ("[2001:db8::1]"); a bracket
  // that does not enclose one well-formed literal leaves the host empty.
  std::string host;
  bool https = false;
  // The port written after the host, 1 to 65535; 0 when there is none (the
  // scheme's default) or it is not such a number.
  uint16_t port = 0;
};

HostInfo HostOf(std::string_view address);
bool IsAllowedAddress(std::string_view address);
// Adds "via=bootstrap" to addresses on the download host or the local machine.
std::string DownloadAddress(std::string_view address);

}  // namespace kestrelume
