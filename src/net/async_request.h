#pragma once
// What one asynchronous WinHTTP request shares with the session's status
// callback: the end of the step in progress (an auto-reset event, whether it
// succeeded, its byte count) and the buffer that body reads land in.
//
// Two owners: the transfer that made it, and WinHTTP from Attach until the
// request handle's closing notice. So a transfer may give up on a step (on
// cancel, or when the step stalls) and return at once: a step that finishes
// later, on whatever thread WinHTTP chooses, still finds the object and its
// buffer alive. On Windows the closing notice follows the close of the
// handle; under Wine a step blocked in a TLS handshake may never end, and the
// object (with its buffer) then stays until the process ends.

#include <windows.h>
#include <winhttp.h>

#include <atomic>
#include <memory>

#include "base/unique_handle.h"

namespace kestrelume {

class AsyncRequest {
 public:
  struct Releaser {
    void operator()(AsyncRequest* request) const { request->Release(); }
  };
  using Ptr = std::unique_ptr<AsyncRequest, Releaser>;

  // Null when the event could not be made.
  static Ptr Create(DWORD buffer_size);

  // Makes this object the request handle's context, so that the callback
  // finds it, and takes WinHTTP's reference. False when the option is refused.
  bool Attach(HINTERNET request);

  HANDLE done() const { return done_.get(); }
  // Valid after done() was signalled: the step's success and its count (bytes
  // available or bytes read; 0 for the other steps).
  bool succeeded() const { return succeeded_; }
  DWORD count() const { return count_; }
  char* buffer() { return buffer_.get(); }
  DWORD capacity() const { return capacity_; }
  // The GetTickCount of the latest report on this request (a phase reached,
  // bytes received, a step ended): the stall watchdog's sign of life.
  const std::atomic<DWORD>& activity() const { return activity_; }
  // Set once the request has gone out (after any TLS handshake): what the
  // steps wait for from then on is the answer.
  const std::atomic<bool>& sent() const { return sent_; }

  // The session's status callback (set on the session handle, inherited by
  // every connection and request made from it).
  static void CALLBACK OnStatus(HINTERNET handle, DWORD_PTR context, DWORD status, void* info,
                                DWORD length);

 private:
  AsyncRequest() = default;
  void Complete(bool succeeded, DWORD count);
  void Release();

  std::atomic<int> references_{1};
  std::atomic<DWORD> activity_{0};
  std::atomic<bool> sent_{false};
  UniqueKernelHandle done_;
  bool succeeded_ = false;
  DWORD count_ = 0;
  std::unique_ptr<char[]> buffer_;
  DWORD capacity_ = 0;
};

}  // namespace kestrelume
