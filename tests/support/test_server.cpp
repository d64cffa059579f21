#include "test_server.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

#include "host_process.h"

namespace kestrelume {
namespace {

constexpr char kScript[] = KESTRELUME_SOURCE_DIR "/tests/support/test_server.py";
constexpr DWORD kServerStartTimeoutMs = 10000;
constexpr DWORD kControlTimeoutMs = 10000;

std::wstring Widen(std::string_view text) {
  return std::wstring(text.begin(), text.end());  // ASCII only: paths we make, numbers
}

// Wine's own export: the Unix path of a Windows path, so that the Linux
// server can open files the test names.
std::string UnixPath(const std::wstring& windows_path) {
  using Convert = char*(CDECL*)(const wchar_t*);
  const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  const auto convert = kernel ? reinterpret_cast<Convert>(reinterpret_cast<void*>(
                                    GetProcAddress(kernel, "wine_get_unix_file_name")))
                              : nullptr;
  if (!convert) return {};
  char* unix_path = convert(windows_path.c_str());
  if (!unix_path) return {};
  std::string result = unix_path;
  HeapFree(GetProcessHeap(), 0, unix_path);
  return result;
}

SOCKET Connect(uint16_t port) {
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return s;
  const DWORD timeout = kControlTimeoutMs;
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
  setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    closesocket(s);
    return INVALID_SOCKET;
  }
  return s;
}

bool SendAll(SOCKET s, std::string_view data) {
  while (!data.empty()) {
    const int sent = send(s, data.data(), static_cast<int>(data.size()), 0);
    if (sent <= 0) return false;
    data.remove_prefix(static_cast<size_t>(sent));
  }
  return true;
}

std::string Hex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    hex += kDigits[c >> 4];
    hex += kDigits[c & 15];
  }
  return hex;
}

std::string Number(int64_t value) { return std::to_string(value); }

}  // namespace

TestServer::~TestServer() { Stop(); }

bool TestServer::Start() {
  if (port_ != 0) return true;
  WSADATA data;
  if (!winsock_) {
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return false;
    winsock_ = true;
  }

  wchar_t temp[MAX_PATH + 1];
  const DWORD temp_length = GetTempPathW(MAX_PATH + 1, temp);
  if (temp_length == 0 || temp_length > MAX_PATH) return false;
  folder_ = std::wstring(temp) + L"kestrelume-server-" + std::to_wstring(GetCurrentProcessId()) +
            L"-" + std::to_wstring(GetTickCount64());
  if (!CreateDirectoryW(folder_.c_str(), nullptr)) {
    folder_.clear();
    return false;
  }
  const std::wstring port_file = folder_ + L"\\port";
  const std::string unix_port_file = UnixPath(port_file);
  if (unix_port_file.empty()) return false;

  // A Unix program path makes Wine start the Linux interpreter directly; the
  // server watches this process.
  std::wstring command_line = Widen(kPython) + L" \"" + Widen(kScript) + L"\" \"" +
                              Widen(unix_port_file) + L"\"";
  if (!StartHostProcess(std::move(command_line))) return false;

  const ULONGLONG deadline = GetTickCount64() + kServerStartTimeoutMs;
  while (GetTickCount64() < deadline) {
    FILE* f = _wfopen(port_file.c_str(), L"rb");
    if (f) {
      unsigned value = 0;
      const int read = fscanf(f, "%u", &value);
      fclose(f);
      if (read == 1 && value > 0 && value < 65536) {
        port_ = static_cast<uint16_t>(value);
        break;
      }
    }
    Sleep(20);
  }
  if (port_ == 0) return false;

  // Held open for the life of this process: when it ends, however it ends,
  // the connection closes and the server stops.
  const SOCKET lifeline = Connect(port_);
  if (lifeline != INVALID_SOCKET) {
    const DWORD forever = 0;
    setsockopt(lifeline, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&forever),
               sizeof forever);
    SendAll(lifeline, "GET /_control/lifeline HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
    lifeline_ = static_cast<uintptr_t>(lifeline);
  }
  return true;
}

void TestServer::Stop() {
  if (port_ != 0) {
    std::string reply;
    Control("POST", "/_control/shutdown", {}, reply);
    port_ = 0;
  }
  if (lifeline_ != ~uintptr_t{0}) {
    closesocket(static_cast<SOCKET>(lifeline_));
    lifeline_ = ~uintptr_t{0};
  }
  if (!folder_.empty()) {
    DeleteFileW((folder_ + L"\\port").c_str());
    RemoveDirectoryW(folder_.c_str());
    folder_.clear();
  }
  if (winsock_) {
    WSACleanup();
    winsock_ = false;
  }
}

std::string TestServer::Url(std::string_view path_and_query) const {
  return "http://127.0.0.1:" + std::to_string(port_) + std::string(path_and_query);
}

