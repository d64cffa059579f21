#pragma once
// What the report says about the machine it ran on: the Windows version as
// the kernel reports it (RtlGetVersion, not the compatibility-shimmed
// GetVersionEx), whether Wine runs it, the DPI of each monitor and whether
// high contrast is on. Any thread.

#include <string>
#include <vector>

namespace kestrelume::kit {

struct SystemFacts {
  std::string windows_version;  // "10.0.22631"
  std::string wine_version;     // empty on Windows
  std::vector<std::string> monitors;  // "1920 x 1080 at 144 DPI (primary)"
  bool high_contrast = false;
};

SystemFacts ReadSystemFacts();
bool RunningUnderWine();

}  // namespace kestrelume::kit
