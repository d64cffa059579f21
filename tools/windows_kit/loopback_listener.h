#pragma once
// A listening socket on 127.0.0.1 that hands each connection to a thread of
// its own: what the kit's release server and its proxy share. Start and Stop
// belong to one thread; Stop shuts every connection down (and every socket a
// handler tracks) and joins every thread, so no handler outlives it.

#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/slim_lock.h"
#include "base/unique_handle.h"

namespace kestrelume::kit {

// Sends all of `size` bytes; false when the connection ends first.
bool SendAll(SOCKET socket, const char* data, size_t size);

class LoopbackListener {
 public:
  // Runs on the connection's own thread; the listener closes `client` after.
  using Handler = void (*)(void* owner, SOCKET client);

  LoopbackListener() = default;
  LoopbackListener(const LoopbackListener&) = delete;
  LoopbackListener& operator=(const LoopbackListener&) = delete;
  ~LoopbackListener() { Stop(); }

  // Listens on 127.0.0.1:port (0: a free port), exclusively, so that another
  // program on the port is an error rather than a server that answers half
  // of the requests. False, with `error` filled, when it cannot.
  bool Start(uint16_t port, Handler handler, void* owner, std::string& error);
  void Stop();
  uint16_t port() const { return port_; }

  // A socket a handler opened itself (to forward, say), so that Stop shuts
  // it down too; untracked before the handler closes it.
  void Track(SOCKET socket);
  void Untrack(SOCKET socket);

 private:
  struct Connection;
  static DWORD WINAPI AcceptLoop(void* self);
  static DWORD WINAPI Serve(void* connection);

  Handler handler_ = nullptr;
  void* owner_ = nullptr;
  uint16_t port_ = 0;
  SOCKET listener_ = INVALID_SOCKET;
  UniqueKernelHandle accept_thread_;
  volatile LONG stopping_ = 0;
  SlimLock lock_;
  std::vector<HANDLE> threads_;
  std::vector<SOCKET> sockets_;
};

}  // namespace kestrelume::kit
