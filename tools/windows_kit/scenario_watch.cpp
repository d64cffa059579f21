#include "tools/windows_kit/scenario_watch.h"

#include <algorithm>
#include <mutex>

#include "tools/windows_kit/installer_run.h"
#include "tools/windows_kit/user_proxy.h"

namespace kestrelume::kit {

ScenarioWatch::ScenarioWatch(void (*say)(const std::string&), DWORD limit_ms) : say_(say), limit_ms_(limit_ms) {
  stop_.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (stop_) thread_.reset(CreateThread(nullptr, 0, Watch, this, 0, nullptr));
}

ScenarioWatch::~ScenarioWatch() {
  if (!thread_) return;
  SetEvent(stop_.get());
  WaitForSingleObject(thread_.get(), INFINITE);
}

void ScenarioWatch::Enter(const std::string& step) {
  std::lock_guard<SlimLock> hold(lock_);
  step_ = step;
  entered_ = GetTickCount64();
  installers_ended_ = false;
}

void ScenarioWatch::Leave() {
  std::lock_guard<SlimLock> hold(lock_);
  step_.clear();
}

DWORD WINAPI ScenarioWatch::Watch(void* self) {
  auto* watch = static_cast<ScenarioWatch*>(self);
  const DWORD period = std::clamp<DWORD>(watch->limit_ms_ / 4, 50, 1000);
  while (WaitForSingleObject(watch->stop_.get(), period) == WAIT_TIMEOUT) watch->Check();
  return 0;
}

void ScenarioWatch::Check() {
  std::string step;
  ULONGLONG running = 0;
  bool first_time = false;
  {
    std::lock_guard<SlimLock> hold(lock_);
    if (step_.empty()) return;
    running = GetTickCount64() - entered_;
    if (running < limit_ms_) return;
    first_time = !installers_ended_;
    installers_ended_ = true;
    step = step_;
  }
  const std::string seconds = std::to_string(running / 1000) + "." + std::to_string(running / 100 % 10) + " s";
  if (first_time) {
    const int ended = EndRunningInstallers();
    say_("    \"" + step + "\" is still running after " + seconds + ": " +
         (ended ? "ended " + std::to_string(ended) + " installer(s) that had not finished"
                : "no installer is running"));
    return;
  }
  if (running < limit_ms_ + kGraceMs) return;
  say_("The kit is stuck in \"" + step + "\" (" + seconds + "); it ends here without a report (exit code 2).");
  RestoreChangedUserProxy();
  TerminateProcess(GetCurrentProcess(), 2);
}

}  // namespace kestrelume::kit
