// The process's first code: it runs before the C runtime and every static
// constructor, so that no library loaded from here on can come from the
// program's own folder (a Downloads folder, where anyone's files land).
// Only kernel32 is used until the runtime's ordinary start-up takes over and
// calls wWinMain.

#include <windows.h>

#include "system/system_library.h"

// The runtime's GUI start-up; built with -municode it calls wWinMain.
extern "C" int WinMainCRTStartup();

extern "C" int KestrelumeEntry() {
  kestrelume::RestrictDllSearchToSystem32();
  return WinMainCRTStartup();
}
