#pragma once
// The one application object. The main routine builds it in its own frame and
// it lives until the main routine returns; it is never copied or moved. The
// window keeps its address and the worker thread receives it.
//
// Threads: manifest_url, work_dir and attribution are fixed before the window
// or any worker exists and are read by the worker without a lock.
// shared_progress is touched only under progress_lock; shown_progress and
// everything below it belong to the main thread.

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "app/startup_step.h"
#include "manifest/attribution.h"
#include "net/http_session.h"
#include "base/function_ref.h"
#include "base/slim_lock.h"
#include "base/thread.h"
#include "base/unique_handle.h"
#include "ui/renderer.h"
#include "workflow/progress.h"

namespace kestrelume {

// What a clickable element does; hover and pressed are values of it.
enum class ButtonAction : uint32_t {
  None = 0,
  Cancel = 1,
  TryAgain = 2,
  OfflineInstaller = 3,
  Store = 4,
  Website = 5,
  Close = 6,
};

struct RectF {
  float left = 0;
  float top = 0;
  float right = 0;
  float bottom = 0;
};

struct LaunchOptions {
  std::string manifest_url;  // UTF-8
  std::wstring work_dir;
  // Set by nothing yet; kept empty (picture output and outcome file).
  std::wstring snapshot_dir;
  std::wstring outcome_path;
  bool high_contrast = false;  // act as if the system's high contrast were on
  StartupFault startup_fault;
};

struct App {
  App() = default;
  App(const App&) = delete;
  App& operator=(const App&) = delete;

  std::string manifest_url;
  std::wstring work_dir;
  std::wstring snapshot_dir;
  std::wstring outcome_path;
  StartupFault startup_fault;  // development builds' test hook
  Attribution attribution;
  std::atomic<HWND> window{nullptr};
  uint32_t dpi = 96;
  HttpSession http;
  Thread worker;
  SlimLock progress_lock;
  Progress shared_progress;
  // The verified setup program, held open against writers and deleters from
  // its check until CreateProcessW has returned (workflow/cache.h). Set by
  // the worker with the Opening phase, taken by LaunchSetup; under
  // progress_lock.
  UniqueFile verified_setup;
  Progress shown_progress;
  float fraction = 0;
  uint64_t spin_start_tick = 0;  // GetTickCount64 milliseconds
  uint64_t phase_tick = 0;
  bool animations_enabled = true;
  // Drawing resources, and the screen operations that read the window state
  // (ui/; main thread).
  Renderer renderer;
  void Layout();
  ButtonAction HitTest(float x, float y) const;
  void AnimationTick();
  RectF close_rect;
  RectF primary_rect;
  RectF secondary_rect;
  ButtonAction primary_action = ButtonAction::None;
  ButtonAction secondary_action = ButtonAction::None;
  ButtonAction hover = ButtonAction::None;
  ButtonAction pressed = ButtonAction::None;
  bool mouse_tracked = false;
  // Keyboard focus: an index into the screen's accessible elements
  // (accessibility/accessible_elements.h); -1 until the first Tab, and again
  // after a new screen that no longer offers the focused action.
  int focus = -1;
  // The state the window shares with UI Automation and MSAA clients
  // (accessibility/accessibility.h), made with the window.
  Microsoft::WRL::ComPtr<IUnknown> accessibility;

  // Window side (app/; main thread). StartRun cancels and joins the previous
  // run before it starts the next, so there is never more than one worker.
  void StartRun();
  void OnAction(ButtonAction action);
  void LaunchSetup();

  // Worker side (workflow/).
  void Work();
  void UpdateProgress(FunctionRef<void(Progress&)> change);
  // Main thread, no worker running: back to Checking, for both copies.
  void ResetProgress();
  // Main thread: the whole shared record, under progress_lock.
  Progress CopyProgress();
};

}  // namespace kestrelume
