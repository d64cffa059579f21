// Base64Decode against a decoder written the textbook way: whitespace out,
// everything before the first "=" from the alphabet and only "=" after it,
// groups of four characters to three bytes, a short last group of n
// characters to n - 1 bytes, and a group of one refused.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "integrity/decode.h"

namespace {

constexpr std::string_view kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

bool ReferenceDecode(std::string_view text, std::vector<uint8_t>& out) {
  std::vector<uint32_t> values;
  bool padding = false;
  for (const char c : text) {
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
    if (c == '=') {
      padding = true;
      continue;
    }
    const size_t value = kAlphabet.find(c);
    if (padding || value == std::string_view::npos) return false;
    values.push_back(static_cast<uint32_t>(value));
  }
  if (values.size() % 4 == 1) return false;
  for (size_t i = 0; i < values.size(); i += 4) {
    const size_t count = std::min<size_t>(4, values.size() - i);
    uint32_t group = 0;
    for (size_t k = 0; k < 4; ++k) group = group << 6 | (k < count ? values[i + k] : 0);
    for (size_t k = 0; k + 1 < count; ++k) out.push_back(static_cast<uint8_t>(group >> (16 - 8 * k)));
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<uint8_t> out(3, 0xAA);
  const bool accepted = kestrelume::Base64Decode(text, out);
  std::vector<uint8_t> expected;
  const bool expected_accepted = ReferenceDecode(text, expected);
  FUZZ_CHECK(accepted == expected_accepted);
  if (accepted) {
    FUZZ_CHECK(out == expected);
  } else {
    FUZZ_CHECK(out.empty());
  }
  return 0;
}
