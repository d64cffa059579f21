// verify_release: says whether an installer with the given keys would
// install a published release, and why not, using the installer's own code.
//
//   verify_release [--keys K1;K2] [--windows MAJOR.MINOR.BUILD] --folder PATH
//   verify_release [--keys K1;K2] [--windows MAJOR.MINOR.BUILD] --url MANIFEST_URL
//
// Without --keys the keys this build trusts are used. Without --windows the
// Windows requirement is not checked, as an installer does when the system
// gives no version. Exit code 0 when the release would be installed, 1 when
// it would not, 2 for a bad command line.

#include <fcntl.h>
#include <io.h>

#include <array>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "integrity/signature.h"
#include "manifest/address.h"
#include "manifest/json_reader.h"
#include "manifest/manifest.h"
#include "release_source.h"
#include "base/utf.h"

namespace kestrelume {
namespace {

constexpr size_t kKeyHexLength = 128;

struct Options {
  std::vector<std::string> keys;
  std::string windows;
  std::wstring folder;
  std::string url;
};

bool ParseOptions(int argc, wchar_t** argv, Options& options, std::string& error) {
  std::string keys;
  bool have_keys = false;
  for (int i = 1; i < argc; ++i) {
    const std::wstring name = argv[i];
    if (i + 1 >= argc) {
      error = "missing value after " + WideToUtf8(name);
      return false;
    }
    const std::wstring value = argv[++i];
    if (name == L"--keys") {
      keys = WideToUtf8(value);
      have_keys = true;
    } else if (name == L"--windows") {
      options.windows = WideToUtf8(value);
    } else if (name == L"--folder") {
      options.folder = value;
    } else if (name == L"--url") {
      options.url = WideToUtf8(value);
    } else {
      error = "unknown option " + WideToUtf8(name);
      return false;
    }
  }
  if (options.folder.empty() == options.url.empty()) {
    error = "give either --folder or --url";
    return false;
  }
  if (!have_keys) {
    for (const std::string_view key : BuiltInTrustedKeys()) options.keys.emplace_back(key);
  } else {
    size_t start = 0;
    for (;;) {
      const size_t end = keys.find(';', start);
      options.keys.push_back(keys.substr(start, end == std::string::npos ? std::string::npos : end - start));
      if (end == std::string::npos) break;
      start = end + 1;
    }
  }
  std::vector<uint8_t> bytes;
  if (options.keys.empty() || options.keys.size() > 2) {
    error = "--keys takes one or two keys separated by ;";
    return false;
  }
  for (size_t k = 0; k < options.keys.size(); ++k) {
    if (options.keys[k].size() != kKeyHexLength || !HexDecode(options.keys[k], bytes)) {
      error = "key " + std::to_string(k + 1) + " is not 128 hexadecimal characters";
      return false;
    }
  }
  std::array<uint32_t, 4> components{};
  if (!options.windows.empty() && !ParseVersion(options.windows, components)) {
    error = "--windows is not a version";
    return false;
  }
  return true;
}

// Control bytes are shown as \xNN so that a field cannot move the cursor or
// pass for another line; other bytes (UTF-8) are written as they are.
std::string Shown(std::string_view text) {
  std::string out;
  for (const unsigned char c : text) {
    if (c < 0x20 || c == 0x7F || c == '\\') {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02x", c);
      out += escape;
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out;
}

void Line(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fputc('\n', stdout);
}

const char* CheckName(ManifestCheck check) {
  switch (check) {
    case ManifestCheck::Ok: return "Ok";
    case ManifestCheck::Invalid: return "Invalid (a field is missing or malformed)";
    case ManifestCheck::VersionTooLow: return "VersionTooLow (version is below 0.2.0)";
    case ManifestCheck::WindowsTooOld: return "WindowsTooOld (the given Windows is below min_windows)";
    case ManifestCheck::Retired: return "Retired (bootstrap_min is above this installer's level)";
  }
  return "?";
}

void PrintFields(const Manifest& m) {
  Line("version:       " + Shown(m.version));
  Line("published:     " + Shown(m.published));
  Line("url:           " + Shown(m.url));
  Line("  requested as " + Shown(DownloadAddress(m.url)));
  Line("mirror:        " + (m.mirror.empty() ? std::string("(none)") : Shown(m.mirror)));
  Line("sha256:        " + Shown(m.sha256));
  Line("size:          " + std::to_string(m.size));
  Line("min_windows:   " + (m.min_windows.empty() ? std::string("(none)") : Shown(m.min_windows)));
  Line("bootstrap_min: " + std::to_string(m.bootstrap_min));
}

// The signature verdict, key by key, and the installer's own verdict.
bool ReportSignature(const std::string& manifest, const std::string& signature, const Options& options) {
  std::vector<std::string_view> keys(options.keys.begin(), options.keys.end());
  const bool verified = VerifySignature(manifest, signature, keys);
  for (size_t k = 0; k < keys.size() && verified; ++k) {
    if (VerifyWithKey(manifest, signature, keys[k])) {
      Line("signature:     verified by key " + std::to_string(k + 1) + " (" + std::string(keys[k].substr(0, 16)) +
           "...)");
      break;
    }
  }
  if (!verified) {
    Line("signature:     NOT verified by any of the " + std::to_string(keys.size()) +
         " keys; the installer shows \"Check failed\"");
  }
  return verified;
}

int Run(const Options& options) {
  std::unique_ptr<ReleaseSource> source;
  if (!options.folder.empty()) {
    Line("release:       folder " + WideToUtf8(options.folder));
    source = std::make_unique<FolderSource>(options.folder);
  } else {
    Line("release:       " + Shown(options.url));
    source = std::make_unique<AddressSource>(options.url);
  }
  std::string manifest;
  std::string signature;
  const SourceResult documents = source->ReadDocuments(manifest, signature);
  if (!documents.ok) {
    Line("FAILED:        " + documents.problem);
    return 1;
  }
  Line("manifest:      " + std::to_string(manifest.size()) + " bytes");
  bool installable = ReportSignature(manifest, signature, options);

  Manifest m;
  if (!ParseManifest(manifest, m)) {
    Line("reader:        the installer's JSON reader refuses the document");
    Line("verdict:       NOT INSTALLABLE");
    return 1;
  }
  const ManifestCheck check = ValidateManifest(m, options.windows);
  Line(std::string("check:         ") + CheckName(check) +
       (options.windows.empty() && !m.min_windows.empty() ? " (min_windows not compared: no --windows)" : ""));
  PrintFields(m);
  installable = installable && check == ManifestCheck::Ok;

  // The download is only worth trying for a manifest the installer accepts
  // as to its form; digest and size are what it is checked against.
  if (check == ManifestCheck::Ok || check == ManifestCheck::WindowsTooOld) {
    bool skipped = false;
    SourceResult setup = source->CheckSetup(DownloadAddress(m.url), m.size, m.sha256, skipped);
    Line(std::string(setup.ok ? "setup:         " : "setup FAILED:  ") + setup.problem);
    installable = installable && setup.ok;
    if (!m.mirror.empty()) {
      // The installer fetches the mirror exactly as named, without the marker.
      setup = source->CheckSetup(m.mirror, m.size, m.sha256, skipped);
      Line(std::string(setup.ok ? "mirror setup:  " : "mirror FAILED: ") + setup.problem);
      installable = installable && setup.ok;
    }
  }
  Line(installable ? "verdict:       INSTALLABLE: an installer with these keys installs this release"
                   : "verdict:       NOT INSTALLABLE");
  return installable ? 0 : 1;
}

}  // namespace
}  // namespace kestrelume

int wmain(int argc, wchar_t** argv) {
  // Bytes as they are: no CR before each line break, no code page.
  _setmode(_fileno(stdout), _O_BINARY);
  kestrelume::Options options;
  std::string error;
  if (!kestrelume::ParseOptions(argc, argv, options, error)) {
    std::fprintf(stderr, "verify_release: %s\n", error.c_str());
    return 2;
  }
  const int code = kestrelume::Run(options);
  std::fflush(stdout);
  return code;
}
