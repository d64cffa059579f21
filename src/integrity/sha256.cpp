#include "integrity/sha256.h"

#include <algorithm>

namespace kestrelume {

namespace {

// BCryptHashData takes a 32-bit length.
constexpr uint64_t kMaxPiece = uint64_t{1} << 30;

bool Succeeded(NTSTATUS status) { return status == 0; }

}  // namespace

Sha256::Sha256() {
  if (!System().Has(SystemLibrary::Bcrypt)) return;  // no hash: the digest is empty
  if (!Succeeded(System().BCryptOpenAlgorithmProvider(provider_.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
    provider_.release();  // the out-parameter is not defined after a failure
    return;
  }
  if (!Succeeded(System().BCryptCreateHash(provider_.get(), hash_.put(), nullptr, 0, nullptr, 0, 0))) {
    hash_.release();
  }
}

void Sha256::Update(const void* data, uint64_t length) {
  if (!hash_ || length == 0 || failed_) return;
  if (data == nullptr) {
    failed_ = true;
    return;
  }
  const auto* bytes = static_cast<const uint8_t*>(data);
  while (length > 0) {
    const uint64_t piece = std::min(length, kMaxPiece);
    if (!Succeeded(System().BCryptHashData(hash_.get(), const_cast<PUCHAR>(bytes), static_cast<ULONG>(piece), 0))) {
      failed_ = true;
      return;
    }
    bytes += piece;
    length -= piece;
  }
}

bool Sha256::FinishBytes(std::array<uint8_t, kDigestSize>& digest) {
  digest.fill(0);
  if (!hash_ || failed_) return false;
  const NTSTATUS status = System().BCryptFinishHash(hash_.get(), digest.data(), static_cast<ULONG>(digest.size()), 0);
  // A hash cannot be finished twice; dropping it here makes the object spent.
  hash_.reset();
  if (!Succeeded(status)) {
    digest.fill(0);
    return false;
  }
  return true;
}

std::string Sha256::Finish() {
  std::array<uint8_t, kDigestSize> digest;
  if (!FinishBytes(digest)) return {};
  return HexEncode(digest.data(), digest.size());
}

std::string HexEncode(const uint8_t* bytes, size_t count) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(count * 2);
  for (size_t i = 0; i < count; ++i) {
    text.push_back(kDigits[bytes[i] >> 4]);
    text.push_back(kDigits[bytes[i] & 0x0F]);
  }
  return text;
}

}  // namespace kestrelume
