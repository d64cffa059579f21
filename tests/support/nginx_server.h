#pragma once
// Debian's nginx on 127.0.0.1 for tests that run under Wine: the client side
// of tests/support/nginx_server.py (its keeper starts nginx, and stops it
// when this object or its process goes away). TLS sites use the test
// certificates of tests/support/test_ca.py, kept in the build folder's
// test-pki; Start adds their CA to the ROOT store of this process's prefix.
//
//   NginxServer nginx;
//   ASSERT_TRUE(nginx.Start({{"good", "trusted"}, {"plain"}}));
//   nginx.Put("good", "/setup.exe", bytes);
//   session.Download(nginx.Url("good", "/setup.exe"), ...);   // https://localhost:PORT/setup.exe
//   nginx.Requests("good");                                   // from its access log
//
// Not thread-safe: use one object from one thread.

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kestrelume {

class NginxServer {
 public:
  struct Site {
    Site(std::string name, std::string certificate = {}, std::vector<std::string> protocols = {},
         std::vector<std::pair<std::string, std::string>> redirects = {})
        : name(std::move(name)),
          certificate(std::move(certificate)),
          protocols(std::move(protocols)),
          redirects(std::move(redirects)) {}
    std::string name;         // letters, digits, - and _
    std::string certificate;  // "": plain HTTP; else "trusted", "expired", "wrong_host" or "untrusted"
    std::vector<std::string> protocols;  // ssl_protocols; empty: TLSv1.2 TLSv1.3
    // Exact paths answered with a 302 to the address; "{port:NAME}" in it
    // is replaced by that site's port.
    std::vector<std::pair<std::string, std::string>> redirects;
  };

  // One line of a site's access log.
  struct Request {
    std::string path;
    std::string query;  // without "?"
    int status = 0;
    uint64_t bytes = 0;  // body bytes sent
    std::string tls;     // negotiated protocol, empty for plain HTTP
  };

  NginxServer() = default;
  ~NginxServer();
  NginxServer(const NginxServer&) = delete;
  NginxServer& operator=(const NginxServer&) = delete;

  // Starts nginx with these sites and waits (up to 30 s) until every port
  // listens; then trusts the test CA if any site uses TLS.
  bool Start(const std::vector<Site>& sites);
  // https://localhost:PORT (TLS sites) or http://127.0.0.1:PORT, then path.
  std::string Url(std::string_view site, std::string_view path) const;
  // Writes a file at path (starting with "/") in the site's document root.
  bool Put(std::string_view site, std::string_view path, std::string_view bytes);
  // Every request the site has answered, oldest first. nginx logs a request
  // once the response has gone out, which can be a moment after the client
  // has read all of it: a caller that knows how many requests there must be
  // names that number, and this waits (up to 5 s) until the log has them.
  std::vector<Request> Requests(std::string_view site, size_t at_least = 0) const;
  // Stops nginx now; the destructor does it otherwise.
  void Stop();

 private:
  std::vector<Request> LoggedRequests(std::string_view site) const;
  std::wstring WindowsPath(std::string_view relative) const;

  std::string folder_;  // Unix path
  std::map<std::string, uint16_t, std::less<>> ports_;
  std::map<std::string, bool, std::less<>> tls_;
  uintptr_t lifeline_ = ~uintptr_t{0};  // SOCKET
  bool winsock_ = false;
};

}  // namespace kestrelume
