#pragma once
// SHA-256 through the system's CNG provider. One object per message, used on
// one thread. Failures never throw: they come out as an empty digest, which
// never matches an expected one.

#include <cstddef>
#include <cstdint>
#include <string>

namespace kestrelume {

class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  void Update(const void* data, uint64_t length);
  // 64 lower-case hex characters, or empty if no digest could be made. The
  // object is spent afterwards: Update does nothing, Finish returns empty.
  std::string Finish();

 private:
  void* provider_ = nullptr;  // BCRYPT_ALG_HANDLE
  void* hash_ = nullptr;      // BCRYPT_HASH_HANDLE
  bool failed_ = false;
};

// Lower-case hex, high nibble first.
std::string HexEncode(const uint8_t* bytes, size_t count);

}  // namespace kestrelume
