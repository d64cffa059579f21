#pragma once
// Reads the manifest document: one flat JSON object, applied member by member
// to a working Manifest. Anything outside the grammar rejects the whole
// document and leaves `manifest` untouched; on success every field of
// `manifest` is replaced (fields the document does not name come out empty).

#include <string_view>

#include "manifest/manifest.h"

namespace kestrelume {

bool ParseManifest(std::string_view text, Manifest& manifest);

}  // namespace kestrelume
