#include "ui/palette.h"
#include "ui/renderer.h"

#include <iterator>

namespace kestrelume {

using Microsoft::WRL::ComPtr;

ComPtr<ID2D1LinearGradientBrush> Renderer::MakeGoldBrush(ID2D1RenderTarget* target,
                                                         D2D1_POINT_2F start, D2D1_POINT_2F end) {
  D2D1_GRADIENT_STOP stops[std::size(palette::kGoldGradient)];
  for (size_t i = 0; i < std::size(stops); ++i) {
    stops[i] = {palette::kGoldGradient[i].position, Rgb(palette::kGoldGradient[i].rgb)};
  }
  ComPtr<ID2D1GradientStopCollection> collection;
  if (FAILED(target->CreateGradientStopCollection(stops, static_cast<UINT32>(std::size(stops)),
                                                  D2D1_GAMMA_2_2, D2D1_EXTEND_MODE_CLAMP,
                                                  &collection))) {
    return nullptr;
  }
  ComPtr<ID2D1LinearGradientBrush> brush;
  target->CreateLinearGradientBrush(D2D1::LinearGradientBrushProperties(start, end),
                                    collection.Get(), &brush);
  return brush;
}

}  // namespace kestrelume
