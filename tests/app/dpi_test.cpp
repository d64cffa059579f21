#include "app/dpi.h"

#include <gtest/gtest.h>

namespace kestrelume {
namespace {

DPI_AWARENESS_CONTEXT requested = nullptr;
BOOL WINAPI RecordAwareness(DPI_AWARENESS_CONTEXT context) {
  requested = context;
  return TRUE;
}
UINT WINAPI Dpi144(HWND) { return 144; }
UINT WINAPI DpiZero(HWND) { return 0; }

TEST(Dpi, NewerCallsAreUsedWherePresentAndTheScreenDpiOtherwise) {
  EnablePerMonitorDpi(nullptr);  // Windows before 10 1703: nothing to call
  EnablePerMonitorDpi(RecordAwareness);
  EXPECT_EQ(requested, DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);

  HDC screen = GetDC(nullptr);
  const auto screen_dpi = static_cast<uint32_t>(GetDeviceCaps(screen, LOGPIXELSX));
  ReleaseDC(nullptr, screen);
  const struct {
    GetDpiForWindowFunction function;
    uint32_t expected;
  } cases[] = {{Dpi144, 144}, {nullptr, screen_dpi}, {DpiZero, screen_dpi}};
  for (const auto& c : cases) EXPECT_EQ(WindowDpi(GetDesktopWindow(), c.function), c.expected);
}

}  // namespace
}  // namespace kestrelume
