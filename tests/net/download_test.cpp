#include <gtest/gtest.h>

#include <vector>

#include "net_fixture.h"

namespace kestrelume {
namespace {

using Download = NetTest;

const std::string kZeroDigest(64, '0');

TEST_F(Download, OfExactLengthAndRightDigestLeavesOnlyTheVerifiedFinalFile) {
  const TestServer::Served setup = ServeGenerated("/KestrelumeSetup-2.0.exe", 200000);
  const std::wstring final_path = PathIn(L"KestrelumeSetup-2.0.exe");
  std::vector<uint64_t> counts;

  EXPECT_EQ(session.Download(server.Url("/KestrelumeSetup-2.0.exe"), final_path, setup.size,
                             setup.sha256, [&](uint64_t count) { counts.push_back(count); }),
            TransferResult::Ok);
  EXPECT_EQ(ReadWholeFile(final_path), TestServer::GeneratedBytes(200000));
  EXPECT_EQ(Files(), std::vector<std::wstring>{L"KestrelumeSetup-2.0.exe"});
  ASSERT_FALSE(counts.empty());
  EXPECT_EQ(counts.back(), 200000u);
  uint64_t previous = 0;
  for (uint64_t count : counts) {
    EXPECT_GT(count, previous);
    EXPECT_LE(count - previous, kDownloadBufferBytes);
    previous = count;
  }
}

// Two steps per piece of WinHTTP's own buffer (how much is there, then read
// it) halved the speed; while bytes wait, each read fills the whole buffer.
TEST_F(Download, AtFullSpeedReadsWholeBuffers) {
  constexpr uint64_t kSize = 8u << 20;
  const TestServer::Served setup = ServeGenerated("/setup.exe", kSize);
  uint64_t previous = 0;
  uint64_t in_whole_buffers = 0;
  EXPECT_EQ(session.Download(server.Url("/setup.exe"), PathIn(L"setup.exe"), setup.size,
                             setup.sha256,
                             [&](uint64_t count) {
                               if (count - previous == kDownloadBufferBytes) {
                                 in_whole_buffers += kDownloadBufferBytes;
                               }
                               previous = count;
                             }),
            TransferResult::Ok);
  EXPECT_GT(in_whole_buffers, kSize * 3 / 4);
}

TEST_F(Download, AnEmptyFileWithItsDigestIsOk) {
  const TestServer::Served empty = ServeGenerated("/empty.exe", 0);
  EXPECT_EQ(session.Download(server.Url("/empty.exe"), PathIn(L"empty.exe"), 0, empty.sha256, {}),
            TransferResult::Ok);
  EXPECT_TRUE(FileExists(PathIn(L"empty.exe")));
  EXPECT_EQ(Files().size(), 1u);
}

TEST_F(Download, ABodyLongerThanExpectedIsTooLargeAndNothingPastTheLengthIsWritten) {
  for (int64_t expected : {1000, 65536, 100000}) {
    const TestServer::Served served = ServeGenerated("/long.exe", expected + 1);
    uint64_t most = 0;
    EXPECT_EQ(session.Download(server.Url("/long.exe"), PathIn(L"long.exe"),
                               static_cast<uint64_t>(expected), served.sha256,
                               [&](uint64_t count) { most = count; }),
              TransferResult::TooLarge)
        << expected;
    EXPECT_LE(most, static_cast<uint64_t>(expected));
    EXPECT_TRUE(Files().empty()) << expected;
  }
}

TEST_F(Download, ABodyThatEndsEarlyIsANetworkErrorNotADigestMismatch) {
  const std::string whole = TestServer::GeneratedBytes(100000);
  struct Case {
    const char* what;
    TestServer::Route route;
  };
  std::vector<Case> cases;
  TestServer::Route closed_early;  // promises the whole file, closes cleanly after part of it
  closed_early.body = whole.substr(0, 70000);
  closed_early.content_length = 100000;
  cases.push_back({"clean close before the promised length", closed_early});
  TestServer::Route short_body;  // honest about a body that is too short
  short_body.body = whole.substr(0, 99999);
  cases.push_back({"complete but short body", short_body});
  TestServer::Route unframed;
  unframed.body = whole.substr(0, 5000);
  unframed.omit_content_length = true;
  cases.push_back({"body ended by closing", unframed});
  TestServer::Route reset;
  reset.body = whole;
  reset.reset_after = 70000;
  cases.push_back({"connection reset", reset});
  TestServer::Route empty;
  cases.push_back({"status 200 with an empty body", empty});

  const std::string digest = ServeGenerated("/whole", 100000).sha256;
  for (const Case& c : cases) {
    Serve("/setup.exe", c.route);
    EXPECT_EQ(session.Download(server.Url("/setup.exe"), PathIn(L"setup.exe"), 100000, digest, {}),
              TransferResult::NetworkError)
        << c.what;
    // What came is kept for a resume, never under the final name. After a
    // reset the system may drop what it had received and not yet handed on,
    // which is all of it while a read waits for a whole buffer: an empty
    // part is not kept.
    EXPECT_FALSE(FileExists(PathIn(L"setup.exe"))) << c.what;
    if (c.route.reset_after < 0) {
      EXPECT_EQ(FileExists(PathIn(L"setup.exe.part")), c.route.body.size() > 0) << c.what;
    }
    DeleteFileW(PathIn(L"setup.exe.part").c_str());
  }
}

TEST_F(Download, WrongBytesOrAnUnusableDigestAreADigestMismatch) {
  const TestServer::Served setup = ServeGenerated("/setup.exe", 5000);
  std::string upper = setup.sha256;
  for (char& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  std::string wrong = setup.sha256;
  wrong[63] = wrong[63] == '0' ? '1' : '0';

  for (const std::string& expected : {wrong, upper, std::string(), setup.sha256 + "0"}) {
    EXPECT_EQ(session.Download(server.Url("/setup.exe"), PathIn(L"setup.exe"), setup.size,
                               expected, {}),
              TransferResult::DigestMismatch)
        << expected;
    EXPECT_TRUE(Files().empty()) << expected;
  }
}

TEST_F(Download, AStatusOtherThan200IsHttpErrorAndLeavesNoFile) {
  TestServer::Route missing;
  missing.status = 404;
  missing.body = "not here";
  Serve("/setup.exe", missing);
  bool called = false;
  EXPECT_EQ(session.Download(server.Url("/setup.exe"), PathIn(L"setup.exe"), 8, kZeroDigest,
                             [&](uint64_t) { called = true; }),
            TransferResult::HttpError);
  EXPECT_FALSE(called);
  EXPECT_TRUE(Files().empty());
}

TEST_F(Download, ReplacesAnExistingFinalFileButNotOneThatIsInUse) {
  const TestServer::Served setup = ServeGenerated("/setup.exe", 3000);
  const std::wstring final_path = PathIn(L"setup.exe");
  ASSERT_TRUE(WriteWholeFile(final_path, "older setup"));

  EXPECT_EQ(session.Download(server.Url("/setup.exe"), final_path, setup.size, setup.sha256, {}),
            TransferResult::Ok);
  EXPECT_EQ(ReadWholeFile(final_path), TestServer::GeneratedBytes(3000));

  ASSERT_TRUE(WriteWholeFile(final_path, "older setup"));
  HANDLE in_use = CreateFileW(final_path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(in_use, INVALID_HANDLE_VALUE);
  EXPECT_EQ(session.Download(server.Url("/setup.exe"), final_path, setup.size, setup.sha256, {}),
            TransferResult::FileError);
  EXPECT_FALSE(FileExists(final_path + L".part"));
  CloseHandle(in_use);
  EXPECT_EQ(ReadWholeFile(final_path), "older setup");
}

TEST_F(Download, TruncatesALeftoverPartFileButLeavesOneHeldByAnotherOpener) {
  const TestServer::Served setup = ServeGenerated("/setup.exe", 1000);
  const std::wstring final_path = PathIn(L"setup.exe");
  const std::wstring part_path = final_path + L".part";
  ASSERT_TRUE(WriteWholeFile(part_path, std::string(300000, 'x')));

  EXPECT_EQ(session.Download(server.Url("/setup.exe"), final_path, setup.size, setup.sha256, {}),
            TransferResult::Ok);
  EXPECT_EQ(ReadWholeFile(final_path), TestServer::GeneratedBytes(1000));
  EXPECT_FALSE(FileExists(part_path));

  // A part file someone else holds is not ours to delete.
  ASSERT_TRUE(WriteWholeFile(part_path, "another download"));
  HANDLE held = CreateFileW(part_path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_EQ(session.Download(server.Url("/setup.exe"), final_path, setup.size, setup.sha256, {}),
            TransferResult::FileError);
  CloseHandle(held);
  EXPECT_EQ(ReadWholeFile(part_path), "another download");
  EXPECT_TRUE(server.Requests().size() == 1u) << "no request once the file cannot be made";
}

TEST_F(Download, IntoAMissingFolderIsAFileErrorWithoutARequest) {
  const TestServer::Served setup = ServeGenerated("/setup.exe", 1000);
  EXPECT_EQ(session.Download(server.Url("/setup.exe"), PathIn(L"missing\\setup.exe"), setup.size,
                             setup.sha256, {}),
            TransferResult::FileError);
  EXPECT_TRUE(server.Requests().empty());
}

// The server cuts the connection at every tenth of the file; each reconnect
// asks for the rest from what was written, and the server sends little more
// than the file once in all.
TEST_F(Download, ResumesAfterEveryDropWithoutHelp) {
  constexpr uint64_t kSize = 20000000;
  TestServer::Route cut;
  cut.size = kSize;
  cut.ranges = true;
  for (int tenth = 1; tenth <= 9; ++tenth) {
    cut.cuts += (cut.cuts.empty() ? "" : ",") + std::to_string(kSize / 10 * tenth);
  }
  const TestServer::Served setup = Serve("/setup.exe", cut);
  uint64_t previous = 0;
  bool backwards = false;
  EXPECT_EQ(session.Download(server.Url("/setup.exe"), PathIn(L"setup.exe"), kSize, setup.sha256,
                             [&](uint64_t count) {
                               backwards = backwards || count < previous;
                               previous = count;
                             }),
            TransferResult::Ok);
  EXPECT_FALSE(backwards);
  EXPECT_EQ(Files(), std::vector<std::wstring>{L"setup.exe"});
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 10u);
  uint64_t sent = 0;
  for (size_t i = 0; i < requests.size(); ++i) {
    sent += requests[i].body_bytes;
    EXPECT_EQ(requests[i].range.empty(), i == 0) << i;
  }
  EXPECT_LE(sent, kSize * 11 / 10);
}

// A ".part" from an earlier run holds the first 60 % of the file. However
// the server answers the request for the rest, the download ends with the
// verified file after at most one download from nothing, or as a digest
// mismatch when that is wrong too; never with unverified bytes, never in a
// loop.
TEST_F(Download, ResumesALeftoverPartFileOrStartsOverOnce) {
  constexpr int64_t kSize = 300000;
  const std::string whole = TestServer::GeneratedBytes(kSize);
  const std::string digest = ServeGenerated("/whole", kSize).sha256;
  const std::string range = "bytes=" + std::to_string(kSize * 6 / 10) + "-";
  std::string other = whole;
  for (char& c : other) c = static_cast<char>(~c);
  struct Case {
    const char* what;
    TestServer::Route route;
    TransferResult result;
    std::vector<std::string> ranges;  // of the requests, in order
  };
  TestServer::Route honours;
  honours.size = kSize;
  honours.ranges = true;
  TestServer::Route ignores;
  ignores.size = kSize;
  TestServer::Route misplaced = honours;
  misplaced.content_range = "bytes 0-" + std::to_string(kSize - 1) + "/" + std::to_string(kSize);
  TestServer::Route other_total = honours;
  other_total.content_range = "bytes " + std::to_string(kSize * 6 / 10) + "-" +
                              std::to_string(kSize) + "/" + std::to_string(kSize + 1);
  TestServer::Route other_rest = honours;
  other_rest.flip_rest = true;
  TestServer::Route all_other;
  all_other.body = other;
  all_other.ranges = true;
  const Case cases[] = {
      {"honours the range", honours, TransferResult::Ok, {range}},
      {"ignores the range", ignores, TransferResult::Ok, {range}},
      {"answers with another start", misplaced, TransferResult::Ok, {range, ""}},
      {"answers with another total", other_total, TransferResult::Ok, {range, ""}},
      {"sends other bytes for the rest", other_rest, TransferResult::Ok, {range, ""}},
      {"serves another file", all_other, TransferResult::DigestMismatch, {range, ""}},
  };
  const std::wstring final_path = PathIn(L"setup.exe");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(server.Reset());
    Serve("/setup.exe", c.route);
    ASSERT_TRUE(WriteWholeFile(final_path + L".part", whole.substr(0, kSize * 6 / 10)));
    uint64_t first = 0;
    EXPECT_EQ(session.Download(server.Url("/setup.exe"), final_path, kSize, digest,
                               [&](uint64_t count) {
                                 if (!first) first = count;
                               }),
              c.result);
    EXPECT_EQ(first, static_cast<uint64_t>(kSize * 6 / 10)) << "progress starts from the part";
    std::vector<std::string> ranges;
    for (const auto& request : server.Requests()) ranges.push_back(request.range);
    EXPECT_EQ(ranges, c.ranges);
    if (c.result == TransferResult::Ok) {
      EXPECT_EQ(Files(), std::vector<std::wstring>{L"setup.exe"});
      EXPECT_TRUE(ReadWholeFile(final_path) == whole);
      DeleteFileW(final_path.c_str());
    } else {
      EXPECT_TRUE(Files().empty());
    }
  }

  // A whole and right ".part" needs no request at all.
  ASSERT_TRUE(server.Reset());
  ASSERT_TRUE(WriteWholeFile(final_path + L".part", whole));
  EXPECT_EQ(session.Download(server.Url("/setup.exe"), final_path, kSize, digest, {}),
            TransferResult::Ok);
  EXPECT_TRUE(server.Requests().empty());
  EXPECT_TRUE(ReadWholeFile(final_path) == whole);
}

TEST_F(Download, FromARefusedAddressIsANetworkErrorAndLeavesNoFile) {
  EXPECT_EQ(session.Download("http://example.com/setup.exe", PathIn(L"setup.exe"), 1000,
                             kZeroDigest, {}),
            TransferResult::NetworkError);
  EXPECT_TRUE(Files().empty());
}

}  // namespace
}  // namespace kestrelume
