#pragma once
// The per-user work folder that holds the verified setup program between runs.
// Worker thread; nothing here reports more than true or false.

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrelume {

// Creates every folder of `path` that is missing; true when all exist after.
bool EnsureDirectory(const std::wstring& path);
// Deletes every file "KestrelumeSetup-*" in `folder` except `keep_path`
// (compared without regard to case); sub-folders and other files stay.
void RemoveStaleSetups(const std::wstring& folder, const std::wstring& keep_path);
// True only for an existing, readable file of exactly `size` bytes whose
// SHA-256 is `sha256` (lower-case hex).
bool IsCachedSetupValid(const std::wstring& path, uint64_t size, std::string_view sha256);

}  // namespace kestrelume
