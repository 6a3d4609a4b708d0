#include "torvix/link/link_frame.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "common/pty.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;
using namespace torvix;

// Frames as the wire has them, written here apart from the code under test.
Bytes Marker() { return {'T', 'w', 'i', 'n', 'O', 'w', 'L', 's'}; }

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

const Bytes kAck = Concat({Marker(), {0x00, 0x00, 0x00, 0x00}});

// A data frame carrying `payload`, whose CRC-32 (worked out apart) is `crc`.
Bytes DataFrame(const Bytes& payload, std::uint32_t crc) {
  const std::size_t length = payload.size() + 4;
  return Concat({Marker(),
                 {0x00, 0x30, static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length)},
                 payload,
                 {static_cast<std::uint8_t>(crc >> 24), static_cast<std::uint8_t>(crc >> 16),
                  static_cast<std::uint8_t>(crc >> 8), static_cast<std::uint8_t>(crc)}});
}

// The link tool's port on a pty; the test plays the receiver on the master.
// Read limits are short (3 attempts of 1 ms per byte + 5 ms) unless a test
// sets the real ones.
class LinkFrameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty.Ok()) << pty.Error();
    port.Setup(1, SerialPort::kQueueSize, SerialPort::kQueueSize);
    port.SetDevicePath(pty.SlavePath());
    port.SetOperationTimeout(300);
    port.SetCommTimeoutValues(SerialPort::kReadInterval, 1, 5, 20, 20);
    ASSERT_TRUE(port.Open());
  }
  void UseRealLimits() {
    port.Close();
    port.SetOperationTimeout(SerialPort::kOperationTimeout);
    port.SetCommTimeoutValues(SerialPort::kReadInterval, SerialPort::kPerByte, SerialPort::kConstant,
                              SerialPort::kPerByte, SerialPort::kConstant);
    ASSERT_TRUE(port.Open());
  }
  Bytes Sent(std::size_t n) { return pty.Read(n, 2000); }

  common::PseudoTerminal pty;
  SerialPort port;
};

TEST_F(LinkFrameTest, CommandFrameBytes) {
  EXPECT_EQ(SendCommand(port, CODE_ABORT), 0);
  EXPECT_EQ(Sent(12), Concat({Marker(), {0x00, 0x02, 0x00, 0x00}}));
  SendCommand(port, 0x1234);
  EXPECT_EQ(Sent(12), Concat({Marker(), {0x12, 0x34, 0x00, 0x00}}));
}

TEST_F(LinkFrameTest, DataFrameBytes) {
  const std::uint8_t abc[] = {'a', 'b', 'c'};
  EXPECT_EQ(SendData(port, abc, 3), 0);
  EXPECT_EQ(Sent(19), Concat({Marker(), {0x00, 0x30, 0x00, 0x07, 'a', 'b', 'c', 0x35, 0x24, 0x41, 0xC2}}));
  SendData(port, nullptr, 0);
  EXPECT_EQ(Sent(16), Concat({Marker(), {0x00, 0x30, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00}}));
}

TEST_F(LinkFrameTest, LargestPayloadGoesOutWholeAndAnOversizedOneNotAtAll) {
  Bytes payload(kMaxPayload);
  for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<std::uint8_t>(i * 31);
  SendData(port, payload.data(), payload.size());
  const Bytes frame = Sent(kMaxPayload + 16);
  ASSERT_EQ(frame.size(), kMaxPayload + 16);
  EXPECT_EQ(frame[10], 0x0F);
  EXPECT_EQ(frame[11], 0xFF);
  EXPECT_EQ(frame, DataFrame(payload, 0x2D80B843));
  payload.push_back(0);
  SendData(port, payload.data(), payload.size());
  EXPECT_TRUE(pty.Read(1, 50).empty());
}

TEST_F(LinkFrameTest, ReceivesCommandAndDataFrames) {
  const Bytes payload = {1, 2, 3, 4, 5, 6, 7};
  ASSERT_TRUE(pty.Write(Concat({kAck, DataFrame(payload, 0x70E46888)})));
  EXPECT_EQ(ReceiveFrame(port, nullptr, nullptr), CODE_ACK);
  Bytes got(kMaxFrameBody, 0);
  std::uint32_t length = 0;
  EXPECT_EQ(ReceiveFrame(port, got.data(), &length), CODE_DATA);
  ASSERT_EQ(length, payload.size());
  EXPECT_EQ(Bytes(got.begin(), got.begin() + length), payload);
}

TEST_F(LinkFrameTest, EmptyDataFramePassesWithoutChecksum) {
  // Length field 4 with a "CRC" that is not the CRC of nothing: not tested.
  ASSERT_TRUE(pty.Write(Concat({Marker(), {0x00, 0x30, 0x00, 0x04, 0xDE, 0xAD, 0xBE, 0xEF}})));
  std::uint8_t out[kMaxFrameBody];
  std::uint32_t length = 99;
  EXPECT_EQ(ReceiveFrame(port, out, &length), CODE_DATA);
  EXPECT_EQ(length, 0u);
}

