#pragma once
// Forward-only reading of JSON text, bounds-checked before every byte. The
// cursor only refers to the text: the caller keeps it alive and unchanged.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kestrelume {

// The parts of a JSON number the manifest rules need. `not_integer` is set
// for a fraction, an exponent, or an integer part of 2^64 or more.
struct JsonNumber {
  uint64_t integer = 0;
  bool negative = false;
  bool not_integer = false;
};

class JsonCursor {
 public:
  explicit JsonCursor(std::string_view text, size_t position = 0) : text_(text), position_(position) {}

  size_t position() const { return position_; }
  bool AtEnd() const { return position_ >= text_.size(); }
  // True when there is a byte at the cursor and it equals `byte`.
  bool At(char byte) const { return !AtEnd() && text_[position_] == byte; }
  // The byte at the cursor, or a zero byte at the end (which no caller
  // accepts where the end is not already handled).
  char Peek() const { return AtEnd() ? '\0' : text_[position_]; }
  void Advance() {
    if (!AtEnd()) ++position_;
  }

  // Space, tab, carriage return and line feed only.
  void SkipWhitespace();
  // Reads a quoted string starting at the cursor into `out` (cleared first).
  bool ReadString(std::string& out);
  // Four hex digits, most significant first. Fails without moving when fewer
  // than four bytes are left.
  bool ReadHex4(uint32_t& value);
  // Moves past `literal` only when all of it is at the cursor.
  bool MatchLiteral(std::string_view literal);
  // Reads a number starting at "-" or a digit. False on a malformed number;
  // the byte after the number is left for the caller to judge.
  bool ReadNumber(JsonNumber& number);

 private:
  bool ReadEscape(std::string& out);
  bool ReadDigitRun();

  std::string_view text_;
  size_t position_;
};

void AppendUtf8(std::string& out, uint32_t code_point);

}  // namespace kestrelume
