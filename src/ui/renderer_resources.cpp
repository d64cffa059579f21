#include "ui/renderer.h"
#include "ui/resource_data.h"

#include "system/system_functions.h"

namespace kestrelume {
namespace {

using Microsoft::WRL::ComPtr;

ComPtr<ID2D1StrokeStyle> MakeRoundStroke(ID2D1Factory* factory, D2D1_DASH_STYLE dash_style,
                                         const float* dashes, UINT32 dash_count) {
  const D2D1_STROKE_STYLE_PROPERTIES properties{
      D2D1_CAP_STYLE_ROUND, D2D1_CAP_STYLE_ROUND, D2D1_CAP_STYLE_ROUND,
      D2D1_LINE_JOIN_ROUND, 10.0f, dash_style, 0.0f};
  ComPtr<ID2D1StrokeStyle> style;
  factory->CreateStrokeStyle(&properties, dashes, dash_count, &style);
  return style;
}

// "Segoe UI Variable Text" where it is installed (Windows 11), else "Segoe UI".
const wchar_t* BodyFamily(IDWriteFactory* factory) {
  ComPtr<IDWriteFontCollection> system;
  if (FAILED(factory->GetSystemFontCollection(&system, FALSE))) return L"Segoe UI";
  UINT32 index = 0;
  BOOL exists = FALSE;
  if (SUCCEEDED(system->FindFamilyName(L"Segoe UI Variable Text", &index, &exists)) && exists) {
    return L"Segoe UI Variable Text";
  }
  return L"Segoe UI";
}

// The two fonts the executable carries, as a collection of their own. The
// loader copies the bytes and stays registered for the life of the process.
ComPtr<IDWriteFontCollection> LoadResourceFonts(IDWriteFactory* factory,
                                                ComPtr<IDWriteInMemoryFontFileLoader>& loader) {
  ComPtr<IDWriteFactory5> factory5;
  if (FAILED(factory->QueryInterface(IID_PPV_ARGS(&factory5)))) return nullptr;
  ComPtr<IDWriteFontSetBuilder1> builder;
  if (FAILED(factory5->CreateInMemoryFontFileLoader(&loader)) ||
      FAILED(factory->RegisterFontFileLoader(loader.Get())) ||
      FAILED(factory5->CreateFontSetBuilder(&builder))) {
    return nullptr;
  }
  for (int id : {kTitleFontResource, kDetailFontResource}) {
    std::span<const uint8_t> bytes = ResourceBytes(id);
    if (bytes.empty()) continue;
    ComPtr<IDWriteFontFile> file;
    if (SUCCEEDED(loader->CreateInMemoryFontFileReference(
            factory, bytes.data(), static_cast<UINT32>(bytes.size()), nullptr, &file))) {
      builder->AddFontFile(file.Get());
    }
  }
  ComPtr<IDWriteFontSet> set;
  ComPtr<IDWriteFontCollection1> collection;
  if (FAILED(builder->CreateFontSet(&set)) ||
      FAILED(factory5->CreateFontCollectionFromFontSet(set.Get(), &collection))) {
    return nullptr;
  }
  return collection;
}

}  // namespace

bool Renderer::MakeTextFormat(const wchar_t* family, IDWriteFontCollection* collection,
                              DWRITE_FONT_WEIGHT weight, float size,
                              ComPtr<IDWriteTextFormat>& format) {
  if (FAILED(dwrite_factory->CreateTextFormat(family, collection, weight, DWRITE_FONT_STYLE_NORMAL,
                                              DWRITE_FONT_STRETCH_NORMAL, size, L"en-us",
                                              &format))) {
    return false;
  }
  format->SetTextAlignment(DWRITE_TEXT_ALIGNMENT_CENTER);
  format->SetParagraphAlignment(DWRITE_PARAGRAPH_ALIGNMENT_CENTER);
  format->SetWordWrapping(DWRITE_WORD_WRAPPING_NO_WRAP);
  return true;
}

bool Renderer::CreateResources(bool& animations_enabled) {
  return CreateDrawingResources(animations_enabled) && CreateTextResources();
}

bool Renderer::CreateDrawingResources(bool& animations_enabled) {
  // Direct2D loads DirectWrite itself once a render target exists; without
  // it nothing can be drawn.
  if (!System().Has(SystemLibrary::D2D1) || !System().Has(SystemLibrary::DWrite) ||
      FAILED(System().D2D1CreateFactory(D2D1_FACTORY_TYPE_SINGLE_THREADED, __uuidof(ID2D1Factory), nullptr,
                                       reinterpret_cast<void**>(d2d_factory.ReleaseAndGetAddressOf()))) ||
      FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                              IID_PPV_ARGS(wic_factory.ReleaseAndGetAddressOf())))) {
    return false;
  }

  ReadContrast();
  BOOL animate = TRUE;
  if (SystemParametersInfoW(SPI_GETCLIENTAREAANIMATION, 0, &animate, 0)) {
    animations_enabled = animate != FALSE;
  }

  round_stroke = MakeRoundStroke(d2d_factory.Get(), D2D1_DASH_STYLE_SOLID, nullptr, 0);
  // Dash values scale with the stroke width: round dots as wide as the
  // stroke, one every 2.6 widths.
  const float dots[] = {0.0f, 2.6f};
  dotted_stroke = MakeRoundStroke(d2d_factory.Get(), D2D1_DASH_STYLE_CUSTOM, dots, 2);
  return true;
}

