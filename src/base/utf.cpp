#include "base/utf.h"

#include <windows.h>

#include <climits>

namespace kestrelume {

// Both directions ask for the length first and convert in a second call.
// Lengths travel as signed 32-bit counts, so anything longer than INT_MAX
// units cannot be converted and gives an empty result, like a failed call.

std::wstring Utf8ToWide(std::string_view utf8) {
  if (utf8.empty() || utf8.size() > static_cast<size_t>(INT_MAX)) return {};
  const int source_length = static_cast<int>(utf8.size());
  const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), source_length, nullptr, 0);
  if (length <= 0) return {};
  std::wstring wide(static_cast<size_t>(length), L'\0');
  const int written = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), source_length, wide.data(), length);
  if (written <= 0) return {};
  wide.resize(static_cast<size_t>(written));
  return wide;
}

std::string WideToUtf8(std::wstring_view wide) {
  if (wide.empty() || wide.size() > static_cast<size_t>(INT_MAX)) return {};
  const int source_length = static_cast<int>(wide.size());
  const int length =
      WideCharToMultiByte(CP_UTF8, 0, wide.data(), source_length, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return {};
  std::string utf8(static_cast<size_t>(length), '\0');
  const int written = WideCharToMultiByte(CP_UTF8, 0, wide.data(), source_length, utf8.data(), length,
                                          nullptr, nullptr);
  if (written <= 0) return {};
  utf8.resize(static_cast<size_t>(written));
  return utf8;
}

}  // namespace kestrelume