bool TestServer::Control(std::string_view method, std::string_view path, std::string_view body,
                         std::string& reply) {
  reply.clear();
  if (port_ == 0) return false;
  const SOCKET s = Connect(port_);
  if (s == INVALID_SOCKET) return false;
  std::string request = std::string(method) + " " + std::string(path) +
                        " HTTP/1.0\r\nHost: 127.0.0.1\r\nContent-Length: " +
                        std::to_string(body.size()) + "\r\n\r\n" + std::string(body);
  bool ok = SendAll(s, request);
  std::string response;
  char buffer[4096];
  while (ok) {
    const int got = recv(s, buffer, sizeof buffer, 0);
    if (got < 0) ok = false;
    if (got <= 0) break;
    response.append(buffer, static_cast<size_t>(got));
  }
  closesocket(s);
  const size_t end_of_headers = response.find("\r\n\r\n");
  if (!ok || end_of_headers == std::string::npos || response.compare(0, 12, "HTTP/1.0 200") != 0) {
    return false;
  }
  reply = response.substr(end_of_headers + 4);
  return true;
}

TestServer::Served TestServer::Script(std::string_view path, const Route& route) {
  std::string text = "path=" + std::string(path) + "\nstatus=" + std::to_string(route.status) + "\n";
  if (route.size >= 0) {
    text += "size=" + Number(route.size) + "\n";
  } else if (!route.body_file.empty()) {
    text += "body_file=" + UnixPath(route.body_file) + "\n";
  } else {
    text += "body_hex=" + Hex(route.body) + "\n";
  }
  if (route.omit_content_length) {
    text += "content_length=none\n";
  } else if (route.content_length >= 0) {
    text += "content_length=" + Number(route.content_length) + "\n";
  }
  if (route.reset_after >= 0) text += "reset_after=" + Number(route.reset_after) + "\n";
  if (route.reset_before_headers) text += "reset_before_headers=1\n";
  if (route.stall_after >= 0) {
    char seconds[32];
    snprintf(seconds, sizeof seconds, "%.3f", route.stall_seconds);
    text += "stall_after=" + Number(route.stall_after) + "\nstall_seconds=" + seconds + "\n";
  }
  if (route.chunk > 0) text += "chunk=" + Number(route.chunk) + "\n";
  if (route.delay_ms > 0) text += "delay_ms=" + std::to_string(route.delay_ms) + "\n";
  if (route.pace_after > 0) text += "pace_after=" + Number(route.pace_after) + "\n";
  if (route.endless) text += "endless=1\n";
  if (!route.location.empty()) text += "location=" + route.location + "\n";
  if (route.ranges) text += "ranges=1\n";
  if (!route.content_range.empty()) text += "content_range=" + route.content_range + "\n";
  if (route.flip_rest) text += "rest=flipped\n";
  if (!route.cuts.empty()) text += "cuts=" + route.cuts + "\n";

  Served served;
  std::string reply;
  if (!Control("POST", "/_control/route", text, reply)) return served;
  unsigned long long size = 0;
  char digest[65] = {};
  if (sscanf(reply.c_str(), "size %llu sha256 %64s", &size, digest) == 2) {
    served.size = size;
    served.sha256 = digest;
  }
  return served;
}

std::vector<TestServer::Request> TestServer::Requests() {
  std::vector<Request> requests;
  std::string reply;
  if (!Control("GET", "/_control/requests", {}, reply)) return requests;
  size_t start = 0;
  while (start < reply.size()) {
    size_t end = reply.find('\n', start);
    if (end == std::string::npos) end = reply.size();
    const std::string line = reply.substr(start, end - start);
    start = end + 1;
    std::vector<std::string> fields;
    for (size_t at = 0;;) {
      const size_t tab = line.find('\t', at);
      fields.push_back(line.substr(at, tab == std::string::npos ? tab : tab - at));
      if (tab == std::string::npos) break;
      at = tab + 1;
    }
    if (fields.size() != 5) continue;
    requests.push_back({fields[0], fields[1], fields[2], fields[3],
                        strtoull(fields[4].c_str(), nullptr, 10)});
  }
  return requests;
}

std::string TestServer::Sign(std::string_view key_unix_path, std::string_view manifest) {
  std::string reply;
  if (!Control("POST", "/_control/sign?key=" + std::string(key_unix_path), manifest, reply)) return {};
  return reply;
}

bool TestServer::Reset() {
  std::string reply;
  return Control("POST", "/_control/reset", {}, reply);
}

std::string TestServer::GeneratedBytes(uint64_t size) {
  std::string bytes(size, '\0');
  for (uint64_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i & 0xff);
  return bytes;
}

}  // namespace kestrelume
