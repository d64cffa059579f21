#pragma once
// The ".part" file of a download: opened (or created) for reading and
// writing and shared with nobody. It outlives a failed download so that the
// next attempt, the mirror or the next start can resume it; only Discard, or
// the move into its final place, removes it.

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "base/unique_handle.h"

namespace kestrelume {

class Sha256;

class PartFile {
 public:
  explicit PartFile(std::wstring path);
  PartFile(const PartFile&) = delete;
  PartFile& operator=(const PartFile&) = delete;

  bool is_open() const { return static_cast<bool>(file_); }
  // Hashes the bytes already in the file into `digest` through `buffer` and
  // leaves the file positioned after them, their number in `count`. A file
  // longer than `limit`, or one that cannot be read whole, is emptied
  // (`count` is then 0, and `digest` may have seen part of it). False, with
  // the file as it was, when `stop` is set part-way: a large file takes a
  // while, and a cancel must not wait for it.
  bool Resume(uint64_t limit, Sha256& digest, char* buffer, uint32_t capacity,
              const std::atomic<bool>& stop, uint64_t& count);
  // Empties the file for a download from the start; false when it cannot.
  bool Restart();
  // All of the bytes, at the end, or false.
  bool Write(const void* data, uint32_t length);
  // Closes the file and deletes it.
  void Discard();
  // Closes the file and replaces final_path with it; false leaves it in place.
  bool MoveTo(const std::wstring& final_path);

 private:
  std::wstring path_;
  UniqueFile file_;
  bool owned_ = false;
};

}  // namespace kestrelume
