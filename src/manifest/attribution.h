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
// The build-time product website host (offline installer, help page).
inline constexpr std::wstring_view kWebsiteHost = L"" KESTRELUME_WEBSITE_HOST;

struct Attribution {
  std::string src;
  std::string t;
};

bool IsValidTag(std::string_view tag, size_t limit);
// file_name: the part of the program's path after the last "\" or "/".
Attribution ParseAttribution(std::wstring_view file_name);
// version must already have passed ParseVersion: it becomes part of a path.
std::wstring LocalFileName(std::string_view version, const Attribution& attribution);
std::wstring OfflineInstallerAddress(const Attribution& attribution);

}  // namespace kestrelume
