#pragma once
// One installer per work folder. A named mutex, named from the work folder,
// is held from before the window exists until the worker has been joined at
// exit (or, if the process ends another way, until Windows abandons it). The
// window carries the folder's key as a window property, so that a second
// start can find the first installer's window.
//
// Main thread only.

#include <windows.h>

#include <cstdint>
#include <string>

#include "base/unique_handle.h"

namespace kestrelume {

// The same for every spelling of one folder: the full path as Windows
// resolves it (relative to the current folder, ".", "..", doubled or
// trailing separators, a "\\?\" prefix), in any letter case. Never 0.
uint64_t WorkFolderKey(const std::wstring& work_dir);
// "Local\KestrelumeInstaller-" and the key in hex: per session, per folder.
std::wstring WorkFolderMutexName(uint64_t key);

class WorkFolderClaim {
 public:
  WorkFolderClaim() = default;
  ~WorkFolderClaim();
  WorkFolderClaim(const WorkFolderClaim&) = delete;
  WorkFolderClaim& operator=(const WorkFolderClaim&) = delete;

  // True: this process may run on the folder. That is so when no other
  // installer holds it, when one that held it ended within the wait (it was
  // closing), or when there is no mutex to wait on and no window marked for
  // the folder (nothing to coordinate with). A mutex this process may not
  // fully open (the first installer has other rights) is waited on with
  // SYNCHRONIZE alone, or, where even that is refused, its holder's window
  // is looked for. False: another installer holds the folder; its window, if
  // it has one yet, has been asked (without waiting) to come to the front,
  // and the caller ends with exit code 0 without a window or a transfer.
  // Waits at most about kClaimWaitMs for a holder that shows no window.
  bool Claim(const std::wstring& work_dir);
  // Releases the mutex if held; the destructor does too.
  void Release();

 private:
  UniqueKernelHandle mutex_;
  bool held_ = false;
};

inline constexpr DWORD kClaimWaitMs = 10000;

// Marks the installer's window as the one for `work_dir`; Unmark goes with
// its destruction.
void MarkWorkFolderWindow(HWND window, const std::wstring& work_dir);
void UnmarkWorkFolderWindow(HWND window);

}  // namespace kestrelume
