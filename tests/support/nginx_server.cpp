#include "nginx_server.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <utility>

#include "host_process.h"
#include "root_store.h"

namespace kestrelume {
namespace {

constexpr char kKeeper[] = KESTRELUME_SOURCE_DIR "/tests/support/nginx_server.py";
constexpr char kPki[] = KESTRELUME_BINARY_DIR "/test-pki";
constexpr DWORD kNginxStartTimeoutMs = 30000;

// The Windows view of a Unix path under Wine: drive Z: is the root.
std::wstring ZPath(std::string_view unix_path) {
  std::wstring path = L"Z:";
  for (char c : unix_path) path += c == '/' ? L'\\' : static_cast<wchar_t>(c);  // ASCII paths
  return path;
}

std::string JsonText(std::string_view text) {
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return quoted + "\"";
}

std::vector<std::string> Split(std::string_view text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t end = text.find(separator, start);
    parts.emplace_back(text.substr(start, end == std::string_view::npos ? end : end - start));
    if (end == std::string_view::npos) return parts;
    start = end + 1;
  }
}

}  // namespace

NginxServer::~NginxServer() { Stop(); }

std::wstring NginxServer::WindowsPath(std::string_view relative) const {
  return ZPath(folder_ + "/" + std::string(relative));
}

bool NginxServer::Start(const std::vector<Site>& sites) {
  if (!folder_.empty()) return false;
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return false;
  winsock_ = true;
  folder_ = std::string(KESTRELUME_BINARY_DIR) + "/net-nginx-" +
            std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount64());
  if (!CreateDirectoryW(ZPath(folder_).c_str(), nullptr)) return false;

  bool any_tls = false;
  std::string json = "{\"pki\": " + JsonText(kPki) + ", \"remove_folder\": true, \"lifetime\": 600, \"sites\": [";
  for (size_t i = 0; i < sites.size(); ++i) {
    const Site& site = sites[i];
    tls_[site.name] = !site.certificate.empty();
    any_tls |= !site.certificate.empty();
    json += std::string(i ? ", " : "") + "{\"name\": " + JsonText(site.name) +
            ", \"root\": " + JsonText(folder_ + "/www/" + site.name) + ", \"extra\": \"\"";
    if (!site.certificate.empty()) {
      json += ", \"tls\": {\"certificate\": " + JsonText(site.certificate);
      if (!site.protocols.empty()) {
        json += ", \"protocols\": [";
        for (size_t p = 0; p < site.protocols.size(); ++p) {
          json += std::string(p ? ", " : "") + JsonText(site.protocols[p]);
        }
        json += "]";
      }
      json += "}";
    }
    json += ", \"redirects\": {";
    for (size_t r = 0; r < site.redirects.size(); ++r) {
      json += std::string(r ? ", " : "") + JsonText(site.redirects[r].first) + ": [302, " +
              JsonText(site.redirects[r].second) + "]";
    }
    json += "}}";
  }
  json += "]}\n";
  if (!WriteWholeFile(WindowsPath("sites.json"), json)) return false;

  // A Unix program path makes Wine start it directly; its handles cannot be
  // waited on, so the keeper watches this process and the lifeline instead.
  std::wstring command_line;
  for (const std::string& part : {std::string(kPython), std::string(kKeeper), std::string("--keep"), folder_}) {
    command_line += L"\"" + std::wstring(part.begin(), part.end()) + L"\" ";
  }
  if (!StartHostProcess(std::move(command_line))) return false;

  std::string ready;
  const ULONGLONG deadline = GetTickCount64() + kNginxStartTimeoutMs;
  while (!ReadWholeFile(WindowsPath("ready.txt"), ready)) {
    if (GetTickCount64() > deadline) return false;
    Sleep(20);
  }
  uint16_t lifeline_port = 0;
  for (const std::string& line : Split(ready, '\n')) {
    const size_t space = line.find(' ');
    if (space == std::string::npos) continue;
    const auto port = static_cast<uint16_t>(strtoul(line.c_str() + space + 1, nullptr, 10));
    if (line.compare(0, space, "lifeline") == 0) {
      lifeline_port = port;
    } else {
      ports_[line.substr(0, space)] = port;
    }
  }

  // Held open for the life of this object (or process): when it closes, the
  // keeper stops nginx.
  const SOCKET lifeline = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(lifeline_port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (lifeline == INVALID_SOCKET ||
      connect(lifeline, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    if (lifeline != INVALID_SOCKET) closesocket(lifeline);
    return false;
  }
  lifeline_ = static_cast<uintptr_t>(lifeline);
  if (ports_.size() != sites.size()) return false;

  if (any_tls) {
    std::string der;
    if (!ReadWholeFile(ZPath(std::string(kPki) + "/ca/ca.der"), der) || !AddRootCertificate(der)) {
      return false;
    }
  }
  return true;
}

void NginxServer::Stop() {
  if (lifeline_ != ~uintptr_t{0}) {
    closesocket(static_cast<SOCKET>(lifeline_));
    lifeline_ = ~uintptr_t{0};
  }
  if (winsock_) {
    WSACleanup();
    winsock_ = false;
  }
  ports_.clear();
}

std::string NginxServer::Url(std::string_view site, std::string_view path) const {
  const auto port = ports_.find(site);
  if (port == ports_.end()) return {};
  const auto tls = tls_.find(site);
  const bool secure = tls != tls_.end() && tls->second;
  return std::string(secure ? "https://localhost:" : "http://127.0.0.1:") +
         std::to_string(port->second) + std::string(path);
}

bool NginxServer::Put(std::string_view site, std::string_view path, std::string_view bytes) {
  // Folders on the way are made as needed.
  const std::string relative = "www/" + std::string(site) + std::string(path);
  for (size_t slash = relative.find('/'); slash != std::string::npos; slash = relative.find('/', slash + 1)) {
    CreateDirectoryW(WindowsPath(relative.substr(0, slash)).c_str(), nullptr);
  }
  return WriteWholeFile(WindowsPath(relative), bytes);
}

std::vector<NginxServer::Request> NginxServer::Requests(std::string_view site, size_t at_least) const {
  std::vector<Request> requests = LoggedRequests(site);
  for (int waited_ms = 0; requests.size() < at_least && waited_ms < 5000; waited_ms += 20) {
    Sleep(20);
    requests = LoggedRequests(site);
  }
  return requests;
}

std::vector<NginxServer::Request> NginxServer::LoggedRequests(std::string_view site) const {
  std::vector<Request> requests;
  std::string log;
  if (!ReadWholeFile(WindowsPath("logs/" + std::string(site) + ".access.log"), log)) return requests;
  // method, path, query, status, bytes, tls, user agent; "-" for none
  for (const std::string& line : Split(log, '\n')) {
    const std::vector<std::string> fields = Split(line, '\t');
    if (fields.size() != 7) continue;
    Request request;
    request.path = fields[1];
    request.query = fields[2] == "-" ? "" : fields[2];
    request.status = static_cast<int>(strtol(fields[3].c_str(), nullptr, 10));
    request.bytes = strtoull(fields[4].c_str(), nullptr, 10);
    request.tls = fields[5] == "-" ? "" : fields[5];
    requests.push_back(request);
  }
  return requests;
}

}  // namespace kestrelume
