#include "app/single_instance.h"

namespace kestrelume {
namespace {

constexpr wchar_t kWindowProperty[] = L"KestrelumeInstaller.WorkFolder";
constexpr DWORD kPollMs = 100;

// A property holds a pointer-sized value; 64 bits fit on x86-64.
HANDLE KeyAsProperty(uint64_t key) { return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(key)); }

struct WindowSearch {
  HANDLE key;
  HWND found = nullptr;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM lparam) {
  auto* search = reinterpret_cast<WindowSearch*>(lparam);
  if (GetPropW(window, kWindowProperty) != search->key) return TRUE;
  search->found = window;
  return FALSE;
}

HWND FindWindowFor(uint64_t key) {
  WindowSearch search{KeyAsProperty(key)};
  EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

void BringToFront(HWND window) {
  // Asynchronous: a first installer whose window thread is busy or hung
  // must not hold this start up.
  if (IsIconic(window)) ShowWindowAsync(window, SW_RESTORE);
  // Allowed: this process was just started by the user and may still set
  // the foreground window.
  SetForegroundWindow(window);
}

// Without a mutex to wait on, a window marked for the folder is the one
// sign of a first installer. `holder_seen`: a mutex of the name exists that
// this process may not wait on, so one is there even before its window
// shows; it is waited for up to kClaimWaitMs and then left the folder.
bool ClaimByWindow(uint64_t key, bool holder_seen) {
  const ULONGLONG deadline = GetTickCount64() + (holder_seen ? kClaimWaitMs : 0);
  for (;;) {
    if (HWND other = FindWindowFor(key)) {
      BringToFront(other);
      return false;
    }
    if (GetTickCount64() >= deadline) return !holder_seen;
    Sleep(kPollMs);
  }
}

// The folder as Windows resolves it: relative to the current folder, with
// ".", ".." and doubled separators gone, and without a "\\?\" prefix.
std::wstring FullFolderPath(const std::wstring& work_dir) {
  std::wstring folder = work_dir;
  for (wchar_t& c : folder) {
    if (c == L'/') c = L'\\';
  }
  if (folder.starts_with(L"\\\\?\\UNC\\")) {
    folder.erase(2, 6);
  } else if (folder.starts_with(L"\\\\?\\")) {
    folder.erase(0, 4);
  }
  const DWORD needed = GetFullPathNameW(folder.c_str(), 0, nullptr, nullptr);
  if (needed != 0) {
    std::wstring full(needed, L'\0');
    const DWORD length = GetFullPathNameW(folder.c_str(), needed, full.data(), nullptr);
    if (length != 0 && length < needed) folder = full.substr(0, length);
  }
  // Trailing separators go, but a root keeps its own ("C:\" is not "C:").
  while (folder.size() > 3 && folder.back() == L'\\') folder.pop_back();
  return folder;
}

}  // namespace

uint64_t WorkFolderKey(const std::wstring& work_dir) {
  std::wstring folder = FullFolderPath(work_dir);
  if (!folder.empty()) CharUpperBuffW(folder.data(), static_cast<DWORD>(folder.size()));
  // FNV-1a over the UTF-16 units: a name, not a secret.
  uint64_t hash = 0xcbf29ce484222325ull;
  for (wchar_t c : folder) {
    hash ^= static_cast<uint16_t>(c);
    hash *= 0x100000001b3ull;
  }
  return hash | 1;
}

std::wstring WorkFolderMutexName(uint64_t key) {
  wchar_t hex[17];
  for (int i = 15; i >= 0; --i, key >>= 4) hex[i] = L"0123456789abcdef"[key & 15];
  hex[16] = L'\0';
  return std::wstring(L"Local\\KestrelumeInstaller-") + hex;
}

WorkFolderClaim::~WorkFolderClaim() { Release(); }

bool WorkFolderClaim::Claim(const std::wstring& work_dir) {
  Release();
  const uint64_t key = WorkFolderKey(work_dir);
  const std::wstring name = WorkFolderMutexName(key);
  mutex_.reset(CreateMutexW(nullptr, FALSE, name.c_str()));
  // Access denied: the mutex exists, made by an installer with rights this
  // one lacks (started "as administrator"). Waiting needs SYNCHRONIZE only;
  // a mutex held through such a handle cannot be released, and is
  // abandoned when the handle closes, which the next start takes as free.
  const bool denied = !mutex_ && GetLastError() == ERROR_ACCESS_DENIED;
  if (denied) mutex_.reset(OpenMutexW(SYNCHRONIZE, FALSE, name.c_str()));
  if (!mutex_) return ClaimByWindow(key, denied);
  const ULONGLONG deadline = GetTickCount64() + kClaimWaitMs;
  for (;;) {
    const DWORD waited = WaitForSingleObject(mutex_.get(), kPollMs);
    // Abandoned: the holder ended without releasing it; the folder is free.
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) {
      held_ = true;
      return true;
    }
    if (waited != WAIT_TIMEOUT) {  // no coordination to be had
      mutex_.reset();
      return ClaimByWindow(key, false);
    }
    // A holder with a window is running (or still coming up): it is the
    // installer for this folder. Without one it is closing, and ends soon.
    if (HWND other = FindWindowFor(key)) {
      BringToFront(other);
      mutex_.reset();
      return false;
    }
    if (GetTickCount64() >= deadline) {
      mutex_.reset();
      return false;
    }
  }
}

void WorkFolderClaim::Release() {
  if (held_) ReleaseMutex(mutex_.get());
  held_ = false;
  mutex_.reset();
}

void MarkWorkFolderWindow(HWND window, const std::wstring& work_dir) {
  SetPropW(window, kWindowProperty, KeyAsProperty(WorkFolderKey(work_dir)));
}

void UnmarkWorkFolderWindow(HWND window) { RemovePropW(window, kWindowProperty); }

}  // namespace kestrelume
