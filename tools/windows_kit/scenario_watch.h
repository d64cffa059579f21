#pragma once
// A watch over the runner's main thread. Each wait of a scenario has its own
// limit, but a call into the installer's process (a window message, an
// accessibility call) lasts as long as that process takes to answer. A step
// (a scenario, or stopping the kit's server) that runs past its limit has the
// running installers ended, which ends such a call and leaves the scenario's
// later checks to fail with what they saw; a runner still in that step
// kGraceMs later is stuck itself: it says where, puts the user's proxy
// settings back and ends with exit code 2. A tester is never left before a
// console that waits for ever.

#include <windows.h>

#include <string>

#include "base/slim_lock.h"
#include "base/unique_handle.h"

namespace kestrelume::kit {

class ScenarioWatch {
 public:
  static constexpr DWORD kDefaultLimitMs = 120000;
  static constexpr DWORD kGraceMs = 30000;

  // `say` prints a line for the tester; it is called on the watch's thread.
  ScenarioWatch(void (*say)(const std::string&), DWORD limit_ms);
  ~ScenarioWatch();
  ScenarioWatch(const ScenarioWatch&) = delete;
  ScenarioWatch& operator=(const ScenarioWatch&) = delete;

  // `step` as the tester knows it: a scenario's name, or what the kit does.
  void Enter(const std::string& step);
  void Leave();

 private:
  static DWORD WINAPI Watch(void* self);
  void Check();

  void (*say_)(const std::string&);
  const DWORD limit_ms_;
  SlimLock lock_;
  std::string step_;
  ULONGLONG entered_ = 0;
  bool installers_ended_ = false;
  UniqueKernelHandle stop_;
  UniqueKernelHandle thread_;
};

}  // namespace kestrelume::kit
