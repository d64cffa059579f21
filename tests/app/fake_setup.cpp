// Stands in for the product's setup program in end-to-end runs and the demo.
// With KESTRELUME_FAKE_SETUP_RECORD set it appends its command line and
// current folder there (UTF-8, one per line) and exits, so each start adds two
// lines; otherwise it says hello.

#include <windows.h>

#include <string>

#include "base/utf.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  wchar_t record[MAX_PATH] = {};
  wchar_t folder[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, folder);
  if (GetEnvironmentVariableW(L"KESTRELUME_FAKE_SETUP_RECORD", record, MAX_PATH) > 0) {
    const std::string text = kestrelume::WideToUtf8(GetCommandLineW()) + "\n" +
                             kestrelume::WideToUtf8(folder) + "\n";
    HANDLE file = CreateFileW(record, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 2;
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
    return 0;
  }
  const std::wstring message = std::wstring(L"The Kestrelume setup program would start here.\n\n") +
                               L"Started as: " + GetCommandLineW() + L"\nIn: " + folder;
  MessageBoxW(nullptr, message.c_str(), L"Kestrelume Setup (demo)", MB_OK | MB_ICONINFORMATION);
  return 0;
}
