#pragma once
// Owners for CNG handles, on the UniqueHandle template. All three handle
// types are plain pointers, so the traits are what keeps them apart.

#include <windows.h>

#include <bcrypt.h>

#include "system/system_functions.h"
#include "base/unique_handle.h"

namespace kestrelume {

struct BcryptAlgorithmTraits {
  static BCRYPT_ALG_HANDLE Invalid() { return nullptr; }
  static void Close(BCRYPT_ALG_HANDLE h) { System().BCryptCloseAlgorithmProvider(h, 0); }
};

struct BcryptHashTraits {
  static BCRYPT_HASH_HANDLE Invalid() { return nullptr; }
  static void Close(BCRYPT_HASH_HANDLE h) { System().BCryptDestroyHash(h); }
};

struct BcryptKeyTraits {
  static BCRYPT_KEY_HANDLE Invalid() { return nullptr; }
  static void Close(BCRYPT_KEY_HANDLE h) { System().BCryptDestroyKey(h); }
};

using UniqueBcryptAlgorithm = UniqueHandle<BCRYPT_ALG_HANDLE, BcryptAlgorithmTraits>;
using UniqueBcryptHash = UniqueHandle<BCRYPT_HASH_HANDLE, BcryptHashTraits>;
using UniqueBcryptKey = UniqueHandle<BCRYPT_KEY_HANDLE, BcryptKeyTraits>;

}  // namespace kestrelume
