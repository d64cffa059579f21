#pragma once
// One run of the real installer, started by the runner as a user would start
// it (no elevation, no console), with the development options the kit needs.
// Main thread of the runner. Destroying a run that is still going ends it,
// so no installer outlives its scenario; EndRunningInstallers, from any
// thread, ends those still going before their runs are destroyed.

#include <windows.h>

#include <string>
#include <vector>

#include "base/unique_handle.h"

namespace kestrelume::kit {

struct RunSettings {
  std::wstring exe;           // the installer to start
  std::wstring manifest_url;  // "--manifest-url"; empty: none
  std::wstring work_dir;      // "--work-dir"; empty: none
  std::wstring outcome_path;  // "--outcome-file"; empty: none (the window stays)
  std::wstring setup_record;  // where the stand-in setup program records each start
  std::wstring current_dir;   // the installer's own current folder
};

class InstallerRun {
 public:
  InstallerRun() = default;
  InstallerRun(const InstallerRun&) = delete;
  InstallerRun& operator=(const InstallerRun&) = delete;
  ~InstallerRun();

  bool Start(const RunSettings& settings);
  // The installer's window once it is visible, or null after `milliseconds`
  // or when the process has ended.
  HWND WaitForWindow(DWORD milliseconds);
  HWND window() const { return window_; }
  // Waits for the process to end; false on timeout. `code` gets its exit code.
  bool WaitForExit(DWORD milliseconds, DWORD* code = nullptr);
  bool Running() const;
  // Ends the process if it is still running, with `exit_code`; false when
  // there was nothing to end. Any thread.
  bool Kill(UINT exit_code = 99);
  ULONGLONG start_tick() const { return start_tick_; }

 private:
  UniqueKernelHandle process_;
  DWORD process_id_ = 0;
  HWND window_ = nullptr;
  ULONGLONG start_tick_ = 0;
};

// Ends every installer that a run started and that is still going; the
// number ended.
int EndRunningInstallers();

// The caption of `window` (empty when it has none or is gone).
std::wstring WindowCaption(HWND window);

// The lines the stand-in setup program recorded: per start, its command line
// and its current folder. Empty when it never ran.
std::vector<std::wstring> ReadSetupRecord(const std::wstring& path);

}  // namespace kestrelume::kit
