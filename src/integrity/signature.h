#pragma once
// Detached ECDSA P-256 signatures over the SHA-256 of the manifest bytes,
// carried as Base64 of the raw 64-byte r||s. Stateless; any thread.

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "integrity/decode.h"

namespace kestrelume {

// Each key: 128 lower-case hex characters, X then Y of a P-256 point. An
// all-zero key is an empty slot and verifies nothing.
using TrustedKeys = std::array<std::string_view, 2>;

// The keys built into this program, key 1 first. In the program's bytes they
// follow this marker as "<key1>;<key2>".
#define KESTRELUME_TRUSTED_KEY_MARKER "KestrelumeTrustedKeys:"
// The keys built into this program, key 1 first.
TrustedKeys BuiltInTrustedKeys();

bool VerifyWithKey(std::string_view manifest, std::string_view signature_text, std::string_view key_hex);
// True at the first key (in table order) that verifies.
bool VerifySignature(std::string_view manifest, std::string_view signature_text,
                     std::span<const std::string_view> keys);

}  // namespace kestrelume
