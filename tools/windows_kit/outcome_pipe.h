#pragma once
// The installer's outcome file, as a named pipe: the development installer
// opens its outcome path afresh for every word it reports (after every start
// attempt of the setup program and on every failure screen), so a pipe
// server sees each report as a connection of its own, in order, where a
// plain file would keep only the last word. That is how the kit counts start
// attempts of a setup program that Windows refuses: each attempt reports
// "blocked" once, when the failure screen it leads to is up.
//
// Owned by the runner's main thread; a few listening instances, each on a
// thread of its own, so that back-to-back reports never find the pipe busy.

#include <windows.h>

#include <string>
#include <vector>

#include "base/slim_lock.h"

namespace kestrelume::kit {

class OutcomePipe {
 public:
  explicit OutcomePipe(std::wstring name);
  OutcomePipe(const OutcomePipe&) = delete;
  OutcomePipe& operator=(const OutcomePipe&) = delete;
  ~OutcomePipe();

  // The path to hand to --outcome-file.
  const std::wstring& path() const { return path_; }
  // Every word reported so far, in order of arrival.
  std::vector<std::string> Words();
  // Waits until at least `count` words have arrived; false on timeout.
  bool WaitForWords(size_t count, DWORD milliseconds);

 private:
  static DWORD WINAPI Listen(void* self);

  std::wstring path_;
  SlimLock lock_;
  std::vector<std::string> words_;
  std::vector<HANDLE> threads_;
  volatile LONG stopping_ = 0;
};

}  // namespace kestrelume::kit
