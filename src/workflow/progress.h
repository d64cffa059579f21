#pragma once
// The one record the worker and the window share. The worker changes it only
// through App::UpdateProgress; the window copies it under the same lock.

#include <cstdint>
#include <string>

namespace kestrelume {

enum class Phase : uint32_t {
  Checking = 0,
  Downloading = 1,
  Opening = 2,
  Failed = 3,
};

enum class Failure : uint32_t {
  None = 0,
  Offline = 1,
  Verify = 2,
  Disk = 3,
  WindowsTooOld = 4,
  Retired = 5,
  Blocked = 6,  // set by the window only, never by the worker
};

struct Progress {
  Phase phase = Phase::Checking;
  Failure failure = Failure::None;
  std::string version;     // UTF-8, empty until the manifest is accepted
  uint64_t bytes_total = 0;
  uint64_t bytes_done = 0;
  std::wstring setup_path;  // empty until hand-over
};

// WM_APP + 1, both parameters 0: "Progress changed".
inline constexpr unsigned int WM_APP_PROGRESS = 0x8000 + 1;

}  // namespace kestrelume
