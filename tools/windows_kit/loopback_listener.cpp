#include "tools/windows_kit/loopback_listener.h"

#include <mutex>

namespace kestrelume::kit {

namespace {

// A client that sends nothing for this long is dropped.
constexpr DWORD kClientWaitMs = 10000;

}  // namespace

bool SendAll(SOCKET socket, const char* data, size_t size) {
  while (size > 0) {
    const int sent = send(socket, data, static_cast<int>(size < 65536 ? size : 65536), 0);
    if (sent <= 0) return false;
    data += sent;
    size -= static_cast<size_t>(sent);
  }
  return true;
}

struct LoopbackListener::Connection {
  LoopbackListener* listener;
  SOCKET socket;
};

bool LoopbackListener::Start(uint16_t port, Handler handler, void* owner, std::string& error) {
  handler_ = handler;
  owner_ = owner;
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
    error = "Winsock could not start";
    return false;
  }
  listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  BOOL exclusive = TRUE;
  setsockopt(listener_, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive),
             sizeof(exclusive));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int size = sizeof(address);
  if (listener_ == INVALID_SOCKET || bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      listen(listener_, SOMAXCONN) != 0 ||
      getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    error = "cannot listen on 127.0.0.1:" + std::to_string(port) + " (Winsock error " +
            std::to_string(WSAGetLastError()) + "); is another program using that port?";
    if (listener_ != INVALID_SOCKET) closesocket(listener_);
    listener_ = INVALID_SOCKET;
    WSACleanup();
    return false;
  }
  port_ = ntohs(address.sin_port);
  InterlockedExchange(&stopping_, 0);
  accept_thread_.reset(CreateThread(nullptr, 0, AcceptLoop, this, 0, nullptr));
  return static_cast<bool>(accept_thread_);
}

void LoopbackListener::Stop() {
  if (listener_ == INVALID_SOCKET) return;
  InterlockedExchange(&stopping_, 1);
  closesocket(listener_);
  listener_ = INVALID_SOCKET;
  if (accept_thread_) WaitForSingleObject(accept_thread_.get(), INFINITE);
  accept_thread_.reset();
  std::vector<HANDLE> threads;
  {
    std::lock_guard<SlimLock> hold(lock_);
    for (SOCKET s : sockets_) shutdown(s, SD_BOTH);
    threads.swap(threads_);
  }
  for (HANDLE thread : threads) {
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
  }
  WSACleanup();
}

void LoopbackListener::Track(SOCKET socket) {
  std::lock_guard<SlimLock> hold(lock_);
  sockets_.push_back(socket);
}

void LoopbackListener::Untrack(SOCKET socket) {
  std::lock_guard<SlimLock> hold(lock_);
  for (auto it = sockets_.begin(); it != sockets_.end(); ++it) {
    if (*it == socket) {
      sockets_.erase(it);
      return;
    }
  }
}

DWORD WINAPI LoopbackListener::AcceptLoop(void* self) {
  auto* listener = static_cast<LoopbackListener*>(self);
  for (;;) {
    SOCKET client = accept(listener->listener_, nullptr, nullptr);
    if (client == INVALID_SOCKET) {
      if (InterlockedCompareExchange(&listener->stopping_, 0, 0)) return 0;
      Sleep(10);
      continue;
    }
    auto* connection = new Connection{listener, client};
    std::lock_guard<SlimLock> hold(listener->lock_);
    listener->sockets_.push_back(client);
    HANDLE thread = CreateThread(nullptr, 0, Serve, connection, 0, nullptr);
    if (thread) {
      listener->threads_.push_back(thread);
    } else {
      listener->sockets_.pop_back();
      closesocket(client);
      delete connection;
    }
  }
}

DWORD WINAPI LoopbackListener::Serve(void* argument) {
  auto* connection = static_cast<Connection*>(argument);
  LoopbackListener* listener = connection->listener;
  const SOCKET client = connection->socket;
  delete connection;
  DWORD timeout = kClientWaitMs;
  setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof(timeout));
  listener->handler_(listener->owner_, client);
  listener->Untrack(client);
  closesocket(client);
  return 0;
}

}  // namespace kestrelume::kit
