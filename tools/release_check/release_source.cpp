#include "release_source.h"

#include <windows.h>

#include <string_view>

#include "http_status.h"
#include "manifest/address.h"
#include "base/unique_handle.h"
#include "base/utf.h"
#include "integrity/sha256.h"
#include "workflow/cache.h"

namespace kestrelume {

namespace {

std::string Number(uint64_t value) { return std::to_string(value); }

// Reads at most limit + 1 bytes, so that an over-long file is told apart.
SourceResult ReadLimited(const std::wstring& path, uint64_t limit, std::string& text) {
  text.clear();
  UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return {false, "cannot be read: " + WideToUtf8(path)};
  char buffer[8192];
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr)) return {false, "read error"};
    if (read == 0) return {true, ""};
    text.append(buffer, read);
    if (text.size() > limit) {
      return {false, "more than " + Number(limit) + " bytes; the installer refuses it (TooLarge)"};
    }
  }
}

const char* TransferName(TransferResult result) {
  switch (result) {
    case TransferResult::Ok: return "Ok";
    case TransferResult::NetworkError: return "NetworkError";
    case TransferResult::HttpError: return "HttpError";
    case TransferResult::TooLarge: return "TooLarge";
    case TransferResult::DigestMismatch: return "DigestMismatch";
    case TransferResult::FileError: return "FileError";
    case TransferResult::Cancelled: return "Cancelled";
    case TransferResult::LoginRequired: return "LoginRequired";
  }
  return "?";
}

SourceResult FromTransfer(TransferResult result, uint64_t limit) {
  switch (result) {
    case TransferResult::Ok: return {true, ""};
    case TransferResult::NetworkError: return {false, "NetworkError: no connection, or the transfer broke off"};
    case TransferResult::TooLarge: return {false, "TooLarge: more than " + Number(limit) + " bytes"};
    case TransferResult::LoginRequired:
      return {false, "LoginRequired: a proxy or the server wants a login this machine's logon did not give"};
    default: return {false, TransferName(result)};
  }
}

std::string WithStatus(std::string_view address) {
  const unsigned status = HttpStatusOf(address);
  return "HttpError: " + std::string(address) + " answers " +
         (status ? "status " + Number(status) : std::string("no status (the request failed when asked again)"));
}

SourceResult FetchDocument(HttpSession& http, const std::string& address, uint64_t limit, std::string& body) {
  const TransferResult result = http.Fetch(address, limit, body);
  if (result == TransferResult::HttpError) return {false, WithStatus(address)};
  return FromTransfer(result, limit);
}

constexpr uint64_t kHistoryIndexLimit = 1 << 20;

// The file name the history index gives for `signature`, or empty. Names are
// plain file names: nothing that could lead out of the history folder.
std::string SignedName(const std::string& index, const std::string& signature) {
  Sha256 hash;
  hash.Update(signature.data(), signature.size());
  const std::string wanted = hash.Finish() + " ";
  size_t start = 0;
  while (start < index.size()) {
    size_t end = index.find('\n', start);
    if (end == std::string::npos) end = index.size();
    const std::string line = index.substr(start, end - start);
    start = end + 1;
    if (!line.starts_with(wanted)) continue;
    const std::string name = line.substr(wanted.size());
    const bool plain = !name.empty() && name.find_first_not_of(
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789._-") == std::string::npos;
    return plain && name.find("..") == std::string::npos ? name : std::string();
  }
  return {};
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The path part of an http(s) address, percent-decoded, as a relative
// Windows path; empty when it names no plain file inside the folder.
std::wstring PathInFolder(std::string_view address) {
  const size_t scheme = address.find("://");
  if (scheme == std::string_view::npos) return {};
  const size_t slash = address.find('/', scheme + 3);
  if (slash == std::string_view::npos) return {};
  std::string_view path = address.substr(slash);
  path = path.substr(0, path.find_first_of("?#"));
  std::string decoded;
  for (size_t i = 0; i < path.size(); ++i) {
    if (path[i] == '%' && i + 2 < path.size() && HexDigit(path[i + 1]) >= 0 && HexDigit(path[i + 2]) >= 0) {
      decoded.push_back(static_cast<char>(HexDigit(path[i + 1]) * 16 + HexDigit(path[i + 2])));
      i += 2;
    } else {
      decoded.push_back(path[i]);
    }
  }
  std::wstring relative;
  size_t start = 1;
  while (start <= decoded.size()) {
    size_t end = decoded.find('/', start);
    if (end == std::string::npos) end = decoded.size();
    const std::string segment = decoded.substr(start, end - start);
    if (segment.empty() || segment == "." || segment == ".." ||
        segment.find_first_of("\\:") != std::string::npos) {
      return {};
    }
    relative += (relative.empty() ? L"" : L"\\") + Utf8ToWide(segment);
    start = end + 1;
  }
  return relative;
}

// A private folder under the user's temporary folder, removed with what it holds.
class TemporaryFolder {
 public:
  TemporaryFolder() {
    wchar_t base[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, base);
    if (length == 0 || length > MAX_PATH) return;
    path_ = std::wstring(base, length) + L"kestrelume-verify-" + std::to_wstring(GetCurrentProcessId()) +
            L"-" + std::to_wstring(GetTickCount64());
    if (!CreateDirectoryW(path_.c_str(), nullptr)) path_.clear();
  }
  ~TemporaryFolder() {
    if (path_.empty()) return;
    DeleteFileW((path_ + L"\\setup.exe").c_str());
    RemoveDirectoryW(path_.c_str());
  }
  TemporaryFolder(const TemporaryFolder&) = delete;
  TemporaryFolder& operator=(const TemporaryFolder&) = delete;
  const std::wstring& path() const { return path_; }

 private:
  std::wstring path_;
};

}  // namespace

SourceResult FolderSource::ReadDocuments(std::string& manifest, std::string& signature) {
  const std::wstring path = folder_ + L"\\update\\stable.json";
  SourceResult result = ReadLimited(path, kManifestLimit, manifest);
  if (!result.ok) return {false, "manifest " + result.problem};
  result = ReadLimited(path + L".sig", kSignatureLimit, signature);
  if (!result.ok) return {false, "signature document " + result.problem};
  return result;
}

SourceResult CheckSetupFile(const std::wstring& path, uint64_t size, const std::string& sha256) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return {false, WideToUtf8(path) + " is not there"};
  }
  const uint64_t actual = static_cast<uint64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
  if (actual != size) {
    return {false, WideToUtf8(path) + " has " + Number(actual) + " bytes; the manifest says " + Number(size)};
  }
  if (!IsCachedSetupValid(path, size, sha256)) {
    return {false, WideToUtf8(path) + ": its SHA-256 is not the manifest's sha256"};
  }
  return {true, WideToUtf8(path) + ": size and SHA-256 match"};
}

