#include "integrity/signature.h"

#include <windows.h>

#include <bcrypt.h>

#include <algorithm>
#include <cstring>

#include "integrity/bcrypt_handles.h"
#include "integrity/sha256.h"

namespace kestrelume {

namespace {

constexpr size_t kCoordinateSize = 32;
constexpr size_t kPublicKeySize = 2 * kCoordinateSize;  // X then Y
constexpr size_t kSignatureSize = 64;                   // r then s

bool ImportPublicKey(BCRYPT_ALG_HANDLE provider, const std::vector<uint8_t>& key, UniqueBcryptKey& out) {
  std::array<uint8_t, sizeof(BCRYPT_ECCKEY_BLOB) + kPublicKeySize> blob{};
  BCRYPT_ECCKEY_BLOB header{};
  header.dwMagic = BCRYPT_ECDSA_PUBLIC_P256_MAGIC;
  header.cbKey = kCoordinateSize;
  std::memcpy(blob.data(), &header, sizeof(header));
  std::memcpy(blob.data() + sizeof(header), key.data(), kPublicKeySize);
  const NTSTATUS status = System().BCryptImportKeyPair(provider, nullptr, BCRYPT_ECCPUBLIC_BLOB, out.put(), blob.data(),
                                              static_cast<ULONG>(blob.size()), 0);
  if (status != 0) {
    out.release();  // not a handle after a failed import
    return false;
  }
  return true;
}

}  // namespace

// Both keys in one marked string, so that the publishing tools can read which
// keys an installer trusts from its bytes alone.
constexpr char kTrustedKeyRecord[] =
    KESTRELUME_TRUSTED_KEY_MARKER KESTRELUME_TRUSTED_KEY_1 ";" KESTRELUME_TRUSTED_KEY_2;

TrustedKeys BuiltInTrustedKeys() {
  const std::string_view record(kTrustedKeyRecord, sizeof kTrustedKeyRecord - 1);
  const size_t first = sizeof KESTRELUME_TRUSTED_KEY_MARKER - 1;
  const size_t length = (record.size() - first - 1) / 2;
  return {record.substr(first, length), record.substr(first + length + 1, length)};
}

bool VerifyWithKey(std::string_view manifest, std::string_view signature_text, std::string_view key_hex) {
  std::vector<uint8_t> key;
  if (!HexDecode(key_hex, key) || key.size() != kPublicKeySize) return false;
  if (std::all_of(key.begin(), key.end(), [](uint8_t b) { return b == 0; })) return false;

  std::vector<uint8_t> signature;
  if (!Base64Decode(signature_text, signature) || signature.size() != kSignatureSize) return false;

  std::array<uint8_t, Sha256::kDigestSize> digest;
  {
    Sha256 hash;
    hash.Update(manifest.data(), manifest.size());
    if (!hash.FinishBytes(digest)) return false;
  }

  if (!System().Has(SystemLibrary::Bcrypt)) return false;
  UniqueBcryptAlgorithm provider;
  if (System().BCryptOpenAlgorithmProvider(provider.put(), BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0) != 0) {
    provider.release();
    return false;
  }
  UniqueBcryptKey public_key;
  if (!ImportPublicKey(provider.get(), key, public_key)) return false;

  const NTSTATUS status = System().BCryptVerifySignature(public_key.get(), nullptr, digest.data(),
                                                static_cast<ULONG>(digest.size()), signature.data(),
                                                static_cast<ULONG>(signature.size()), 0);
  return status == 0;
}

bool VerifySignature(std::string_view manifest, std::string_view signature_text,
                     std::span<const std::string_view> keys) {
  for (const std::string_view key : keys) {
    if (VerifyWithKey(manifest, signature_text, key)) return true;
  }
  return false;
}

}  // namespace kestrelume
