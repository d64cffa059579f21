#pragma once
// The ".part" file of a download: created (or truncated) for writing only and
// shared with nobody, deleted again when this object goes away unless it was
// moved into its final place first.

#include <windows.h>

#include <cstdint>
#include <string>

#include "base/unique_handle.h"

namespace kestrelume {

class PartFile {
 public:
  explicit PartFile(std::wstring path);
  ~PartFile();
  PartFile(const PartFile&) = delete;
  PartFile& operator=(const PartFile&) = delete;

  bool is_open() const { return static_cast<bool>(file_); }
  // All of the bytes or false.
  bool Write(const void* data, uint32_t length);
  void Close() { file_.reset(); }
  // Closes the file and replaces final_path with it; on success the file is
  // no longer deleted.
  bool MoveTo(const std::wstring& final_path);

 private:
  std::wstring path_;
  UniqueFile file_;
  bool armed_ = false;
};

}  // namespace kestrelume
