#include "tools/windows_kit/window_picture.h"

#include <wincodec.h>
#include <wrl/client.h>

using Microsoft::WRL::ComPtr;

namespace kestrelume::kit {
namespace {

#ifndef PW_RENDERFULLCONTENT
#define PW_RENDERFULLCONTENT 0x00000002
#endif

struct MemoryBitmap {
  HDC dc = nullptr;
  HBITMAP bitmap = nullptr;
  HGDIOBJ old = nullptr;
  void* bits = nullptr;
  ~MemoryBitmap() {
    if (dc && old) SelectObject(dc, old);
    if (bitmap) DeleteObject(bitmap);
    if (dc) DeleteDC(dc);
  }
};

}  // namespace

bool WindowPixels::Uniform() const {
  for (uint32_t pixel : bgra) {
    if ((pixel & 0xFFFFFF) != (bgra[0] & 0xFFFFFF)) return false;
  }
  return true;
}

WindowPixels CaptureWindow(HWND window, bool from_screen) {
  WindowPixels pixels;
  RECT client{};
  if (!IsWindow(window) || !GetClientRect(window, &client) || client.right <= 0 || client.bottom <= 0) {
    return pixels;
  }
  const int width = client.right, height = client.bottom;
  HDC screen = GetDC(nullptr);
  MemoryBitmap memory;
  memory.dc = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  memory.bitmap = CreateDIBSection(memory.dc, &info, DIB_RGB_COLORS, &memory.bits, nullptr, 0);
  if (!memory.dc || !memory.bitmap) {
    ReleaseDC(nullptr, screen);
    return pixels;
  }
  memory.old = SelectObject(memory.dc, memory.bitmap);
  bool drawn = false;
  if (!from_screen && PrintWindow(window, memory.dc, PW_CLIENTONLY | PW_RENDERFULLCONTENT)) {
    // Windows 7 knows no PW_RENDERFULLCONTENT and leaves Direct2D content
    // out: a one-coloured result is taken off the screen instead.
    GdiFlush();
    const auto* bits = static_cast<const uint32_t*>(memory.bits);
    for (size_t i = 1; i < static_cast<size_t>(width) * height && !drawn; ++i) {
      drawn = (bits[i] & 0xFFFFFF) != (bits[0] & 0xFFFFFF);
    }
  }
  if (!drawn) {
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    drawn = BitBlt(memory.dc, 0, 0, width, height, screen, origin.x, origin.y, SRCCOPY) != FALSE;
  }
  ReleaseDC(nullptr, screen);
  if (!drawn) return pixels;
  GdiFlush();
  pixels.width = width;
  pixels.height = height;
  const auto* bits = static_cast<const uint32_t*>(memory.bits);
  pixels.bgra.assign(bits, bits + static_cast<size_t>(width) * height);
  for (uint32_t& pixel : pixels.bgra) pixel |= 0xFF000000;  // GDI leaves alpha undefined
  return pixels;
}

bool SavePng(const WindowPixels& pixels, const std::wstring& path) {
  if (pixels.empty()) return false;
  ComPtr<IWICImagingFactory> factory;
  ComPtr<IWICStream> stream;
  ComPtr<IWICBitmapEncoder> encoder;
  ComPtr<IWICBitmapFrameEncode> frame;
  if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&factory))) ||
      FAILED(factory->CreateStream(&stream)) || FAILED(stream->InitializeFromFilename(path.c_str(), GENERIC_WRITE)) ||
      FAILED(factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder)) ||
      FAILED(encoder->Initialize(stream.Get(), WICBitmapEncoderNoCache)) ||
      FAILED(encoder->CreateNewFrame(&frame, nullptr)) || FAILED(frame->Initialize(nullptr)) ||
      FAILED(frame->SetSize(pixels.width, pixels.height))) {
    return false;
  }
  WICPixelFormatGUID format = GUID_WICPixelFormat32bppBGRA;
  if (FAILED(frame->SetPixelFormat(&format))) return false;
  const UINT stride = static_cast<UINT>(pixels.width) * 4;
  if (FAILED(frame->WritePixels(pixels.height, stride, stride * pixels.height,
                                reinterpret_cast<BYTE*>(const_cast<uint32_t*>(pixels.bgra.data()))))) {
    return false;
  }
  return SUCCEEDED(frame->Commit()) && SUCCEEDED(encoder->Commit());
}

}  // namespace kestrelume::kit
