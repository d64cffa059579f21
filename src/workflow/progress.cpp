#include "app/app.h"

namespace kestrelume {

void App::UpdateProgress(FunctionRef<void(Progress&)> change) {
  {
    std::lock_guard lock(progress_lock);
    change(shared_progress);
  }
  // Posted outside the lock: the window takes the same lock to copy the
  // record, and the worker must never wait for the window.
  if (HWND target = window.load()) PostMessageW(target, WM_APP_PROGRESS, 0, 0);
}

void App::ResetProgress() {
  {
    std::lock_guard lock(progress_lock);
    shared_progress = Progress{};
    verified_setup.reset();
  }
  shown_progress = Progress{};
}

Progress App::CopyProgress() {
  std::lock_guard lock(progress_lock);
  return shared_progress;
}

}  // namespace kestrelume
