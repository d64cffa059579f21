#pragma once
// The two text forms that keys and signatures arrive in. Both empty `out`
// first and leave it empty on failure. Value in, value out; any thread.

#include <cstdint>
#include <string_view>
#include <vector>

namespace kestrelume {

// Pairs of hex digits of either case; an odd length or any other character
// fails.
bool HexDecode(std::string_view text, std::vector<uint8_t>& out);
// Standard alphabet; whitespace anywhere, padding optional and not counted.
bool Base64Decode(std::string_view text, std::vector<uint8_t>& out);

}  // namespace kestrelume
