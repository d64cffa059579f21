// Renders the ten sample screens and checks what a person would see on them,
// with positions worked out from the window geometry at scale 2.
#include "ui/snapshots.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <numbers>
#include <string>
#include <vector>

#include "picture.h"
#include "ui/layout.h"
#include "ui/resource_data.h"

namespace kestrelume {
namespace {

using test::Colour;
using test::Picture;

constexpr float kCentreX = 160.0f;
constexpr float kCentreY = 112.0f;

bool IsGold(Colour c) { return c.r > 170 && c.r - c.b > 30; }
bool IsNear(Colour c, int r, int g, int b, int tolerance) {
  return std::abs(c.r - r) <= tolerance && std::abs(c.g - g) <= tolerance &&
         std::abs(c.b - b) <= tolerance;
}

Colour OnRing(const Picture& p, float degrees, float radius) {
  const double a = degrees * std::numbers::pi / 180.0;
  return p.At(kCentreX + static_cast<float>(std::cos(a) * radius),
              kCentreY + static_cast<float>(std::sin(a) * radius));
}

// Gold stretches of the ring, sampled every half degree; angles in degrees
// from three o'clock, clockwise.
struct Arc {
  float start;
  float length;
};
std::vector<Arc> GoldArcs(const Picture& p) {
  constexpr int kSteps = 720;
  std::vector<bool> gold(kSteps);
  for (int i = 0; i < kSteps; ++i) gold[i] = IsGold(OnRing(p, i * 0.5f, 66.0f));
  std::vector<Arc> arcs;
  for (int i = 0; i < kSteps; ++i) {
    if (!gold[i] || gold[(i + kSteps - 1) % kSteps]) continue;
    int length = 0;
    while (length < kSteps && gold[(i + length) % kSteps]) ++length;
    arcs.push_back({i * 0.5f, length * 0.5f});
  }
  if (arcs.empty() && gold[0]) arcs.push_back({0.0f, 360.0f});
  return arcs;
}

float AngleBetween(float a, float b) { return std::remainder(a - b, 360.0f); }

int MaxRed(const Picture& p, const RectF& box) {
  int best = 0;
  for (float y = box.top; y < box.bottom; y += 0.5f) {
    for (float x = box.left; x < box.right; x += 0.5f) best = std::max(best, p.At(x, y).r);
  }
  return best;
}

// Wine 8 leaves FillOpacityMask a stub and ignores stroke styles. These
// probes draw one small case of each, so that the checks that need them run
// wherever the platform has them, and otherwise check what is drawn instead.
struct Probe {
  Microsoft::WRL::ComPtr<IWICBitmap> bitmap;
  Microsoft::WRL::ComPtr<ID2D1RenderTarget> target;
};
Probe MakeProbe(const Renderer& r, UINT width, UINT height) {
  Probe probe;
  r.wic_factory->CreateBitmap(width, height, GUID_WICPixelFormat32bppPBGRA, WICBitmapCacheOnLoad,
                              &probe.bitmap);
  if (probe.bitmap) {
    r.d2d_factory->CreateWicBitmapRenderTarget(
        probe.bitmap.Get(),
        D2D1::RenderTargetProperties(D2D1_RENDER_TARGET_TYPE_SOFTWARE,
                                     D2D1::PixelFormat(DXGI_FORMAT_B8G8R8A8_UNORM,
                                                       D2D1_ALPHA_MODE_PREMULTIPLIED)),
        &probe.target);
  }
  return probe;
}
std::vector<uint8_t> BlueChannel(IWICBitmap* bitmap, UINT width, UINT height) {
  std::vector<uint8_t> pixels(size_t{width} * height * 4);
  bitmap->CopyPixels(nullptr, width * 4, static_cast<UINT>(pixels.size()), pixels.data());
  std::vector<uint8_t> blue;
  for (size_t i = 0; i < pixels.size(); i += 4) blue.push_back(pixels[i]);
  return blue;
}
bool PlatformFillsOpacityMasks(const Renderer& r) {
  Probe probe = MakeProbe(r, 8, 8);
  if (!probe.target) return false;
  const std::vector<uint32_t> opaque(64, 0xFFFFFFFFu);
  Microsoft::WRL::ComPtr<ID2D1Bitmap> mask;
  Microsoft::WRL::ComPtr<ID2D1SolidColorBrush> white;
  probe.target->CreateBitmap(D2D1::SizeU(8, 8), opaque.data(), 32,
                             D2D1::BitmapProperties(D2D1::PixelFormat(
                                 DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_PREMULTIPLIED)),
                             &mask);
  probe.target->CreateSolidColorBrush(D2D1::ColorF(1, 1, 1, 1), &white);
  probe.target->BeginDraw();
  probe.target->Clear(D2D1::ColorF(0, 0, 0, 1));
  probe.target->SetAntialiasMode(D2D1_ANTIALIAS_MODE_ALIASED);
  const D2D1_RECT_F box{0, 0, 8, 8};
  probe.target->FillOpacityMask(mask.Get(), white.Get(), D2D1_OPACITY_MASK_CONTENT_GRAPHICS, &box, &box);
  probe.target->EndDraw();
  probe.target.Reset();
  return BlueChannel(probe.bitmap.Get(), 8, 8)[36] > 200;
}
bool PlatformDrawsDashes(const Renderer& r) {
  Probe probe = MakeProbe(r, 64, 8);
  if (!probe.target) return false;
  Microsoft::WRL::ComPtr<ID2D1SolidColorBrush> white;
  probe.target->CreateSolidColorBrush(D2D1::ColorF(1, 1, 1, 1), &white);
  probe.target->BeginDraw();
  probe.target->Clear(D2D1::ColorF(0, 0, 0, 1));
  probe.target->DrawLine({4, 4}, {60, 4}, white.Get(), 2.0f, r.dotted_stroke.Get());
  probe.target->EndDraw();
  probe.target.Reset();
  const std::vector<uint8_t> blue = BlueChannel(probe.bitmap.Get(), 64, 8);
  int gaps = 0;
  for (int x = 6; x < 58; ++x) gaps += blue[4 * 64 + x] < 60;
  return gaps > 10;
}

std::wstring WindowsPath(const std::string& unix_path) {
  std::wstring path = L"Z:";
  for (char c : unix_path) path += c == '/' ? L'\\' : static_cast<wchar_t>(c);
  return path;
}

class Snapshots : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    app_ = new App;
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    folder_ = std::wstring(temp) + L"kestrelume-snapshots-" + std::to_wstring(GetCurrentProcessId());
    result_ = RenderSnapshots(*app_, folder_);
    for (const SnapshotSample& sample : kSnapshotSamples) {
      const std::wstring path = folder_ + L"\\" + std::wstring(sample.name) + L".png";
      pictures_[std::wstring(sample.name)] = test::LoadPicture(app_->renderer.wic_factory.Get(), path);
      DeleteFileW(path.c_str());
    }
    RemoveDirectoryW(folder_.c_str());
  }
  static void TearDownTestSuite() {
    pictures_.clear();
    delete app_;
    app_ = nullptr;
    CoUninitialize();
  }

