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
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "manifest/attribution.h"
#include "net/http_session.h"
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
};

struct App {
  App() = default;
  App(const App&) = delete;
  App& operator=(const App&) = delete;

  std::string manifest_url;
  std::wstring work_dir;
  Attribution attribution;
  std::atomic<HWND> window{nullptr};
  uint32_t dpi = 96;
  HttpSession http;
  std::thread worker;
  std::mutex progress_lock;
  Progress shared_progress;
  Progress shown_progress;

  // Worker side (workflow/).
  void Work();
  void UpdateProgress(const std::function<void(Progress&)>& change);
  // Main thread, no worker running: back to Checking, for both copies.
  void ResetProgress();
  // Main thread: the whole shared record, under progress_lock.
  Progress CopyProgress();
};

}  // namespace kestrelume
