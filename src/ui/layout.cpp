#include "ui/layout.h"

#include <algorithm>
#include <cmath>

#include "ui/failure_screen.h"

namespace kestrelume {

float ButtonWidth(std::optional<float> measured, size_t code_units) {
  const float width = measured ? *measured : static_cast<float>(code_units) * 7.6f;
  return std::max(std::ceil(width) + 32.0f, 84.0f);
}

ScreenLayout LayoutScreen(Phase phase, Failure failure, const TextWidth& button_width,
                          const TextWidth& link_width) {
  ScreenLayout layout;
  layout.close_rect = kCloseRect;
  if (phase == Phase::Opening) return layout;

  if (phase == Phase::Failed) {
    const FailureScreen screen = FailureScreenFor(failure);
    layout.primary_action = screen.primary_action;
    layout.secondary_action = screen.secondary_action;
    // An unknown failure has no buttons; its rectangles stay zero.
    if (screen.primary_action == ButtonAction::None) return layout;
    const float w1 = ButtonWidth(button_width(screen.primary_label), screen.primary_label.size());
    float x1 = 0;
    if (screen.secondary_action != ButtonAction::None) {
      const float w2 =
          ButtonWidth(button_width(screen.secondary_label), screen.secondary_label.size());
      // Secondary on the left, primary on the right, 8 apart, centred; a
      // pair too wide keeps the left margin and runs off on the right.
      const float x2 = std::max((320.0f - w1 - w2 - 8.0f) * 0.5f, 12.0f);
      layout.secondary_rect = {x2, kButtonTop, x2 + w2, kButtonBottom};
      x1 = x2 + w2 + 8.0f;
    } else {
      x1 = std::max((320.0f - w1) * 0.5f, 12.0f);
    }
    layout.primary_rect = {x1, kButtonTop, x1 + w1, kButtonBottom};
    return layout;
  }

  // Checking and downloading: only the "Cancel" link.
  layout.secondary_action = ButtonAction::Cancel;
  const std::optional<float> measured = link_width(L"Cancel");
  const float c = measured ? std::ceil(*measured) + 20.0f : 66.0f;
  layout.secondary_rect = {(320.0f - c) * 0.5f, kButtonTop, (320.0f + c) * 0.5f, kButtonBottom};
  return layout;
}

bool Contains(const RectF& rect, float x, float y) {
  return rect.left <= x && x < rect.right && rect.top <= y && y < rect.bottom;
}

ButtonAction HitTest(const ScreenLayout& layout, float x, float y) {
  if (Contains(layout.close_rect, x, y)) return ButtonAction::Close;
  if (layout.primary_action != ButtonAction::None && Contains(layout.primary_rect, x, y)) {
    return layout.primary_action;
  }
  if (layout.secondary_action != ButtonAction::None && Contains(layout.secondary_rect, x, y)) {
    return layout.secondary_action;
  }
  return ButtonAction::None;
}

ScreenLayout LayoutOf(const App& app) {
  return {app.close_rect, app.primary_rect, app.secondary_rect, app.primary_action,
          app.secondary_action};
}

void App::Layout() {
  const Renderer& r = renderer;
  const ScreenLayout layout = LayoutScreen(
      shown_progress.phase, shown_progress.failure,
      [&r](std::wstring_view text) { return r.MeasureWidth(text, r.button_format.Get()); },
      [&r](std::wstring_view text) { return r.MeasureWidth(text, r.link_format.Get()); });
  close_rect = layout.close_rect;
  primary_rect = layout.primary_rect;
  secondary_rect = layout.secondary_rect;
  primary_action = layout.primary_action;
  secondary_action = layout.secondary_action;
}

ButtonAction App::HitTest(float x, float y) const { return kestrelume::HitTest(LayoutOf(*this), x, y); }

}  // namespace kestrelume
