#include "manifest/address.h"
#include "manifest/manifest.h"

namespace kestrelume {
namespace {

constexpr size_t kDigestHexLength = 64;

bool IsHexDigest(std::string_view text) {
  if (text.size() != kDigestHexLength) return false;
  for (const char c : text) {
    const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    if (!hex) return false;
  }
  return true;
}

bool IsVersion(std::string_view text) {
  std::array<uint32_t, 4> components{};
  return ParseVersion(text, components);
}

}  // namespace

ManifestCheck ValidateManifest(const Manifest& manifest, std::string_view windows_version) {
  // Retirement comes first: an installer told to retire must say so even
  // when the rest of the document is something it no longer understands.
  if (manifest.bootstrap_min > kBootstrapLevel) return ManifestCheck::Retired;
  if (!IsVersion(manifest.version)) return ManifestCheck::Invalid;
  if (manifest.published.empty() || manifest.url.empty() || manifest.size == 0) {
    return ManifestCheck::Invalid;
  }
  if (!IsHexDigest(manifest.sha256)) return ManifestCheck::Invalid;
  if (!IsAllowedAddress(manifest.url)) return ManifestCheck::Invalid;
  if (!manifest.mirror.empty() && !IsAllowedAddress(manifest.mirror)) return ManifestCheck::Invalid;
  if (!manifest.min_windows.empty() && !IsVersion(manifest.min_windows)) return ManifestCheck::Invalid;
  if (CompareVersions(manifest.version, kVersionFloor) < 0) return ManifestCheck::VersionTooLow;
  if (windows_version.empty()) return ManifestCheck::Ok;
  if (!manifest.min_windows.empty() && CompareVersions(windows_version, manifest.min_windows) < 0) {
    return ManifestCheck::WindowsTooOld;
  }
  return ManifestCheck::Ok;
}

}  // namespace kestrelume
