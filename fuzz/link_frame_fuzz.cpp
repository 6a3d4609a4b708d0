// TORVIX's link frame receiver on arbitrary byte streams: frame after frame
// until the stream runs dry, each result one of the documented ones, a
// payload never larger than the frame buffer allows, and a data frame
// accepted only with its checksum.  A payload taken from the input, framed
// by the sender's code, comes back unchanged.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "common/crc32.h"
#include "fuzz/fuzz_support.h"
#include "torvix/link/link_frame.h"

namespace {

using namespace torvix;

// A port's reads over bytes in memory: what is there is consumed, and a read
// that finds too few fails.
class MemorySource : public FrameSource {
 public:
  MemorySource(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool Read(std::uint8_t* buffer, std::uint32_t count, std::uint32_t& received) override {
    const std::size_t n = std::min<std::size_t>(count, size_ - pos_);
    if (n != 0) std::memcpy(buffer, data_ + pos_, n);
    pos_ += n;
    received = static_cast<std::uint32_t>(n);
    return n == count;
  }
  bool Empty() const { return pos_ == size_; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

constexpr std::size_t kPayloadRoom = kMaxFrameBody - kFrameCrcSize;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Exactly the room the header promises, so that a write beyond it is seen.
  const auto payload = std::make_unique<std::uint8_t[]>(kPayloadRoom);
  MemorySource stream(data, size);
  while (!stream.Empty()) {
    std::uint32_t length = 0xFFFFFFFF;
    const int code = ReceiveFrameFrom(stream, payload.get(), &length);
    FUZZ_CHECK(code == RECV_DAMAGED || code == RECV_TIMEOUT || code == RECV_BAD_MARKER ||
               (code >= 0 && code <= 0xFFFF));
    if (code == CODE_DATA) {
      FUZZ_CHECK(length <= kPayloadRoom);
    } else {
      FUZZ_CHECK(length == 0xFFFFFFFF);  // only a data frame delivers a length
    }
  }

  // The sender's frame of a payload from the input is received as it was sent.
  const std::size_t n = std::min(size, kMaxPayload);
  const auto frame = BuildDataFrame(data, n);
  MemorySource sent(frame.data(), frame.size());
  std::uint32_t length = 0;
  FUZZ_CHECK(ReceiveFrameFrom(sent, payload.get(), &length) == CODE_DATA);
  FUZZ_CHECK(length == n && (n == 0 || std::memcmp(payload.get(), data, n) == 0) && sent.Empty());
  return 0;
}
