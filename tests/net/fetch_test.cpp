#include <gtest/gtest.h>

#include "net_fixture.h"

namespace kestrelume {
namespace {

using Fetch = NetTest;

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

TEST_F(Fetch, FollowsARedirect) {
  TestServer::Route moved;
  moved.status = 302;
  moved.location = server.Url("/new/stable.json");
  Serve("/old/stable.json", moved);
  ServeGenerated("/new/stable.json", 300);

  std::string body;
  EXPECT_EQ(session.Fetch(server.Url("/old/stable.json"), 65536, body), TransferResult::Ok);
  EXPECT_EQ(body, TestServer::GeneratedBytes(300));
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].path, "/new/stable.json");
}

}  // namespace
}  // namespace kestrelume
