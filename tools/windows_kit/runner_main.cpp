// KestrelumeAcceptance.exe: the runner of the Windows acceptance kit.
//
// It lives under tools/ rather than src/ because it is a test tool, never
// shipped: it drives the real installer from outside, as a user, a screen
// reader and a hostile network would, on a Windows machine that has no
// Python, compiler or administrator rights. It borrows the project's base
// vocabulary (handle owners, slim lock, UTF conversion) and nothing else.
//
//   KestrelumeAcceptance.exe [--report-dir DIR] [--only NAME] [--no-open] [--keep]
//                            [--scenario-limit SECONDS]
//
// Serves the kit's signed releases on 127.0.0.1 itself, runs every scenario
// (scenarios.h), writes acceptance-report.txt and acceptance-report.html with
// the pictures beside them (into the kit folder, or %TEMP% when that cannot
// be written), and opens the HTML report when it was started by double-click.
// Exit code 0 only when no check failed; 2 when the kit itself is broken.

#include <winsock2.h>
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <cstdio>
#include <string>

#include "base/unique_handle.h"
#include "base/utf.h"
#include "tools/windows_kit/report.h"
#include "tools/windows_kit/scenario_watch.h"
#include "tools/windows_kit/scenarios.h"
#include "tools/windows_kit/system_facts.h"

