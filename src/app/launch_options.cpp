#include "app/launch_options.h"

#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <utility>

#include "manifest/address.h"
#include "base/utf.h"

namespace kestrelume {
namespace {

constexpr std::wstring_view kManifestUrlOption = L"--manifest-url";
constexpr std::wstring_view kWorkDirOption = L"--work-dir";
#if KESTRELUME_DEV_BUILD
// Automation of development builds only; release builds do not know them.
constexpr std::wstring_view kSnapshotDirOption = L"--snapshot-dir";
constexpr std::wstring_view kOutcomeFileOption = L"--outcome-file";
// Wine cannot switch its high-contrast setting on; the colours still come
// from the system.
constexpr std::wstring_view kHighContrastOption = L"--high-contrast";
// "drawing:2": that start-up step fails on its first two attempts.
constexpr std::wstring_view kFailStartupStepOption = L"--fail-startup-step";

StartupFault ParseStartupFault(std::wstring_view value) {
  StartupFault fault;
  const size_t colon = value.find(L':');
  const std::wstring_view name = value.substr(0, colon);
  fault.step = name == L"drawing" ? StartupStep::Drawing
               : name == L"text"  ? StartupStep::Text
               : name == L"window" ? StartupStep::Window
                                   : StartupStep::None;
  if (colon == std::wstring_view::npos) return fault;
  for (const wchar_t digit : value.substr(colon + 1)) {
    if (digit < L'0' || digit > L'9' || fault.count > 1000) return {};
    fault.count = fault.count * 10 + static_cast<uint32_t>(digit - L'0');
  }
  return fault;
}
#endif
constexpr DWORD kModulePathUnits = 520;

}  // namespace

LaunchOptions DefaultLaunchOptions() {
  LaunchOptions options;
  options.manifest_url = "https://" + std::string(kDownloadHost) + "/update/stable.json";
  return options;
}

LaunchOptions ApplyCommandLine(LaunchOptions options, const std::vector<std::wstring_view>& args) {
  size_t index = 1;
  while (index + 1 < args.size()) {
    const std::wstring_view option = args[index];
    const std::wstring_view value = args[index + 1];
    if (option == kManifestUrlOption) {
      std::string address = WideToUtf8(value);
      // A refused address is dropped silently; the earlier one stays.
      if (IsAllowedAddress(address)) options.manifest_url = std::move(address);
      index += 2;
    } else if (option == kWorkDirOption) {
      options.work_dir = std::wstring(value);
      index += 2;
#if KESTRELUME_DEV_BUILD
    } else if (option == kSnapshotDirOption) {
      options.snapshot_dir = std::wstring(value);
      index += 2;
    } else if (option == kOutcomeFileOption) {
      options.outcome_path = std::wstring(value);
      index += 2;
    } else if (option == kHighContrastOption) {
      options.high_contrast = value == L"on";
      index += 2;
    } else if (option == kFailStartupStepOption) {
      options.startup_fault = ParseStartupFault(value);
      index += 2;
#endif
    } else {
      ++index;
    }
  }
  return options;
}

std::wstring_view FileNameOfPath(std::wstring_view path) {
  const size_t last = path.find_last_of(L"\\/");
  return last == std::wstring_view::npos ? path : path.substr(last + 1);
}

std::wstring ModulePath() {
  wchar_t buffer[kModulePathUnits] = {};
  const DWORD length = GetModuleFileNameW(nullptr, buffer, kModulePathUnits);
  // A truncated path would lose its file name, which holds the tags.
  if (length == 0 || length >= kModulePathUnits) return {};
  return std::wstring(buffer, length);
}

std::wstring DefaultWorkDir() {
  PWSTR known = nullptr;
  std::wstring folder;
  if (SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &known) == S_OK && known) {
    folder = known;
  }
  CoTaskMemFree(known);
  if (folder.empty()) return {};
  return folder + L"\\Kestrelume\\updates\\bootstrap";
}

std::wstring WorkDirOrDefault(std::wstring work_dir) {
  return work_dir.empty() ? DefaultWorkDir() : std::move(work_dir);
}

}  // namespace kestrelume
