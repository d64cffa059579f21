#include "ui/renderer.h"
#include "ui/resource_data.h"

namespace kestrelume {

using Microsoft::WRL::ComPtr;

// Decodes the PNG resource through WIC into premultiplied BGRA and makes a
// bitmap for `target` (500 x 500 DIPs at 96 DPI). Any failing step ends the
// chain; the intermediate objects go with their ComPtrs.
ComPtr<ID2D1Bitmap> Renderer::LoadLogo(ID2D1RenderTarget* target) const {
  std::span<const uint8_t> png = ResourceBytes(kLogoResource);
  if (png.empty() || !wic_factory || !target) return nullptr;

  ComPtr<IWICStream> stream;
  ComPtr<IWICBitmapDecoder> decoder;
  ComPtr<IWICBitmapFrameDecode> frame;
  ComPtr<IWICFormatConverter> converter;
  ComPtr<ID2D1Bitmap> bitmap;
  if (FAILED(wic_factory->CreateStream(&stream)) ||
      FAILED(stream->InitializeFromMemory(const_cast<BYTE*>(png.data()),
                                          static_cast<DWORD>(png.size()))) ||
      FAILED(wic_factory->CreateDecoderFromStream(stream.Get(), nullptr,
                                                  WICDecodeMetadataCacheOnLoad, &decoder)) ||
      FAILED(decoder->GetFrame(0, &frame)) ||
      FAILED(wic_factory->CreateFormatConverter(&converter)) ||
      FAILED(converter->Initialize(frame.Get(), GUID_WICPixelFormat32bppPBGRA,
                                   WICBitmapDitherTypeNone, nullptr, 0.0,
                                   WICBitmapPaletteTypeMedianCut)) ||
      FAILED(target->CreateBitmapFromWicBitmap(converter.Get(), nullptr, &bitmap))) {
    return nullptr;
  }
  return bitmap;
}

}  // namespace kestrelume
