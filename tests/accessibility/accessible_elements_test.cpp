#include "accessibility/accessible_elements.h"

#include <gtest/gtest.h>

#include <string>

namespace kestrelume {
namespace {

const TextWidth kUnmeasured = [](std::wstring_view) { return std::optional<float>(); };

std::vector<AccessibleElement> ElementsOf(Phase phase, Failure failure, uint64_t done = 0,
                                          uint64_t total = 0) {
  const Progress progress{phase, failure, "", total, done, L""};
  return AccessibleElementsFor(progress, LayoutScreen(phase, failure, kUnmeasured, kUnmeasured));
}

// One letter per element: T text, P progress, B button, L link; then the names.
std::wstring Describe(const std::vector<AccessibleElement>& elements) {
  std::wstring out;
  for (const AccessibleElement& e : elements) {
    out += L"TPBL"[static_cast<int>(e.role)];
    out += L":" + e.name + (e.role == ElementRole::Progress ? L"=" + PercentText(e.percent) : L"") +
           (e.live ? L"!" : L"") + L"|";
  }
  return out;
}

TEST(AccessibleElements, EveryScreenInReadingOrderWithTheNamesAsDrawn) {
  struct Case {
    Phase phase;
    Failure failure;
    uint64_t done, total;
    const wchar_t* expected;
  } cases[] = {
      {Phase::Checking, Failure::None, 0, 0,
       L"T:Getting ready|T:finding the latest version|L:Cancel|B:Close|"},
      {Phase::Downloading, Failure::None, 2'200'000, 6'440'070,
       L"T:Downloading \u00B7 34%|T:2.1 of 6.1 MB|P:Download progress=34%|L:Cancel|B:Close|"},
      {Phase::Opening, Failure::None, 6'440'070, 6'440'070,
       L"T:Opening setup|T:follow the setup window|P:Download progress=100%|B:Close|"},
      {Phase::Failed, Failure::Offline, 0, 0,
       L"T:Can't reach us!|T:Check your connection, or get the offline installer.|"
       L"B:Offline installer|B:Try again|B:Close|"},
      {Phase::Failed, Failure::WindowsTooOld, 0, 0,
       L"T:Windows too old!|T:Kestrelume needs Windows 10 version 1809 or later.|B:Close|B:Close|"},
      // More bytes than promised never reads above 100.
      {Phase::Downloading, Failure::None, 7'000'000, 6'440'070,
       L"T:Downloading \u00B7 108%|T:6.7 of 6.1 MB|P:Download progress=100%|L:Cancel|B:Close|"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Describe(ElementsOf(c.phase, c.failure, c.done, c.total)), c.expected);
  }
  // Boxes follow the layout: the secondary button left of the primary.
  const auto offline = ElementsOf(Phase::Failed, Failure::Offline);
  EXPECT_FLOAT_EQ(offline[2].box.left, 24.5f);
  EXPECT_FLOAT_EQ(offline[3].box.right, 295.5f);
  EXPECT_FLOAT_EQ(offline[3].corner_radius, 16.0f);
  EXPECT_EQ(offline[4].action, ButtonAction::Close);
  EXPECT_FLOAT_EQ(offline[4].box.left, 280.0f);
}

TEST(AccessibleElements, TabWrapsThroughTheClickableElementsInReadingOrder) {
  const auto offline = ElementsOf(Phase::Failed, Failure::Offline);  // clickable: 2, 3, 4
  EXPECT_EQ(NextFocus(offline, -1, false), 2);
  EXPECT_EQ(NextFocus(offline, 2, false), 3);
  EXPECT_EQ(NextFocus(offline, 4, false), 2);
  EXPECT_EQ(NextFocus(offline, -1, true), 4);
  EXPECT_EQ(NextFocus(offline, 2, true), 4);
  EXPECT_EQ(NextFocus({}, -1, false), -1);
  const auto opening = ElementsOf(Phase::Opening, Failure::None, 1, 1);  // only the close glyph
  EXPECT_EQ(NextFocus(opening, 3, false), 3);
}

TEST(AccessibleElements, NewScreenKeepsFocusOnlyWhereTheFocusedActionIsStillOffered) {
  const auto checking = ElementsOf(Phase::Checking, Failure::None);
  const auto downloading = ElementsOf(Phase::Downloading, Failure::None, 1, 2);
  const auto offline = ElementsOf(Phase::Failed, Failure::Offline);
  const auto too_old = ElementsOf(Phase::Failed, Failure::WindowsTooOld);
  EXPECT_EQ(CarriedFocus(checking, 2, downloading), 3);  // Cancel moves past the progress element
  EXPECT_EQ(CarriedFocus(offline, 3, checking), -1);     // "Try again" is gone
  EXPECT_EQ(CarriedFocus(checking, 3, too_old), 3);      // the glyph, not the "Close" button
  EXPECT_EQ(CarriedFocus(checking, -1, downloading), -1);
  EXPECT_EQ(CarriedFocus(checking, 0, downloading), -1);  // texts never hold focus

  EXPECT_TRUE(SameScreen(ElementsOf(Phase::Downloading, Failure::None, 1, 3), downloading));
  EXPECT_FALSE(SameScreen(checking, downloading));
  EXPECT_FALSE(SameScreen(ElementsOf(Phase::Failed, Failure::Verify), offline));
}

}  // namespace
}  // namespace kestrelume
