// Helpers shared by the fuzz targets: checks that abort (so libFuzzer keeps
// the input), a cursor over the input, and a file in memory for the layers
// that read files by name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <sys/mman.h>
#include <unistd.h>

// Aborts with the failed condition: a finding.
#define FUZZ_CHECK(condition)                                                          \
  do {                                                                                 \
    if (!(condition)) {                                                                \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                    \
    }                                                                                  \
  } while (false)

namespace fuzz {

// The input taken from the front, piece by piece.
class Cursor {
 public:
  Cursor(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool Empty() const { return pos_ == size_; }
  std::size_t Left() const { return size_ - pos_; }
  // One byte, 0 once the input is used up.
  std::uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  // Up to `n` bytes.
  std::vector<std::uint8_t> Take(std::size_t n) {
    const std::size_t k = n < Left() ? n : Left();
    std::vector<std::uint8_t> out(data_ + pos_, data_ + pos_ + k);
    pos_ += k;
    return out;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

// One file in memory for the whole run, reachable by a path; each Fill()
// gives it new contents.
class MemoryFile {
 public:
  MemoryFile() : fd_(::memfd_create("fuzz-input", MFD_CLOEXEC)) {
    FUZZ_CHECK(fd_ >= 0);
    path_ = "/proc/self/fd/" + std::to_string(fd_);
  }
  ~MemoryFile() { ::close(fd_); }
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;

  const std::string& Path() const { return path_; }
  // Empties the file and makes it `length` bytes long, all a hole of zeros.
  void Fill(std::uint64_t length) {
    FUZZ_CHECK(::ftruncate(fd_, 0) == 0);
    FUZZ_CHECK(::ftruncate(fd_, static_cast<off_t>(length)) == 0);
  }
  // Writes `n` bytes at `offset` (the file grows when they reach past its end).
  void Put(std::uint64_t offset, const std::uint8_t* bytes, std::size_t n) {
    if (n != 0) FUZZ_CHECK(::pwrite(fd_, bytes, n, static_cast<off_t>(offset)) == static_cast<ssize_t>(n));
  }

 private:
  int fd_;
  std::string path_;
};

}  // namespace fuzz
