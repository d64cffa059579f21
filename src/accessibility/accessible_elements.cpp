#include "accessibility/accessible_elements.h"

#include "base/decimal_text.h"
#include "ui/failure_screen.h"
#include "ui/screen_text.h"

namespace kestrelume {
namespace {

constexpr RectF kTitleBox{20, 202, 300, 228};
constexpr RectF kDetailBox{20, 232, 300, 250};
constexpr RectF kBodyBox{26, 235, 294, 284};
constexpr RectF kRingBox{94, 46, 226, 178};

bool SameBox(const RectF& a, const RectF& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

AccessibleElement Clickable(ElementRole role, std::wstring name, const RectF& box, float radius,
                            ButtonAction action) {
  AccessibleElement e;
  e.role = role;
  e.name = std::move(name);
  e.box = box;
  e.corner_radius = radius;
  e.action = action;
  return e;
}

}  // namespace

std::wstring PercentText(int percent) { return DecimalText(static_cast<uint64_t>(percent < 0 ? 0 : percent)) + L"%"; }

std::vector<AccessibleElement> AccessibleElementsFor(const Progress& progress,
                                                     const ScreenLayout& layout) {
  const bool failed = progress.phase == Phase::Failed;
  ScreenTexts texts = TextsFor(progress);
  std::vector<AccessibleElement> elements;
  elements.push_back({ElementRole::Text, std::move(texts.title), 0, kTitleBox, 0,
                      ButtonAction::None, failed});
  elements.push_back({ElementRole::Text, std::move(texts.second), 0, failed ? kBodyBox : kDetailBox,
                      0, ButtonAction::None, false});
  if (progress.phase == Phase::Downloading || progress.phase == Phase::Opening) {
    int percent = DownloadPercent(progress.bytes_done, progress.bytes_total);
    if (percent > 100) percent = 100;
    elements.push_back({ElementRole::Progress, L"Download progress", percent, kRingBox, 0,
                        ButtonAction::None, false});
  }
  const FailureScreen screen = failed ? FailureScreenFor(progress.failure) : FailureScreen{};
  const float pill = (kButtonBottom - kButtonTop) * 0.5f;
  if (layout.secondary_action == ButtonAction::Cancel) {
    elements.push_back(
        Clickable(ElementRole::Link, L"Cancel", layout.secondary_rect, 8.0f, ButtonAction::Cancel));
  } else if (layout.secondary_action != ButtonAction::None) {
    elements.push_back(Clickable(ElementRole::Button, screen.secondary_label, layout.secondary_rect,
                                 pill, layout.secondary_action));
  }
  if (layout.primary_action != ButtonAction::None) {
    elements.push_back(Clickable(ElementRole::Button, screen.primary_label, layout.primary_rect, pill,
                                 layout.primary_action));
  }
  elements.push_back(
      Clickable(ElementRole::Button, L"Close", layout.close_rect, 8.0f, ButtonAction::Close));
  return elements;
}

int NextFocus(const std::vector<AccessibleElement>& elements, int focus, bool backwards) {
  const int count = static_cast<int>(elements.size());
  if (count == 0) return -1;
  int i = focus < 0 || focus >= count ? (backwards ? count : -1) : focus;
  for (int step = 0; step < count; ++step) {
    i = backwards ? (i - 1 + count) % count : (i + 1) % count;
    if (IsClickable(elements[i])) return i;
  }
  return -1;
}

int CarriedFocus(const std::vector<AccessibleElement>& before, int focus,
                 const std::vector<AccessibleElement>& after) {
  if (focus < 0 || focus >= static_cast<int>(before.size())) return -1;
  const AccessibleElement& was = before[focus];
  if (!IsClickable(was)) return -1;
  int same_action = -1;
  for (int i = 0; i < static_cast<int>(after.size()); ++i) {
    if (after[i].action != was.action) continue;
    if (SameBox(after[i].box, was.box)) return i;
    if (same_action < 0) same_action = i;
  }
  return same_action;
}

bool SameScreen(const std::vector<AccessibleElement>& a, const std::vector<AccessibleElement>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i].role != b[i].role || a[i].action != b[i].action || a[i].live != b[i].live ||
        !SameBox(a[i].box, b[i].box) || (a[i].live && a[i].name != b[i].name)) {
      return false;
    }
  }
  return true;
}

}  // namespace kestrelume
