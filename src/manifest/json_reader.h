#pragma once
// Reads the manifest document: one flat JSON object, applied member by member
// to a working Manifest. Anything outside the grammar rejects the whole
// document and leaves `manifest` untouched; on success every field of
// `manifest` is replaced (fields the document does not name come out empty).

#include <string>
#include <string_view>

#include "manifest/manifest.h"

namespace kestrelume {

bool ParseManifest(std::string_view text, Manifest& manifest);
// The same, and when a member's value is what rejects the document, its key
// in `rejected_member` (left alone otherwise), for tools that must name it.
bool ParseManifest(std::string_view text, Manifest& manifest, std::string* rejected_member);

}  // namespace kestrelume
