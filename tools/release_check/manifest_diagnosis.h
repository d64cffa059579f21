#pragma once
// Names what the installer's own rules refuse in a manifest, by asking those
// rules about one field at a time: the tools never restate a rule.

#include <string>
#include <string_view>
#include <vector>

#include "manifest/manifest.h"

namespace kestrelume {

// The fields ValidateManifest finds Invalid, each judged on its own among
// fields it accepts; empty when none is. Keys as the document spells them.
std::vector<std::string> InvalidFields(const Manifest& manifest);

// The fields behind a check other than Ok.
std::vector<std::string> RefusedFields(const Manifest& manifest, ManifestCheck check);

}  // namespace kestrelume
