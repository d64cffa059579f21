#include "ui/failure_screen.h"

#include "manifest/attribution.h"

namespace kestrelume {

FailureScreen FailureScreenFor(Failure failure) {
  const std::wstring host(kWebsiteHost);
  switch (failure) {
    case Failure::Offline:
      return {L"Can't reach us", L"Check your connection, or get the offline installer.",
              ButtonAction::TryAgain, L"Try again", ButtonAction::OfflineInstaller,
              L"Offline installer"};
    case Failure::Verify:
      return {L"Check failed",
              L"The download didn't match our signature, so nothing was installed. Try again soon.",
              ButtonAction::TryAgain, L"Try again", ButtonAction::OfflineInstaller,
              L"Offline installer"};
    case Failure::Disk:
      return {L"Can't save it",
              L"Windows wouldn't let us write to AppData. Free up some space and try again.",
              ButtonAction::TryAgain, L"Try again", ButtonAction::OfflineInstaller,
              L"Offline installer"};
    case Failure::WindowsTooOld:
      return {L"Windows too old", L"Kestrelume needs Windows 10 version 1809 or later.",
              ButtonAction::Close, L"Close", ButtonAction::None, L""};
    case Failure::Retired:
      return {L"Out of date",
              L"This installer has been retired. Get the new one from " + host + L".",
              ButtonAction::Website, L"Open " + host, ButtonAction::Close, L"Close"};
    case Failure::Blocked:
      return {L"Setup blocked",
              L"Smart App Control or antivirus stopped it. The Store version isn't blocked.",
              ButtonAction::Store, L"Microsoft Store", ButtonAction::OfflineInstaller,
              L"Offline installer"};
    default:
      return {};
  }
}

}  // namespace kestrelume
