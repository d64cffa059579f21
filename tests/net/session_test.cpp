#include <winsock2.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "net_fixture.h"
#include "system/system_functions.h"

namespace kestrelume {
namespace {

using Session = NetTest;

TEST_F(Session, RefusesAddressesOutsideThePolicyWithoutContactingAnyone) {
  ServeGenerated("/doc", 10);
  const std::string port = std::to_string(server.port());
  std::string body = "left over";
  // Plain http only to the local machine; user information is refused even
  // though it names this very server.
  for (const std::string& address :
       {std::string("http://example.com:") + port + "/doc",
        "http://user@127.0.0.1:" + port + "/doc", "ftp://127.0.0.1:" + port + "/doc",
        std::string("127.0.0.1:") + port + "/doc", std::string()}) {
    EXPECT_EQ(session.Fetch(address, 65536, body), TransferResult::NetworkError) << address;
    EXPECT_TRUE(body.empty());
  }
  EXPECT_TRUE(server.Requests().empty());
}

TEST_F(Session, ReportsAClosedPortAsNetworkError) {
  TestServer gone;
  ASSERT_TRUE(gone.Start());
  const std::string address = gone.Url("/doc");
  gone.Stop();
  Sleep(200);  // let it close its socket
  std::string body;
  EXPECT_EQ(session.Fetch(address, 65536, body), TransferResult::NetworkError);
}

TEST_F(Session, OpensNoRequestForAPartTooLongForItsBuffer) {
  ServeGenerated("/" + std::string(2046, 'p'), 10);
  ServeGenerated("/" + std::string(2047, 'p'), 10);
  ServeGenerated("/q", 10);
  std::string body;

  // 2,047 units and the terminator fill the path buffer exactly.
  EXPECT_EQ(session.Fetch(server.Url("/" + std::string(2046, 'p')), 65536, body), TransferResult::Ok);
  EXPECT_EQ(session.Fetch(server.Url("/" + std::string(2047, 'p')), 65536, body),
            TransferResult::NetworkError);
  EXPECT_EQ(session.Fetch(server.Url("/q?" + std::string(2047, 'q')), 65536, body),
            TransferResult::NetworkError);
  EXPECT_EQ(session.Fetch("https://" + std::string(256, 'h') + "/doc", 65536, body),
            TransferResult::NetworkError);
  EXPECT_EQ(server.Requests().size(), 1u);
}

TEST_F(Session, CancelWithNothingInFlightOnlyStopsLaterTransfersUntilRearmed) {
  ServeGenerated("/doc", 10);
  const TestServer::Served setup = ServeGenerated("/setup.exe", 1000);
  const std::wstring final_path = PathIn(L"setup.exe");

  session.Cancel();
  session.Cancel();  // harmless the second time
  EXPECT_TRUE(session.IsCancelled());

  std::string body = "left over";
  EXPECT_EQ(session.Fetch(server.Url("/doc"), 65536, body), TransferResult::Cancelled);
  EXPECT_TRUE(body.empty());
  bool called = false;
  EXPECT_EQ(session.Download(server.Url("/setup.exe"), final_path, setup.size, setup.sha256,
                             [&](uint64_t) { called = true; }),
            TransferResult::Cancelled);
  EXPECT_FALSE(called);
  EXPECT_TRUE(Files().empty());
  EXPECT_TRUE(server.Requests().empty());

  session.Rearm();
  EXPECT_FALSE(session.IsCancelled());
  EXPECT_EQ(session.Fetch(server.Url("/doc"), 65536, body), TransferResult::Ok);
  EXPECT_EQ(session.Download(server.Url("/setup.exe"), final_path, setup.size, setup.sha256, {}),
            TransferResult::Ok);
  EXPECT_EQ(server.Requests().size(), 2u);
}

TEST_F(Session, CancelDuringADownloadEndsItCancelledAndKeepsThePartFileForAResume) {
  TestServer::Route endless;
  endless.endless = true;
  Serve("/setup.exe", endless);
  const std::wstring final_path = PathIn(L"setup.exe");

  std::promise<void> first_bytes;
  std::atomic<bool> signalled{false};
  std::atomic<uint64_t> last_count{0};
  auto download = std::async(std::launch::async, [&] {
    return session.Download(server.Url("/setup.exe"), final_path, uint64_t{1} << 40,
                            std::string(64, '0'), [&](uint64_t count) {
                              last_count = count;
                              if (!signalled.exchange(true)) first_bytes.set_value();
                            });
  });
  ASSERT_EQ(first_bytes.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_TRUE(FileExists(final_path + L".part"));
  session.Cancel();
  ASSERT_EQ(download.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_EQ(download.get(), TransferResult::Cancelled);
  EXPECT_GT(last_count.load(), 0u);
  EXPECT_EQ(Files(), std::vector<std::wstring>{L"setup.exe.part"});
  DeleteFileW((final_path + L".part").c_str());

  session.Rearm();
  const TestServer::Served setup = ServeGenerated("/setup.exe", 70000);
  EXPECT_EQ(session.Download(server.Url("/setup.exe"), final_path, setup.size, setup.sha256, {}),
            TransferResult::Ok);
}

// A body that never ends, 1 KiB every 5 ms.
TestServer::Route EndlessInSmallPieces() {
  TestServer::Route endless;
  endless.endless = true;
  endless.chunk = 1024;
  endless.delay_ms = 5;
  return endless;
}

// Which thread closes WinHTTP handles while a cancel is made.
std::atomic<DWORD> g_cancelling_thread{0};
std::atomic<int> g_closes{0};
std::atomic<int> g_closes_by_canceller{0};
decltype(&::WinHttpCloseHandle) g_real_close = nullptr;

BOOL WINAPI RecordingClose(HINTERNET handle) {
  ++g_closes;
  if (GetCurrentThreadId() == g_cancelling_thread.load()) ++g_closes_by_canceller;
  return g_real_close(handle);
}

// Wine hands a closed handle's value to the next handle it makes, so a
// request closed by the canceller could be a stranger's handle by the time
// the worker's next call reaches it: the worker must close its own.
TEST_F(Session, CancelClosesNoHandleTheWorkerClosesItsOwnRequest) {
  const TestServer::Route endless = EndlessInSmallPieces();
  Serve("/setup.exe", endless);
  Serve("/stable.json", endless);
  SystemFunctions recording = System();
  g_real_close = recording.WinHttpCloseHandle;
  recording.WinHttpCloseHandle = &RecordingClose;
  ReplaceSystemFunctionsForTesting(&recording);

  for (const bool download : {true, false}) {
    g_closes = 0;
    g_closes_by_canceller = 0;
    std::string body;
    auto transfer = std::async(std::launch::async, [&] {
      return download ? session.Download(server.Url("/setup.exe"), PathIn(L"setup.exe"),
                                         uint64_t{1} << 40, std::string(64, '0'), {})
                      : session.Fetch(server.Url("/stable.json"), 1u << 30, body);
    });
    for (int i = 0; i < 500 && server.Requests().empty(); ++i) Sleep(10);
    Sleep(200);  // reading the endless body
    g_cancelling_thread = GetCurrentThreadId();
    session.Cancel();
    ASSERT_EQ(transfer.wait_for(std::chrono::seconds(10)), std::future_status::ready) << download;
    g_cancelling_thread = 0;
    EXPECT_EQ(transfer.get(), TransferResult::Cancelled) << download;
    EXPECT_EQ(g_closes_by_canceller.load(), 0) << download;
    // The request and its connection at least (a proxy lookup may close a
    // session of its own), all by the worker.
    EXPECT_GE(g_closes.load(), 2) << download;
    session.Rearm();
    ASSERT_TRUE(server.Reset());
    Serve("/setup.exe", endless);
    Serve("/stable.json", endless);
  }
  ReplaceSystemFunctionsForTesting(nullptr);
}

TEST_F(Session, CancelDuringAFetchEndsItCancelledWithAnEmptyBody) {
  const TestServer::Route endless = EndlessInSmallPieces();
  Serve("/stable.json", endless);

  std::string body;
  auto fetch = std::async(std::launch::async,
                          [&] { return session.Fetch(server.Url("/stable.json"), 1u << 30, body); });
  // Wait until the request is in flight: the server has recorded it.
  for (int i = 0; i < 500 && server.Requests().empty(); ++i) Sleep(10);
  ASSERT_EQ(server.Requests().size(), 1u);
  Sleep(100);
  session.Cancel();
  ASSERT_EQ(fetch.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_EQ(fetch.get(), TransferResult::Cancelled);
  EXPECT_TRUE(body.empty());
}

TEST_F(Session, ACancelRacingTheStartOfATransferIsNeverLost) {
  TestServer::Route endless;
  endless.endless = true;
  Serve("/setup.exe", endless);
  const std::wstring final_path = PathIn(L"setup.exe");

  // Cancels land before, during and after the opening of the request; a lost
  // one would leave the download reading the endless body.
  for (int i = 0; i < 20; ++i) {
    auto download = std::async(std::launch::async, [&] {
      return session.Download(server.Url("/setup.exe"), final_path, uint64_t{1} << 40,
                              std::string(64, '0'), {});
    });
    Sleep(static_cast<DWORD>(i % 5) * 2);
    session.Cancel();
    ASSERT_EQ(download.wait_for(std::chrono::seconds(10)), std::future_status::ready) << i;
    EXPECT_EQ(download.get(), TransferResult::Cancelled) << i;
    EXPECT_FALSE(FileExists(final_path)) << i;
    session.Rearm();
  }
}

TEST_F(Session, WithoutAnOpenSessionEveryTransferIsANetworkError) {
  ServeGenerated("/doc", 10);
  HttpSession closed;  // never opened
  std::string body = "left over";
  EXPECT_EQ(closed.Fetch(server.Url("/doc"), 65536, body), TransferResult::NetworkError);
  EXPECT_TRUE(body.empty());
  session.Close();
  EXPECT_EQ(session.Download(server.Url("/doc"), PathIn(L"doc"), 10, std::string(64, '0'), {}),
            TransferResult::NetworkError);
  EXPECT_TRUE(Files().empty());
  EXPECT_TRUE(server.Requests().empty());
}

// A port on 127.0.0.1 where connections complete (the backlog takes them) but
// nobody ever accepts, reads or answers.
class SilentListener {
 public:
  SilentListener() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    socket_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    if (bind(socket_, reinterpret_cast<sockaddr*>(&address), length) == 0 && listen(socket_, 8) == 0 &&
        getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
      port_ = ntohs(address.sin_port);
    }
  }
  ~SilentListener() {
    closesocket(socket_);
    WSACleanup();
  }
  int port() const { return port_; }

 private:
  SOCKET socket_ = INVALID_SOCKET;
  int port_ = 0;
};

// Closing a request handle does not interrupt a blocked synchronous WinHTTP
// call under Wine, so this holds only because no call blocks: a cancel must
// end the transfer at once even when the server sends nothing, or almost
// nothing, for a long time.
TEST_F(Session, CancelEndsATransferAtOnceWhenTheServerIsSilentOrTrickles) {
  SilentListener listener;
  ASSERT_NE(listener.port(), 0);
  TestServer::Route stalled;
  stalled.stall_after = 0;
  stalled.size = 1000000;
  Serve("/stalled.exe", stalled);
  TestServer::Route trickle;
  trickle.endless = true;
  trickle.chunk = 1;
  trickle.delay_ms = 500;
  Serve("/trickle.exe", trickle);
  const std::string silent = "http://127.0.0.1:" + std::to_string(listener.port()) + "/setup.exe";

  for (const std::string& address :
       {silent, server.Url("/stalled.exe"), server.Url("/trickle.exe")}) {
    const std::wstring final_path = PathIn(L"setup.exe");
    auto download = std::async(std::launch::async, [&] {
      return session.Download(address, final_path, 1000000, std::string(64, '0'), {});
    });
    Sleep(700);  // well into the wait for headers or body
    const auto cancelled = std::chrono::steady_clock::now();
    session.Cancel();
    ASSERT_EQ(download.wait_for(std::chrono::seconds(25)), std::future_status::ready) << address;
    const auto took = std::chrono::steady_clock::now() - cancelled;
    EXPECT_EQ(download.get(), TransferResult::Cancelled) << address;
    EXPECT_LT(took, std::chrono::milliseconds(500)) << address;
    EXPECT_FALSE(FileExists(final_path)) << address;
    session.Rearm();
  }
}

// Under Wine a synchronous read waits until its whole buffer is full: 64 KiB
// at 2 KB/s would show nothing for half a minute.
TEST_F(Session, ASlowDownloadReportsAndWritesBytesAsTheyArrive) {
  TestServer::Route slow;
  slow.size = 200000;
  slow.chunk = 100;
  slow.delay_ms = 50;
  Serve("/slow.exe", slow);
  const std::wstring final_path = PathIn(L"setup.exe");

  std::promise<uint64_t> first_count;
  std::atomic<bool> reported{false};
  auto download = std::async(std::launch::async, [&] {
    return session.Download(server.Url("/slow.exe"), final_path, 200000, std::string(64, '0'),
                            [&](uint64_t count) {
                              if (!reported.exchange(true)) first_count.set_value(count);
                            });
  });
  std::future<uint64_t> first = first_count.get_future();
  ASSERT_EQ(first.wait_for(std::chrono::seconds(4)), std::future_status::ready);
  EXPECT_LT(first.get(), 65536u);
  // Written as reported: the part file already holds them.
  Sleep(500);
  WIN32_FILE_ATTRIBUTE_DATA part{};
  ASSERT_TRUE(GetFileAttributesExW((final_path + L".part").c_str(), GetFileExInfoStandard, &part));
  EXPECT_GT(part.nFileSizeLow, 0u);
  session.Cancel();
  ASSERT_EQ(download.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_EQ(download.get(), TransferResult::Cancelled);
}

// The watchdog counts signs of life, not steps: a whole-buffer read that a
// link turned slow goes on while bytes arrive, and only silence ends an
// attempt. The limit is shortened to one second; a 256 KiB read at 80 KB/s
// takes three. (Under Wine a read that finds bytes already waiting fills its
// buffer on the calling thread before it returns, so there the slow read
// cannot be taken for a stall at all; on Windows every read is awaited.)
TEST_F(Session, OnlySilenceStallsATransferNotASlowStep) {
  session.SetStallLimitForTesting(1000);
  constexpr int64_t kSize = 800000;
  TestServer::Route slowing;
  slowing.size = kSize;
  slowing.pace_after = 500000;  // long enough for reads of whole buffers
  slowing.chunk = 4000;
  slowing.delay_ms = 50;
  const TestServer::Served setup = Serve("/slowing.exe", slowing);
  // Small pieces, so that each read asks for what is there and is awaited.
  TestServer::Route silent;
  silent.size = kSize;
  silent.chunk = 1000;
  silent.delay_ms = 20;
  silent.stall_after = 30000;
  silent.stall_seconds = 30;
  Serve("/silent.exe", silent);

  EXPECT_EQ(session.Download(server.Url("/slowing.exe"), PathIn(L"slowing.exe"), kSize,
                             setup.sha256, {}),
            TransferResult::Ok);
  EXPECT_EQ(server.Requests().size(), 1u) << "the slow read was taken for a stall";

  // Silence after some bytes: each attempt ends a second after its last
  // byte, and two attempts that bring nothing more end the download.
  const ULONGLONG started = GetTickCount64();
  EXPECT_EQ(session.Download(server.Url("/silent.exe"), PathIn(L"silent.exe"), kSize,
                             std::string(64, '0'), {}),
            TransferResult::NetworkError);
  EXPECT_LT(GetTickCount64() - started, 12000u);
  EXPECT_EQ(server.Requests().size(), 1u + 3u);
}

}  // namespace
}  // namespace kestrelume
