#include "manifest/json_cursor.h"

namespace kestrelume {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool HexValue(char c, uint32_t& value) {
  if (c >= '0' && c <= '9') {
    value = static_cast<uint32_t>(c - '0');
  } else if (c >= 'a' && c <= 'f') {
    value = static_cast<uint32_t>(c - 'a' + 10);
  } else if (c >= 'A' && c <= 'F') {
    value = static_cast<uint32_t>(c - 'A' + 10);
  } else {
    return false;
  }
  return true;
}

}  // namespace

void AppendUtf8(std::string& out, uint32_t code_point) {
  const auto byte = [&out](uint32_t value) { out.push_back(static_cast<char>(value & 0xFF)); };
  if (code_point < 0x80) {
    byte(code_point);
  } else if (code_point < 0x800) {
    byte(0xC0 | (code_point >> 6));
    byte(0x80 | (code_point & 0x3F));
  } else if (code_point < 0x10000) {
    byte(0xE0 | (code_point >> 12));
    byte(0x80 | ((code_point >> 6) & 0x3F));
    byte(0x80 | (code_point & 0x3F));
  } else {
    byte(0xF0 | (code_point >> 18));
    byte(0x80 | ((code_point >> 12) & 0x3F));
    byte(0x80 | ((code_point >> 6) & 0x3F));
    byte(0x80 | (code_point & 0x3F));
  }
}

void JsonCursor::SkipWhitespace() {
  while (!AtEnd()) {
    const char c = Peek();
    if (c != ' ' && c != '\t' && c != '\r' && c != '\n') return;
    ++position_;
  }
}

bool JsonCursor::ReadHex4(uint32_t& value) {
  if (AtEnd() || text_.size() - position_ < 4) return false;
  uint32_t result = 0;
  for (int i = 0; i < 4; ++i) {
    uint32_t digit = 0;
    if (!HexValue(Peek(), digit)) return false;
    result = (result << 4) | digit;
    ++position_;
  }
  value = result;
  return true;
}

bool JsonCursor::MatchLiteral(std::string_view literal) {
  if (AtEnd() || text_.size() - position_ < literal.size()) return false;
  if (text_.substr(position_, literal.size()) != literal) return false;
  position_ += literal.size();
  return true;
}

bool JsonCursor::ReadString(std::string& out) {
  if (!At('"')) return false;
  ++position_;
  out.clear();
  while (!AtEnd()) {
    const char c = Peek();
    ++position_;
    if (c == '"') return true;
    if (static_cast<unsigned char>(c) < 0x20) return false;
    if (c == '\\') {
      if (!ReadEscape(out)) return false;
    } else {
      out.push_back(c);
    }
  }
  return false;
}

// The cursor stands just after the backslash.
bool JsonCursor::ReadEscape(std::string& out) {
  if (AtEnd()) return false;
  const char selector = Peek();
  ++position_;
  switch (selector) {
    case '"': out.push_back('"'); return true;
    case '\\': out.push_back('\\'); return true;
    case '/': out.push_back('/'); return true;
    case 'b': out.push_back('\b'); return true;
    case 'f': out.push_back('\f'); return true;
    case 'n': out.push_back('\n'); return true;
    case 'r': out.push_back('\r'); return true;
    case 't': out.push_back('\t'); return true;
    case 'u': break;
    default: return false;
  }
  uint32_t high = 0;
  if (!ReadHex4(high)) return false;
  if (high >= 0xDC00 && high <= 0xDFFF) return false;
  if (high < 0xD800 || high > 0xDBFF) {
    AppendUtf8(out, high);
    return true;
  }
  uint32_t low = 0;
  if (!MatchLiteral("\\u") || !ReadHex4(low)) return false;
  if (low < 0xDC00 || low > 0xDFFF) return false;
  AppendUtf8(out, 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00));
  return true;
}

// One or more digits; consumes them all.
bool JsonCursor::ReadDigitRun() {
  if (AtEnd() || !IsDigit(Peek())) return false;
  while (!AtEnd() && IsDigit(Peek())) ++position_;
  return true;
}

bool JsonCursor::ReadNumber(JsonNumber& number) {
  number = JsonNumber{};
  if (At('-')) {
    number.negative = true;
    ++position_;
  }
  if (AtEnd() || !IsDigit(Peek())) return false;
  constexpr uint64_t kMax = UINT64_MAX;
  while (!AtEnd() && IsDigit(Peek())) {
    const uint64_t digit = static_cast<uint64_t>(Peek() - '0');
    if (number.integer > (kMax - digit) / 10) number.not_integer = true;
    number.integer = number.integer * 10 + digit;  // wraps modulo 2^64 by design
    ++position_;
  }
  if (At('.')) {
    ++position_;
    if (!ReadDigitRun()) return false;
    number.not_integer = true;
  }
  if (At('e') || At('E')) {
    ++position_;
    if (At('+') || At('-')) ++position_;
    if (!ReadDigitRun()) return false;
    number.not_integer = true;
  }
  return true;
}

}  // namespace kestrelume
