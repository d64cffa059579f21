#pragma once
// Shared by the net tests: a real HttpSession against a real test server on
// 127.0.0.1, and a fresh folder for downloads that is removed afterwards.

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "net/http_session.h"
#include "support/host_process.h"
#include "support/test_server.h"

namespace kestrelume {

class NetTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Scripts `path` and fails the test if the server did not take it.
  TestServer::Served Serve(const std::string& path, const TestServer::Route& route);
  TestServer::Served ServeGenerated(const std::string& path, int64_t size);
  std::wstring PathIn(const std::wstring& name) const { return folder + L"\\" + name; }
  // Names of the files in `folder`.
  std::vector<std::wstring> Files() const;

  TestServer server;
  HttpSession session;
  std::wstring folder;
};

bool FileExists(const std::wstring& path);
// The file's bytes; empty when it cannot be read.
std::string ReadWholeFile(const std::wstring& path);

}  // namespace kestrelume
