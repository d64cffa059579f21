#pragma once
// ASCII-only case folding, for the protocol words, host names and digests
// that are compared without regard to case. Other characters pass unchanged,
// whatever the user's locale.

#include <string>
#include <string_view>

namespace kestrelume {

inline wchar_t AsciiLower(wchar_t c) {
  return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

inline std::string AsciiLower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

}  // namespace kestrelume
