// SHA-256 (FIPS 180-4) of bytes and of whole files, as lowercase hex, so that
// a recorded file hash reads the same as `sha256sum` prints it.  Standard
// library and POSIX only.  Any thread; no shared state.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace common {

// Incremental hashing: Update() any number of times, then Hex() once.
class Sha256 {
 public:
  Sha256();
  void Update(const void* data, std::size_t size);
  void Update(std::string_view bytes) { Update(bytes.data(), bytes.size()); }
  // The digest as 64 lowercase hex digits; ends the hashing (call once).
  std::string Hex();

 private:
  void Block(const std::uint8_t* block);

  std::array<std::uint32_t, 8> state_;
  std::array<std::uint8_t, 64> buffer_{};
  std::size_t buffered_ = 0;
  std::uint64_t length_ = 0;  // bytes hashed so far
};

// The digest of `bytes`.
std::string Sha256Hex(std::string_view bytes);

// Size and digest of the regular file at `path`, read in blocks; nullopt
// when it is not one or cannot be opened or read.  Blocks for the reading (about 2 ms per MB).
struct FileDigest {
  std::int64_t size = 0;
  std::string sha256;
};
std::optional<FileDigest> HashFile(const std::string& path);

}  // namespace common
