#include "app/outcome.h"

#include <string>

#include "app/window.h"
#include "base/unique_handle.h"
#include "base/utf.h"

namespace kestrelume {

std::wstring_view OutcomeToken(Failure failure) {
  switch (failure) {
    case Failure::Offline: return L"offline";
    case Failure::Verify: return L"verify";
    case Failure::Disk: return L"disk";
    case Failure::WindowsTooOld: return L"windows-too-old";
    case Failure::Retired: return L"retired";
    case Failure::Blocked: return L"blocked";
    default: return L"none";
  }
}

void ReportOutcome(App& app, std::wstring_view token) {
  if (app.outcome_path.empty()) return;
  const std::string bytes = WideToUtf8(token);
  UniqueFile file(CreateFileW(app.outcome_path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file) {
    DWORD written = 0;
    WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  }
  SetTimer(app.window.load(), CLOSE_TIMER, 200, nullptr);
}

}  // namespace kestrelume
