#include "manifest/manifest.h"

namespace kestrelume {
namespace {

// Nine digits always fit in 32 bits; a tenth is refused rather than wrapped.
constexpr int kMaxComponentDigits = 9;

}  // namespace

bool ParseVersion(std::string_view text, std::array<uint32_t, 4>& components) {
  components.fill(0);
  size_t position = 0;
  for (size_t index = 0; index < components.size(); ++index) {
    int digits = 0;
    uint32_t value = 0;
    while (position < text.size() && text[position] >= '0' && text[position] <= '9') {
      if (++digits > kMaxComponentDigits) return false;
      value = value * 10 + static_cast<uint32_t>(text[position] - '0');
      ++position;
    }
    if (digits == 0) return false;
    components[index] = value;
    if (position == text.size()) return true;
    if (text[position] != '.') return false;
    ++position;
  }
  return false;  // a fifth component
}

int CompareVersions(std::string_view a, std::string_view b) {
  std::array<uint32_t, 4> left{};
  std::array<uint32_t, 4> right{};
  if (!ParseVersion(a, left)) left.fill(0);
  if (!ParseVersion(b, right)) right.fill(0);
  for (size_t i = 0; i < left.size(); ++i) {
    if (left[i] < right[i]) return -1;
    if (left[i] > right[i]) return 1;
  }
  return 0;
}

}  // namespace kestrelume
