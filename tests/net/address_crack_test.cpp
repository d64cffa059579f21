// The address rule against WinHTTP's own reading of an address: for every
// address the rule accepts, WinHttpCrackUrl must find the host the rule saw.
// Addresses are built from pieces that end, split or hide an authority.

#include <winsock2.h>
#include <ws2tcpip.h>
#include <gtest/gtest.h>
#include <windows.h>
#include <winhttp.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/utf.h"
#include "manifest/address.h"
#include "net/http_session.h"
#include "system/system_functions.h"

namespace kestrelume {
namespace {

// The host WinHTTP would connect to, spelled as the rule spells hosts; false
// when the address does not crack.
bool CrackedHost(const std::string& address, std::string& host) {
  const std::wstring wide = Utf8ToWide(address);
  wchar_t name[256];
  wchar_t path[2048];
  wchar_t extra[2048];
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  parts.lpszHostName = name;
  parts.dwHostNameLength = 256;
  parts.lpszUrlPath = path;
  parts.dwUrlPathLength = 2048;
  parts.lpszExtraInfo = extra;
  parts.dwExtraInfoLength = 2048;
  if (!System().WinHttpCrackUrl(wide.c_str(), 0, 0, &parts)) return false;
  host = WideToUtf8({name, parts.dwHostNameLength});
  for (char& c : host) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return true;
}

// A listener on the IPv6 loopback address [::1] (this machine): it answers
// a GET with a 200 and "ok", closes anything else (a TLS hello) at once, and
// remembers the first bytes of each connection.
class Ipv6Loopback {
 public:
  Ipv6Loopback() {
    WSADATA data;
    started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    listener_ = socket(AF_INET6, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_loopback;
    int length = sizeof address;
    if (listener_ == INVALID_SOCKET ||
        bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener_, 8) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      return;
    }
    port_ = ntohs(address.sin6_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~Ipv6Loopback() {
    if (thread_.joinable()) {
      // A blocked accept is woken by one more connection, not by closing.
      stop_ = true;
      SOCKET wake = socket(AF_INET6, SOCK_STREAM, IPPROTO_TCP);
      sockaddr_in6 address{};
      address.sin6_family = AF_INET6;
      address.sin6_addr = in6addr_loopback;
      address.sin6_port = htons(port_);
      connect(wake, reinterpret_cast<sockaddr*>(&address), sizeof address);
      thread_.join();
      closesocket(wake);
    }
    if (listener_ != INVALID_SOCKET) closesocket(listener_);
    if (started_) WSACleanup();
  }
  uint16_t port() const { return port_; }
  std::vector<std::string> Arrivals() {
    std::lock_guard lock(lock_);
    return arrivals_;
  }

 private:
  void Serve() {
    for (;;) {
      SOCKET client = accept(listener_, nullptr, nullptr);
      if (client == INVALID_SOCKET || stop_) {
        if (client != INVALID_SOCKET) closesocket(client);
        return;
      }
      const DWORD wait_ms = 5000;
      setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&wait_ms),
                 sizeof wait_ms);
      std::string received;
      char buffer[4096];
      for (;;) {
        const int got = recv(client, buffer, sizeof buffer, 0);
        if (got <= 0) break;
        received.append(buffer, static_cast<size_t>(got));
        if (!received.starts_with("GET ") || received.find("\r\n\r\n") != std::string::npos) break;
      }
      {
        // Noted before the client hears anything, so that it is there by
        // the time the client's call returns.
        std::lock_guard lock(lock_);
        arrivals_.push_back(received.substr(0, received.find("\r\n")));
      }
      if (received.starts_with("GET ")) {
        const std::string answer =
            "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok";
        send(client, answer.data(), static_cast<int>(answer.size()), 0);
        shutdown(client, SD_SEND);
      }
      closesocket(client);
    }
  }

