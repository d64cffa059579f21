#pragma once
// The per-user work folder that holds the verified setup program between runs.
// Worker thread; nothing here reports more than true or false.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/unique_handle.h"

namespace kestrelume {

// Creates every folder of `path` that is missing; true when all exist after.
// A folder whose creation is refused still counts when it is there as a
// folder (a share root or a parent with no create right answers "access
// denied" even though it exists).
bool EnsureDirectory(const std::wstring& path);
// The folders EnsureDirectory tries, in order: the path up to each "\" or
// "/" and the whole path, leaving out prefixes shorter than 4 characters and
// the parts that name no folder of their own: the "\\?\" or "\\.\" prefix with
// its drive or volume, and the server and share of a UNC path.
std::vector<std::wstring> FolderChain(const std::wstring& path);
// Deletes every file "KestrelumeSetup-*" in `folder` except `keep_path` and
// its ".part" when that is no longer than `part_limit` bytes (both compared
// without regard to case); sub-folders and other files stay.
void RemoveStaleSetups(const std::wstring& folder, const std::wstring& keep_path,
                       uint64_t part_limit);
// True only for an existing, readable file of exactly `size` bytes whose
// SHA-256 is `sha256` (lower-case hex).
bool IsCachedSetupValid(const std::wstring& path, uint64_t size, std::string_view sha256);
// The same check through a handle that is then kept: opened for reading with
// sharing that admits readers only (and so the loader of CreateProcessW), so
// that while it is held nobody can write, delete, rename or replace the file
// that was checked. An empty handle when the check fails.
UniqueFile OpenVerifiedSetup(const std::wstring& path, uint64_t size, std::string_view sha256);

enum class SetupCheck : uint32_t {
  Verified = 0,    // `verified` holds the file, opened as OpenVerifiedSetup opens it
  CannotOpen = 1,  // never opened within the patience: a file problem
  Mismatch = 2,    // opened, but not the bytes that were checked
};
// The re-open of a download just moved into place. Something else (a
// scanner, a backup agent) may hold a fresh file for a moment, so an open
// that fails is tried again every 50 ms until `patience_ms` has passed.
SetupCheck ReopenVerifiedSetup(const std::wstring& path, uint64_t size, std::string_view sha256,
                               DWORD patience_ms, UniqueFile& verified);

}  // namespace kestrelume
