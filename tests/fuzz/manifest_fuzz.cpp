// ParseManifest on any bytes, then ValidateManifest on whatever it accepts.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz_check.h"
#include "manifest/json_reader.h"
#include "manifest/manifest.h"

namespace {

using kestrelume::Manifest;
using kestrelume::ManifestCheck;

Manifest Sentinel() {
  Manifest m;
  m.version = "sentinel-version";
  m.published = "sentinel-published";
  m.url = "sentinel-url";
  m.mirror = "sentinel-mirror";
  m.sha256 = "SENTINEL-SHA256";
  m.size = 0xDEADBEEFu;
  m.min_windows = "sentinel-windows";
  m.bootstrap_min = 0xBADu;
  return m;
}

bool Same(const Manifest& a, const Manifest& b) {
  return a.version == b.version && a.published == b.published && a.url == b.url && a.mirror == b.mirror &&
         a.sha256 == b.sha256 && a.size == b.size && a.min_windows == b.min_windows &&
         a.bootstrap_min == b.bootstrap_min;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  Manifest manifest = Sentinel();
  if (!kestrelume::ParseManifest(text, manifest)) {
    FUZZ_CHECK(Same(manifest, Sentinel()));
    return 0;
  }
  // Every field is replaced, so what was there before cannot show through.
  Manifest fresh;
  FUZZ_CHECK(kestrelume::ParseManifest(text, fresh));
  FUZZ_CHECK(Same(manifest, fresh));
  for (const char c : manifest.sha256) FUZZ_CHECK(c < 'A' || c > 'Z');
  FUZZ_CHECK(manifest.bootstrap_min <= 1'000'000);

  const ManifestCheck unknown = kestrelume::ValidateManifest(manifest, "");
  const ManifestCheck known = kestrelume::ValidateManifest(manifest, "10.0.19045");
  FUZZ_CHECK(static_cast<uint32_t>(unknown) <= static_cast<uint32_t>(ManifestCheck::Retired));
  // Knowing the Windows version can only add the Windows requirement.
  FUZZ_CHECK(known == unknown || (unknown == ManifestCheck::Ok && known == ManifestCheck::WindowsTooOld));
  // A system exactly at the required version meets the requirement.
  FUZZ_CHECK(kestrelume::ValidateManifest(manifest, manifest.min_windows) == unknown);
  return 0;
}
