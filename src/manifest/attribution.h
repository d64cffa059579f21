#pragma once
// Attribution tags carried in the installer's own file name, and the names
// and addresses built from them. Value in, value out.

#include <cstddef>
#include <string>
#include <string_view>

namespace kestrelume {

inline constexpr size_t kSrcTagLimit = 40;
inline constexpr size_t kTTagLimit = 64;
inline constexpr std::wstring_view kSetupFilePrefix = L"KestrelumeSetup-";

struct Attribution {
  std::string src;
  std::string t;
};

bool IsValidTag(std::string_view tag, size_t limit);
// file_name: the part of the program's path after the last "\" or "/".
Attribution ParseAttribution(std::wstring_view file_name);
std::wstring LocalFileName(std::string_view version, const Attribution& attribution);
std::wstring OfflineInstallerAddress(const Attribution& attribution);

}  // namespace kestrelume
