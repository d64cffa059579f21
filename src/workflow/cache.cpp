#include "workflow/cache.h"

#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <memory>

#include "integrity/sha256.h"
#include "manifest/attribution.h"
#include "base/unique_handle.h"

namespace kestrelume {
namespace {

constexpr DWORD kReadChunk = 65536;
constexpr DWORD kReopenStepMs = 50;

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// End of the component that starts at `from` (a separator or the end).
size_t ComponentEnd(const std::wstring& path, size_t from) {
  while (from < path.size() && !IsSeparator(path[from])) ++from;
  return from;
}

// Length of the leading part of `path` that names no folder of its own and
// so can never be created: the "\\?\" or "\\.\" prefix with its drive or
// volume ("\\?\C:"), or the server and share of a UNC path ("\\server\share",
// "\\?\UNC\server\share"). 0 for ordinary paths, whose short roots ("C:\")
// the length rule already skips.
size_t UncreatableRootLength(const std::wstring& path) {
  if (path.size() < 2 || !IsSeparator(path[0]) || !IsSeparator(path[1])) return 0;
  if (path.size() >= 4 && (path[2] == L'?' || path[2] == L'.') && IsSeparator(path[3])) {
    const size_t first_end = ComponentEnd(path, 4);
    const bool unc = first_end - 4 == 3 && _wcsnicmp(path.c_str() + 4, L"UNC", 3) == 0;
    if (!unc) return first_end;
    const size_t server_end = ComponentEnd(path, std::min(first_end + 1, path.size()));
    return ComponentEnd(path, std::min(server_end + 1, path.size()));
  }
  const size_t server_end = ComponentEnd(path, 2);
  return ComponentEnd(path, std::min(server_end + 1, path.size()));
}

// CreateDirectoryW failed on `folder`: the folder still counts when it is
// there. An "already exists" answer counts unless the name is a file; any
// other answer (access denied on an existing share root or parent, for
// example) counts only when the folder is known to exist.
bool FolderIsThere(const std::wstring& folder, DWORD create_error) {
  const DWORD attributes = GetFileAttributesW(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return create_error == ERROR_ALREADY_EXISTS;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Opened before it is read, and kept: what is checked is what stays.
UniqueFile OpenForCheck(const std::wstring& path) {
  return UniqueFile(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// Exactly `size` bytes with digest `sha256`, read from the start of `file`.
bool HoldsBytes(HANDLE file, uint64_t size, std::string_view sha256) {
  LARGE_INTEGER actual{};
  if (!GetFileSizeEx(file, &actual) || static_cast<uint64_t>(actual.QuadPart) != size) {
    return false;
  }
  Sha256 digest;
  auto buffer = std::make_unique<uint8_t[]>(kReadChunk);  // zero-filled
  uint64_t total = 0;
  for (;;) {
    DWORD read = 0;
    // A read error part-way must not pass for a short file that hashes right.
    if (!ReadFile(file, buffer.get(), kReadChunk, &read, nullptr)) return false;
    if (read == 0) break;
    digest.Update(buffer.get(), read);
    total += read;
  }
  const std::string computed = digest.Finish();
  return total == size && !computed.empty() && computed == sha256;
}

}  // namespace

std::vector<std::wstring> FolderChain(const std::wstring& path) {
  const size_t root = UncreatableRootLength(path);
  std::vector<std::wstring> chain;
  bool past_root = false;  // a folder name has begun after the root part
  for (size_t i = 0; i <= path.size(); ++i) {
    if ((i == path.size() || IsSeparator(path[i])) && i >= 4 && past_root) {
      chain.push_back(path.substr(0, i));
    }
    if (i < path.size() && i >= root && !IsSeparator(path[i])) past_root = true;
  }
  return chain;
}

bool EnsureDirectory(const std::wstring& path) {
  for (const std::wstring& folder : FolderChain(path)) {
    if (!CreateDirectoryW(folder.c_str(), nullptr) && !FolderIsThere(folder, GetLastError())) {
      return false;
    }
  }
  return true;
}

void RemoveStaleSetups(const std::wstring& folder, const std::wstring& keep_path,
                       uint64_t part_limit) {
  const std::wstring pattern = folder + L"\\" + std::wstring(kSetupFilePrefix) + L"*";
  const std::wstring keep_part = keep_path + L".part";
  WIN32_FIND_DATAW entry{};
  UniqueFind search(FindFirstFileW(pattern.c_str(), &entry));
  if (!search) return;
  do {
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    const std::wstring path = folder + L"\\" + entry.cFileName;
    if (_wcsicmp(path.c_str(), keep_path.c_str()) == 0) continue;
    // The download resumes its own ".part"; one longer than the file could
    // only be wrong.
    const uint64_t size = (uint64_t{entry.nFileSizeHigh} << 32) | entry.nFileSizeLow;
    if (_wcsicmp(path.c_str(), keep_part.c_str()) == 0 && size <= part_limit) continue;
    DeleteFileW(path.c_str());
  } while (FindNextFileW(search.get(), &entry));
}

bool IsCachedSetupValid(const std::wstring& path, uint64_t size, std::string_view sha256) {
  return static_cast<bool>(OpenVerifiedSetup(path, size, sha256));
}

UniqueFile OpenVerifiedSetup(const std::wstring& path, uint64_t size, std::string_view sha256) {
  UniqueFile file = OpenForCheck(path);
  if (!file || !HoldsBytes(file.get(), size, sha256)) return {};
  return file;
}

SetupCheck ReopenVerifiedSetup(const std::wstring& path, uint64_t size, std::string_view sha256,
                               DWORD patience_ms, UniqueFile& verified) {
  verified.reset();
  const ULONGLONG deadline = GetTickCount64() + patience_ms;
  UniqueFile file = OpenForCheck(path);
  while (!file && GetTickCount64() < deadline) {
    Sleep(kReopenStepMs);
    file = OpenForCheck(path);
  }
  if (!file) return SetupCheck::CannotOpen;
  if (!HoldsBytes(file.get(), size, sha256)) return SetupCheck::Mismatch;
  verified = std::move(file);
  return SetupCheck::Verified;
}

}  // namespace kestrelume
