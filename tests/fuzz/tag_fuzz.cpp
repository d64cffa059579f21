// IsValidTag against its rule written as character sets, at both limits and
// around the text's own length. A tag goes into a file name and a query
// unescaped, so nothing outside the set may pass.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz_check.h"
#include "manifest/attribution.h"

namespace {

bool ReferenceValid(std::string_view tag, size_t limit) {
  return !tag.empty() && tag.size() <= limit && tag.front() != '-' &&
         tag.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789-") == std::string_view::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view tag(reinterpret_cast<const char*>(data), size);
  const size_t limits[] = {kestrelume::kSrcTagLimit, kestrelume::kTTagLimit, size, size == 0 ? 0 : size - 1};
  for (const size_t limit : limits) {
    FUZZ_CHECK(kestrelume::IsValidTag(tag, limit) == ReferenceValid(tag, limit));
  }
  return 0;
}
