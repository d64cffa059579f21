#pragma once
// SHA-256 through the system's CNG provider. One object per message, used on
// one thread. Failures never throw: they come out as an empty digest, which
// never matches an expected one.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "integrity/bcrypt_handles.h"

namespace kestrelume {

class Sha256 {
 public:
  static constexpr size_t kDigestSize = 32;

  Sha256();
  ~Sha256() = default;  // the hash goes before its provider (member order)
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  // Any length: it reaches the provider in pieces of at most 2^30 bytes. A
  // null pointer with a non-zero length spoils the digest.
  void Update(const void* data, uint64_t length);
  // 64 lower-case hex characters, or empty if no digest could be made. The
  // object is spent afterwards: Update does nothing, Finish returns empty.
  std::string Finish();
  // The same, as the 32 raw bytes; false where Finish would give empty.
  bool FinishBytes(std::array<uint8_t, kDigestSize>& digest);

 private:
  UniqueBcryptAlgorithm provider_;
  UniqueBcryptHash hash_;
  bool failed_ = false;
};

// Lower-case hex, high nibble first.
std::string HexEncode(const uint8_t* bytes, size_t count);

}  // namespace kestrelume
