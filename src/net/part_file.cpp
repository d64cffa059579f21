#include "net/part_file.h"

#include <utility>

namespace kestrelume {

PartFile::PartFile(std::wstring path) : path_(std::move(path)) {
  // CREATE_ALWAYS truncates a file left over by an earlier run.
  file_.reset(CreateFileW(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr));
  // Only a file this object created is its to delete.
  armed_ = static_cast<bool>(file_);
}

PartFile::~PartFile() {
  // The handle must be closed first: a file opened without sharing cannot be
  // deleted.
  file_.reset();
  if (armed_) DeleteFileW(path_.c_str());
}

bool PartFile::Write(const void* data, uint32_t length) {
  DWORD written = 0;
  return file_ && WriteFile(file_.get(), data, length, &written, nullptr) && written == length;
}

bool PartFile::MoveTo(const std::wstring& final_path) {
  file_.reset();
  if (!armed_ || !MoveFileExW(path_.c_str(), final_path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    return false;
  }
  armed_ = false;
  return true;
}

}  // namespace kestrelume
