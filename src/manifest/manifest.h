#pragma once
// The signed update manifest and the rules that judge it. Value in, value
// out: no I/O, safe on any thread.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace kestrelume {

// A fresh Manifest has empty strings and zero integers. Strings are UTF-8
// exactly as the document gave them (sha256 lower-cased by the reader).
struct Manifest {
  std::string version;
  std::string published;
  std::string url;
  std::string mirror;
  std::string sha256;
  uint64_t size = 0;
  std::string min_windows;
  uint32_t bootstrap_min = 0;
};

enum class ManifestCheck : uint32_t {
  Ok = 0,
  Invalid = 1,
  VersionTooLow = 2,
  WindowsTooOld = 3,
  Retired = 4,
};

// This installer's level, compared with the manifest's "bootstrap_min".
inline constexpr uint32_t kBootstrapLevel = 1;
// The lowest release version this installer accepts.
inline constexpr std::string_view kVersionFloor = "0.2.0";

// Dotted version of one to four components of 1 to 9 digits each; missing
// components are 0. False for anything else (the components are then
// meaningless).
bool ParseVersion(std::string_view text, std::array<uint32_t, 4>& components);

// -1, 0 or +1; a text that does not parse counts as 0.0.0.0.
int CompareVersions(std::string_view a, std::string_view b);

// windows_version is "major.minor.build" of the running system, or empty when
// unknown (the Windows requirement is then not checked).
ManifestCheck ValidateManifest(const Manifest& manifest, std::string_view windows_version);

}  // namespace kestrelume
