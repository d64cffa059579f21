// The yardstick of tools/measure-startup: a bare Win32 window of the
// installer's size, in the same place (centred in the work area), that draws
// one Direct2D frame - a clear to one colour - and then only waits to be
// closed. Everything the installer does before its first frame beyond this
// shows as the difference between the two.

#include <windows.h>
#include <d2d1.h>
#include <wrl/client.h>

namespace {

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof(window_class);
  window_class.lpfnWndProc = WindowProc;
  window_class.hInstance = instance;
  window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  window_class.lpszClassName = L"StartupBaseline";
  RegisterClassExW(&window_class);

  RECT area{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  const int width = 320, height = 340;
  HWND window = CreateWindowExW(0, window_class.lpszClassName, L"Startup baseline", WS_POPUP,
                                area.left + (area.right - area.left - width) / 2,
                                area.top + (area.bottom - area.top - height) / 2, width, height,
                                nullptr, nullptr, instance, nullptr);
  if (!window) return 1;
  ShowWindow(window, SW_SHOWNORMAL);

  Microsoft::WRL::ComPtr<ID2D1Factory> factory;
  Microsoft::WRL::ComPtr<ID2D1HwndRenderTarget> target;
  if (FAILED(D2D1CreateFactory(D2D1_FACTORY_TYPE_SINGLE_THREADED, factory.GetAddressOf())) ||
      FAILED(factory->CreateHwndRenderTarget(
          D2D1::RenderTargetProperties(),
          D2D1::HwndRenderTargetProperties(window, D2D1::SizeU(width, height)), &target))) {
    return 1;
  }
  target->BeginDraw();
  target->Clear(D2D1::ColorF(0.16f, 0.32f, 0.48f));
  target->EndDraw();
  ValidateRect(window, nullptr);

  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
  return 0;
}
