#include "net/part_file.h"

#include <utility>

#include "integrity/sha256.h"

namespace kestrelume {

PartFile::PartFile(std::wstring path) : path_(std::move(path)) {
  // OPEN_ALWAYS keeps what an earlier attempt or run left, for a resume.
  file_.reset(CreateFileW(path_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr));
  // Only a file this object opened is its to delete.
  owned_ = static_cast<bool>(file_);
}

bool PartFile::Resume(uint64_t limit, Sha256& digest, char* buffer, uint32_t capacity,
                      const std::atomic<bool>& stop, uint64_t& count) {
  count = 0;
  LARGE_INTEGER size{};
  if (!file_ || !GetFileSizeEx(file_.get(), &size)) return true;
  const uint64_t length = static_cast<uint64_t>(size.QuadPart);
  // A file that cannot be emptied is closed: its first write then fails.
  if (length > limit) {
    if (!Restart()) file_.reset();
    return true;
  }
  uint64_t hashed = 0;
  while (hashed < length) {
    if (stop.load()) return false;
    DWORD read = 0;
    if (!ReadFile(file_.get(), buffer, capacity, &read, nullptr) || read == 0) break;
    digest.Update(buffer, read);
    hashed += read;
  }
  // A file that could not be read whole starts over.
  if (hashed == length) {
    count = hashed;
  } else if (!Restart()) {
    file_.reset();
  }
  return true;
}

bool PartFile::Restart() {
  LARGE_INTEGER start{};
  return file_ && SetFilePointerEx(file_.get(), start, nullptr, FILE_BEGIN) &&
         SetEndOfFile(file_.get());
}

bool PartFile::Write(const void* data, uint32_t length) {
  DWORD written = 0;
  return file_ && WriteFile(file_.get(), data, length, &written, nullptr) && written == length;
}

void PartFile::Discard() {
  // A file opened without sharing cannot be deleted while it is open.
  file_.reset();
  if (owned_) DeleteFileW(path_.c_str());
  owned_ = false;
}

bool PartFile::MoveTo(const std::wstring& final_path) {
  file_.reset();
  if (!owned_ || !MoveFileExW(path_.c_str(), final_path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    return false;
  }
  owned_ = false;
  return true;
}

}  // namespace kestrelume
