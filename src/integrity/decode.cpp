#include "integrity/decode.h"

namespace kestrelume {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

bool IsBase64Space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

bool HexDecode(std::string_view text, std::vector<uint8_t>& out) {
  out.clear();
  if (text.size() % 2 != 0) return false;
  out.reserve(text.size() / 2);
  for (size_t i = 0; i < text.size(); i += 2) {
    const int high = HexValue(text[i]);
    const int low = HexValue(text[i + 1]);
    if (high < 0 || low < 0) {
      out.clear();
      return false;
    }
    out.push_back(static_cast<uint8_t>(high << 4 | low));
  }
  return true;
}

bool Base64Decode(std::string_view text, std::vector<uint8_t>& out) {
  out.clear();
  uint32_t bits = 0;
  int bit_count = 0;
  bool padding = false;
  for (const char c : text) {
    if (IsBase64Space(c)) continue;
    if (c == '=') {
      padding = true;
      continue;
    }
    const int value = padding ? -1 : Base64Value(c);
    if (value < 0) {
      out.clear();
      return false;
    }
    bits = (bits << 6 | static_cast<uint32_t>(value)) & 0xFFFF;
    bit_count += 6;
    if (bit_count >= 8) {
      bit_count -= 8;
      out.push_back(static_cast<uint8_t>(bits >> bit_count));
    }
  }
  // Six waiting bits are a character alone in its group: no byte can end
  // there. Two or four are the tail of a shorter group and carry nothing.
  if (bit_count == 6) {
    out.clear();
    return false;
  }
  return true;
}

}  // namespace kestrelume
