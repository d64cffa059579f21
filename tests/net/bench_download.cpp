// Download benchmark, run by tools/bench-download (not a test).
//
//   bench_download session|bare ADDRESS FOLDER SIZE SHA256
//     downloads ADDRESS (http or https) once, through HttpSession::Download
//     or through a bare WinHTTP read / WriteFile / BCryptHashData loop with
//     the same buffer size and session settings, checks size and digest, and
//     prints the throughput and the process's peak working set and peak
//     private bytes. One download per process, so that the peaks belong to
//     that download alone.
//
// Output lines are "key value" for the script to pick up.

#include <windows.h>
#include <bcrypt.h>
#include <psapi.h>
#include <winhttp.h>

#include <cstdio>
#include <cwchar>
#include <memory>
#include <string>

#include "integrity/sha256.h"
#include "net/http_session.h"
#include "system/system_functions.h"
#include "base/utf.h"

namespace kestrelume {
namespace {

constexpr DWORD kBufferSize = 65536;

double Seconds(LARGE_INTEGER start, LARGE_INTEGER end) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double MiBPerSecond(uint64_t bytes, double seconds) {
  return static_cast<double>(bytes) / (1024.0 * 1024.0) / seconds;
}

// The same work as a download, with nothing around it: one request, one
// buffer, write and hash each chunk. Returns the byte count, 0 on failure.
uint64_t BareDownload(const std::wstring& address, const std::wstring& path, std::string& digest) {
  wchar_t host[256];
  wchar_t object[2048];
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  parts.lpszHostName = host;
  parts.dwHostNameLength = 256;
  parts.lpszUrlPath = object;
  parts.dwUrlPathLength = 2048;
  if (!WinHttpCrackUrl(address.c_str(), 0, 0, &parts)) return 0;
  // The session's settings (proxy mode, timeouts, TLS 1.2 and 1.3), so that
  // the loop differs from HttpSession::Download only in the program's code.
  HINTERNET session = WinHttpOpen(kUserAgent, 4 /* WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY */,
                                  WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
  if (!session) {
    session = WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                          WINHTTP_NO_PROXY_BYPASS, 0);
  }
  if (session) WinHttpSetTimeouts(session, 20000, 20000, 20000, 20000);
  DWORD protocols = 0x2800;  // option 84: WINHTTP_OPTION_SECURE_PROTOCOLS
  if (session && !WinHttpSetOption(session, 84, &protocols, sizeof protocols)) {
    protocols = 0x800;
    WinHttpSetOption(session, 84, &protocols, sizeof protocols);
  }
  const DWORD secure = parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0;
  HINTERNET connection = session ? WinHttpConnect(session, host, parts.nPort, 0) : nullptr;
  HINTERNET request = connection ? WinHttpOpenRequest(connection, L"GET", object, nullptr,
                                                      WINHTTP_NO_REFERER,
                                                      WINHTTP_DEFAULT_ACCEPT_TYPES,
                                                      WINHTTP_FLAG_REFRESH | secure)
                                 : nullptr;
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0);
  if (algorithm) BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0);
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  auto buffer = std::make_unique<char[]>(kBufferSize);
  uint64_t count = 0;
  bool ok = request && hash && file != INVALID_HANDLE_VALUE &&
            WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA,
                               0, 0, 0) &&
            WinHttpReceiveResponse(request, nullptr);
  while (ok) {
    DWORD read = 0;
    if (!WinHttpReadData(request, buffer.get(), kBufferSize, &read)) ok = false;
    if (!ok || read == 0) break;
    DWORD written = 0;
    ok = WriteFile(file, buffer.get(), read, &written, nullptr) && written == read &&
         BCryptHashData(hash, reinterpret_cast<PUCHAR>(buffer.get()), read, 0) == 0;
    count += read;
  }
  UCHAR value[32];
  if (ok && BCryptFinishHash(hash, value, sizeof value, 0) == 0) digest = HexEncode(value, sizeof value);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  if (hash) BCryptDestroyHash(hash);
  if (algorithm) BCryptCloseAlgorithmProvider(algorithm, 0);
  if (request) WinHttpCloseHandle(request);
  if (connection) WinHttpCloseHandle(connection);
  if (session) WinHttpCloseHandle(session);
  DeleteFileW(path.c_str());
  return ok ? count : 0;
}

int Run(int argc, wchar_t** argv) {
  if (argc != 6) {
    fprintf(stderr, "usage: bench_download session|bare ADDRESS FOLDER SIZE SHA256\n");
    return 2;
  }
  const std::wstring mode = argv[1];
  const std::string address = WideToUtf8(argv[2]);
  const std::wstring folder = argv[3];
  const uint64_t size = wcstoull(argv[4], nullptr, 10);
  const std::string digest = WideToUtf8(argv[5]);

  // The program's system libraries (Direct2D and DirectWrite among them)
  // load at the first use of the table; both modes load them, so that the
  // peaks differ only by what the download itself needs.
  (void)System();
  LARGE_INTEGER start, end;
  if (mode == L"session") {
    const std::wstring final_path = folder + L"\\bench-setup.exe";
    HttpSession session;
    session.Open();
    QueryPerformanceCounter(&start);
    const TransferResult result = session.Download(address, final_path, size, digest, {});
    QueryPerformanceCounter(&end);
    DeleteFileW(final_path.c_str());
    if (result != TransferResult::Ok) {
      fprintf(stderr, "download failed: result %u\n", static_cast<unsigned>(result));
      return 1;
    }
  } else if (mode == L"bare") {
    std::string bare_digest;
    QueryPerformanceCounter(&start);
    const uint64_t count = BareDownload(Utf8ToWide(address), folder + L"\\bench-bare.exe", bare_digest);
    QueryPerformanceCounter(&end);
    if (count != size || bare_digest != digest) {
      fprintf(stderr, "bare download failed\n");
      return 1;
    }
  } else {
    fprintf(stderr, "unknown mode\n");
    return 2;
  }
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return 1;
  printf("mib-s %.1f\npeak-working-set-kib %llu\npeak-private-kib %llu\n",
         MiBPerSecond(size, Seconds(start, end)),
         static_cast<unsigned long long>(counters.PeakWorkingSetSize / 1024),
         static_cast<unsigned long long>(counters.PeakPagefileUsage / 1024));
  return 0;
}

}  // namespace
}  // namespace kestrelume

int wmain(int argc, wchar_t** argv) { return kestrelume::Run(argc, argv); }
