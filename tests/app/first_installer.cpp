// Stands in for a first installer that was started with other rights ("Run
// as administrator"): it holds the work folder's mutex with an access list
// that lets everyone else wait on it and do nothing more, and shows a window
// marked for the folder. Usage: first_installer WORK_DIR READY_FILE. It
// writes READY_FILE once both exist and runs until its window is closed or
// the process is ended.

#include <windows.h>
#include <sddl.h>

#include "app/single_instance.h"
#include "base/unique_handle.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) return 2;
  const std::wstring work_dir = argv[1];
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;;0x00100000;;;WD)",
                                                            SDDL_REVISION_1, &descriptor, nullptr)) {
    return 3;
  }
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
  const std::wstring name = kestrelume::WorkFolderMutexName(kestrelume::WorkFolderKey(work_dir));
  kestrelume::UniqueKernelHandle mutex(CreateMutexW(&attributes, TRUE, name.c_str()));
  LocalFree(descriptor);
  if (!mutex) return 4;
  HWND window = CreateWindowExW(0, L"STATIC", L"first installer", WS_POPUP | WS_VISIBLE, 0, 0, 80,
                                80, nullptr, nullptr, nullptr, nullptr);
  if (!window) return 5;
  kestrelume::MarkWorkFolderWindow(window, work_dir);
  kestrelume::UniqueFile ready(CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!ready) return 6;
  ready.reset();
  MSG message;
  while (IsWindow(window) && GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
  return 0;
}
