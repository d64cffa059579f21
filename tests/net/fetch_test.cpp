#include <winsock2.h>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "net_fixture.h"

namespace kestrelume {
namespace {

using Fetch = NetTest;

// A TCP listener on 127.0.0.2, a host that plain HTTP must never reach: it
// counts the connections it gets and closes each at once.
class OtherHostListener {
 public:
  OtherHostListener() {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return;
    started_ = true;
    socket_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(0x7F000002);
    int length = sizeof address;
    if (socket_ == INVALID_SOCKET ||
        bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(socket_, 8) != 0 ||
        getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      return;
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Accept(); });
  }
  ~OtherHostListener() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (socket_ != INVALID_SOCKET) closesocket(socket_);
    if (started_) WSACleanup();
  }
  OtherHostListener(const OtherHostListener&) = delete;
  OtherHostListener& operator=(const OtherHostListener&) = delete;

  uint16_t port() const { return port_; }
  int connections() const { return connections_.load(); }

 private:
  void Accept() {
    while (!stop_) {
      fd_set readable;
      FD_ZERO(&readable);
      FD_SET(socket_, &readable);
      timeval wait{0, 50000};
      if (select(0, &readable, nullptr, nullptr, &wait) != 1) continue;
      const SOCKET connection = accept(socket_, nullptr, nullptr);
      if (connection == INVALID_SOCKET) continue;
      ++connections_;
      closesocket(connection);
    }
  }

  bool started_ = false;
  SOCKET socket_ = INVALID_SOCKET;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  std::thread thread_;
};

// WinHTTP takes all before an "@" up to the first "/" for user information,
// also after a "?" or "#"; the address rule and the host check each keep
// such an address from connecting anywhere.
TEST_F(Fetch, AnAddressThatHidesAnotherHostBehindQueryOrFragmentConnectsNowhere) {
  OtherHostListener other;
  ASSERT_NE(other.port(), 0);
  const std::string hidden = "@127.0.0.2:" + std::to_string(other.port()) + "/update/stable.json";
  ServeGenerated("/update/stable.json", 10);
  for (const std::string& address : {
           "http://localhost#" + hidden,
           "http://127.0.0.1?" + hidden,
           server.Url("?x=" + hidden),
           server.Url("#" + hidden),
           "http://LocalHost:1#x?y" + hidden,
       }) {
    std::string body = "left over";
    EXPECT_EQ(session.Fetch(address, 65536, body), TransferResult::NetworkError) << address;
    EXPECT_TRUE(body.empty()) << address;
    EXPECT_EQ(session.Download(address, PathIn(L"setup.exe"), 10, std::string(64, '0'), {}),
              TransferResult::NetworkError)
        << address;
  }
  EXPECT_EQ(other.connections(), 0);
  EXPECT_TRUE(server.Requests().empty());
  EXPECT_TRUE(Files().empty());
}

TEST_F(Fetch, AcceptsABodyOfExactlyTheLimitAndRefusesOneByteMore) {
  ServeGenerated("/exact", 20000);
  ServeGenerated("/over", 20001);
  std::string body = "left over";

  EXPECT_EQ(session.Fetch(server.Url("/exact"), 20000, body), TransferResult::Ok);
  EXPECT_EQ(body, TestServer::GeneratedBytes(20000));

  EXPECT_EQ(session.Fetch(server.Url("/over"), 20000, body), TransferResult::TooLarge);
  EXPECT_TRUE(body.empty());

  // A limit of 0 takes only an empty body.
  TestServer::Route empty;
  Serve("/empty", empty);
  EXPECT_EQ(session.Fetch(server.Url("/empty"), 0, body), TransferResult::Ok);
  EXPECT_TRUE(body.empty());
  EXPECT_EQ(session.Fetch(server.Url("/exact"), 0, body), TransferResult::TooLarge);
}

TEST_F(Fetch, KeepsTheBodyExactlyAsReceived) {
  TestServer::Route route;
  route.body = std::string("\xEF\xBB\xBF {\"a\": 1}\r\n\0tail \xFF", 19);
  Serve("/doc.json", route);
  std::string body;
  EXPECT_EQ(session.Fetch(server.Url("/doc.json"), 65536, body), TransferResult::Ok);
  EXPECT_EQ(body, route.body);
}

TEST_F(Fetch, TreatsEveryStatusBut200AsHttpErrorWithAnEmptyBody) {
  for (int status : {404, 304, 206, 500, 201}) {
    TestServer::Route route;
    route.status = status;
    if (status != 304) route.body = "a body that must not be kept";
    Serve("/status", route);
    std::string body = "left over";
    EXPECT_EQ(session.Fetch(server.Url("/status"), 65536, body), TransferResult::HttpError)
        << "status " << status;
    EXPECT_TRUE(body.empty()) << "status " << status;
  }
  std::string body = "left over";
  EXPECT_EQ(session.Fetch(server.Url("/never-scripted"), 65536, body), TransferResult::HttpError);
  EXPECT_TRUE(body.empty());
}

