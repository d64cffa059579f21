#include "workflow/windows_version.h"

#include <windows.h>

#include <string>

namespace kestrelume {

std::string WindowsVersionText() {
  // ntdll is mapped into every process, so no module is loaded here.
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  if (!ntdll) return {};
  using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
  auto rtl_get_version =
      reinterpret_cast<RtlGetVersionFn>(reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")));
  if (!rtl_get_version) return {};
  static_assert(sizeof(OSVERSIONINFOW) == 276);
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof(info);
  if (rtl_get_version(&info) != 0) return {};
  return std::to_string(info.dwMajorVersion) + "." + std::to_string(info.dwMinorVersion) + "." +
         std::to_string(info.dwBuildNumber);
}

}  // namespace kestrelume
