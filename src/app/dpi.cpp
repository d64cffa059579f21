#include "app/dpi.h"

namespace kestrelume {

void EnablePerMonitorDpi(SetProcessDpiAwarenessContextFunction set_awareness) {
  // The result does not matter: the manifest asks for the same awareness.
  if (set_awareness) set_awareness(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
}

uint32_t WindowDpi(HWND window, GetDpiForWindowFunction get_dpi_for_window) {
  if (get_dpi_for_window) {
    if (const UINT dpi = get_dpi_for_window(window)) return dpi;
  }
  int dpi = 0;
  if (HDC screen = GetDC(nullptr)) {
    dpi = GetDeviceCaps(screen, LOGPIXELSX);
    ReleaseDC(nullptr, screen);
  }
  return dpi > 0 ? static_cast<uint32_t>(dpi) : 96;
}

}  // namespace kestrelume
