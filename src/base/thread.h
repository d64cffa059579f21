#pragma once
// A thread of the platform's own that runs one member function of an object
// and is joined by its owner. Start and Join belong to one thread (the main
// thread here); the object must outlive the run. Destroying a running Thread
// joins it.

#include <windows.h>

#include "base/unique_handle.h"

namespace kestrelume {

class Thread {
 public:
  Thread() = default;
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;
  ~Thread() { Join(); }

  // Runs (object.*Method)() on a new thread; only while no run is joinable.
  // False when the thread could not be made.
  template <auto Method, typename T>
  bool Start(T& object) {
    handle_.reset(CreateThread(nullptr, 0, &Run<Method, T>, &object, 0, nullptr));
    return static_cast<bool>(handle_);
  }

  bool Joinable() const { return static_cast<bool>(handle_); }

  // Waits for the run to end; nothing happens when none was started.
  void Join() { JoinWithin(INFINITE); }

  // Waits at most `milliseconds` for the run to end. True when it ended (or
  // none was started); false when it is still running, and still joinable.
  bool JoinWithin(DWORD milliseconds) {
    if (!handle_) return true;
    if (WaitForSingleObject(handle_.get(), milliseconds) != WAIT_OBJECT_0) return false;
    handle_.reset();
    return true;
  }

 private:
  template <auto Method, typename T>
  static DWORD WINAPI Run(void* object) {
    (static_cast<T*>(object)->*Method)();
    return 0;
  }

  UniqueKernelHandle handle_;
};

}  // namespace kestrelume
