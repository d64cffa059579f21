// A stand-in for a DLL that a web page drops into a Downloads folder: loaded
// under any name, it leaves "<its own path>.loaded" beside itself. It also
// answers the one import of the probe program, so that the probe starts and
// ends instead of stopping at the loader's "entry point not found".

#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    wchar_t path[MAX_PATH + 8];
    const DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
      lstrcatW(path, L".loaded");
      HANDLE marker = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
    }
  }
  return TRUE;
}

extern "C" __declspec(dllexport) BOOL WINAPI WinHttpCheckPlatform() { return FALSE; }
