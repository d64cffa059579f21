#pragma once
// Where the buttons of a screen sit, and which element is under a point.
// Geometry in DIPs of the 320 x 340 client area. Value in, value out; the
// App members at the end apply them to the window's state.

#include <cstddef>
#include <functional>
#include <optional>
#include <string_view>

#include "app/app.h"
#include "workflow/progress.h"

namespace kestrelume {

struct ScreenLayout {
  RectF close_rect;
  RectF primary_rect;
  RectF secondary_rect;
  ButtonAction primary_action = ButtonAction::None;
  ButtonAction secondary_action = ButtonAction::None;
};

inline constexpr RectF kCloseRect{280, 8, 312, 40};
inline constexpr float kButtonTop = 288;
inline constexpr float kButtonBottom = 320;

// Laid-out width of a label, or nothing when it cannot be measured.
using TextWidth = std::function<std::optional<float>(std::wstring_view text)>;

// A pill button: the label's width rounded up plus 32, at least 84; an
// unmeasured label counts 7.6 DIPs per UTF-16 code unit.
float ButtonWidth(std::optional<float> measured, size_t code_units);

// `button_width` measures in the button font, `link_width` in the link font.
ScreenLayout LayoutScreen(Phase phase, Failure failure, const TextWidth& button_width,
                          const TextWidth& link_width);

// Half-open: left <= x < right and top <= y < bottom.
bool Contains(const RectF& rect, float x, float y);
ButtonAction HitTest(const ScreenLayout& layout, float x, float y);

// The layout fields that App holds.
ScreenLayout LayoutOf(const App& app);

}  // namespace kestrelume
