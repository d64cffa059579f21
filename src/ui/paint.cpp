#include <algorithm>

#include "app/app.h"
#include "accessibility/accessible_elements.h"
#include "ui/animation.h"
#include "ui/failure_screen.h"
#include "ui/palette.h"
#include "ui/renderer.h"
#include "ui/ring.h"
#include "ui/screen_text.h"

namespace kestrelume {
namespace {

using Microsoft::WRL::ComPtr;
using namespace palette;

D2D1_RECT_F ToD2D(const RectF& r) { return {r.left, r.top, r.right, r.bottom}; }

ComPtr<ID2D1SolidColorBrush> SolidBrush(ID2D1RenderTarget* target, const D2D1_COLOR_F& colour) {
  ComPtr<ID2D1SolidColorBrush> brush;
  target->CreateSolidColorBrush(colour, &brush);
  return brush;
}

const D2D1_ELLIPSE kRing{kRingCentre, kRingRadius, kRingRadius};
constexpr D2D1_RECT_F kTitleBox{20, 202, 300, 228};
constexpr D2D1_RECT_F kDetailBox{20, 232, 300, 250};
constexpr D2D1_RECT_F kBodyBox{26, 235, 294, 284};
constexpr D2D1_RECT_F kLogoBox{129, 81, 191, 143};

void DrawBackdrop(ID2D1RenderTarget* target) {
  const D2D1_GRADIENT_STOP stops[] = {{0.0f, Rgb(kBackdropCentre)}, {1.0f, Rgb(kBackground)}};
  ComPtr<ID2D1GradientStopCollection> collection;
  ComPtr<ID2D1RadialGradientBrush> brush;
  if (FAILED(target->CreateGradientStopCollection(stops, 2, D2D1_GAMMA_2_2, D2D1_EXTEND_MODE_CLAMP,
                                                  &collection)) ||
      FAILED(target->CreateRadialGradientBrush(
          D2D1::RadialGradientBrushProperties(kRingCentre, D2D1::Point2F(0, 0), 250.0f, 220.0f),
          collection.Get(), &brush))) {
    return;
  }
  target->FillRectangle(D2D1::RectF(0, 0, 320, 340), brush.Get());
}

// Two gold circles outside the ring, faded in by `strength`.
void DrawHalo(ID2D1RenderTarget* target, float strength) {
  ComPtr<ID2D1SolidColorBrush> brush = SolidBrush(target, Rgb(kHaloGold, 0.2f * strength));
  if (!brush) return;
  target->DrawEllipse({kRingCentre, 70.0f, 70.0f}, brush.Get(), 6.0f);
  brush->SetColor(Rgb(kHaloGold, 0.07f * strength));
  target->DrawEllipse({kRingCentre, 75.0f, 75.0f}, brush.Get(), 8.0f);
}

}  // namespace

void Renderer::DrawLabel(ID2D1RenderTarget* target, std::wstring_view text,
                         IDWriteTextFormat* format, const D2D1_RECT_F& box,
                         const D2D1_COLOR_F& colour, bool underline, bool shrink_to_fit) const {
  ComPtr<ID2D1SolidColorBrush> brush = SolidBrush(target, colour);
  if (!brush || !format || !dwrite_factory) return;
  const float width = box.right - box.left;
  ComPtr<IDWriteTextLayout> layout;
  if (FAILED(dwrite_factory->CreateTextLayout(text.data(), static_cast<UINT32>(text.size()), format,
                                              width, box.bottom - box.top, &layout))) {
    return;
  }
  const DWRITE_TEXT_RANGE all{0, static_cast<UINT32>(text.size())};
  if (underline) layout->SetUnderline(TRUE, all);
  DWRITE_TEXT_METRICS metrics{};
  if (shrink_to_fit && SUCCEEDED(layout->GetMetrics(&metrics)) &&
      metrics.widthIncludingTrailingWhitespace > width) {
    layout->SetFontSize(format->GetFontSize() * width / metrics.widthIncludingTrailingWhitespace,
                        all);
  }
  target->DrawTextLayout({box.left, box.top}, layout.Get(), brush.Get(),
                         D2D1_DRAW_TEXT_OPTIONS_CLIP);
}

void Renderer::DrawButton(ID2D1RenderTarget* target, const D2D1_RECT_F& box,
                          std::wstring_view label, bool primary, bool hovered,
                          bool pressed) const {
  const float radius = (box.bottom - box.top) * 0.5f;
  const D2D1_ROUNDED_RECT pill{box, radius, radius};
  if (high_contrast) {
    // Solid system pairs: highlight for the primary button and for any
    // button under the mouse, an outline in the button text colour otherwise.
    const SystemColours& c = system_colours;
    const bool filled = primary || hovered || pressed;
    if (filled) {
      if (ComPtr<ID2D1SolidColorBrush> fill = SolidBrush(target, Rgb(c.highlight))) {
        target->FillRoundedRectangle(pill, fill.Get());
      }
    }
    if (!filled || hovered) {
      if (ComPtr<ID2D1SolidColorBrush> line =
              SolidBrush(target, Rgb(filled ? c.window_text : c.button_text))) {
        target->DrawRoundedRectangle(
            {{box.left + 1, box.top + 1, box.right - 1, box.bottom - 1}, radius - 1, radius - 1},
            line.Get(), 2.0f);
      }
    }
    DrawLabel(target, label, button_format.Get(), box,
              Rgb(filled ? c.highlight_text : c.window_text), false, false);
    return;
  }
  if (primary) {
    ComPtr<ID2D1LinearGradientBrush> gold = MakeGoldBrush(
        target, {box.left - 20.0f, box.top}, {box.right + 20.0f, box.bottom});
    if (gold) {
      gold->SetOpacity(pressed ? 0.82f : hovered ? 1.0f : 0.94f);
      target->FillRoundedRectangle(pill, gold.Get());
    }
    DrawLabel(target, label, button_format.Get(), box, Rgb(kBackground), false, false);
    return;
  }
  if (hovered || pressed) {
    if (ComPtr<ID2D1SolidColorBrush> fill =
            SolidBrush(target, Rgb(kTextPrimary, pressed ? 0.10f : 0.06f))) {
      target->FillRoundedRectangle(pill, fill.Get());
    }
  }
  // Half a DIP in, so the one-DIP line lies inside the box.
  const D2D1_ROUNDED_RECT outline{
      {box.left + 0.5f, box.top + 0.5f, box.right - 0.5f, box.bottom - 0.5f},
      radius - 0.5f, radius - 0.5f};
  if (ComPtr<ID2D1SolidColorBrush> line =
          SolidBrush(target, Rgb(kTextPrimary, hovered ? 0.34f : 0.16f))) {
    target->DrawRoundedRectangle(outline, line.Get(), 1.0f);
  }
  DrawLabel(target, label, button_format.Get(), box, Rgb(kTextPrimary), false, false);
}

void Renderer::DrawArc(ID2D1RenderTarget* target, float start, float sweep, ID2D1Brush* brush,
                       ID2D1StrokeStyle* stroke) const {
  switch (ArcShapeFor(sweep)) {
    case ArcShape::None:
      return;
    case ArcShape::FullRing:
      target->DrawEllipse(kRing, brush, 3.0f, stroke);
      return;
    case ArcShape::Partial:
      break;
  }
  ComPtr<ID2D1PathGeometry> path;
  ComPtr<ID2D1GeometrySink> sink;
  if (!d2d_factory || FAILED(d2d_factory->CreatePathGeometry(&path)) ||
      FAILED(path->Open(&sink))) {
    return;
  }
  sink->BeginFigure(RingPoint(start), D2D1_FIGURE_BEGIN_HOLLOW);
  const std::vector<D2D1_BEZIER_SEGMENT> segments = RingArcBeziers(start, sweep);
  sink->AddBeziers(segments.data(), static_cast<UINT32>(segments.size()));
  sink->EndFigure(D2D1_FIGURE_END_OPEN);
  if (FAILED(sink->Close())) return;
  target->DrawGeometry(path.Get(), brush, 3.0f, stroke);
}

void Renderer::Paint(const App& app, ID2D1RenderTarget* target, ID2D1Bitmap* logo) const {
  const Progress& progress = app.shown_progress;
  const uint64_t now = GetTickCount64();
  const bool failed = progress.phase == Phase::Failed;
  // In high contrast every colour is one of the system's, with no gradient
  // and no halo.
  const bool contrast = high_contrast;
  const SystemColours& system = system_colours;

  target->Clear(Rgb(contrast ? system.window : kBackground));
  if (!contrast) DrawBackdrop(target);

  // Close glyph; pressing alone fills its box but does not light the glyph.
  const bool close_lit = app.hover == ButtonAction::Close || app.pressed == ButtonAction::Close;
  if (close_lit) {
    const float alpha = app.pressed == ButtonAction::Close ? 0.12f : 0.07f;
    if (ComPtr<ID2D1SolidColorBrush> fill =
            SolidBrush(target, contrast ? Rgb(system.highlight) : Rgb(kTextPrimary, alpha))) {
      target->FillRoundedRectangle({ToD2D(app.close_rect), 8.0f, 8.0f}, fill.Get());
    }
  }
  DrawLabel(target, L"\uE8BB", icon_format.Get(), ToD2D(app.close_rect),
            contrast ? Rgb(close_lit ? system.highlight_text : system.window_text)
                     : Rgb(app.hover == ButtonAction::Close ? kTextPrimary : kTextSecondary),
            false, false);

  // The ring: dotted on a failure screen; otherwise a track with the spinner
  // or the progress arc over it, and on opening a full gold ring and the halo.
  ComPtr<ID2D1Brush> gold;
  if (contrast) {
    gold = SolidBrush(target, Rgb(system.highlight));
  } else {
    gold = MakeGoldBrush(target, {94, 46}, {226, 178});
  }
  if (failed) {
    if (ComPtr<ID2D1SolidColorBrush> track =
            SolidBrush(target, Rgb(contrast ? system.button_text : kTrackFailed))) {
      target->DrawEllipse(kRing, track.Get(), 2.5f, dotted_stroke.Get());
    }
  } else {
    if (ComPtr<ID2D1SolidColorBrush> track =
            SolidBrush(target, Rgb(contrast ? system.button_text : kTrack))) {
      target->DrawEllipse(kRing, track.Get(), 3.0f);
    }
    if (gold) {
      if (progress.phase == Phase::Checking) {
        DrawArc(target,
                SpinnerStartAngle(ElapsedSeconds(now, app.spin_start_tick), app.animations_enabled),
                kSpinnerSweep, gold.Get(), round_stroke.Get());
      } else {
        DrawArc(target, -90.0f, ProgressSweep(app.fraction), gold.Get(), round_stroke.Get());
      }
    }
    if (progress.phase == Phase::Opening) {
      if (gold) target->DrawEllipse(kRing, gold.Get(), 3.0f, round_stroke.Get());
      if (!contrast) {
        DrawHalo(target, HaloStrength(ElapsedSeconds(now, app.phase_tick), app.animations_enabled));
      }
    }
  }

  // The logo is an opacity mask: flat and dim on failure screens, gold
  // elsewhere.
  if (logo) {
    ComPtr<ID2D1Brush> fill;
    if (contrast) {
      fill = SolidBrush(target, Rgb(system.window_text));
    } else if (failed) {
      fill = SolidBrush(target, Rgb(kTextPrimary, 0.3f));
    } else if (gold) {
      fill = MakeGoldBrush(target, {kLogoBox.left, kLogoBox.top}, {kLogoBox.right, kLogoBox.bottom});
    }
    if (!fill) fill = gold;
    if (fill) {
      const D2D1_SIZE_F size = logo->GetSize();
      const D2D1_RECT_F source{0, 0, size.width, size.height};
      // FillOpacityMask works only with aliased drawing.
      target->SetAntialiasMode(D2D1_ANTIALIAS_MODE_ALIASED);
      target->FillOpacityMask(logo, fill.Get(), D2D1_OPACITY_MASK_CONTENT_GRAPHICS, &kLogoBox,
                              &source);
      target->SetAntialiasMode(D2D1_ANTIALIAS_MODE_PER_PRIMITIVE);
    }
  }
  gold.Reset();

  const ScreenTexts texts = TextsFor(progress);
  DrawLabel(target, texts.title, title_format.Get(), kTitleBox,
            Rgb(contrast ? system.window_text : kTextPrimary), false, true);
  if (failed) {
    DrawLabel(target, texts.second, body_format.Get(), kBodyBox,
              Rgb(contrast ? system.window_text : kTextSecondary), false, false);
  } else {
    DrawLabel(target, texts.second, detail_format.Get(), kDetailBox,
              Rgb(contrast ? system.gray_text : kTextTertiary), false, false);
  }

  const FailureScreen screen = failed ? FailureScreenFor(progress.failure) : FailureScreen{};
  if (app.primary_action != ButtonAction::None) {
    DrawButton(target, ToD2D(app.primary_rect), screen.primary_label, true,
               app.hover == app.primary_action, app.pressed == app.primary_action);
  }
  if (app.secondary_action == ButtonAction::Cancel) {
    const bool lit = app.hover == ButtonAction::Cancel || app.pressed == ButtonAction::Cancel;
    DrawLabel(target, L"Cancel", link_format.Get(), ToD2D(app.secondary_rect),
              contrast ? Rgb(lit ? system.highlight : system.window_text)
                       : Rgb(lit ? kTextPrimary : kTextSecondary),
              true, false);
  } else if (app.secondary_action != ButtonAction::None) {
    DrawButton(target, ToD2D(app.secondary_rect), screen.secondary_label, false,
               app.hover == app.secondary_action, app.pressed == app.secondary_action);
  }
  DrawFocusRing(app, target);
}

// Around the keyboard focus only, which exists from the first Tab on: 3 DIPs
// outside the element's shape, 2 wide.
void Renderer::DrawFocusRing(const App& app, ID2D1RenderTarget* target) const {
  if (app.focus < 0) return;
  const std::vector<AccessibleElement> elements =
      AccessibleElementsFor(app.shown_progress, LayoutOf(app));
  if (app.focus >= static_cast<int>(elements.size())) return;
  const AccessibleElement& e = elements[app.focus];
  if (!IsClickable(e)) return;
  ComPtr<ID2D1SolidColorBrush> brush = SolidBrush(
      target, high_contrast ? Rgb(system_colours.highlight) : Rgb(kTextPrimary, 0.8f));
  if (!brush) return;
  constexpr float kOut = 4.0f;  // 3 DIPs of gap plus half the stroke
  const D2D1_ROUNDED_RECT ring{
      {e.box.left - kOut, e.box.top - kOut, e.box.right + kOut, e.box.bottom + kOut},
      e.corner_radius + kOut, e.corner_radius + kOut};
  target->DrawRoundedRectangle(ring, brush.Get(), 2.0f);
}

}  // namespace kestrelume
