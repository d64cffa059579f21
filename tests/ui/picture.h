#pragma once
// Test helper: a PNG decoded with WIC into 8-bit colour channels, addressed
// in DIPs of a picture drawn at scale 2.

#include <windows.h>
#include <wincodec.h>
#include <wrl/client.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kestrelume::test {

struct Colour {
  int r = 0;
  int g = 0;
  int b = 0;
};

struct Picture {
  UINT width = 0;
  UINT height = 0;
  std::vector<uint8_t> bgra;  // straight alpha, top row first

  bool Loaded() const { return width != 0; }
  Colour Pixel(UINT x, UINT y) const {
    if (x >= width || y >= height) return {};
    const uint8_t* p = &bgra[(size_t{y} * width + x) * 4];
    return {p[2], p[1], p[0]};
  }
  uint8_t Alpha(UINT x, UINT y) const { return bgra[(size_t{y} * width + x) * 4 + 3]; }
  // The pixel that covers the DIP point (x, y) at scale 2.
  Colour At(float x, float y) const {
    return Pixel(static_cast<UINT>(x * 2.0f), static_cast<UINT>(y * 2.0f));
  }
};

inline Picture DecodePicture(IWICImagingFactory* wic, IWICStream* stream) {
  using Microsoft::WRL::ComPtr;
  Picture picture;
  ComPtr<IWICBitmapDecoder> decoder;
  ComPtr<IWICBitmapFrameDecode> frame;
  ComPtr<IWICFormatConverter> converter;
  UINT width = 0, height = 0;
  if (FAILED(wic->CreateDecoderFromStream(stream, nullptr, WICDecodeMetadataCacheOnLoad, &decoder)) ||
      FAILED(decoder->GetFrame(0, &frame)) || FAILED(frame->GetSize(&width, &height)) ||
      FAILED(wic->CreateFormatConverter(&converter)) ||
      FAILED(converter->Initialize(frame.Get(), GUID_WICPixelFormat32bppBGRA,
                                   WICBitmapDitherTypeNone, nullptr, 0.0,
                                   WICBitmapPaletteTypeCustom))) {
    return picture;
  }
  std::vector<uint8_t> pixels(size_t{width} * height * 4);
  if (FAILED(converter->CopyPixels(nullptr, width * 4, static_cast<UINT>(pixels.size()),
                                   pixels.data()))) {
    return picture;
  }
  picture.width = width;
  picture.height = height;
  picture.bgra = std::move(pixels);
  return picture;
}

inline Picture LoadPicture(IWICImagingFactory* wic, const std::wstring& path) {
  Microsoft::WRL::ComPtr<IWICStream> stream;
  if (FAILED(wic->CreateStream(&stream)) ||
      FAILED(stream->InitializeFromFilename(path.c_str(), GENERIC_READ))) {
    return {};
  }
  return DecodePicture(wic, stream.Get());
}

inline Picture LoadPicture(IWICImagingFactory* wic, const uint8_t* data, size_t size) {
  Microsoft::WRL::ComPtr<IWICStream> stream;
  if (FAILED(wic->CreateStream(&stream)) ||
      FAILED(stream->InitializeFromMemory(const_cast<BYTE*>(data), static_cast<DWORD>(size)))) {
    return {};
  }
  return DecodePicture(wic, stream.Get());
}

}  // namespace kestrelume::test
