#pragma once
// How each member of the manifest document changes the Manifest being read.
// A value of a kind a key does not take is ignored, so it never wipes out an
// earlier value. Both return false when the member makes the whole document
// unacceptable.

#include <cstdint>
#include <string_view>

#include "manifest/manifest.h"

namespace kestrelume {

// Largest "bootstrap_min" a document may carry; far above any real level.
inline constexpr uint64_t kBootstrapMinLimit = 1'000'000;

bool ApplyStringMember(std::string_view key, std::string_view value, Manifest& manifest);
// Only integers reach this rule: numbers with a fraction, an exponent or a
// value of 2^64 and more are skipped by the reader.
bool ApplyIntegerMember(std::string_view key, uint64_t value, bool negative, Manifest& manifest);

}  // namespace kestrelume
