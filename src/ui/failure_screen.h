#pragma once
// What each failure screen says and which buttons it offers. Value in, value
// out.

#include <string>

#include "app/app.h"
#include "workflow/progress.h"

namespace kestrelume {

struct FailureScreen {
  std::wstring title;
  std::wstring body;
  ButtonAction primary_action = ButtonAction::None;
  std::wstring primary_label;
  ButtonAction secondary_action = ButtonAction::None;
  std::wstring secondary_label;
};

// Any value other than Failure::Offline .. Failure::Blocked gives empty texts
// and no buttons.
FailureScreen FailureScreenFor(Failure failure);

}  // namespace kestrelume
