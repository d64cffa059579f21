#pragma once
// The drawing half of App: factories, fonts, text formats, stroke styles, the
// window's render target and the logo bitmap, and the operations that draw a
// frame. Main thread only (the Direct2D factory is single-threaded), except
// CreateTextResources.
//
// Device-independent resources are made once by CreateResources and live for
// the process. The render target and the logo bitmap belong to one device:
// they are made before the window is first shown (or else at the first
// paint) and again after a device loss. Brushes,
// layouts and geometries are made inside each paint and released before it
// returns.

#include <windows.h>
#include <d2d1.h>
#include <dwrite_3.h>
#include <wincodec.h>
#include <wrl/client.h>

#include <cstdint>
#include <optional>
#include <string_view>

#include "ui/palette.h"

namespace kestrelume {

struct App;

// A device lost frame after frame (one that cannot be made again): after
// kLostFramesBeforePause losses in a row the window stops asking for paints
// and tries again when DEVICE_TIMER fires, kDeviceRetryMs later.
inline constexpr UINT_PTR DEVICE_TIMER = 3;
inline constexpr uint32_t kLostFramesBeforePause = 3;
inline constexpr UINT kDeviceRetryMs = 500;

struct Renderer {
  template <typename T>
  using ComPtr = Microsoft::WRL::ComPtr<T>;

  ComPtr<ID2D1Factory> d2d_factory;
  ComPtr<IDWriteFactory> dwrite_factory;
  ComPtr<IWICImagingFactory> wic_factory;
  ComPtr<ID2D1HwndRenderTarget> render_target;  // null until EnsureRenderTarget
  ComPtr<ID2D1Bitmap> logo_bitmap;              // made for render_target; may stay null
  ComPtr<IDWriteInMemoryFontFileLoader> font_loader;
  ComPtr<IDWriteFontCollection> resource_fonts;  // null: system fallbacks
  ComPtr<ID2D1StrokeStyle> round_stroke;         // null draws solid
  ComPtr<ID2D1StrokeStyle> dotted_stroke;
  ComPtr<IDWriteTextFormat> title_format;
  ComPtr<IDWriteTextFormat> body_format;
  ComPtr<IDWriteTextFormat> detail_format;
  ComPtr<IDWriteTextFormat> link_format;
  ComPtr<IDWriteTextFormat> button_format;
  ComPtr<IDWriteTextFormat> icon_format;

  // High contrast: on when the system says so (or when a development build
  // is told to act as if), read by CreateResources and again by
  // ReadContrast when the system settings or colours change.
  bool force_high_contrast = false;
  bool high_contrast = false;
  SystemColours system_colours;
  void ReadContrast();

  // Once, before the window exists, with COM initialised on this thread:
  // both of the next two. True when the three factories and all six text
  // formats exist.
  bool CreateResources(bool& animations_enabled);
  // The Direct2D and WIC factories, the stroke styles and the contrast, on
  // this thread; false also when DirectWrite is missing, which Direct2D
  // needs. Writes the client-area animation setting into animations_enabled
  // only when it can be read.
  bool CreateDrawingResources(bool& animations_enabled);
  // The DirectWrite factory, the carried fonts and the six text formats. It
  // may run on another thread (DirectWrite's shared factory is free-threaded)
  // while nothing else touches those members; it needs no COM.
  bool CreateTextResources();
  // Centred, one line, "en-us"; collection null means the system fonts.
  bool MakeTextFormat(const wchar_t* family, IDWriteFontCollection* collection,
                      DWRITE_FONT_WEIGHT weight, float size, ComPtr<IDWriteTextFormat>& format);
  // The logo (resource 101) for `target`, or null.
  ComPtr<ID2D1Bitmap> LoadLogo(ID2D1RenderTarget* target) const;
  // The gold gradient from `start` to `end` (DIPs), or null.
  static ComPtr<ID2D1LinearGradientBrush> MakeGoldBrush(ID2D1RenderTarget* target,
                                                        D2D1_POINT_2F start, D2D1_POINT_2F end);
  // Width including trailing white space of `text` laid out in `format` in a
  // 1000 x 40 box; nothing when the layout or its metrics cannot be had.
  std::optional<float> MeasureWidth(std::wstring_view text, IDWriteTextFormat* format) const;

  // The window's paint cycle, for WM_PAINT between BeginPaint and EndPaint:
  // makes the render target and the logo if there are none (false: nothing
  // can be drawn this time), then draws one frame of `app`. A device loss
  // drops both; the next call makes them again.
  bool EnsureRenderTarget(HWND window, uint32_t dpi);
  void PaintWindow(const App& app);
  // The end of PaintWindow, given what EndDraw returned: a device loss
  // (D2DERR_RECREATE_TARGET) drops the render target and the logo and
  // invalidates the window, so that the next paint comes and makes them
  // again; from the kLostFramesBeforePause-th loss in a row it sets
  // DEVICE_TIMER instead, and paints draw nothing until RetryDevice. Any
  // other result ends the run of losses.
  void EndFrame(HWND window, HRESULT drawn);
  // DEVICE_TIMER: ends the pause and asks for a paint, which tries once.
  void RetryDevice(HWND window);
  uint32_t lost_in_a_row = 0;
  bool device_paused = false;
  // WM_SIZE and WM_DPICHANGED (after the new dpi is stored): keeps the frame
  // at 320 x 340 DIPs. Does nothing while there is no render target.
  void ResizeRenderTarget(HWND window, uint32_t dpi);

  // One complete frame of `app` into any render target, between BeginDraw
  // and EndDraw. `logo` may be null. Reports nothing.
  void Paint(const App& app, ID2D1RenderTarget* target, ID2D1Bitmap* logo) const;
  void DrawLabel(ID2D1RenderTarget* target, std::wstring_view text, IDWriteTextFormat* format,
                 const D2D1_RECT_F& box, const D2D1_COLOR_F& colour, bool underline,
                 bool shrink_to_fit) const;
  void DrawButton(ID2D1RenderTarget* target, const D2D1_RECT_F& box, std::wstring_view label,
                  bool primary, bool hovered, bool pressed) const;
  // The keyboard focus ring of app.focus, if any.
  void DrawFocusRing(const App& app, ID2D1RenderTarget* target) const;
  // Strokes part of the ring (angles in degrees, clockwise, -90 = twelve
  // o'clock). `stroke` may be null.
  void DrawArc(ID2D1RenderTarget* target, float start, float sweep, ID2D1Brush* brush,
               ID2D1StrokeStyle* stroke) const;
};

}  // namespace kestrelume
