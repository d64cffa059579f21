#include "tools/windows_kit/installer_run.h"

#include <algorithm>
#include <mutex>
#include <vector>

#include "base/slim_lock.h"
#include "base/utf.h"

namespace kestrelume::kit {
namespace {

constexpr wchar_t kWindowClass[] = L"KestrelumeInstallerWindow";

// The runs started and not yet destroyed.
SlimLock g_runs_lock;
std::vector<InstallerRun*> g_runs;

std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

struct FindState {
  DWORD process_id;
  HWND found;
};

BOOL CALLBACK FindOwnWindow(HWND window, LPARAM argument) {
  auto* state = reinterpret_cast<FindState*>(argument);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  if (owner == state->process_id && lstrcmpW(name, kWindowClass) == 0 && IsWindowVisible(window)) {
    state->found = window;
    return FALSE;
  }
  return TRUE;
}

}  // namespace

bool InstallerRun::Start(const RunSettings& s) {
  std::wstring command = Quoted(s.exe);
  if (!s.manifest_url.empty()) command += L" --manifest-url " + Quoted(s.manifest_url);
  if (!s.work_dir.empty()) command += L" --work-dir " + Quoted(s.work_dir);
  if (!s.outcome_path.empty()) command += L" --outcome-file " + Quoted(s.outcome_path);
  // The setup program inherits the installer's environment.
  SetEnvironmentVariableW(L"KESTRELUME_FAKE_SETUP_RECORD", s.setup_record.empty() ? nullptr : s.setup_record.c_str());
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  start_tick_ = GetTickCount64();
  const BOOL started = CreateProcessW(s.exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                      s.current_dir.empty() ? nullptr : s.current_dir.c_str(), &startup, &process);
  SetEnvironmentVariableW(L"KESTRELUME_FAKE_SETUP_RECORD", nullptr);
  if (!started) return false;
  CloseHandle(process.hThread);
  process_.reset(process.hProcess);
  process_id_ = process.dwProcessId;
  std::lock_guard<SlimLock> hold(g_runs_lock);
  g_runs.push_back(this);
  return true;
}

InstallerRun::~InstallerRun() {
  Kill();
  std::lock_guard<SlimLock> hold(g_runs_lock);
  g_runs.erase(std::remove(g_runs.begin(), g_runs.end(), this), g_runs.end());
}

int EndRunningInstallers() {
  std::lock_guard<SlimLock> hold(g_runs_lock);
  int ended = 0;
  for (InstallerRun* run : g_runs) ended += run->Kill(98);
  return ended;
}

HWND InstallerRun::WaitForWindow(DWORD milliseconds) {
  const ULONGLONG end = GetTickCount64() + milliseconds;
  while (!window_) {
    FindState state{process_id_, nullptr};
    EnumWindows(FindOwnWindow, reinterpret_cast<LPARAM>(&state));
    window_ = state.found;
    if (window_ || !Running() || GetTickCount64() >= end) break;
    Sleep(5);
  }
  return window_;
}

bool InstallerRun::WaitForExit(DWORD milliseconds, DWORD* code) {
  if (!process_) return true;
  if (WaitForSingleObject(process_.get(), milliseconds) != WAIT_OBJECT_0) return false;
  if (code) GetExitCodeProcess(process_.get(), code);
  return true;
}

bool InstallerRun::Running() const {
  return process_ && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT;
}

bool InstallerRun::Kill(UINT exit_code) {
  if (!Running() || !TerminateProcess(process_.get(), exit_code)) return false;
  WaitForSingleObject(process_.get(), 5000);
  return true;
}

std::wstring WindowCaption(HWND window) {
  wchar_t text[256] = {};
  GetWindowTextW(window, text, 256);
  return text;
}

std::vector<std::wstring> ReadSetupRecord(const std::wstring& path) {
  std::vector<std::wstring> lines;
  UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return lines;
  std::string bytes(65536, '\0');
  DWORD read = 0;
  ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
  bytes.resize(read);
  size_t at = 0;
  while (at < bytes.size()) {
    size_t end = bytes.find('\n', at);
    if (end == std::string::npos) end = bytes.size();
    lines.push_back(Utf8ToWide(bytes.substr(at, end - at)));
    at = end + 1;
  }
  return lines;
}

}  // namespace kestrelume::kit
