#include "tools/windows_kit/system_facts.h"

#include <windows.h>

namespace kestrelume::kit {
namespace {

using GetDpiForMonitorFunction = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);

BOOL CALLBACK AddMonitor(HMONITOR monitor, HDC, RECT*, LPARAM argument) {
  auto* lines = reinterpret_cast<std::vector<std::string>*>(argument);
  MONITORINFO info{};
  info.cbSize = sizeof(info);
  GetMonitorInfoW(monitor, &info);
  UINT dpi_x = 0, dpi_y = 0;
  // Windows 8.1 and later; Windows 7 has one system DPI for all monitors.
  static const auto get_dpi = reinterpret_cast<GetDpiForMonitorFunction>(reinterpret_cast<void*>(
      GetProcAddress(LoadLibraryExW(L"shcore.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32), "GetDpiForMonitor")));
  if (!get_dpi || FAILED(get_dpi(monitor, 0, &dpi_x, &dpi_y))) {
    HDC screen = GetDC(nullptr);
    dpi_x = static_cast<UINT>(GetDeviceCaps(screen, LOGPIXELSX));
    ReleaseDC(nullptr, screen);
  }
  lines->push_back(std::to_string(info.rcMonitor.right - info.rcMonitor.left) + " x " +
                   std::to_string(info.rcMonitor.bottom - info.rcMonitor.top) + " at " + std::to_string(dpi_x) +
                   " DPI (" + std::to_string(dpi_x * 100 / 96) + " %)" +
                   ((info.dwFlags & MONITORINFOF_PRIMARY) ? ", primary" : ""));
  return TRUE;
}

}  // namespace

bool RunningUnderWine() {
  return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

SystemFacts ReadSystemFacts() {
  SystemFacts facts;
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  using RtlGetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOW*);
  const auto rtl_get_version =
      reinterpret_cast<RtlGetVersionFunction>(reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")));
  OSVERSIONINFOW version{};
  version.dwOSVersionInfoSize = sizeof(version);
  if (rtl_get_version && rtl_get_version(&version) == 0) {
    facts.windows_version = std::to_string(version.dwMajorVersion) + "." + std::to_string(version.dwMinorVersion) +
                            "." + std::to_string(version.dwBuildNumber);
  }
  using WineVersionFunction = const char*(__cdecl*)();
  if (const auto wine_version = reinterpret_cast<WineVersionFunction>(
          reinterpret_cast<void*>(GetProcAddress(ntdll, "wine_get_version")))) {
    facts.wine_version = wine_version();
  }
  EnumDisplayMonitors(nullptr, nullptr, AddMonitor, reinterpret_cast<LPARAM>(&facts.monitors));
  HIGHCONTRASTW contrast{};
  contrast.cbSize = sizeof(contrast);
  facts.high_contrast =
      SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof(contrast), &contrast, 0) && (contrast.dwFlags & HCF_HIGHCONTRASTON);
  return facts;
}

}  // namespace kestrelume::kit
