#pragma once
// The kit's own release server: plain HTTP/1.1 on 127.0.0.1 (the installer's
// address rule allows plain http to this machine), with Winsock and nothing
// else, so the kit needs no Python, web server or administrator rights.
//
// It serves the files of one folder (the signed releases made when the kit
// was built) and answers every request in one of four ways, chosen by the
// first path segment, so that a signed address names its behaviour:
//
//   /hold/REST   waits until Release() (or 10 s) before serving REST
//   /stall/REST  serves REST's headers and its first 40 % slowly, then
//                sends nothing more until Release() or Stop()
//   /reset/REST  closes the connection with a reset, unanswered
//   anything     the file under the folder, or 404
//
// Start, Stop, Release and the queries belong to one thread (the runner's
// main thread); each connection runs on a thread of its own. Stop ends every
// connection and joins every thread.

#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/slim_lock.h"
#include "base/unique_handle.h"
#include "tools/windows_kit/loopback_listener.h"

namespace kestrelume::kit {

class KitServer {
 public:
  KitServer() = default;
  KitServer(const KitServer&) = delete;
  KitServer& operator=(const KitServer&) = delete;
  ~KitServer() { Stop(); }

  // Listens on 127.0.0.1:port; false (with `error` filled) when it cannot.
  bool Start(const std::wstring& folder, uint16_t port, std::string& error);
  void Stop();

  // Lets held and stalled answers go on (held ones are served, stalled ones
  // are closed).
  void Release();
  // Forgets the request log and re-arms holds and stalls.
  void Reset();

  // The paths (with their query) asked for since the last Reset, in order.
  std::vector<std::string> Requests();
  // Body bytes sent for stalled answers since the last Reset.
  uint64_t StalledBytesSent();

 private:
  static void Serve(void* self, SOCKET socket);
  void Answer(SOCKET socket, const std::string& target);
  bool WaitForRelease(DWORD milliseconds);

  std::wstring folder_;
  UniqueKernelHandle released_;  // manual-reset event
  volatile LONG stopping_ = 0;
  SlimLock lock_;
  std::vector<std::string> requests_;
  uint64_t stalled_bytes_ = 0;
  LoopbackListener listener_;  // last: stopped before the rest goes
};

}  // namespace kestrelume::kit
