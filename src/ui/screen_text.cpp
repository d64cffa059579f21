#include "ui/screen_text.h"

#include <cwchar>
#include <string>

#include "ui/failure_screen.h"

namespace kestrelume {
namespace {

std::wstring Decimal(int value) {
  const std::string digits = std::to_string(value);
  return std::wstring(digits.begin(), digits.end());  // ASCII digits and sign
}

}  // namespace

int DownloadPercent(uint64_t done, uint64_t total) {
  if (total == 0) return 0;
  const double percent = static_cast<double>(done) * 100.0 / static_cast<double>(total);
  // More bytes than expected must not overflow the conversion.
  if (!(percent < 2147483647.0)) return 2147483647;
  return static_cast<int>(percent);
}

std::wstring Megabytes(uint64_t bytes) {
  wchar_t buffer[32] = {};
  // The C runtime's own formatting (msvcrt), not the replacement printf
  // family that mingw-w64 puts in its place, which would add some 25 KB.
  // At most 16 digits, the point and one decimal: it always fits, and the
  // zeroed last element terminates it in any case.
  _snwprintf(buffer, 31, L"%.1f", static_cast<double>(bytes) * (1.0 / 1048576.0));
  return buffer;
}

ScreenTexts TextsFor(const Progress& progress) {
  switch (progress.phase) {
    case Phase::Checking:
      return {L"Getting ready", L"finding the latest version"};
    case Phase::Downloading:
      return {L"Downloading \u00B7 " +
                  Decimal(DownloadPercent(progress.bytes_done, progress.bytes_total)) + L"%",
              Megabytes(progress.bytes_done) + L" of " + Megabytes(progress.bytes_total) + L" MB"};
    case Phase::Opening:
      return {L"Opening setup", L"follow the setup window"};
    case Phase::Failed: {
      FailureScreen screen = FailureScreenFor(progress.failure);
      return {std::move(screen.title), std::move(screen.body)};
    }
  }
  return {};
}

}  // namespace kestrelume
