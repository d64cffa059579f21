#include "ui/failure_screen.h"

#include <gtest/gtest.h>

#include "manifest/attribution.h"

namespace kestrelume {
namespace {

TEST(FailureScreen, EachKnownFailureHasATitleAnExplanationAndAPrimaryButton) {
  for (uint32_t value = 1; value <= 6; ++value) {
    const FailureScreen s = FailureScreenFor(static_cast<Failure>(value));
    SCOPED_TRACE(value);
    EXPECT_FALSE(s.title.empty());
    EXPECT_FALSE(s.body.empty());
    EXPECT_NE(s.primary_action, ButtonAction::None);
    EXPECT_FALSE(s.primary_label.empty());
    // A label exactly when there is a button.
    EXPECT_EQ(s.secondary_action == ButtonAction::None, s.secondary_label.empty());
    // Apostrophes are plain ASCII.
    EXPECT_EQ(s.body.find(L'\u2019'), std::wstring::npos);
  }
}

TEST(FailureScreen, TextsAndButtonsMatchTheirFailure) {
  FailureScreen s = FailureScreenFor(Failure::Offline);
  EXPECT_EQ(s.title, L"Can't reach us");
  EXPECT_EQ(s.body, L"Check your connection, or get the offline installer.");
  EXPECT_EQ(s.primary_action, ButtonAction::TryAgain);
  EXPECT_EQ(s.primary_label, L"Try again");
  EXPECT_EQ(s.secondary_action, ButtonAction::OfflineInstaller);
  EXPECT_EQ(s.secondary_label, L"Offline installer");

  s = FailureScreenFor(Failure::WindowsTooOld);
  EXPECT_EQ(s.title, L"Windows too old");
  EXPECT_EQ(s.primary_action, ButtonAction::Close);
  EXPECT_EQ(s.primary_label, L"Close");
  EXPECT_EQ(s.secondary_action, ButtonAction::None);

  // The website button and the explanation name the same host it opens.
  const std::wstring host(kWebsiteHost);
  s = FailureScreenFor(Failure::Retired);
  EXPECT_EQ(s.body, L"This installer has been retired. Get the new one from " + host + L".");
  EXPECT_EQ(s.primary_action, ButtonAction::Website);
  EXPECT_EQ(s.primary_label, L"Open " + host);
  EXPECT_EQ(s.secondary_action, ButtonAction::Close);

  s = FailureScreenFor(Failure::Blocked);
  EXPECT_EQ(s.title, L"Setup blocked");
  EXPECT_EQ(s.primary_action, ButtonAction::Store);
  EXPECT_EQ(s.primary_label, L"Microsoft Store");
  EXPECT_EQ(s.secondary_action, ButtonAction::OfflineInstaller);

  EXPECT_EQ(FailureScreenFor(Failure::Verify).title, L"Check failed");
  EXPECT_EQ(FailureScreenFor(Failure::Disk).title, L"Can't save it");
}

TEST(FailureScreen, UnknownValuesGiveEmptyTextsAndNoButtons) {
  for (uint32_t value : {0u, 7u, 0xFFFFFFFFu}) {
    const FailureScreen s = FailureScreenFor(static_cast<Failure>(value));
    EXPECT_TRUE(s.title.empty() && s.body.empty());
    EXPECT_TRUE(s.primary_label.empty() && s.secondary_label.empty());
    EXPECT_EQ(s.primary_action, ButtonAction::None);
    EXPECT_EQ(s.secondary_action, ButtonAction::None);
  }
}

}  // namespace
}  // namespace kestrelume
