// Imports winhttp.dll at load time, as the installer once did: the planted
// library test runs it to show that a planted DLL is really picked up.

#include <windows.h>
#include <winhttp.h>

int wmain() { return WinHttpCheckPlatform() ? 0 : 1; }  // the marker answers FALSE
