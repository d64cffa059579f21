// HexDecode against its inverse: what it accepts is an even number of hex
// digits, and the bytes written back as lower-case hex are the text itself,
// lower-cased.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "integrity/decode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<uint8_t> out(3, 0xAA);
  const bool accepted = kestrelume::HexDecode(text, out);
  const bool well_formed =
      text.size() % 2 == 0 && text.find_first_not_of("0123456789abcdefABCDEF") == std::string_view::npos;
  FUZZ_CHECK(accepted == well_formed);
  if (!accepted) {
    FUZZ_CHECK(out.empty());
    return 0;
  }
  constexpr std::string_view kDigits = "0123456789abcdef";
  std::string written;
  for (const uint8_t byte : out) {
    written += kDigits[byte >> 4];
    written += kDigits[byte & 0xF];
  }
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
  }
  FUZZ_CHECK(written == lower);
  return 0;
}
