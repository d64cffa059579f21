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
  if (IsIconic(window)) ShowWindow(window, SW_RESTORE);
  // Allowed: this process was just started by the user and may still set
  // the foreground window.
  SetForegroundWindow(window);
}

}  // namespace

uint64_t WorkFolderKey(const std::wstring& work_dir) {
  std::wstring folder = work_dir;
  for (wchar_t& c : folder) {
    if (c == L'/') c = L'\\';
  }
  while (!folder.empty() && folder.back() == L'\\') folder.pop_back();
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
  mutex_.reset(CreateMutexW(nullptr, FALSE, WorkFolderMutexName(key).c_str()));
  if (!mutex_) return true;
  const ULONGLONG deadline = GetTickCount64() + kClaimWaitMs;
  for (;;) {
    const DWORD waited = WaitForSingleObject(mutex_.get(), kPollMs);
    // Abandoned: the holder ended without releasing it; the folder is free.
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) {
      held_ = true;
      return true;
    }
    if (waited != WAIT_TIMEOUT) return true;  // no coordination to be had
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