TEST_F(Fetch, ReportsAConnectionDroppedBeforeTheAnswerAsNetworkErrorWithAnEmptyBody) {
  TestServer::Route reset;
  reset.size = 50000;
  reset.reset_before_headers = true;
  Serve("/reset", reset);
  std::string body = "left over";
  EXPECT_EQ(session.Fetch(server.Url("/reset"), 65536, body), TransferResult::NetworkError);
  EXPECT_TRUE(body.empty());
}

TEST_F(Fetch, SendsTheUserAgentAndNoQueryOfItsOwn) {
  ServeGenerated("/update/stable.json", 10);
  std::string body;
  ASSERT_EQ(session.Fetch(server.Url("/update/stable.json"), 65536, body), TransferResult::Ok);
  ASSERT_EQ(session.Fetch(server.Url("/update/stable.json?channel=beta&x=%20"), 65536, body),
            TransferResult::Ok);

  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].path, "/update/stable.json");
  EXPECT_EQ(requests[0].query, "");
  EXPECT_EQ(requests[0].user_agent, "KestrelumeInstaller/1");
  EXPECT_EQ(requests[1].query, "channel=beta&x=%20");
  EXPECT_EQ(requests[1].user_agent, "KestrelumeInstaller/1");
}

// Redirects are followed by the program, each target judged like the first
// address before anything connects to it; WinHTTP followed them by itself
// and sent plain requests to whatever host they named.
TEST_F(Fetch, FollowsRedirectsThatTheAddressRuleAllowsAndRefusesTheRest) {
  OtherHostListener other;
  ASSERT_NE(other.port(), 0);
  const std::string port = std::to_string(server.port());
  ServeGenerated("/new/stable.json", 300);
  struct Case {
    int status;
    std::string location;
    bool followed;
  };
  const Case cases[] = {
      {302, server.Url("/new/stable.json"), true},
      {301, "/new/stable.json", true},
      {303, "http://LOCALHOST:" + port + "/new/stable.json", true},
      {307, server.Url("/new/stable.json"), true},
      {308, "/new/stable.json", true},
      {302, "http://127.0.0.2:" + std::to_string(other.port()) + "/x", false},
      {307, "http://example.com:" + port + "/new/stable.json", false},
      {302, "http://user@127.0.0.1:" + port + "/new/stable.json", false},
      {302, "//127.0.0.2:" + std::to_string(other.port()) + "/x", false},
      {302, "new/stable.json", false},
      {302, "ftp://127.0.0.1:" + port + "/new/stable.json", false},
      {302, "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.status) + " to " + c.location);
    TestServer::Route moved;
    moved.status = c.status;
    moved.location = c.location;
    Serve("/old/stable.json", moved);
    std::string body;
    EXPECT_EQ(session.Fetch(server.Url("/old/stable.json"), 65536, body),
              c.followed ? TransferResult::Ok : TransferResult::NetworkError);
    EXPECT_EQ(body, c.followed ? TestServer::GeneratedBytes(300) : std::string());
    const TestServer::Served whole = ServeGenerated("/whole", 300);
    EXPECT_EQ(session.Download(server.Url("/old/stable.json"), PathIn(L"setup.exe"), 300,
                               whole.sha256, {}),
              c.followed ? TransferResult::Ok : TransferResult::NetworkError);
    EXPECT_EQ(FileExists(PathIn(L"setup.exe")), c.followed);
    DeleteFileW(PathIn(L"setup.exe").c_str());
    const auto requests = server.Requests();
    // A refused target is a network error, which a download tries once more.
    ASSERT_EQ(requests.size(), c.followed ? 4u : 3u);
    if (c.followed) {
      EXPECT_EQ(requests[1].path, "/new/stable.json");
    }
    ASSERT_TRUE(server.Reset());
    ServeGenerated("/new/stable.json", 300);
  }
  EXPECT_EQ(other.connections(), 0);

  // A chain is followed as far as WinHTTP itself would go, and no further.
  for (int i = 0; i < 12; ++i) {
    TestServer::Route hop;
    hop.status = 302;
    hop.location = "/hop" + std::to_string(i + 1);
    Serve("/hop" + std::to_string(i), hop);
  }
  ServeGenerated("/hop10", 300);
  std::string body;
  EXPECT_EQ(session.Fetch(server.Url("/hop0"), 65536, body), TransferResult::Ok);
  EXPECT_EQ(body, TestServer::GeneratedBytes(300));
  EXPECT_EQ(session.Fetch(server.Url("/hop1"), 65536, body), TransferResult::Ok);
  TestServer::Route hop;
  hop.status = 302;
  hop.location = "/hop11";
  Serve("/hop10", hop);
  EXPECT_EQ(session.Fetch(server.Url("/hop0"), 65536, body), TransferResult::NetworkError);
  EXPECT_TRUE(body.empty());
}

}  // namespace
}  // namespace kestrelume
