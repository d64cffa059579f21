#pragma once
// The address policy every network address passes: HTTPS to any host, plain
// HTTP to the local machine only. Value in, value out.

#include <string>
#include <string_view>

namespace kestrelume {

// The build-time download host (host of the default manifest address).
inline constexpr std::string_view kDownloadHost = KESTRELUME_DOWNLOAD_HOST;

struct HostInfo {
  // Lower case; empty when there is none, or when an "@" comes anywhere
  // before the first "/" after the scheme (even after a "?" or "#").
  std::string host;
  bool https = false;
};

HostInfo HostOf(std::string_view address);
bool IsAllowedAddress(std::string_view address);
// Adds "via=bootstrap" to addresses on the download host or the local machine.
std::string DownloadAddress(std::string_view address);

}  // namespace kestrelume
