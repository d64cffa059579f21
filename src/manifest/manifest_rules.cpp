#include "manifest/manifest_rules.h"

#include <string>

#include "base/ascii.h"

namespace kestrelume {

bool ApplyStringMember(std::string_view key, std::string_view value, Manifest& manifest) {
  if (key == "version") {
    manifest.version = value;
  } else if (key == "published") {
    manifest.published = value;
  } else if (key == "url") {
    manifest.url = value;
  } else if (key == "mirror") {
    manifest.mirror = value;
  } else if (key == "min_windows") {
    manifest.min_windows = value;
  } else if (key == "sha256") {
    // Digests are compared in lower case later on.
    manifest.sha256 = AsciiLower(value);
  }
  return true;
}

bool ApplyIntegerMember(std::string_view key, uint64_t value, bool negative, Manifest& manifest) {
  if (key == "size") {
    if (negative) {
      manifest.size = 0;
      return false;
    }
    manifest.size = value;
  } else if (key == "bootstrap_min") {
    // -0 counts as negative: a signed level is a malformed document.
    if (negative || value > kBootstrapMinLimit) return false;
    manifest.bootstrap_min = static_cast<uint32_t>(value);
  }
  return true;
}

}  // namespace kestrelume
