#pragma once
// DPI set-up that also works where Windows lacks the newer calls. The
// functions come from the system table and are null where Windows is too
// old for them.

#include <windows.h>

#include <cstdint>

namespace kestrelume {

using SetProcessDpiAwarenessContextFunction = BOOL(WINAPI*)(DPI_AWARENESS_CONTEXT);
using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);

// Per-monitor (v2) awareness where Windows 10 1703 or later has the call;
// elsewhere the application manifest's dpiAware settings apply alone.
void EnablePerMonitorDpi(SetProcessDpiAwarenessContextFunction set_awareness);

// The window's DPI, or the screen's (GetDeviceCaps LOGPIXELSX) where
// GetDpiForWindow is missing or answers 0; 96 if even that fails.
uint32_t WindowDpi(HWND window, GetDpiForWindowFunction get_dpi_for_window);

}  // namespace kestrelume
