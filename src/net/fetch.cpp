#include "net/http_session.h"

namespace kestrelume {

namespace {

constexpr DWORD kFetchBufferSize = 8192;

TransferResult ReadBody(HINTERNET request, uint64_t limit, std::string& body) {
  char buffer[kFetchBufferSize];
  for (;;) {
    DWORD read = 0;
    if (!System().WinHttpReadData(request, buffer, kFetchBufferSize, &read)) {
      return TransferResult::NetworkError;
    }
    if (read == 0) return TransferResult::Ok;
    // body.size() never exceeds limit, so this cannot wrap.
    if (read > limit - body.size()) return TransferResult::TooLarge;
    body.append(buffer, read);
  }
}

}  // namespace

TransferResult HttpSession::Fetch(std::string_view address, uint64_t limit, std::string& body) {
  body.clear();
  if (cancelled.load()) return TransferResult::Cancelled;

  UniqueInternet connection;
  HINTERNET opened = OpenRequest(address, connection);
  TransferResult result = TransferResult::NetworkError;
  if (opened) {
    result = Exchange(opened);
    if (result == TransferResult::Ok) result = ReadBody(opened, limit, body);
  }
  ReleaseRequest(opened);
  connection.reset();

  if (cancelled.load()) result = TransferResult::Cancelled;
  // A cancelled fetch may have read part of a body; none of it is kept.
  if (result != TransferResult::Ok) body.clear();
  return result;
}

}  // namespace kestrelume
