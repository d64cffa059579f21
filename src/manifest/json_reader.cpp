#include "manifest/json_reader.h"

#include <string>
#include <utility>

#include "manifest/json_cursor.h"
#include "manifest/manifest_rules.h"

namespace kestrelume {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// Reads one member value and hands it to the rules. False rejects the
// document; `reject` carries a rule's verdict.
bool ReadValue(JsonCursor& cursor, const std::string& key, std::string& value, Manifest& working,
               bool& reject) {
  const char first = cursor.Peek();
  if (first == '"') {
    if (!cursor.ReadString(value)) return false;
    if (!ApplyStringMember(key, value, working)) reject = true;
    return true;
  }
  if (first == '-' || (first >= '0' && first <= '9')) {
    JsonNumber number;
    if (!cursor.ReadNumber(number)) return false;
    if (!number.not_integer && !ApplyIntegerMember(key, number.integer, number.negative, working)) {
      reject = true;
    }
    return true;
  }
  return cursor.MatchLiteral("true") || cursor.MatchLiteral("false") || cursor.MatchLiteral("null");
}

}  // namespace

bool ParseManifest(std::string_view text, Manifest& manifest) { return ParseManifest(text, manifest, nullptr); }

bool ParseManifest(std::string_view text, Manifest& manifest, std::string* rejected_member) {
  JsonCursor cursor(text, text.starts_with(kByteOrderMark) ? kByteOrderMark.size() : 0);
  Manifest working;
  std::string key;
  std::string value;
  bool reject = false;
  std::string first_rejected;

  cursor.SkipWhitespace();
  if (!cursor.At('{')) return false;
  cursor.Advance();
  cursor.SkipWhitespace();
  if (cursor.At('}')) {
    cursor.Advance();
  } else {
    for (;;) {
      cursor.SkipWhitespace();
      if (!cursor.ReadString(key)) return false;
      cursor.SkipWhitespace();
      if (!cursor.At(':')) return false;
      cursor.Advance();
      cursor.SkipWhitespace();
      if (cursor.AtEnd()) return false;
      const bool rejected_before = reject;
      if (!ReadValue(cursor, key, value, working, reject)) return false;
      if (reject && !rejected_before && rejected_member) first_rejected = key;
      cursor.SkipWhitespace();
      if (cursor.At(',')) {
        cursor.Advance();
        continue;
      }
      if (!cursor.At('}')) return false;
      cursor.Advance();
      break;
    }
  }
  cursor.SkipWhitespace();
  if (!cursor.AtEnd()) return false;
  if (reject) {
    if (rejected_member) *rejected_member = std::move(first_rejected);
    return false;
  }
  manifest = std::move(working);
  return true;
}

}  // namespace kestrelume