bool Renderer::CreateTextResources() {
  if (!System().Has(SystemLibrary::DWrite) ||
      FAILED(System().DWriteCreateFactory(DWRITE_FACTORY_TYPE_SHARED, __uuidof(IDWriteFactory),
                                 reinterpret_cast<IUnknown**>(dwrite_factory.ReleaseAndGetAddressOf())))) {
    return false;
  }

  const wchar_t* body_family = BodyFamily(dwrite_factory.Get());
  resource_fonts = LoadResourceFonts(dwrite_factory.Get(), font_loader);
  const wchar_t* title_family = L"Unbounded";
  const wchar_t* detail_family = L"JetBrains Mono";
  if (!resource_fonts) {
    title_family = std::wstring_view(body_family) == L"Segoe UI" ? L"Segoe UI"
                                                                : L"Segoe UI Variable Display";
    detail_family = L"Consolas";
  }

  IDWriteFontCollection* resources = resource_fonts.Get();
  if (!MakeTextFormat(title_family, resources, DWRITE_FONT_WEIGHT_SEMI_BOLD, 17.0f, title_format) ||
      !MakeTextFormat(detail_family, resources, DWRITE_FONT_WEIGHT_NORMAL, 11.5f, detail_format) ||
      !MakeTextFormat(body_family, nullptr, DWRITE_FONT_WEIGHT_NORMAL, 13.0f, body_format) ||
      !MakeTextFormat(body_family, nullptr, DWRITE_FONT_WEIGHT_NORMAL, 13.0f, link_format) ||
      !MakeTextFormat(body_family, nullptr, DWRITE_FONT_WEIGHT_SEMI_BOLD, 13.5f, button_format) ||
      !MakeTextFormat(L"Segoe MDL2 Assets", nullptr, DWRITE_FONT_WEIGHT_NORMAL, 10.0f, icon_format)) {
    return false;
  }

  // The explanation of a failure screen: wrapped, from the top, 18 DIPs a line.
  body_format->SetParagraphAlignment(DWRITE_PARAGRAPH_ALIGNMENT_NEAR);
  body_format->SetWordWrapping(DWRITE_WORD_WRAPPING_WRAP);
  body_format->SetLineSpacing(DWRITE_LINE_SPACING_METHOD_UNIFORM, 18.0f, 14.0f);
  return true;
}

std::optional<float> Renderer::MeasureWidth(std::wstring_view text, IDWriteTextFormat* format) const {
  if (!dwrite_factory || !format) return std::nullopt;
  ComPtr<IDWriteTextLayout> layout;
  if (FAILED(dwrite_factory->CreateTextLayout(text.data(), static_cast<UINT32>(text.size()), format,
                                              1000.0f, 40.0f, &layout))) {
    return std::nullopt;
  }
  DWRITE_TEXT_METRICS metrics{};
  if (FAILED(layout->GetMetrics(&metrics))) return std::nullopt;
  return metrics.widthIncludingTrailingWhitespace;
}

void Renderer::ReadContrast() {
  HIGHCONTRASTW setting{};
  setting.cbSize = sizeof(setting);
  high_contrast = force_high_contrast ||
                  (SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof(setting), &setting, 0) &&
                   (setting.dwFlags & HCF_HIGHCONTRASTON));
  const auto rgb = [](int index) {
    const COLORREF c = GetSysColor(index);
    return static_cast<uint32_t>(GetRValue(c)) << 16 | static_cast<uint32_t>(GetGValue(c)) << 8 |
           GetBValue(c);
  };
  system_colours = {rgb(COLOR_WINDOW),     rgb(COLOR_WINDOWTEXT), rgb(COLOR_HIGHLIGHT),
                    rgb(COLOR_HIGHLIGHTTEXT), rgb(COLOR_GRAYTEXT), rgb(COLOR_BTNTEXT)};
}

}  // namespace kestrelume
