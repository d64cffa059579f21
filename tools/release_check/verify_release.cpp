// verify_release: says whether an installer with the given keys would
// install a published release, and why not, using the installer's own code.
//
//   verify_release (--keys K1;K2 | --dev-keys) [--windows MAJOR.MINOR.BUILD]
//                  (--folder PATH [--setup FILE] | --url MANIFEST_URL) [--live WHERE [--live-copy FILE]]
//
// The keys are always named: --dev-keys stands for the development keys this
// build trusts. Without --windows the Windows requirement is not checked, as
// an installer does when the system gives no version. --setup checks FILE as
// the setup program instead of the file at the address's path in the folder.
// --live names the manifest that is live now (an address or a file) and says
// how this release's version stands to it; --live-copy keeps its bytes. Exit
// code 0 when the release would be installed, 1 when it would not, 2 for a
// bad command line.

#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <array>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "http_status.h"
#include "integrity/signature.h"
#include "manifest/address.h"
#include "manifest/json_reader.h"
#include "manifest/manifest.h"
#include "manifest_diagnosis.h"
#include "release_source.h"
#include "base/unique_handle.h"
#include "base/utf.h"

namespace kestrelume {
namespace {

constexpr size_t kKeyHexLength = 128;

constexpr char kUsage[] =
    "usage: verify_release (--keys K1;K2 | --dev-keys) [--windows VERSION]\n"
    "                      (--folder PATH [--setup FILE] | --url MANIFEST_URL) [--live WHERE [--live-copy FILE]]\n";

struct Options {
  std::vector<std::string> keys;
  std::string windows;
  std::wstring folder;
  std::wstring setup;
  std::string url;
  std::string live;
  std::wstring live_copy;
  bool help = false;
};

bool ParseOptions(int argc, wchar_t** argv, Options& options, std::string& error) {
  std::string keys;
  bool have_keys = false;
  bool dev_keys = false;
  for (int i = 1; i < argc; ++i) {
    const std::wstring name = argv[i];
    if (name == L"--help" || name == L"-h") {
      options.help = true;
      return true;
    }
    if (name == L"--dev-keys") {
      dev_keys = true;
      continue;
    }
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
    } else if (name == L"--setup") {
      options.setup = value;
    } else if (name == L"--live") {
      options.live = WideToUtf8(value);
    } else if (name == L"--live-copy") {
      options.live_copy = value;
    } else {
      error = "unknown option " + WideToUtf8(name);
      return false;
    }
  }
  if (options.folder.empty() == options.url.empty()) {
    error = "give either --folder or --url";
    return false;
  }
  if (have_keys == dev_keys) {
    error = have_keys ? "give --keys or --dev-keys, not both"
                      : "name the keys the installer trusts: --keys \"<key1>;<key2>\", or --dev-keys for a "
                        "development build's";
    return false;
  }
  if (!options.setup.empty() && options.folder.empty()) {
    error = "--setup goes with --folder";
    return false;
  }
  if (dev_keys) {
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
bool ReportSignature(ReleaseSource& source, const std::string& manifest, const std::string& signature,
                     const Options& options) {
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
    // This tool is built with the development keys: a release signed with
    // one of them is the likeliest wrong key.
    const TrustedKeys development = BuiltInTrustedKeys();
    std::string signed_bytes;
    if (VerifySignature(manifest, signature, development)) {
      Line("  why:         it is signed with a development key (tests/keys), which only development builds trust");
    } else if (!source.FindSigned(signature, signed_bytes)) {
      Line("  why:         signed with a key not among these, or the manifest was changed after it was signed "
           "(update/history/ has no record of this signature to tell which)");
    } else if (signed_bytes == manifest) {
      Line("  why:         wrong key: the manifest is the one that was signed (update/history/ records it), "
           "with a key not among these");
    } else {
      Line(std::string("  why:         the manifest was changed after it was signed: update/history/ holds "
                       "the signed bytes, which these keys ") +
           (VerifySignature(signed_bytes, signature, keys) ? "verify" : "do not verify either"));
    }
  }
  return verified;
}

bool WriteWholeFile(const std::wstring& path, const std::string& text) {
  UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  return file && WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
         written == text.size();
}

// Primary and mirror apart: the installer tries the mirror only when the
// primary fails, so a mirror that is down is a warning while the primary
// works, and a mirror serving other bytes is a fault.
bool CheckDownloads(ReleaseSource& source, const Options& options, const Manifest& m) {
  bool skipped = false;
  SourceResult primary = options.setup.empty()
                             ? source.CheckSetup(DownloadAddress(m.url), m.size, m.sha256, skipped)
                             : CheckSetupFile(options.setup, m.size, m.sha256);
  Line(std::string(primary.ok ? "setup:         " : "setup FAILED:  ") + primary.problem);
  if (m.mirror.empty()) return primary.ok;
  // The installer fetches the mirror exactly as named, without the marker.
  const SourceResult mirror = source.CheckSetup(m.mirror, m.size, m.sha256, skipped);
  const bool unreachable = skipped || mirror.problem.starts_with("NetworkError: no connection") ||
                           mirror.problem.starts_with("HttpError");
  if (mirror.ok) {
    Line("mirror setup:  " + mirror.problem);
  } else if (unreachable && primary.ok) {
    Line("mirror WARNING: " + mirror.problem + "; installs use the primary while it works");
  } else {
    Line("mirror FAILED: " + mirror.problem);
  }
  return mirror.ok || (primary.ok && unreachable);
}

// One line a publishing tool reads: how this release's version stands to the
// live one (above, same-bytes, same-version, below, none or unreadable). The
// live manifest's bytes go to `copy` when it is named, for the caller's diff.
void ReportLive(const std::string& where, const std::wstring& copy, const std::string& manifest, const Manifest& m) {
  std::string text;
  bool absent = false;
  const SourceResult read = ReadLiveManifest(where, text, absent);
  if (read.ok && !copy.empty() && !WriteWholeFile(copy, text)) {
    Line("live:          unreadable (cannot write its copy to " + WideToUtf8(copy) + ")");
    return;
  }
  Manifest live;
  std::array<uint32_t, 4> components{};
  if (!read.ok) {
    Line(std::string("live:          ") + (absent ? "none" : "unreadable") + " (" + read.problem + ")");
  } else if (!ParseManifest(text, live) || !ParseVersion(live.version, components)) {
    Line("live:          unreadable (the installer's reader refuses the live manifest)");
  } else if (text == manifest) {
    Line("live:          same-bytes " + Shown(live.version));
  } else {
    const int order = CompareVersions(m.version, live.version);
    Line(std::string("live:          ") + (order > 0 ? "above " : order == 0 ? "same-version " : "below ") +
         Shown(live.version));
  }
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
  bool installable = ReportSignature(*source, manifest, signature, options);

  Manifest m;
  std::string rejected_member;
  if (!ParseManifest(manifest, m, &rejected_member)) {
    if (rejected_member.empty()) {
      Line("reader:        the installer's JSON reader refuses the document (not one flat JSON object)");
      Line("refused field: manifest");
    } else {
      Line("reader:        the installer's JSON reader refuses the document (the value of \"" +
           Shown(rejected_member) + "\")");
      Line("refused field: " + Shown(rejected_member));
    }
    Line("verdict:       NOT INSTALLABLE");
    return 1;
  }
  const ManifestCheck check = ValidateManifest(m, options.windows);
  const std::vector<std::string> refused = RefusedFields(m, check);
  std::string named;
  for (const std::string& field : refused) named += (named.empty() ? ": " : ", ") + field;
  Line(std::string("check:         ") + CheckName(check) + named +
       (options.windows.empty() && !m.min_windows.empty() ? " (min_windows not compared: no --windows)" : ""));
  for (const std::string& field : refused) Line("refused field: " + field);
  PrintFields(m);
  installable = installable && check == ManifestCheck::Ok;

  // The download is only worth trying for a manifest the installer accepts
  // as to its form; digest and size are what it is checked against.
  if (check == ManifestCheck::Ok || check == ManifestCheck::WindowsTooOld) {
    installable = CheckDownloads(*source, options, m) && installable;
  }
  if (!options.live.empty()) ReportLive(options.live, options.live_copy, manifest, m);
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
    std::fprintf(stderr, "verify_release: %s\n%s", error.c_str(), kestrelume::kUsage);
    return 2;
  }
  if (options.help) {
    std::fputs(kestrelume::kUsage, stdout);
    return 0;
  }
  const int code = kestrelume::Run(options);
  std::fflush(stdout);
  return code;
}
