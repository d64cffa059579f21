#include "tools/windows_kit/kit_server.h"

#include <ws2tcpip.h>

#include <mutex>

#include "base/utf.h"

namespace kestrelume::kit {
namespace {

constexpr DWORD kHoldLimitMs = 10000;
constexpr DWORD kStallLimitMs = 60000;
constexpr size_t kSlice = 65536;

bool ReadFileBytes(const std::wstring& path, std::string& bytes) {
  UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size{};
  if (!file || !GetFileSizeEx(file.get(), &size) || size.QuadPart > (64 << 20)) return false;
  bytes.resize(static_cast<size_t>(size.QuadPart));
  DWORD read = 0;
  return bytes.empty() || (ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) &&
                           read == bytes.size());
}

std::string Headers(int status, const char* reason, size_t length) {
  return "HTTP/1.1 " + std::to_string(status) + " " + reason + "\r\nContent-Length: " +
         std::to_string(length) +
         "\r\nContent-Type: application/octet-stream\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n";
}

// The request target up to its query, or empty when it names no safe file.
std::wstring FileFor(const std::wstring& folder, const std::string& target) {
  const std::string path = target.substr(0, target.find('?'));
  if (path.empty() || path[0] != '/' || path.find("..") != std::string::npos ||
      path.find('\\') != std::string::npos || path.find(':') != std::string::npos) {
    return {};
  }
  std::wstring file = folder;
  for (char c : path) file += c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(c));
  return file;
}

}  // namespace

bool KitServer::Start(const std::wstring& folder, uint16_t port, std::string& error) {
  folder_ = folder;
  InterlockedExchange(&stopping_, 0);
  released_.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  return listener_.Start(port, &KitServer::Serve, this, error);
}

void KitServer::Stop() {
  // Held and stalled answers end first, so that their threads can be joined.
  InterlockedExchange(&stopping_, 1);
  if (released_) SetEvent(released_.get());
  listener_.Stop();
}

void KitServer::Release() { SetEvent(released_.get()); }

void KitServer::Reset() {
  ResetEvent(released_.get());
  std::lock_guard<SlimLock> hold(lock_);
  requests_.clear();
  stalled_bytes_ = 0;
}

std::vector<std::string> KitServer::Requests() {
  std::lock_guard<SlimLock> hold(lock_);
  return requests_;
}

uint64_t KitServer::StalledBytesSent() {
  std::lock_guard<SlimLock> hold(lock_);
  return stalled_bytes_;
}

bool KitServer::WaitForRelease(DWORD milliseconds) {
  return WaitForSingleObject(released_.get(), milliseconds) == WAIT_OBJECT_0;
}

void KitServer::Serve(void* self, SOCKET socket) {
  auto* server = static_cast<KitServer*>(self);
  std::string request;
  char buffer[2048];
  while (request.find("\r\n\r\n") == std::string::npos && request.size() < 16384) {
    const int got = recv(socket, buffer, sizeof(buffer), 0);
    if (got <= 0) break;
    request.append(buffer, static_cast<size_t>(got));
  }
  const size_t first_space = request.find(' ');
  const size_t second_space = first_space == std::string::npos ? first_space : request.find(' ', first_space + 1);
  if (second_space == std::string::npos) return;
  const std::string target = request.substr(first_space + 1, second_space - first_space - 1);
  {
    std::lock_guard<SlimLock> hold(server->lock_);
    server->requests_.push_back(target);
  }
  server->Answer(socket, target);
}

void KitServer::Answer(SOCKET socket, const std::string& target) {
  std::string rest = target;
  std::string mode;
  for (const char* prefix : {"/hold/", "/stall/", "/reset/"}) {
    const std::string p = prefix;
    if (rest.compare(0, p.size(), p) == 0) {
      mode = p;
      rest = rest.substr(p.size() - 1);
      break;
    }
  }
  if (mode == "/reset/") {
    linger abort{1, 0};
    setsockopt(socket, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort), sizeof(abort));
    return;
  }
  if (mode == "/hold/") WaitForRelease(kHoldLimitMs);
  std::string body;
  const std::wstring file = FileFor(folder_, rest);
  if (file.empty() || !ReadFileBytes(file, body)) {
    const std::string answer = Headers(404, "Not Found", 0);
    SendAll(socket, answer.data(), answer.size());
    return;
  }
  const std::string headers = Headers(200, "OK", body.size());
  if (!SendAll(socket, headers.data(), headers.size())) return;
  if (mode != "/stall/") {
    SendAll(socket, body.data(), body.size());
    return;
  }
  // Slowly, so that the download screen shows a moving arc, then silence.
  const size_t part = body.size() * 2 / 5;
  for (size_t at = 0; at < part && !InterlockedCompareExchange(&stopping_, 0, 0); at += kSlice) {
    const size_t size = part - at < kSlice ? part - at : kSlice;
    if (!SendAll(socket, body.data() + at, size)) return;
    {
      std::lock_guard<SlimLock> hold(lock_);
      stalled_bytes_ += size;
    }
    Sleep(15);
  }
  WaitForRelease(kStallLimitMs);
  linger abort{1, 0};
  setsockopt(socket, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort), sizeof(abort));
}

}  // namespace kestrelume::kit
