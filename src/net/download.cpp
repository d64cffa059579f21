#include <optional>

#include "integrity/sha256.h"
#include "net/http_session.h"
#include "net/part_file.h"

namespace kestrelume {

namespace {

constexpr DWORD kQueryContentRange = 53;  // WINHTTP_QUERY_CONTENT_RANGE
constexpr DWORD kContentRangeUnits = 96;
// Reconnects of one download, and how many attempts in a row may bring the
// file no further before the download gives up.
constexpr int kMostReconnects = 20;
constexpr int kMostAttemptsWithoutProgress = 2;
constexpr DWORD kFirstPauseMs = 1000;
constexpr DWORD kLongestPauseMs = 10000;

std::wstring Decimal(uint64_t value) {
  wchar_t digits[24];
  wchar_t* at = digits + 24;
  *--at = L'\0';
  do {
    *--at = static_cast<wchar_t>(L'0' + value % 10);
    value /= 10;
  } while (value);
  return at;
}

// A 206 fits only when it carries exactly the rest that was asked for.
bool RangeFits(HINTERNET request, uint64_t from, uint64_t total) {
  wchar_t text[kContentRangeUnits];
  DWORD length = sizeof text;
  return System().WinHttpQueryHeaders(request, kQueryContentRange, WINHTTP_HEADER_NAME_BY_INDEX,
                                      text, &length, WINHTTP_NO_HEADER_INDEX) &&
         std::wstring_view(text, length / sizeof(wchar_t)) ==
             L"bytes " + Decimal(from) + L"-" + Decimal(total - 1) + L"/" + Decimal(total);
}

}  // namespace

TransferResult HttpSession::StreamBody(const Answer& answer, AsyncRequest& call, PartFile& file,
                                       Sha256& digest, uint64_t expected_length,
                                       FunctionRef<void(uint64_t)> on_bytes, uint64_t& count) {
  ReadPace pace;
  for (;;) {
    const char* data = nullptr;
    DWORD read = 0;
    if (const TransferResult result = ReadPiece(answer.request.get(), answer.secure, call, pace, data, read);
        result != TransferResult::Ok) {
      return result;
    }
    if (read == 0) return TransferResult::Ok;
    // Nothing past the expected length is ever written.
    if (read > expected_length - count) return TransferResult::TooLarge;
    if (!file.Write(data, read)) return TransferResult::FileError;
    digest.Update(data, read);
    count += read;
    if (on_bytes) on_bytes(count);
  }
}

TransferResult HttpSession::Attempt(std::string_view address, DownloadState& state) {
  // A request of its own per attempt: a step abandoned on a stall may still
  // end later, and must not end a step of the next attempt.
  AsyncRequest::Ptr call = AsyncRequest::Create(kDownloadBufferBytes);
  if (!call) return TransferResult::NetworkError;
  const std::wstring range = L"Range: bytes=" + Decimal(state.count) + L"-";
  Answer answer;
  TransferResult result = Ask(address, state.count ? range.c_str() : nullptr, *call, answer);
  if (result != TransferResult::Ok) return result;
  if (answer.status == 206 && state.count &&
      RangeFits(answer.request.get(), state.count, state.expected_length)) {
    state.resumed = true;
  } else if (answer.status == 200) {
    // The server sends the whole file: it starts again from nothing.
    if (state.count && !state.StartOver()) return TransferResult::FileError;
  } else if (answer.status == 206 || (answer.status == 416 && state.count)) {
    // An answer that does not fit what is there, or a server that has no
    // such range (its file is shorter than the part): what is there goes.
    return state.StartOver() ? TransferResult::NetworkError : TransferResult::FileError;
  } else {
    return TransferResult::HttpError;
  }
  return StreamBody(answer, *call, state.file, *state.digest, state.expected_length,
                    state.on_bytes, state.count);
}

TransferResult HttpSession::Transfer(std::string_view address, DownloadState& state) {
  uint64_t furthest = state.count;
  int without_progress = 0;
  DWORD pause = kFirstPauseMs;
  for (int reconnects = 0;; ++reconnects) {
    TransferResult result = Attempt(address, state);
    if (result == TransferResult::Ok && state.count == state.expected_length) return result;
    // A body that ended early is a broken connection, as is a failed step.
    if (result == TransferResult::Ok) result = TransferResult::NetworkError;
    if (result != TransferResult::NetworkError || cancelled.load()) return result;
    if (state.count > furthest) {
      furthest = state.count;
      without_progress = 0;
      pause = kFirstPauseMs;
    } else if (++without_progress == kMostAttemptsWithoutProgress) {
      return result;
    }
    if (reconnects == kMostReconnects) return result;
    // The pause ends at once on a cancel.
    if (WaitForSingleObject(cancel_event.get(), pause) == WAIT_OBJECT_0) {
      return TransferResult::Cancelled;
    }
    pause = pause * 2 < kLongestPauseMs ? pause * 2 : kLongestPauseMs;
  }
}

bool HttpSession::DownloadState::StartOver() {
  digest.emplace();
  count = 0;
  resumed = false;
  if (on_bytes) on_bytes(0);
  return file.Restart();
}

TransferResult HttpSession::Download(std::string_view address, const std::wstring& final_path,
                                     uint64_t expected_length, std::string_view expected_digest,
                                     FunctionRef<void(uint64_t)> on_bytes) {
  if (cancelled.load()) return TransferResult::Cancelled;

  PartFile file(final_path + L".part");
  if (!file.is_open()) return TransferResult::FileError;
  DownloadState state{file, expected_length, on_bytes, 0, {}, false};
  state.digest.emplace();
  {
    // The bytes an earlier attempt or run left are hashed again from disk.
    std::unique_ptr<char[]> buffer(new char[kDownloadBufferBytes]());
    if (!file.Resume(expected_length, *state.digest, buffer.get(), kDownloadBufferBytes, cancelled,
                     state.count)) {
      return TransferResult::Cancelled;
    }
  }
  if (state.count == 0) state.digest.emplace();  // a file emptied part-way through
  state.resumed = state.count > 0;
  if (state.count && on_bytes) on_bytes(state.count);

  for (bool started_over = false;;) {
    TransferResult result = state.count == expected_length ? TransferResult::Ok
                                                           : Transfer(address, state);
    if (cancelled.load()) result = TransferResult::Cancelled;
    if (result != TransferResult::Ok) {
      // A cancel, network and status failures keep the bytes for a resume;
      // the rest go, and so does a file with nothing in it.
      if (state.count == 0 || result == TransferResult::TooLarge ||
          result == TransferResult::FileError) {
        file.Discard();
      }
      return result;
    }
    // Both are lower-case hex. A failed digest is empty and must never match,
    // not even an empty expected digest.
    const std::string actual = state.digest->Finish();
    if (!actual.empty() && actual == expected_digest) {
      if (file.MoveTo(final_path)) return TransferResult::Ok;
      file.Discard();
      return TransferResult::FileError;
    }
    // Wrong bytes. Resumed bytes may be stale (an earlier file, another
    // server): once more from nothing before the bytes count as wrong.
    if (!state.resumed || started_over || !state.StartOver()) {
      file.Discard();
      return TransferResult::DigestMismatch;
    }
    started_over = true;
  }
}

}  // namespace kestrelume