SourceResult FolderSource::CheckSetup(const std::string& address, uint64_t size, const std::string& sha256,
                                      bool& skipped) {
  skipped = false;
  const std::wstring relative = PathInFolder(address);
  const std::wstring path = folder_ + L"\\" + relative;
  if (relative.empty() || GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
    skipped = true;
    return {false, "not in the folder (its address's path names no file there)"};
  }
  return CheckSetupFile(path, size, sha256);
}

bool FolderSource::FindSigned(const std::string& signature, std::string& manifest) {
  const std::wstring history = folder_ + L"\\update\\history\\";
  std::string index;
  if (!ReadLimited(history + L"index.txt", kHistoryIndexLimit, index).ok) return false;
  const std::string name = SignedName(index, signature);
  return !name.empty() && ReadLimited(history + Utf8ToWide(name), kManifestLimit, manifest).ok;
}

AddressSource::AddressSource(std::string manifest_url) : url_(std::move(manifest_url)) { http_.Open(); }

SourceResult AddressSource::ReadDocuments(std::string& manifest, std::string& signature) {
  if (!IsAllowedAddress(url_)) {
    return {false, "the manifest address is refused by the address policy (https, or plain http to "
                   "127.0.0.1 or localhost only)"};
  }
  SourceResult result = FetchDocument(http_, url_, kManifestLimit, manifest);
  if (!result.ok) return {false, "manifest: " + result.problem};
  // The installer asks for the whole address plus ".sig", after any query.
  result = FetchDocument(http_, url_ + ".sig", kSignatureLimit, signature);
  if (!result.ok) return {false, "signature document: " + result.problem};
  return result;
}

bool AddressSource::FindSigned(const std::string& signature, std::string& manifest) {
  // The history folder lies beside the manifest: same folder, no query.
  const std::string address = url_.substr(0, url_.find_first_of("?#"));
  const std::string history = address.substr(0, address.rfind('/') + 1) + "history/";
  std::string index;
  if (http_.Fetch(history + "index.txt", kHistoryIndexLimit, index) != TransferResult::Ok) return false;
  const std::string name = SignedName(index, signature);
  return !name.empty() && http_.Fetch(history + name, kManifestLimit, manifest) == TransferResult::Ok;
}

SourceResult AddressSource::CheckSetup(const std::string& address, uint64_t size, const std::string& sha256,
                                       bool& skipped) {
  skipped = false;
  TemporaryFolder folder;
  if (folder.path().empty()) return {false, "no temporary folder for the download"};
  // The furthest the file came: a download that reconnects may start over.
  uint64_t received = 0;
  const TransferResult result =
      http_.Download(address, folder.path() + L"\\setup.exe", size, sha256,
                     [&received](uint64_t count) { received = count > received ? count : received; });
  switch (result) {
    case TransferResult::Ok:
      return {true, Number(size) + " bytes, size and SHA-256 match"};
    case TransferResult::NetworkError:
      if (received > 0) {
        return {false, "NetworkError: the download ended after " + Number(received) + " of " + Number(size) +
                           " bytes (truncated, or the connection broke)"};
      }
      return {false, "NetworkError: no connection, or no body"};
    case TransferResult::TooLarge:
      return {false, "TooLarge: the server sends more than the manifest's size, " + Number(size) + " bytes"};
    case TransferResult::DigestMismatch:
      return {false, "DigestMismatch: " + Number(size) + " bytes, but their SHA-256 is not the manifest's sha256"};
    case TransferResult::HttpError:
      return {false, WithStatus(address)};
    default:
      return FromTransfer(result, size);
  }
}

SourceResult ReadLiveManifest(const std::string& where, std::string& text, bool& absent) {
  absent = false;
  if (where.find("://") == std::string::npos) {
    if (GetFileAttributesW(Utf8ToWide(where).c_str()) == INVALID_FILE_ATTRIBUTES) {
      absent = true;
      return {false, "no manifest at " + where};
    }
    return ReadLimited(Utf8ToWide(where), kManifestLimit, text);
  }
  if (!IsAllowedAddress(where)) return {false, "the address policy refuses " + where};
  HttpSession http;
  http.Open();
  const TransferResult result = http.Fetch(where, kManifestLimit, text);
  if (result == TransferResult::HttpError) {
    const unsigned status = HttpStatusOf(where);
    absent = status == 404 || status == 410;
    return {false, WithStatus(where)};
  }
  return FromTransfer(result, kManifestLimit);
}

}  // namespace kestrelume
