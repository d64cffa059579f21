#include "integrity/sha256.h"
#include "net/http_session.h"
#include "net/part_file.h"

namespace kestrelume {

namespace {

constexpr DWORD kDownloadBufferSize = 65536;

}  // namespace

TransferResult HttpSession::StreamBody(HINTERNET opened, AsyncRequest& call, PartFile& file,
                                       Sha256& digest, uint64_t expected_length,
                                       FunctionRef<void(uint64_t)> on_bytes, uint64_t& count) {
  ReadPace pace;
  for (;;) {
    DWORD read = 0;
    if (const TransferResult result = ReadPiece(opened, call, pace, read);
        result != TransferResult::Ok) {
      return result;
    }
    if (read == 0) return TransferResult::Ok;
    // Nothing past the expected length is ever written.
    if (read > expected_length - count) return TransferResult::TooLarge;
    if (!file.Write(call.buffer(), read)) return TransferResult::FileError;
    digest.Update(call.buffer(), read);
    count += read;
    if (on_bytes) on_bytes(count);
  }
}

TransferResult HttpSession::Download(std::string_view address, const std::wstring& final_path,
                                     uint64_t expected_length, std::string_view expected_digest,
                                     FunctionRef<void(uint64_t)> on_bytes) {
  if (cancelled.load()) return TransferResult::Cancelled;

  // Deleted when this function returns unless it was moved into place.
  PartFile file(final_path + L".part");
  if (!file.is_open()) return TransferResult::FileError;

  uint64_t count = 0;
  Sha256 digest;
  TransferResult result = TransferResult::NetworkError;
  {
    // The buffer lives with the request: a read abandoned on cancel may
    // still land in it after this function has returned.
    AsyncRequest::Ptr call = AsyncRequest::Create(kDownloadBufferSize);
    Answer answer;
    if (call) result = Ask(address, nullptr, *call, answer);
    if (result == TransferResult::Ok && answer.status != 200) result = TransferResult::HttpError;
    if (result == TransferResult::Ok) {
      result = StreamBody(answer.request.get(), *call, file, digest, expected_length, on_bytes,
                          count);
    }
  }
  file.Close();

  if (cancelled.load()) return TransferResult::Cancelled;
  if (result != TransferResult::Ok) return result;
  // A body that ended early is a broken transfer, not wrong bytes.
  if (count != expected_length) return TransferResult::NetworkError;
  // Both are lower-case hex. A failed digest is empty and must never match,
  // not even an empty expected digest.
  const std::string actual = digest.Finish();
  if (actual.empty() || actual != expected_digest) return TransferResult::DigestMismatch;
  return file.MoveTo(final_path) ? TransferResult::Ok : TransferResult::FileError;
}

}  // namespace kestrelume
