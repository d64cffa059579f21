#pragma once
// Conversions between UTF-8 byte strings (everything that comes off the
// network) and UTF-16 (file names and every Windows call). Malformed input is
// not refused: each bad sequence becomes U+FFFD. Safe on any thread.

#include <string>
#include <string_view>

namespace kestrelume {

std::wstring Utf8ToWide(std::string_view utf8);
std::string WideToUtf8(std::wstring_view wide);

}  // namespace kestrelume
