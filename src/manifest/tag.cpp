// The tag rule on its own: it needs none of the text conversions that the
// rest of attribution does.
#include "manifest/attribution.h"

namespace kestrelume {

bool IsValidTag(std::string_view tag, size_t limit) {
  if (tag.empty() || tag.size() > limit) return false;
  for (size_t i = 0; i < tag.size(); ++i) {
    const char c = tag[i];
    const bool allowed = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || (c == '-' && i > 0);
    if (!allowed) return false;
  }
  return true;
}

}  // namespace kestrelume
