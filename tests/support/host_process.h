#pragma once
// Small pieces the support clients share: starting a Linux helper from a
// test under Wine, and reading and writing whole files.

#include <windows.h>

#include <string>
#include <string_view>

namespace kestrelume {

// The helpers are Python scripts, run by the system's interpreter, which sees
// Debian's modules.
inline constexpr char kPython[] = "/usr/bin/python3";

// Starts `command_line` (a Unix program path makes Wine run it directly).
// Its handles cannot be waited on or terminated, so they are closed at once;
// the helper watches the test process instead.
bool StartHostProcess(std::wstring command_line);

// Replaces the file at `path` with exactly `bytes`.
bool WriteWholeFile(const std::wstring& path, std::string_view bytes);

// All of the file at `path` into `bytes`, even while another process (a
// server writing its log, say) has it open for writing; false when it
// cannot be opened.
bool ReadWholeFile(const std::wstring& path, std::string& bytes);

}  // namespace kestrelume