  static const Picture& Shot(const wchar_t* name) { return pictures_[name]; }
  // The buttons as the window would place them with the fonts at hand.
  static ScreenLayout LayoutFor(Failure failure) {
    app_->shown_progress = Progress{Phase::Failed, failure, "", 0, 0, L""};
    app_->Layout();
    return LayoutOf(*app_);
  }

  static inline App* app_ = nullptr;
  static inline std::wstring folder_;
  static inline int result_ = -1;
  static inline std::map<std::wstring, Picture> pictures_;
};

TEST_F(Snapshots, TenPicturesOfTheWholeWindowAtScaleTwo) {
  ASSERT_EQ(result_, 0);
  for (const SnapshotSample& sample : kSnapshotSamples) {
    const Picture& p = Shot(std::wstring(sample.name).c_str());
    ASSERT_TRUE(p.Loaded()) << std::string(sample.name.begin(), sample.name.end());
    EXPECT_EQ(p.width, 640u);
    EXPECT_EQ(p.height, 680u);
  }
  // A copy to look at, kept in the build folder.
  const std::wstring kept = WindowsPath(KESTRELUME_BINARY_DIR "/tests/ui/snapshots");
  ASSERT_EQ(RenderSnapshots(*app_, kept), 0);
  const Picture first = test::LoadPicture(app_->renderer.wic_factory.Get(), kept + L"\\01-checking.png");
  EXPECT_EQ(first.width, 640u);
}

