#pragma once
// The running Windows version as "major.minor.build", read from ntdll's
// RtlGetVersion, which (unlike GetVersionEx) is not shimmed by the
// application manifest. Empty when it cannot be read. Any thread.

#include <string>

namespace kestrelume {

std::string WindowsVersionText();

}  // namespace kestrelume