  bool started_ = false;
  SOCKET listener_ = INVALID_SOCKET;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::mutex lock_;
  std::vector<std::string> arrivals_;
};

// Bracketed literals go where the rule says, with the rule's port: plain
// HTTP to [::1] only, HTTPS to any literal (here it reaches the listener,
// whose missing TLS then fails the exchange).
TEST(AddressUnderWinHttp, BracketedLiteralsReachTheLiteralAndPortTheRuleRead) {
  Ipv6Loopback listener;
  ASSERT_NE(listener.port(), 0) << "no IPv6 loopback on this machine";
  const std::string port = std::to_string(listener.port());
  struct Case {
    std::string address;
    TransferResult result;
    std::string arrival;  // first line seen by the listener; empty: nothing arrived
  };
  const Case cases[] = {
      {"http://[::1]:" + port + "/doc?x=1", TransferResult::Ok, "GET /doc?x=1 HTTP/1.1"},
      {"HTTP://[::1]:" + port + "/Doc?Q", TransferResult::Ok, "GET /Doc?Q HTTP/1.1"},
      {"https://[::1]:" + port + "/doc", TransferResult::NetworkError, "\x16"},  // TLS record
      {"http://[0:0:0:0:0:0:0:1]:" + port + "/doc", TransferResult::NetworkError, ""},
      {"http://[::ffff:127.0.0.1]:" + port + "/doc", TransferResult::NetworkError, ""},
      {"http://[::1]x:" + port + "/doc", TransferResult::NetworkError, ""},
      {"http://[::1:" + port + "/doc", TransferResult::NetworkError, ""},
  };
  HttpSession session;
  session.Open();
  size_t seen = 0;
  for (const Case& c : cases) {
    std::string body;
    EXPECT_EQ(session.Fetch(c.address, 100, body), c.result) << c.address;
    EXPECT_EQ(body, c.result == TransferResult::Ok ? "ok" : "") << c.address;
    const std::vector<std::string> arrivals = listener.Arrivals();
    if (c.arrival.empty()) {
      EXPECT_EQ(arrivals.size(), seen) << c.address << " reached the listener";
    } else {
      EXPECT_EQ(arrivals.size(), seen + 1) << c.address;
      if (arrivals.size() > seen) {
        EXPECT_TRUE(arrivals[seen].starts_with(c.arrival)) << c.address << ": " << arrivals[seen];
      }
    }
    seen = arrivals.size();
  }
  session.Close();
}

TEST(AddressUnderWinHttp, EveryAcceptedAddressCracksToTheHostTheRuleSaw) {
  ASSERT_TRUE(System().Has(SystemLibrary::WinHttp));
  const std::string download(kDownloadHost);
  const std::string schemes[] = {"http://", "https://", "HTTP://"};
  const std::string users[] = {"", "u@", "u:p@", "@", ":@"};
  const std::string hosts[] = {"localhost", "127.0.0.1", "LocalHost", "127.0.0.2", download, "",
                               "example.com.", "192.0.2.1"};
  const std::string ports[] = {"", ":8080", ":", ":80:81"};
  const std::string tails[] = {
      "", "/", "/x?y#z", "?q", "#f", "?", "#",
      "?@127.0.0.2", "?x=@127.0.0.2:8080/u", "#@127.0.0.2/x", "#x?y@127.0.0.2/",
      "/a@127.0.0.2", "/?a@127.0.0.2", "?a/b@127.0.0.2", "#a/@127.0.0.2",
      "\\@127.0.0.2/", "\\x", ";@127.0.0.2/", "%40127.0.0.2/", ".127.0.0.2/", "?/x",
  };
  int accepted = 0;
  int refused = 0;
  for (const std::string& scheme : schemes) {
    for (const std::string& user : users) {
      for (const std::string& host : hosts) {
        for (const std::string& port : ports) {
          for (const std::string& tail : tails) {
            const std::string address = scheme + user + host + port + tail;
            if (!IsAllowedAddress(address)) {
              ++refused;
              continue;
            }
            ++accepted;
            std::string cracked;
            if (!CrackedHost(address, cracked)) continue;  // no request either
            // Wine's WinHTTP ends the host at "/" only: an address with no
            // path keeps its "?" or "#" part in the host, a name that goes
            // nowhere (and that the HTTP layer refuses, being another host).
            EXPECT_EQ(cracked.substr(0, cracked.find_first_of("?#")), HostOf(address).host)
                << address;
          }
        }
      }
    }
  }
  // The table reaches both sides of the rule.
  EXPECT_GT(accepted, 300);
  EXPECT_GT(refused, 3000);
}

}  // namespace
}  // namespace kestrelume