TEST_F(Snapshots, BackgroundAndBackdropFollowTheRadialGradient) {
  for (const auto& [name, p] : pictures_) {
    SCOPED_TRACE(std::string(name.begin(), name.end()));
    // Outside the gradient's ellipse only the background colour is left.
    EXPECT_TRUE(IsNear(p.At(1, 339), 0x0B, 0x0A, 0x0A, 2));
    EXPECT_TRUE(IsNear(p.At(318, 339), 0x0B, 0x0A, 0x0A, 2));
    // 50 DIPs above the centre: 0.227 of the way from centre to edge colour.
    const float t = 50.0f / 220.0f;
    EXPECT_TRUE(IsNear(p.At(160, 62), static_cast<int>(0x1A + (0x0B - 0x1A) * t),
                       static_cast<int>(0x17 + (0x0A - 0x17) * t),
                       static_cast<int>(0x15 + (0x0A - 0x15) * t), 3));
  }
}

TEST_F(Snapshots, SpinnerIsAGoldArcOf58DegreesAtItsStartAngle) {
  const Picture& p = Shot(L"01-checking");
  const std::vector<Arc> arcs = GoldArcs(p);
  ASSERT_EQ(arcs.size(), 1u);
  // Drawn 300 ms after the run started (a little more by the time it is
  // painted); round caps add about 1.3 degrees at each end.
  const float expected = app_->animations_enabled ? -90.0f + 0.3f / 1.4f * 360.0f : -90.0f;
  const float late = AngleBetween(arcs[0].start + 1.3f, expected);
  EXPECT_GT(late, -2.0f);
  EXPECT_LT(late, app_->animations_enabled ? 40.0f : 2.0f);
  EXPECT_NEAR(arcs[0].length, 58.0f + 2.6f, 3.0f);
  // The rest of the ring is the dark track.
  EXPECT_TRUE(IsNear(OnRing(p, arcs[0].start + 180.0f, 66.0f), 0x24, 0x20, 0x1D, 6));
}

TEST_F(Snapshots, ProgressArcRunsClockwiseFromTwelveToTheDownloadedFraction) {
  for (const auto& [name, done] :
       {std::pair{L"02-downloading", 2'200'000.0}, std::pair{L"03-downloading-hover-cancel", 5'100'000.0}}) {
    const Picture& p = Shot(name);
    const std::vector<Arc> arcs = GoldArcs(p);
    ASSERT_EQ(arcs.size(), 1u);
    const float end = static_cast<float>(-90.0 + 360.0 * done / 6'440'070.0);
    EXPECT_NEAR(AngleBetween(arcs[0].start, -90.0f - 1.3f), 0.0f, 2.0f);
    EXPECT_NEAR(AngleBetween(arcs[0].start + arcs[0].length, end + 1.3f), 0.0f, 2.0f);
    EXPECT_TRUE(IsNear(OnRing(p, end + 10.0f, 66.0f), 0x24, 0x20, 0x1D, 6));
  }
}

TEST_F(Snapshots, OpeningShowsAFullGoldRingWithAHalo) {
  const Picture& opening = Shot(L"04-opening");
  const Picture& downloading = Shot(L"02-downloading");
  const std::vector<Arc> arcs = GoldArcs(opening);
  ASSERT_EQ(arcs.size(), 1u);
  EXPECT_EQ(arcs[0].length, 360.0f);
  for (float angle : {200.0f, 100.0f}) {
    // Inner halo (radius 70, 6 wide) at full strength, outer (75, 8 wide)
    // faint; nothing beyond.
    const Colour inner = OnRing(opening, angle, 72.0f);
    EXPECT_GT(inner.r - OnRing(downloading, angle, 72.0f).r, 25);
    EXPECT_GT(inner.r - inner.b, 15);
    EXPECT_GT(OnRing(opening, angle, 77.0f).r - OnRing(downloading, angle, 77.0f).r, 6);
    EXPECT_LE(std::abs(OnRing(opening, angle, 85.0f).r - OnRing(downloading, angle, 85.0f).r), 2);
  }
}

