#include "ui/resource_data.h"

#include <windows.h>

namespace kestrelume {

std::span<const uint8_t> ResourceBytes(int id) {
  HRSRC info = FindResourceW(nullptr, MAKEINTRESOURCEW(id), RT_RCDATA);
  if (!info) return {};
  HGLOBAL loaded = LoadResource(nullptr, info);
  if (!loaded) return {};
  const void* data = LockResource(loaded);
  DWORD size = SizeofResource(nullptr, info);
  if (!data || size == 0) return {};
  return {static_cast<const uint8_t*>(data), size};
}

}  // namespace kestrelume
