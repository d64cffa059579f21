#pragma once
// What assistive technology is told about a screen: its elements in reading
// order, with the names a person hears. Value in, value out; the window's
// UI Automation and MSAA providers, its keyboard focus and its focus ring are
// all derived from this one list.

#include <cstdint>
#include <string>
#include <vector>

#include "ui/layout.h"
#include "workflow/progress.h"

namespace kestrelume {

enum class ElementRole : uint8_t { Text, Progress, Button, Link };

struct AccessibleElement {
  ElementRole role = ElementRole::Text;
  std::wstring name;          // the visible label, or the text as drawn
  int percent = 0;            // Progress only: 0 to 100
  RectF box;                  // DIPs of the client area
  float corner_radius = 0;    // of the clickable shape, for the focus ring
  ButtonAction action = ButtonAction::None;  // Button and Link only
  bool live = false;          // announced at once when its screen appears
};

// Title, second text, the progress element on the downloading and opening
// screens, the clickable elements from left to right, then the close glyph.
std::vector<AccessibleElement> AccessibleElementsFor(const Progress& progress,
                                                     const ScreenLayout& layout);

inline bool IsClickable(const AccessibleElement& e) { return e.action != ButtonAction::None; }

// "34%": the value of the progress element.
std::wstring PercentText(int percent);

// Tab order: the clickable element after (or before) `focus` in reading
// order, wrapping around; -1 for none gives the first (or the last). -1 when
// the screen has nothing clickable.
int NextFocus(const std::vector<AccessibleElement>& elements, int focus, bool backwards);

// After a change of screen: the element of `after` that carries the focused
// action of `before` (the same box first), or -1.
int CarriedFocus(const std::vector<AccessibleElement>& before, int focus,
                 const std::vector<AccessibleElement>& after);

// True when the two lists show the same screen: the same roles and actions
// in the same places and the same live texts; other texts may differ.
bool SameScreen(const std::vector<AccessibleElement>& a, const std::vector<AccessibleElement>& b);

}  // namespace kestrelume
