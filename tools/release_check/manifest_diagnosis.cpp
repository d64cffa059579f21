#include "manifest_diagnosis.h"

namespace kestrelume {
namespace {

// A manifest every rule accepts; each probe puts one field of the manifest
// being judged into it.
Manifest Acceptable() {
  Manifest m;
  m.version = "1";
  m.published = "1";
  m.url = "https://download.invalid/s.exe";
  m.sha256 = std::string(64, '0');
  m.size = 1;
  return m;
}

struct FieldProbe {
  const char* name;
  void (*copy)(const Manifest& from, Manifest& to);
};

constexpr FieldProbe kProbes[] = {
    {"version", [](const Manifest& f, Manifest& t) { t.version = f.version; }},
    {"published", [](const Manifest& f, Manifest& t) { t.published = f.published; }},
    {"url", [](const Manifest& f, Manifest& t) { t.url = f.url; }},
    {"mirror", [](const Manifest& f, Manifest& t) { t.mirror = f.mirror; }},
    {"sha256", [](const Manifest& f, Manifest& t) { t.sha256 = f.sha256; }},
    {"size", [](const Manifest& f, Manifest& t) { t.size = f.size; }},
    {"min_windows", [](const Manifest& f, Manifest& t) { t.min_windows = f.min_windows; }},
};

}  // namespace

std::vector<std::string> InvalidFields(const Manifest& manifest) {
  std::vector<std::string> fields;
  for (const FieldProbe& probe : kProbes) {
    Manifest m = Acceptable();
    probe.copy(manifest, m);
    if (ValidateManifest(m, {}) == ManifestCheck::Invalid) fields.emplace_back(probe.name);
  }
  return fields;
}

std::vector<std::string> RefusedFields(const Manifest& manifest, ManifestCheck check) {
  switch (check) {
    case ManifestCheck::Ok: return {};
    case ManifestCheck::Invalid: return InvalidFields(manifest);
    case ManifestCheck::VersionTooLow: return {"version"};
    case ManifestCheck::WindowsTooOld: return {"min_windows"};
    case ManifestCheck::Retired: return {"bootstrap_min"};
  }
  return {};
}

}  // namespace kestrelume
