#include <windows.h>
#include <shellapi.h>

#include <mutex>
#include <string>
#include <utility>

#include "app/outcome.h"
#include "app/window.h"
#include "manifest/attribution.h"
#include "ui/failure_screen.h"

namespace kestrelume {
namespace {

constexpr wchar_t kStoreAddress[] = L"ms-windows-store://pdp/?productid=9XK41TQ7MBW3";

std::wstring WebsiteAddress() {
  return std::wstring(L"https://").append(kWebsiteHost).append(L"/installation");
}

// The browser or the Store may not open; the window closes all the same.
void OpenAndClose(HWND window, const std::wstring& address) {
  ShellExecuteW(window, L"open", address.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
  DestroyWindow(window);
}

}  // namespace

void App::OnAction(ButtonAction action) {
  HWND handle = window.load();
  switch (action) {
    case ButtonAction::Cancel:
    case ButtonAction::Close:
      DestroyWindow(handle);  // WM_DESTROY cancels a run that is still going
      break;
    case ButtonAction::TryAgain:
      StartRun();
      Layout();
      InvalidateRect(handle, nullptr, FALSE);
      break;
    case ButtonAction::OfflineInstaller:
      OpenAndClose(handle, OfflineInstallerAddress(attribution));
      break;
    case ButtonAction::Store:
      OpenAndClose(handle, kStoreAddress);
      break;
    case ButtonAction::Website:
      OpenAndClose(handle, WebsiteAddress());
      break;
    default:
      break;
  }
}

void App::LaunchSetup() {
  const std::wstring path = shown_progress.setup_path;
  const size_t slash = path.rfind(L'\\');
  const std::wstring folder = slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
  // Quoted, so folders with spaces survive; no arguments.
  std::wstring command_line = L"\"" + path + L"\"";

  // Held from the worker's check until CreateProcessW has returned: the
  // program started is the program checked. Released right after.
  UniqueFile verified;
  {
    std::lock_guard lock(progress_lock);
    verified = std::move(verified_setup);
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  // Never elevates: a setup program that demands elevation is refused here
  // and ends on the blocked screen like any other refusal.
  const BOOL started =
      CreateProcessW(path.c_str(), command_line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                     folder.empty() ? nullptr : folder.c_str(), &startup, &process);
  verified.reset();
  HWND handle = window.load();
  if (started) {
    AllowSetForegroundWindow(process.dwProcessId);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    SetTimer(handle, CLOSE_TIMER, kCloseAfterLaunchMs, nullptr);
    ReportOutcome(*this, L"launched");
    return;
  }
  // Only the window's copy changes; the worker's record stays at Opening.
  shown_progress.phase = Phase::Failed;
  shown_progress.failure = Failure::Blocked;
  Layout();
  // The caption names this screen too (taskbar, Alt+Tab, screen readers).
  SetWindowTextW(handle, FailureScreenFor(Failure::Blocked).title.c_str());
  InvalidateRect(handle, nullptr, FALSE);
  ReportOutcome(*this, OutcomeToken(Failure::Blocked));
}

}  // namespace kestrelume