TEST_F(LinkFrameTest, CommandFrameLengthBytesAreIgnored) {
  // A command frame with length bytes 0x00 0x08: the code alone counts, and
  // the next 12 bytes are the next frame.
  ASSERT_TRUE(pty.Write(Concat({Marker(), {0x00, 0x11, 0x00, 0x08}, Marker(), {0x00, 0x04, 0x00, 0x00}})));
  EXPECT_EQ(ReceiveFrame(port, nullptr, nullptr), CODE_IDENTIFY_END);
  EXPECT_EQ(ReceiveFrame(port, nullptr, nullptr), CODE_READY);
}

TEST_F(LinkFrameTest, DamagedChecksumIsRefusedAndTheFrameConsumed) {
  const Bytes payload = {'h', 'e', 'l', 'l', 'o'};
  const Bytes damaged = DataFrame(payload, 0x3610A686 ^ 0x01);  // the CRC of "hello", its last bit wrong
  ASSERT_TRUE(pty.Write(Concat({damaged, kAck})));
  std::uint8_t out[kMaxFrameBody];
  std::uint32_t length = 0;
  EXPECT_EQ(ReceiveFrame(port, out, &length), RECV_DAMAGED);
  EXPECT_EQ(ReceiveFrame(port, out, &length), CODE_ACK) << "the next call starts after the frame";
}

TEST_F(LinkFrameTest, WrongEighthMarkerByteIsABadMarker) {
  Bytes header = Concat({Marker(), {0x00, 0x00, 0x00, 0x00}});
  header[7] = 'S';
  ASSERT_TRUE(pty.Write(header));
  EXPECT_EQ(ReceiveFrame(port, nullptr, nullptr), RECV_BAD_MARKER);
}

TEST_F(LinkFrameTest, SilenceAndAShortHeaderAreTimeouts) {
  EXPECT_EQ(ReceiveFrame(port, nullptr, nullptr), RECV_TIMEOUT);
  ASSERT_TRUE(pty.Write(Marker()));
  EXPECT_EQ(ReceiveFrame(port, nullptr, nullptr), RECV_TIMEOUT);
  // A data frame whose body stops short.
  const Bytes payload(100, 0x42);
  const Bytes whole = DataFrame(payload, 0);  // what the CRC is does not matter: it never comes
  ASSERT_TRUE(pty.Write(Bytes(whole.begin(), whole.end() - 10)));
  EXPECT_EQ(ReceiveFrame(port, nullptr, nullptr), RECV_TIMEOUT);
}

TEST_F(LinkFrameTest, ImpossibleLengthFieldsAreRefusedWithoutTouchingTheDestination) {
  struct Case {
    std::uint8_t high, low;
  };
  for (const Case c : {Case{0x00, 0x00}, Case{0x00, 0x03}, Case{0x10, 0x05}, Case{0xFF, 0xFF}}) {
    // Header only, then a valid command frame: nothing of it may be read as body.
    ASSERT_TRUE(pty.Write(Concat({Marker(), {0x00, 0x30, c.high, c.low}, kAck})));
    Bytes out(kMaxFrameBody + 16, 0xEE);
    std::uint32_t length = 12345;
    EXPECT_EQ(ReceiveFrame(port, out.data(), &length), RECV_DAMAGED) << int(c.high) << "/" << int(c.low);
    EXPECT_EQ(length, 12345u);
    EXPECT_EQ(out, Bytes(kMaxFrameBody + 16, 0xEE));
    EXPECT_EQ(ReceiveFrame(port, nullptr, nullptr), CODE_ACK);
  }
}

TEST_F(LinkFrameTest, LargestBodyTheBufferHoldsIsTaken) {
  // Length 4100 (0x1004): its 12-bit value 4 needs no checksum test; the
  // payload is 4096 bytes and fits the buffer exactly.
  Bytes frame = Concat({Marker(), {0x00, 0x30, 0x10, 0x04}, Bytes(4100, 0x5A)});
  ASSERT_TRUE(pty.Write(frame));
  Bytes out(kMaxFrameBody - kFrameCrcSize);
  std::uint32_t length = 0;
  EXPECT_EQ(ReceiveFrame(port, out.data(), &length), CODE_DATA);
  EXPECT_EQ(length, 4096u);
  EXPECT_EQ(out, Bytes(4096, 0x5A));
}

TEST_F(LinkFrameTest, AFullFrameCostsNoMoreThanItsArrival) {
  UseRealLimits();
  // The largest frame a receiver sends: 4084 payload bytes, 4100 on the line.
  Bytes payload(4084);
  for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<std::uint8_t>(i ^ 0x5C);
  const Bytes frame = DataFrame(payload, 0x1A379D8D);
  ASSERT_EQ(frame.size(), 4100u);
  ASSERT_TRUE(pty.Write(frame));
  Bytes out(kMaxFrameBody);
  std::uint32_t length = 0;
  const auto start = Clock::now();
  EXPECT_EQ(ReceiveFrame(port, out.data(), &length), CODE_DATA);
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
  EXPECT_LT(elapsed, 100) << "no read limit may be waited out";
  ASSERT_EQ(length, payload.size());
  EXPECT_EQ(Bytes(out.begin(), out.begin() + length), payload);
}

}  // namespace
