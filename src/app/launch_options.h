#pragma once
// Start-up inputs: the command line, the program's own file name and the
// default work folder. The parsing is value in, value out; only
// DefaultWorkDir and ModulePath ask Windows. Main thread.

#include <string>
#include <string_view>
#include <vector>

#include "app/app.h"

namespace kestrelume {

// "https://" + download host + "/update/stable.json", empty work folder.
LaunchOptions DefaultLaunchOptions();

// Applies "--manifest-url" and "--work-dir" from `args` (element 0 is the
// program and is never looked at); development builds also take
// "--snapshot-dir", "--outcome-file", "--high-contrast on" and
// "--fail-startup-step STEP:COUNT" (STEP drawing, text or window). Options match exactly, case-sensitively,
// and always take the next argument as their value.
LaunchOptions ApplyCommandLine(LaunchOptions options, const std::vector<std::wstring_view>& args);

// The text after the last "\" or "/", or the whole path if it has neither.
std::wstring_view FileNameOfPath(std::wstring_view path);

// Full path of the running executable (empty if it cannot be read).
std::wstring ModulePath();

// The local application data folder + "\Kestrelume\updates\bootstrap", or
// empty when the known folder cannot be had.
std::wstring DefaultWorkDir();
// `work_dir` as given, or DefaultWorkDir() when it is empty.
std::wstring WorkDirOrDefault(std::wstring work_dir);

}  // namespace kestrelume
