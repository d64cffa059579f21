#include "net_fixture.h"

namespace kestrelume {

void NetTest::SetUp() {
  ASSERT_TRUE(server.Start());
  session.Open();
  wchar_t temp[MAX_PATH + 1];
  ASSERT_NE(GetTempPathW(MAX_PATH + 1, temp), 0u);
  folder = std::wstring(temp) + L"kestrelume-net-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
           std::to_wstring(GetTickCount64());
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
}

void NetTest::TearDown() {
  session.Close();
  if (folder.empty()) return;
  for (const std::wstring& name : Files()) DeleteFileW(PathIn(name).c_str());
  RemoveDirectoryW(folder.c_str());
}

TestServer::Served NetTest::Serve(const std::string& path, const TestServer::Route& route) {
  TestServer::Served served = server.Script(path, route);
  EXPECT_FALSE(served.sha256.empty()) << "the server did not take the route " << path;
  return served;
}

TestServer::Served NetTest::ServeGenerated(const std::string& path, int64_t size) {
  TestServer::Route route;
  route.size = size;
  return Serve(path, route);
}

std::vector<std::wstring> NetTest::Files() const {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    const std::wstring name = data.cFileName;
    if (name != L"." && name != L"..") names.push_back(name);
  } while (FindNextFileW(find, &data));
  FindClose(find);
  return names;
}

bool FileExists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string ReadWholeFile(const std::wstring& path) {
  std::string bytes;
  ReadWholeFile(path, bytes);  // a file that cannot be read reads as empty
  return bytes;
}

}  // namespace kestrelume
