#pragma once
// Whole numbers as decimal text, written out by hand: std::to_wstring goes
// through the C library's printf, which brings some 20 KB of formatting code
// into the installer.

#include <cstdint>
#include <string>

namespace kestrelume {

inline std::wstring DecimalText(uint64_t value) {
  wchar_t digits[20];
  int count = 0;
  do {
    digits[count++] = static_cast<wchar_t>(L'0' + value % 10);
    value /= 10;
  } while (value != 0);
  std::wstring text;
  while (count > 0) text += digits[--count];
  return text;
}

}  // namespace kestrelume
