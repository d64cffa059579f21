#include "net/http_session.h"

namespace kestrelume {

namespace {

constexpr DWORD kFetchBufferSize = 8192;

}  // namespace

TransferResult HttpSession::FetchBody(const Answer& answer, AsyncRequest& call, uint64_t limit,
                                      std::string& body) {
  ReadPace pace;
  for (;;) {
    const char* data = nullptr;
    DWORD read = 0;
    if (const TransferResult result = ReadPiece(answer.request.get(), answer.secure, call, pace, data, read);
        result != TransferResult::Ok) {
      return result;
    }
    if (read == 0) return TransferResult::Ok;
    // body.size() never exceeds limit, so this cannot wrap.
    if (read > limit - body.size()) return TransferResult::TooLarge;
    body.append(data, read);
  }
}

TransferResult HttpSession::Fetch(std::string_view address, uint64_t limit, std::string& body) {
  body.clear();
  if (cancelled.load()) return TransferResult::Cancelled;

  AsyncRequest::Ptr call = AsyncRequest::Create(kFetchBufferSize);
  if (!call) return TransferResult::NetworkError;
  TransferResult result = TransferResult::NetworkError;
  {
    Answer answer;
    result = Ask(address, nullptr, *call, answer);
    if (result == TransferResult::Ok && answer.status != 200) result = TransferResult::HttpError;
    if (result == TransferResult::Ok) result = FetchBody(answer, *call, limit, body);
  }

  if (cancelled.load()) result = TransferResult::Cancelled;
  // A cancelled fetch may have read part of a body; none of it is kept.
  if (result != TransferResult::Ok) body.clear();
  return result;
}

}  // namespace kestrelume