namespace kestrelume::kit {
namespace {

void Say(const std::string& line) {
  std::fputs((line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

std::wstring FolderOf(const std::wstring& path) {
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? L"." : path.substr(0, slash);
}

std::wstring OwnFolder() {
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  return FolderOf(std::wstring(path, length));
}

std::wstring TempFolder(const std::wstring& name) {
  wchar_t temp[MAX_PATH];
  const DWORD length = GetTempPathW(MAX_PATH, temp);
  std::wstring folder = std::wstring(temp, length) + name;
  CreateDirectoryW(folder.c_str(), nullptr);
  return folder;
}

bool Writable(const std::wstring& folder) {
  const std::wstring probe = folder + L"\\.kestrelume-kit-probe";
  UniqueFile file(CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
  return static_cast<bool>(file);
}

void RemoveTree(const std::wstring& folder) {
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring path = folder + L"\\" + name;
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(path);
      } else {
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(path.c_str());
      }
    } while (FindNextFileW(find, &found));
    FindClose(find);
  }
  RemoveDirectoryW(folder.c_str());
}

uint16_t ReadPort(const std::wstring& kit_folder) {
  UniqueFile file(CreateFileW((kit_folder + L"\\releases\\port.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  char text[16] = {};
  DWORD read = 0;
  if (!file || !ReadFile(file.get(), text, sizeof(text) - 1, &read, nullptr)) return 0;
  const long port = std::strtol(text, nullptr, 10);
  return port > 0 && port < 65536 ? static_cast<uint16_t>(port) : 0;
}

// A console of our own means Explorer started us: nobody reads the console.
bool StartedByDoubleClick() {
  DWORD processes[2];
  return GetConsoleProcessList(processes, 2) == 1;
}

std::string LocalTime() {
  SYSTEMTIME t;
  GetLocalTime(&t);
  char text[32];
  snprintf(text, sizeof(text), "%04u-%02u-%02u %02u:%02u", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute);
  return text;
}

int Run(int argc, wchar_t** argv) {
  std::wstring report_dir, only;
  bool open = true, keep = false;
  DWORD limit_ms = ScenarioWatch::kDefaultLimitMs;
  for (int i = 1; i < argc; ++i) {
    const std::wstring arg = argv[i];
    if (arg == L"--report-dir" && i + 1 < argc) report_dir = argv[++i];
    else if (arg == L"--scenario-limit" && i + 1 < argc && _wtof(argv[i + 1]) > 0) limit_ms = static_cast<DWORD>(_wtof(argv[++i]) * 1000);
    else if (arg == L"--only" && i + 1 < argc) only = argv[++i];
    else if (arg == L"--no-open") open = false;
    else if (arg == L"--keep") keep = true;
  }
  Kit kit;
  kit.folder = OwnFolder();
  kit.wine = RunningUnderWine();
  kit.port = ReadPort(kit.folder);
  if (report_dir.empty()) report_dir = Writable(kit.folder) ? kit.folder : TempFolder(L"KestrelumeAcceptance");
  kit.report_dir = report_dir;
  CreateDirectoryW(report_dir.c_str(), nullptr);
  CreateDirectoryW((report_dir + L"\\pictures").c_str(), nullptr);
  kit.runs = TempFolder(L"KestrelumeAcceptance-runs-" + std::to_wstring(GetCurrentProcessId()));

  Report report;
  report.facts = ReadSystemFacts();
  report.started = LocalTime();
  Say("Kestrelume installer acceptance kit");
  Say(kit.wine ? "Running under Wine " + report.facts.wine_version : "Running on Windows " + report.facts.windows_version);

  std::string error;
  if (kit.port == 0 || GetFileAttributesW(kit.installer().c_str()) == INVALID_FILE_ATTRIBUTES) {
    Say("This folder is not a complete kit: KestrelumeInstaller.exe or releases\\port.txt is missing.");
    return 2;
  }
  if (!kit.server.Start(kit.folder + L"\\releases", kit.port, error)) {
    Say("The kit's server could not start: " + error);
    return 2;
  }
  ScenarioWatch watch(Say, limit_ms);
  for (const Scenario& scenario : AllScenarios()) {
    if (!only.empty() && Utf8ToWide(scenario.name) != only) continue;
    ScenarioResult result;
    result.name = scenario.name;
    result.purpose = scenario.purpose;
    kit.server.Reset();
    const ULONGLONG start = GetTickCount64();
    watch.Enter(scenario.name);
    scenario.run(kit, result);
    watch.Leave();
    result.seconds = static_cast<double>(GetTickCount64() - start) / 1000.0;
    const Verdict overall = Overall(result);
    Say(std::string(overall == Verdict::NotJudgedUnderWine ? "passed, parts not judged under Wine" : VerdictText(overall)) +
        ": " + scenario.name);
    for (const Check& c : result.checks) {
      if (c.verdict == Verdict::Failed) Say("    failed: " + c.what + (c.detail.empty() ? "" : " (" + c.detail + ")"));
    }
    report.scenarios.push_back(result);
  }
  watch.Enter("stopping the kit's server");
  kit.server.Stop();
  watch.Leave();
  report.first_frame = kit.first_frame_ms ? std::to_string(kit.first_frame_ms) +
                                                " ms from process start (the whole install's run)"
                                          : "not seen (the whole install did not run)";
  if (!keep) RemoveTree(kit.runs);

  const bool written = WriteReports(report, report_dir);
  const std::wstring html = report_dir + L"\\acceptance-report.html";
  Say(written ? "Report: " + WideToUtf8(html) : "The report could not be written to " + WideToUtf8(report_dir));
  bool failed = !written || report.scenarios.empty();
  for (const ScenarioResult& s : report.scenarios) failed = failed || Overall(s) == Verdict::Failed;
  Say(failed ? "Result: something FAILED (exit code 1)" : "Result: no check failed (exit code 0)");
  if (written && open && StartedByDoubleClick()) {
    ShellExecuteW(nullptr, L"open", html.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
  }
  return failed ? 1 : 0;
}

}  // namespace
}  // namespace kestrelume::kit

int wmain(int argc, wchar_t** argv) {
  // Per-monitor aware, so that monitor DPIs and window pictures are real pixels.
  using SetContext = BOOL(WINAPI*)(HANDLE);
  if (const auto set_context = reinterpret_cast<SetContext>(reinterpret_cast<void*>(
          GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetProcessDpiAwarenessContext")))) {
    set_context(reinterpret_cast<HANDLE>(-4));
  }
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  const int code = kestrelume::kit::Run(argc, argv);
  CoUninitialize();
  return code;
}
