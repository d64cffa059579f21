#pragma once
// The kit's own HTTP proxy on 127.0.0.1, so that the proxy scenario needs no
// proxy server installed: it takes GET requests (absolute-form, or the path
// alone as Wine sends it) and forwards them to the kit's release server,
// whatever host they name, so nothing leaves the machine. CONNECT is refused: the kit serves plain HTTP only.
//
// It can demand a login, the two ways company proxies do:
//   Login::Logon  answers 407 offering Negotiate and NTLM to a request that
//                 carries no Proxy-Authorization, and forwards one that
//                 carries any (it records the header's scheme; it checks
//                 that a login is sent, not that it is right)
//   Login::Basic  answers 407 offering Basic only, always
//
// Start and the queries belong to one thread (the runner's main thread);
// each connection runs on a thread of its own. The destructor ends every
// connection and joins every thread.

#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/slim_lock.h"
#include "tools/windows_kit/loopback_listener.h"

namespace kestrelume::kit {

class KitProxy {
 public:
  enum class Login { None, Logon, Basic };

  KitProxy() = default;
  KitProxy(const KitProxy&) = delete;
  KitProxy& operator=(const KitProxy&) = delete;
  ~KitProxy() = default;

  // Listens on a free port of 127.0.0.1 and forwards to 127.0.0.1:origin_port;
  // false (with `error` filled) when it cannot.
  bool Start(uint16_t origin_port, std::string& error);
  uint16_t port() const { return listener_.port(); }

  // Changes what the proxy demands and forgets what it has seen.
  void Demand(Login login);

  // Request targets (path and query) forwarded to the release server.
  std::vector<std::string> Forwarded();
  // 407 answers given.
  int Challenges();
  // The scheme word of each Proxy-Authorization header received ("NTLM").
  std::vector<std::string> Logins();

 private:
  static void Serve(void* self, SOCKET client);
  void ServeRequests(SOCKET client);
  bool Forward(SOCKET client, const std::string& target);

  uint16_t origin_port_ = 0;
  SlimLock lock_;
  Login login_ = Login::None;
  std::vector<std::string> forwarded_;
  std::vector<std::string> logins_;
  int challenges_ = 0;
  LoopbackListener listener_;  // last: stopped (every connection joined) before the rest goes
};

}  // namespace kestrelume::kit
