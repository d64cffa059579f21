// ParseVersion against a plain reading of its grammar, and CompareVersions
// as an order: three texts, one per line, compared in every arrangement.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "manifest/manifest.h"

namespace {

using Components = std::array<uint32_t, 4>;

// One to four dot-separated runs of one to nine digits.
bool ReferenceParse(std::string_view text, Components& components) {
  components.fill(0);
  std::vector<std::string_view> parts;
  size_t start = 0;
  for (size_t dot; (dot = text.find('.', start)) != std::string_view::npos; start = dot + 1) {
    parts.push_back(text.substr(start, dot - start));
  }
  parts.push_back(text.substr(start));
  if (parts.size() > 4) return false;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (parts[i].empty() || parts[i].size() > 9) return false;
    if (parts[i].find_first_not_of("0123456789") != std::string_view::npos) return false;
    for (const char c : parts[i]) components[i] = components[i] * 10 + static_cast<uint32_t>(c - '0');
  }
  return true;
}

std::string_view NextLine(std::string_view& rest) {
  const size_t end = rest.find('\n');
  const std::string_view line = rest.substr(0, end);
  rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
  return line;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  const std::string_view a = NextLine(rest);
  const std::string_view b = NextLine(rest);
  const std::string_view texts[] = {a, b, rest};

  for (const std::string_view text : texts) {
    Components parsed{7, 7, 7, 7};
    Components expected{};
    const bool accepted = kestrelume::ParseVersion(text, parsed);
    FUZZ_CHECK(accepted == ReferenceParse(text, expected));
    if (accepted) FUZZ_CHECK(parsed == expected);
    FUZZ_CHECK(kestrelume::CompareVersions(text, text) == 0);
  }

  int order[3][3];
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      order[i][j] = kestrelume::CompareVersions(texts[i], texts[j]);
      FUZZ_CHECK(order[i][j] >= -1 && order[i][j] <= 1);
    }
  }
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      FUZZ_CHECK(order[i][j] == -order[j][i]);
      for (int k = 0; k < 3; ++k) {
        if (order[i][j] <= 0 && order[j][k] <= 0) {
          FUZZ_CHECK(order[i][k] <= 0);
          FUZZ_CHECK((order[i][k] == 0) == (order[i][j] == 0 && order[j][k] == 0));
        }
      }
    }
  }
  return 0;
}
