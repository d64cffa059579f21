#include "ui/snapshots.h"

#include <windows.h>
#include <d2d1.h>
#include <wincodec.h>
#include <wrl/client.h>

#include "workflow/cache.h"

namespace kestrelume {
namespace {

using Microsoft::WRL::ComPtr;

constexpr UINT kWidth = 640;
constexpr UINT kHeight = 680;
constexpr float kDpi = 192.0f;

// Any step that cannot be made skips the file; the results of writing and
// committing are not looked at.
void SavePng(IWICImagingFactory* wic, IWICBitmap* bitmap, const std::wstring& path) {
  ComPtr<IWICStream> stream;
  ComPtr<IWICBitmapEncoder> encoder;
  ComPtr<IWICBitmapFrameEncode> frame;
  if (FAILED(wic->CreateStream(&stream)) ||
      FAILED(stream->InitializeFromFilename(path.c_str(), GENERIC_WRITE)) ||
      FAILED(wic->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder)) ||
      FAILED(encoder->Initialize(stream.Get(), WICBitmapEncoderNoCache)) ||
      FAILED(encoder->CreateNewFrame(&frame, nullptr)) || FAILED(frame->Initialize(nullptr))) {
    return;
  }
  frame->WriteSource(bitmap, nullptr);
  frame->Commit();
  encoder->Commit();
}

}  // namespace

float SnapshotFraction(const SnapshotSample& sample) {
  if (sample.phase == Phase::Opening) return 1.0f;
  if (sample.phase != Phase::Downloading) return 0.0f;
  return static_cast<float>(sample.bytes_done) / static_cast<float>(kSnapshotBytesTotal);
}

int RenderSnapshots(App& app, const std::wstring& folder) {
  Renderer& renderer = app.renderer;
  if (!renderer.CreateResources(app.animations_enabled)) return 1;
  EnsureDirectory(folder);

  for (const SnapshotSample& sample : kSnapshotSamples) {
    app.shown_progress = Progress{sample.phase, sample.failure, "0.2.1", kSnapshotBytesTotal,
                                  sample.bytes_done, L""};
    app.fraction = SnapshotFraction(sample);
    app.hover = sample.hover;
    app.Layout();

    ComPtr<IWICBitmap> bitmap;
    if (FAILED(renderer.wic_factory->CreateBitmap(kWidth, kHeight, GUID_WICPixelFormat32bppPBGRA,
                                                  WICBitmapCacheOnLoad, &bitmap))) {
      return 1;
    }
    const D2D1_RENDER_TARGET_PROPERTIES properties = D2D1::RenderTargetProperties(
        D2D1_RENDER_TARGET_TYPE_SOFTWARE,
        D2D1::PixelFormat(DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_PREMULTIPLIED), kDpi, kDpi);
    ComPtr<ID2D1RenderTarget> target;
    if (FAILED(renderer.d2d_factory->CreateWicBitmapRenderTarget(bitmap.Get(), properties,
                                                                 &target))) {
      return 1;
    }
    target->SetTextAntialiasMode(D2D1_TEXT_ANTIALIAS_MODE_GRAYSCALE);
    ComPtr<ID2D1Bitmap> logo = renderer.LoadLogo(target.Get());
    // The clocks are set just before drawing, so that the slow first creation
    // of a target and of the fonts does not move the spinner in the picture.
    const uint64_t now = GetTickCount64();
    app.spin_start_tick = now - 300;
    app.phase_tick = now - 5000;
    target->BeginDraw();
    renderer.Paint(app, target.Get(), logo.Get());
    target->EndDraw();
    logo.Reset();
    target.Reset();

    SavePng(renderer.wic_factory.Get(), bitmap.Get(),
            folder + L"\\" + std::wstring(sample.name) + L".png");
  }
  return 0;
}

}  // namespace kestrelume
