#include "ui/renderer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/screen_text.h"

namespace kestrelume {
namespace {

using Microsoft::WRL::ComPtr;

std::wstring FamilyOf(IDWriteTextFormat* format) {
  wchar_t name[64] = {};
  format->GetFontFamilyName(name, 64);
  return name;
}

class RendererResources : public ::testing::Test {
 protected:
  void SetUp() override { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
  void TearDown() override {
    renderer = Renderer{};
    CoUninitialize();
  }
  Renderer renderer;
};

TEST_F(RendererResources, TitleAndDetailUseTheFontsCarriedAsResources) {
  bool animations = true;
  ASSERT_TRUE(renderer.CreateResources(animations));
  ASSERT_NE(renderer.resource_fonts, nullptr);
  UINT32 index = 0;
  BOOL exists = FALSE;
  ASSERT_TRUE(SUCCEEDED(renderer.resource_fonts->FindFamilyName(L"Unbounded", &index, &exists)));
  EXPECT_TRUE(exists);
  ASSERT_TRUE(SUCCEEDED(renderer.resource_fonts->FindFamilyName(L"JetBrains Mono", &index, &exists)));
  EXPECT_TRUE(exists);

  EXPECT_EQ(FamilyOf(renderer.title_format.Get()), L"Unbounded");
  EXPECT_EQ(renderer.title_format->GetFontWeight(), DWRITE_FONT_WEIGHT_SEMI_BOLD);
  EXPECT_EQ(renderer.title_format->GetFontSize(), 17.0f);
  EXPECT_EQ(FamilyOf(renderer.detail_format.Get()), L"JetBrains Mono");
  EXPECT_EQ(renderer.detail_format->GetFontSize(), 11.5f);
  // The title font really is used: a title measures wider than nothing.
  const std::optional<float> title = renderer.MeasureWidth(L"Getting ready", renderer.title_format.Get());
  ASSERT_TRUE(title.has_value());
  EXPECT_GT(*title, 60.0f);
}

TEST_F(RendererResources, BodyFormatsFallBackToSegoeUiAndTheExplanationWraps) {
  bool animations = true;
  ASSERT_TRUE(renderer.CreateResources(animations));
  // Wine has no "Segoe UI Variable Text", as Windows 10 has none.
  for (IDWriteTextFormat* f : {renderer.body_format.Get(), renderer.link_format.Get(),
                               renderer.button_format.Get()}) {
    EXPECT_EQ(FamilyOf(f), L"Segoe UI");
  }
  EXPECT_EQ(renderer.button_format->GetFontWeight(), DWRITE_FONT_WEIGHT_SEMI_BOLD);
  EXPECT_EQ(renderer.button_format->GetFontSize(), 13.5f);
  EXPECT_EQ(FamilyOf(renderer.icon_format.Get()), L"Segoe MDL2 Assets");

  EXPECT_EQ(renderer.link_format->GetWordWrapping(), DWRITE_WORD_WRAPPING_NO_WRAP);
  EXPECT_EQ(renderer.link_format->GetParagraphAlignment(), DWRITE_PARAGRAPH_ALIGNMENT_CENTER);
  EXPECT_EQ(renderer.body_format->GetWordWrapping(), DWRITE_WORD_WRAPPING_WRAP);
  EXPECT_EQ(renderer.body_format->GetParagraphAlignment(), DWRITE_PARAGRAPH_ALIGNMENT_NEAR);
  EXPECT_EQ(renderer.body_format->GetTextAlignment(), DWRITE_TEXT_ALIGNMENT_CENTER);
  DWRITE_LINE_SPACING_METHOD method{};
  float spacing = 0, baseline = 0;
  renderer.body_format->GetLineSpacing(&method, &spacing, &baseline);
  EXPECT_EQ(method, DWRITE_LINE_SPACING_METHOD_UNIFORM);
  EXPECT_EQ(spacing, 18.0f);
  EXPECT_EQ(baseline, 14.0f);
  EXPECT_NE(renderer.round_stroke, nullptr);
  EXPECT_NE(renderer.dotted_stroke, nullptr);

  // Labels measure in the button font: wider with more text, never zero.
  const std::optional<float> shorter = renderer.MeasureWidth(L"Close", renderer.button_format.Get());
  const std::optional<float> longer =
      renderer.MeasureWidth(L"Offline installer", renderer.button_format.Get());
  ASSERT_TRUE(shorter && longer);
  EXPECT_GT(*shorter, 10.0f);
  EXPECT_GT(*longer, *shorter * 2);
  EXPECT_FALSE(renderer.MeasureWidth(L"Close", nullptr).has_value());
}

TEST_F(RendererResources, LogoIsAFullSizeBitmapForAnyRenderTarget) {
  bool animations = true;
  ASSERT_TRUE(renderer.CreateResources(animations));
  ComPtr<IWICBitmap> bitmap;
  ASSERT_TRUE(SUCCEEDED(renderer.wic_factory->CreateBitmap(64, 64, GUID_WICPixelFormat32bppPBGRA,
                                                           WICBitmapCacheOnLoad, &bitmap)));
  ComPtr<ID2D1RenderTarget> target;
  ASSERT_TRUE(SUCCEEDED(renderer.d2d_factory->CreateWicBitmapRenderTarget(
      bitmap.Get(),
      D2D1::RenderTargetProperties(D2D1_RENDER_TARGET_TYPE_SOFTWARE,
                                   D2D1::PixelFormat(DXGI_FORMAT_B8G8R8A8_UNORM,
                                                     D2D1_ALPHA_MODE_PREMULTIPLIED)),
      &target)));
  ComPtr<ID2D1Bitmap> logo = renderer.LoadLogo(target.Get());
  ASSERT_NE(logo, nullptr);
  EXPECT_EQ(logo->GetSize().width, 500.0f);
  EXPECT_EQ(logo->GetSize().height, 500.0f);
  // Without the imaging factory there is no logo, and no crash.
  renderer.wic_factory.Reset();
  EXPECT_EQ(renderer.LoadLogo(target.Get()), nullptr);
}

// The carried fonts hold only the characters they show: every title must be
// in the title font and every detail line in the detail font, or a reworded
// text would be drawn in a fallback font.
TEST_F(RendererResources, CarriedFontsHoldEveryCharacterOfTheTextsTheyShow) {
  bool animations = true;
  ASSERT_TRUE(renderer.CreateResources(animations));
  auto font_of = [&](const wchar_t* family, DWRITE_FONT_WEIGHT weight) {
    UINT32 index = 0;
    BOOL exists = FALSE;
    ComPtr<IDWriteFontFamily> found;
    ComPtr<IDWriteFont> font;
    if (SUCCEEDED(renderer.resource_fonts->FindFamilyName(family, &index, &exists)) && exists &&
        SUCCEEDED(renderer.resource_fonts->GetFontFamily(index, &found))) {
      found->GetFirstMatchingFont(weight, DWRITE_FONT_STRETCH_NORMAL, DWRITE_FONT_STYLE_NORMAL, &font);
    }
    return font;
  };
  const ComPtr<IDWriteFont> title_font = font_of(L"Unbounded", DWRITE_FONT_WEIGHT_SEMI_BOLD);
  const ComPtr<IDWriteFont> detail_font = font_of(L"JetBrains Mono", DWRITE_FONT_WEIGHT_NORMAL);
  ASSERT_TRUE(title_font && detail_font);

  std::vector<Progress> screens;
  const auto add = [&screens](Phase phase, Failure failure, uint64_t total, uint64_t done) {
    Progress screen;
    screen.phase = phase;
    screen.failure = failure;
    screen.bytes_total = total;
    screen.bytes_done = done;
    screens.push_back(screen);
  };
  for (Phase phase : {Phase::Checking, Phase::Opening}) add(phase, Failure::None, 0, 0);
  // Every digit in the percentage and in both megabyte counts.
  for (uint64_t tenths = 0; tenths <= 100; tenths += 11) {
    add(Phase::Downloading, Failure::None, 10'485'760, tenths * 104'858);
  }
  for (uint32_t f = 1; f <= 6; ++f) add(Phase::Failed, Failure(f), 0, 0);
  for (const Progress& screen : screens) {
    const ScreenTexts texts = TextsFor(screen);
    for (wchar_t c : texts.title) {
      BOOL has = FALSE;
      title_font->HasCharacter(c, &has);
      EXPECT_TRUE(has) << "title font lacks U+" << std::hex << int(c) << " of a title";
    }
    if (screen.phase == Phase::Failed) continue;  // the explanation is in the body font
    for (wchar_t c : texts.second) {
      BOOL has = FALSE;
      detail_font->HasCharacter(c, &has);
      EXPECT_TRUE(has) << "detail font lacks U+" << std::hex << int(c) << " of a detail line";
    }
  }
}

}  // namespace
}  // namespace kestrelume
