#pragma once
// System libraries that are not KnownDLLs are loaded from System32 only.
//
// Windows looks for a DLL in the program's own folder first, and this
// program is run from Downloads folders, where a web page can drop a file
// unasked. Everything outside the KnownDLLs is therefore loaded here, at run
// time, by name from System32, and its functions are resolved in
// system_functions.h. This folder exists because every subsystem calls such
// libraries and none of them is the natural owner.

#include <windows.h>

namespace kestrelume {

// The library `name` (e.g. L"winhttp.dll") from System32, or null when it
// is missing there. Never searches the program's folder, the current folder
// or PATH. Modules stay loaded for the life of the process.
HMODULE LoadSystemLibrary(const wchar_t* name);

// Restricts every later library search of the process to System32. Called
// by the entry point before the C runtime starts, so it uses kernel32 only.
void RestrictDllSearchToSystem32();

}  // namespace kestrelume
