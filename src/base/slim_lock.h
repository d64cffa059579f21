#pragma once
// A slim reader/writer lock of the platform's own, used exclusively: the
// program's locks guard a few words for a moment and are never held across a
// network call or a window message. It is BasicLockable, so
// std::lock_guard works with it; it needs no set-up, cannot fail and is
// never copied or moved.

#include <windows.h>

#include <mutex>  // std::lock_guard

namespace kestrelume {

class SlimLock {
 public:
  SlimLock() = default;
  SlimLock(const SlimLock&) = delete;
  SlimLock& operator=(const SlimLock&) = delete;

  void lock() { AcquireSRWLockExclusive(&lock_); }
  void unlock() { ReleaseSRWLockExclusive(&lock_); }

 private:
  SRWLOCK lock_ = SRWLOCK_INIT;
};

}  // namespace kestrelume
