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

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

bool IsBase64Space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

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

TrustedKeys BuiltInTrustedKeys() { return {KESTRELUME_TRUSTED_KEY_1, KESTRELUME_TRUSTED_KEY_2}; }

bool HexDecode(std::string_view text, std::vector<uint8_t>& out) {
  out.clear();
  if (text.size() % 2 != 0) return false;
  out.reserve(text.size() / 2);
  for (size_t i = 0; i < text.size(); i += 2) {
    const int high = HexValue(text[i]);
    const int low = HexValue(text[i + 1]);
    if (high < 0 || low < 0) {
      out.clear();
      return false;
    }
    out.push_back(static_cast<uint8_t>(high << 4 | low));
  }
  return true;
}

bool Base64Decode(std::string_view text, std::vector<uint8_t>& out) {
  out.clear();
  uint32_t bits = 0;
  int bit_count = 0;
  bool padding = false;
  for (const char c : text) {
    if (IsBase64Space(c)) continue;
    if (c == '=') {
      padding = true;
      continue;
    }
    const int value = padding ? -1 : Base64Value(c);
    if (value < 0) {
      out.clear();
      return false;
    }
    bits = (bits << 6 | static_cast<uint32_t>(value)) & 0xFFFF;
    bit_count += 6;
    if (bit_count >= 8) {
      bit_count -= 8;
      out.push_back(static_cast<uint8_t>(bits >> bit_count));
    }
  }
  // Six waiting bits are a character alone in its group: no byte can end
  // there. Two or four are the tail of a shorter group and carry nothing.
  if (bit_count == 6) {
    out.clear();
    return false;
  }
  return true;
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
