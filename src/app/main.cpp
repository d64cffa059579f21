// The main routine: process set-up, launch options, the claim on the work
// folder, App, then the window, then the shut-down in a fixed order (window
// handle, cancel, bounded join, close).
//
// Closing ends the process promptly: the worker's transfer returns at once on
// cancel (net/http_session.h), and should the worker still be busy after
// kExitWaitMs (a file operation that hangs, say) the process ends anyway with
// exit code 0. What the worker then leaves behind cannot harm the next start:
// the ".part" file's handle goes with the process and the next run's tidying
// removes the file.

#include <windows.h>
#include <shellapi.h>

#include <string_view>
#include <utility>
#include <vector>

#include "app/app.h"
#include "app/dpi.h"
#include "app/launch_options.h"
#include "app/single_instance.h"
#include "app/window.h"
#include "manifest/attribution.h"
#include "system/system_functions.h"
#include "ui/snapshots.h"

namespace kestrelume {
namespace {

LaunchOptions ReadLaunchOptions() {
  LaunchOptions options = DefaultLaunchOptions();
  int count = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!argv) return options;  // the defaults stay
  std::vector<std::wstring_view> args(argv, argv + count);
  options = ApplyCommandLine(std::move(options), args);
  LocalFree(argv);
  return options;
}

constexpr DWORD kExitWaitMs = 500;

int Run(HINSTANCE instance) {
  LaunchOptions options = ReadLaunchOptions();

  App app;
  app.manifest_url = std::move(options.manifest_url);
  app.work_dir = std::move(options.work_dir);
  app.snapshot_dir = std::move(options.snapshot_dir);
  app.outcome_path = std::move(options.outcome_path);
  app.renderer.force_high_contrast = options.high_contrast;
  app.startup_fault = options.startup_fault;
  app.http.Open();  // a session that cannot open shows later as Offline
  app.attribution = ParseAttribution(FileNameOfPath(ModulePath()));
  app.work_dir = WorkDirOrDefault(std::move(app.work_dir));

  // Pictures of every screen instead of the window, for automated checks of
  // development builds; release builds leave the picture code out.
  const bool snapshots = KESTRELUME_DEV_BUILD && !app.snapshot_dir.empty();
  // Pictures touch no folder; a window run needs the folder to itself.
  WorkFolderClaim claim;
  if (!snapshots && !claim.Claim(app.work_dir)) return 0;
  const int exit_code = snapshots ? RenderSnapshots(app, app.snapshot_dir) : RunWindow(app, instance);
  if (exit_code == 0) {
    // Order matters: no posts to a dead window, and the join must not wait
    // on a blocked transfer.
    app.window.store(nullptr);
    app.http.Cancel();
    if (!app.worker.JoinWithin(kExitWaitMs)) TerminateProcess(GetCurrentProcess(), 0);
  }

  app.http.Cancel();
  app.worker.Join();
  app.http.Close();
  return exit_code;
}

}  // namespace
}  // namespace kestrelume

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  kestrelume::EnablePerMonitorDpi(kestrelume::System().SetProcessDpiAwarenessContext);
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
  const int exit_code = kestrelume::Run(instance);
  CoUninitialize();
  return exit_code;
}
