#include "tools/windows_kit/kit_proxy.h"

#include <ws2tcpip.h>

#include <mutex>

namespace kestrelume::kit {
namespace {

// The release server may hold an answer back for up to 10 s.
constexpr DWORD kOriginWaitMs = 30000;

bool SendText(SOCKET socket, const std::string& text) { return SendAll(socket, text.data(), text.size()); }

std::string Lower(std::string text) {
  for (char& c : text) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  return text;
}

// The value of header `name` (lower case) in `head`, or empty.
std::string HeaderValue(const std::string& head, const std::string& name) {
  size_t at = head.find("\r\n");
  while (at != std::string::npos && at + 2 < head.size()) {
    const size_t start = at + 2;
    const size_t end = head.find("\r\n", start);
    const std::string line = head.substr(start, end == std::string::npos ? std::string::npos : end - start);
    const size_t colon = line.find(':');
    if (colon != std::string::npos && Lower(line.substr(0, colon)) == name) {
      const size_t value = line.find_first_not_of(' ', colon + 1);
      return value == std::string::npos ? std::string() : line.substr(value);
    }
    at = end;
  }
  return {};
}

// "http://host:port/path?query" to "/path?query"; empty when it names no
// path. Wine's WinHTTP sends a proxy the path alone (the host is in Host),
// which is taken as it is.
std::string OriginTarget(const std::string& target) {
  constexpr char kScheme[] = "http://";
  if (!target.empty() && target[0] == '/') return target;
  if (Lower(target.substr(0, 7)) != kScheme) return {};
  const size_t slash = target.find('/', 7);
  return slash == std::string::npos ? std::string("/") : target.substr(slash);
}

// Keeps the connection open: the Negotiate and NTLM handshakes continue on
// the connection that was challenged.
std::string LoginRequired(bool basic) {
  return std::string("HTTP/1.1 407 Proxy Authentication Required\r\n") +
         (basic ? "Proxy-Authenticate: Basic realm=\"kit\"\r\n"
                : "Proxy-Authenticate: Negotiate\r\nProxy-Authenticate: NTLM\r\n") +
         "Content-Length: 0\r\n\r\n";
}

std::string Refusal(const char* status) {
  return std::string("HTTP/1.1 ") + status + "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
}

}  // namespace

bool KitProxy::Start(uint16_t origin_port, std::string& error) {
  origin_port_ = origin_port;
  return listener_.Start(0, &KitProxy::Serve, this, error);
}

void KitProxy::Demand(Login login) {
  std::lock_guard<SlimLock> hold(lock_);
  login_ = login;
  forwarded_.clear();
  logins_.clear();
  challenges_ = 0;
}

std::vector<std::string> KitProxy::Forwarded() {
  std::lock_guard<SlimLock> hold(lock_);
  return forwarded_;
}

int KitProxy::Challenges() {
  std::lock_guard<SlimLock> hold(lock_);
  return challenges_;
}

std::vector<std::string> KitProxy::Logins() {
  std::lock_guard<SlimLock> hold(lock_);
  return logins_;
}

void KitProxy::Serve(void* self, SOCKET client) { static_cast<KitProxy*>(self)->ServeRequests(client); }

void KitProxy::ServeRequests(SOCKET client) {
  std::string pending;
  char buffer[4096];
  for (;;) {
    size_t end;
    while ((end = pending.find("\r\n\r\n")) == std::string::npos) {
      if (pending.size() > 65536) return;
      const int got = recv(client, buffer, sizeof(buffer), 0);
      if (got <= 0) return;
      pending.append(buffer, static_cast<size_t>(got));
    }
    const std::string head = pending.substr(0, end + 2);
    pending.erase(0, end + 4);
    const size_t space = head.find(' ');
    const size_t second = space == std::string::npos ? space : head.find(' ', space + 1);
    if (second == std::string::npos) return;
    const std::string method = head.substr(0, space);
    const std::string target = OriginTarget(head.substr(space + 1, second - space - 1));
    if (method != "GET" || target.empty()) {
      SendText(client, Refusal("501 Not Implemented"));
      return;
    }
    const std::string login = HeaderValue(head, "proxy-authorization");
    bool challenge = false;
    {
      std::lock_guard<SlimLock> hold(lock_);
      if (!login.empty()) logins_.push_back(login.substr(0, login.find(' ')));
      challenge = login_ == Login::Basic || (login_ == Login::Logon && login.empty());
      challenges_ += challenge;
    }
    if (!challenge) {
      Forward(client, target);
      return;  // the release server closes each answer's connection, so this one ends too
    }
    if (!SendText(client, LoginRequired(login_ == Login::Basic))) return;
  }
}

bool KitProxy::Forward(SOCKET client, const std::string& target) {
  SOCKET origin = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (origin == INVALID_SOCKET) return SendText(client, Refusal("502 Bad Gateway"));
  listener_.Track(origin);
  DWORD timeout = kOriginWaitMs;
  setsockopt(origin, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof(timeout));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(origin_port_);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool ok = connect(origin, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
  if (ok) {
    {
      std::lock_guard<SlimLock> hold(lock_);
      forwarded_.push_back(target);
    }
    ok = SendText(origin, "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(origin_port_) +
                              "\r\nVia: 1.1 kestrelume-kit\r\nConnection: close\r\n\r\n");
    char buffer[65536];
    int got;
    while (ok && (got = recv(origin, buffer, sizeof(buffer), 0)) > 0) {
      ok = SendText(client, std::string(buffer, static_cast<size_t>(got)));
    }
  } else {
    SendText(client, Refusal("502 Bad Gateway"));
  }
  listener_.Untrack(origin);
  closesocket(origin);
  return ok;
}

}  // namespace kestrelume::kit
