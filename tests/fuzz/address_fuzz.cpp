// The address policy and the download marker on any bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "manifest/address.h"

namespace {

bool IsLoopback(const std::string& host) {
  return host == "127.0.0.1" || host == "localhost" || host == "[::1]";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view address(reinterpret_cast<const char*>(data), size);
  const kestrelume::HostInfo info = kestrelume::HostOf(address);
  const bool allowed = kestrelume::IsAllowedAddress(address);

  // A host never carries what ends an authority, a port or user information;
  // a ":" only inside a bracketed literal, which is the whole host.
  FUZZ_CHECK(info.host.find_first_of("/?#@") == std::string::npos);
  const bool bracketed = info.host.starts_with('[');
  if (bracketed) {
    FUZZ_CHECK(info.host.size() > 3 && info.host.back() == ']' &&
               info.host.find_first_of("[]", 1) == info.host.size() - 1);
  } else {
    FUZZ_CHECK(info.host.find_first_of(":[]") == std::string::npos);
  }
  for (const char c : info.host) FUZZ_CHECK(c < 'A' || c > 'Z');
  if (allowed) FUZZ_CHECK(!info.host.empty() && (info.https || IsLoopback(info.host)));
  // WinHTTP takes everything before an "@" up to the first "/" for user
  // information, whatever "?" or "#" come first: an accepted address has none
  // there. (That the host WinHTTP then sees is this host is checked under
  // Wine, in tests/net.)
  if (allowed) {
    const size_t authority = address.find("//") + 2;
    FUZZ_CHECK(address.substr(authority, address.find('/', authority) - authority).find('@') ==
               std::string_view::npos);
  }

  // The marker is the only change, at the very end, and only on the two
  // kinds of host that take it.
  const std::string marked = kestrelume::DownloadAddress(address);
  FUZZ_CHECK(marked.size() >= address.size() && std::string_view(marked).substr(0, address.size()) == address);
  const std::string_view added = std::string_view(marked).substr(address.size());
  if (!added.empty()) {
    const bool has_query = address.find('?') != std::string_view::npos;
    FUZZ_CHECK(added == (has_query ? "&via=bootstrap" : "?via=bootstrap"));
    FUZZ_CHECK(address.find('#') == std::string_view::npos);
    FUZZ_CHECK(IsLoopback(info.host) || info.host == kestrelume::kDownloadHost);
  }
  // Marked or not, the address goes to the same host by the same scheme, and
  // a refused address stays refused.
  const kestrelume::HostInfo after = kestrelume::HostOf(marked);
  FUZZ_CHECK(after.host == info.host && after.https == info.https);
  FUZZ_CHECK(kestrelume::IsAllowedAddress(marked) == allowed);
  return 0;
}