TEST_F(Snapshots, FailureScreensHaveADottedRingAndAGreyLogoElsewhereGold) {
  // Points well inside and well outside the mark, from the logo itself.
  std::span<const uint8_t> png = ResourceBytes(kLogoResource);
  ASSERT_FALSE(png.empty());
  const Picture logo = test::LoadPicture(app_->renderer.wic_factory.Get(), png.data(), png.size());
  ASSERT_TRUE(logo.Loaded());
  const auto solid = [&](float x, float y, uint8_t alpha) {
    // Every logo pixel under the 2 x 2 DIP square round (x, y) of the box
    // 129, 81, 191, 143 has this alpha.
    const float scale = static_cast<float>(logo.width) / 62.0f;
    for (float v = (y - 1 - 81) * scale; v <= (y + 1 - 81) * scale; v += 1) {
      for (float u = (x - 1 - 129) * scale; u <= (x + 1 - 129) * scale; u += 1) {
        if (u < 0 || v < 0 || u >= logo.width || v >= logo.height ||
            logo.Alpha(static_cast<UINT>(u), static_cast<UINT>(v)) != alpha) {
          return false;
        }
      }
    }
    return true;
  };
  std::vector<std::pair<float, float>> inside, outside;
  for (float y = 83; y < 142; y += 1.0f) {
    for (float x = 131; x < 190; x += 1.0f) {
      if (solid(x, y, 255)) inside.emplace_back(x, y);
      if (solid(x, y, 0) && std::hypot(x - kCentreX, y - kCentreY) < 28) outside.emplace_back(x, y);
    }
  }
  ASSERT_GT(inside.size(), 20u);
  ASSERT_GT(outside.size(), 20u);

  const bool dashes = PlatformDrawsDashes(app_->renderer);
  const bool masks = PlatformFillsOpacityMasks(app_->renderer);
  for (const wchar_t* name : {L"05-offline", L"06-verify", L"07-disk", L"08-windows-too-old",
                              L"09-retired", L"10-blocked"}) {
    SCOPED_TRACE(std::string(name, name + wcslen(name)));
    const Picture& p = Shot(name);
    EXPECT_TRUE(GoldArcs(p).empty());
    if (dashes) {
      // Dots 2.5 DIPs wide every 6.5 DIPs round a ring of 414.7 DIPs.
      int dots = 0;
      bool previous = false;
      for (int i = 0; i < 1440; ++i) {
        const bool lit = OnRing(p, i * 0.25f, 66.0f).r > 40;
        dots += lit && !previous;
        previous = lit;
      }
      EXPECT_GE(dots, 55);
      EXPECT_LE(dots, 72);
    } else {
      // Without dashes the same stroke is a solid ring in the failed colour.
      for (float angle = 0; angle < 360; angle += 15) {
        EXPECT_TRUE(IsNear(OnRing(p, angle, 66.0f), 0x3D, 0x33, 0x2E, 8)) << angle;
      }
    }
    for (auto [x, y] : inside) {
      const Colour c = p.At(x, y);
      if (masks) {
        // text_primary at 0.3 over the backdrop: a flat grey.
        ASSERT_TRUE(c.r > 70 && c.r < 110 && c.r - c.b < 15) << x << "," << y << " " << c.r;
      } else {
        ASSERT_LT(c.r, 40) << x << "," << y;  // nothing else drawn in its place
      }
    }
    for (auto [x, y] : outside) ASSERT_LT(p.At(x, y).r, 40) << x << "," << y;
  }
  if (!masks) return;
  // Elsewhere the mark is gold.
  for (auto [x, y] : inside) ASSERT_TRUE(IsGold(Shot(L"02-downloading").At(x, y))) << x << "," << y;
}

