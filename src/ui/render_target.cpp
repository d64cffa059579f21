#include "app/app.h"
#include "ui/renderer.h"

namespace kestrelume {

bool Renderer::EnsureRenderTarget(HWND window, uint32_t dpi) {
  if (render_target) return true;
  if (!d2d_factory) return false;
  RECT client{};
  GetClientRect(window, &client);
  const float dots = static_cast<float>(dpi);
  // The target's DPI is the window's, so all drawing is in DIPs of the
  // 320 x 340 client area at every scale.
  const D2D1_RENDER_TARGET_PROPERTIES properties = D2D1::RenderTargetProperties(
      D2D1_RENDER_TARGET_TYPE_DEFAULT,
      D2D1::PixelFormat(DXGI_FORMAT_UNKNOWN, D2D1_ALPHA_MODE_UNKNOWN), dots, dots);
  const D2D1_HWND_RENDER_TARGET_PROPERTIES window_properties = D2D1::HwndRenderTargetProperties(
      window, D2D1::SizeU(static_cast<UINT32>(client.right - client.left),
                          static_cast<UINT32>(client.bottom - client.top)));
  if (FAILED(d2d_factory->CreateHwndRenderTarget(properties, window_properties, &render_target))) {
    return false;
  }
  render_target->SetTextAntialiasMode(D2D1_TEXT_ANTIALIAS_MODE_GRAYSCALE);
  logo_bitmap = LoadLogo(render_target.Get());
  return true;
}

void Renderer::PaintWindow(const App& app) {
  HWND window = app.window.load();
  // Paused after losses in a row: DEVICE_TIMER brings the next try.
  if (device_paused) return;
  if (!EnsureRenderTarget(window, app.dpi)) return;
  render_target->BeginDraw();
  Paint(app, render_target.Get(), logo_bitmap.Get());
  EndFrame(window, render_target->EndDraw());
}

void Renderer::EndFrame(HWND window, HRESULT drawn) {
  if (drawn != static_cast<HRESULT>(D2DERR_RECREATE_TARGET)) {
    lost_in_a_row = 0;
    return;
  }
  logo_bitmap.Reset();
  render_target.Reset();
  // The lost frame never reached the screen; a still screen would otherwise
  // wait for something else to repaint it. A device that cannot be made
  // again would make that a busy loop, so after a few losses the next try
  // waits for the timer.
  if (++lost_in_a_row < kLostFramesBeforePause) {
    InvalidateRect(window, nullptr, FALSE);
  } else {
    device_paused = true;
    SetTimer(window, DEVICE_TIMER, kDeviceRetryMs, nullptr);
  }
}

void Renderer::RetryDevice(HWND window) {
  KillTimer(window, DEVICE_TIMER);
  device_paused = false;
  InvalidateRect(window, nullptr, FALSE);
}

void Renderer::ResizeRenderTarget(HWND window, uint32_t dpi) {
  if (!render_target) return;
  RECT client{};
  GetClientRect(window, &client);
  render_target->SetDpi(static_cast<float>(dpi), static_cast<float>(dpi));
  render_target->Resize(D2D1::SizeU(static_cast<UINT32>(client.right - client.left),
                                    static_cast<UINT32>(client.bottom - client.top)));
}

}  // namespace kestrelume
