#include "system/system_library.h"

namespace kestrelume {

HMODULE LoadSystemLibrary(const wchar_t* name) {
  if (HMODULE module = LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) return module;
  // Windows 7 without KB2533623 refuses the flag itself; a full path to
  // System32 is just as safe there.
  if (GetLastError() != ERROR_INVALID_PARAMETER) return nullptr;
  wchar_t path[MAX_PATH];
  const UINT length = GetSystemDirectoryW(path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  size_t end = length;
  path[end++] = L'\\';
  for (const wchar_t* c = name; *c; ++c) {
    if (end + 1 >= MAX_PATH) return nullptr;
    path[end++] = *c;
  }
  path[end] = L'\0';
  return LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

void RestrictDllSearchToSystem32() {
  using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
  const auto set_default_dll_directories = reinterpret_cast<SetDefaultDllDirectoriesFunction>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
  if (set_default_dll_directories && set_default_dll_directories(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
  // Without it, at least take the current folder out of the search.
  SetDllDirectoryW(L"");
}

}  // namespace kestrelume