TEST_F(Snapshots, ButtonsStandWhereTheLayoutPutsThem) {
  for (Failure failure : {Failure::Offline, Failure::Verify, Failure::Disk, Failure::WindowsTooOld,
                          Failure::Retired, Failure::Blocked}) {
    const SnapshotSample& sample = kSnapshotSamples[3 + static_cast<int>(failure)];
    SCOPED_TRACE(std::string(sample.name.begin(), sample.name.end()));
    const Picture& p = Shot(std::wstring(sample.name).c_str());
    const ScreenLayout layout = LayoutFor(failure);
    // Gold pill: the gold run across its middle row is exactly the box.
    const RectF& primary = layout.primary_rect;
    int first = -1, last = -1;
    for (int x = 0; x < 640; ++x) {
      if (IsGold(p.Pixel(x, 2 * 304))) {
        if (first < 0) first = x;
        last = x;
      }
    }
    EXPECT_NEAR(first, 2 * primary.left, 2.0f);
    EXPECT_NEAR(last + 1, 2 * primary.right, 2.0f);
    // Its label is dark text on the gold.
    int darkest = 255;
    for (float x = primary.left + 16; x < primary.right - 16; x += 0.5f) {
      for (float y = 296; y < 312; y += 0.5f) darkest = std::min(darkest, p.At(x, y).r);
    }
    EXPECT_LT(darkest, 60);

    if (layout.secondary_action == ButtonAction::None) continue;
    // Outlined pill: a faint line on the edge, backdrop just inside it.
    const RectF& secondary = layout.secondary_rect;
    const float mid = (secondary.left + secondary.right) / 2;
    EXPECT_GT(p.At(mid, 288.5f).r, 35);
    EXPECT_LT(p.At(mid, 292.0f).r, 25);
    EXPECT_GT(p.At(secondary.left + 0.5f, 304).r, 35);
    EXPECT_LT(p.At(secondary.left - 3.0f, 304).r, 25);
    EXPECT_GT(MaxRed(p, {mid - 20, 296, mid + 20, 312}), 200);  // its label
  }
}

TEST_F(Snapshots, HoverLightsTryAgainAndTheCancelLink) {
  const ScreenLayout layout = LayoutFor(Failure::Offline);
  const RectF& b = layout.primary_rect;
  // The same spot of the gold pill, hovered on "05-offline" (opacity 1.0)
  // and at rest on "06-verify" (0.94).
  const Colour hovered = Shot(L"05-offline").At(b.left + 8, 304);
  const Colour resting = Shot(L"06-verify").At(b.left + 8, 304);
  EXPECT_GE(hovered.r - resting.r, 5);
  EXPECT_GE(hovered.g - resting.g, 5);

  // The link turns from text_secondary (#B9) to text_primary (#F1).
  const RectF link{127, 288, 193, 320};
  EXPECT_NEAR(MaxRed(Shot(L"02-downloading"), link), 0xB9, 12);
  EXPECT_GT(MaxRed(Shot(L"03-downloading-hover-cancel"), link), 0xE0);
}

TEST_F(Snapshots, EveryScreenShowsItsTextsAndTheCloseGlyph) {
  for (const auto& [name, p] : pictures_) {
    SCOPED_TRACE(std::string(name.begin(), name.end()));
    EXPECT_GT(MaxRed(p, {280, 8, 312, 40}), 120);     // the close glyph at rest
    EXPECT_GT(MaxRed(p, {20, 202, 300, 228}), 200);   // the title
    const bool failed = name >= L"05";
    if (failed) {
      EXPECT_GT(MaxRed(p, {26, 235, 294, 284}), 150);  // the explanation
    } else {
      EXPECT_GT(MaxRed(p, {20, 232, 300, 250}), 90);   // the detail line
      EXPECT_LT(MaxRed(p, {20, 252, 300, 284}), 40);   // nothing below it
    }
  }
}

}  // namespace
}  // namespace kestrelume
