#include "common/serial_line.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "common/pty.h"

namespace {

using Clock = std::chrono::steady_clock;
using common::PseudoTerminal;
using common::SerialLine;

long long MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

class SerialLineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty.Ok()) << pty.Error();
    ASSERT_TRUE(line.Open(pty.SlavePath())) << line.LastErrorText();
    ASSERT_TRUE(line.Configure(115200)) << line.LastErrorText();
  }
  PseudoTerminal pty;
  SerialLine line;
};

TEST(SerialLineOpen, MissingDeviceGivesTheSystemsText) {
  SerialLine line;
  EXPECT_FALSE(line.Open("/dev/does-not-exist-here"));
  EXPECT_EQ(line.LastError(), ENOENT);
  EXPECT_EQ(line.LastErrorText(), std::strerror(ENOENT));
  EXPECT_FALSE(line.IsOpen());
}

TEST(SerialLineOpen, ANonTerminalIsRefused) {
  SerialLine line;
  EXPECT_FALSE(line.Open("/dev/null"));
  EXPECT_EQ(line.LastError(), ENOTTY);
}

TEST_F(SerialLineTest, SecondOpenIsRefusedUntilTheFirstCloses) {
  SerialLine other;
  EXPECT_FALSE(other.Open(pty.SlavePath()));
  EXPECT_EQ(other.LastError(), EBUSY);
  EXPECT_TRUE(line.Close());
  EXPECT_TRUE(other.Open(pty.SlavePath())) << other.LastErrorText();
}

TEST_F(SerialLineTest, BitRatesIncludingANonStandardOne) {
  for (std::uint32_t baud : {115200u, 19200u, 9600u, 128000u}) {
    ASSERT_TRUE(line.Configure(baud)) << baud << ": " << line.LastErrorText();
    EXPECT_EQ(line.Baud(), baud);
    EXPECT_EQ(pty.SlaveBaud(), baud) << "the peer sees the rate on its side";
  }
  // 0 bit/s is no rate (on a real line it would hang up the modem lines).
  EXPECT_FALSE(line.Configure(0));
  EXPECT_EQ(line.LastError(), EINVAL);
  EXPECT_EQ(line.Baud(), 128000u);
}

TEST_F(SerialLineTest, ReadReturnsTheMomentTheBytesAreThere) {
  line.SetReadLimits({0, 1000, 1000});
  std::vector<std::uint8_t> data(4100);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7);
  ASSERT_TRUE(pty.Write(data));
  std::vector<std::uint8_t> got(data.size());
  std::size_t received = 0;
  const auto start = Clock::now();
  ASSERT_TRUE(line.Read(got.data(), got.size(), received));
  EXPECT_LT(MsSince(start), 500) << "must not wait for any limit";
  EXPECT_EQ(received, data.size());
  EXPECT_EQ(got, data);
}

TEST_F(SerialLineTest, TotalLimitIsMultiplierTimesBytesPlusConstant) {
  line.SetReadLimits({131072, 10, 20});  // 4 bytes: 60 ms
  std::uint8_t buffer[4];
  std::size_t received = 99;
  const auto start = Clock::now();
  EXPECT_TRUE(line.Read(buffer, sizeof buffer, received)) << "a time-out is no error";
  const auto elapsed = MsSince(start);
  EXPECT_EQ(received, 0u);
  EXPECT_GE(elapsed, 60);
  EXPECT_LT(elapsed, 1000);
}

TEST_F(SerialLineTest, IntervalLimitStartsWithTheFirstByte) {
  line.SetReadLimits({50, 0, 0});  // no total limit
  ASSERT_TRUE(pty.Write("abc", 3));
  std::uint8_t buffer[10];
  std::size_t received = 0;
  const auto start = Clock::now();
  EXPECT_TRUE(line.Read(buffer, sizeof buffer, received));
  EXPECT_EQ(received, 3u);
  EXPECT_EQ(std::memcmp(buffer, "abc", 3), 0);
  const auto elapsed = MsSince(start);
  EXPECT_GE(elapsed, 50);
  EXPECT_LT(elapsed, 1000);
}

TEST_F(SerialLineTest, BytesWaitingAndPurgeInput) {
  ASSERT_TRUE(pty.Write("12345", 5));
  ASSERT_EQ(line.WaitForInput(1000), SerialLine::WaitResult::kInput);
  std::size_t waiting = 0;
  // The pty hands bytes over asynchronously: wait for all five, bounded.
  for (int i = 0; i < 1000 && waiting < 5; ++i) {
    ASSERT_TRUE(line.BytesWaiting(waiting));
    if (waiting < 5) line.WaitForInput(1);
  }
  EXPECT_EQ(waiting, 5u);
  ASSERT_TRUE(line.PurgeInput());
  ASSERT_TRUE(line.BytesWaiting(waiting));
  EXPECT_EQ(waiting, 0u);
}

TEST_F(SerialLineTest, WritesArriveAtThePeerInOrder) {
  line.SetWriteLimits({20, 20});
  std::vector<std::uint8_t> data(3000);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i);
  std::size_t written = 0;
  ASSERT_TRUE(line.Write(data.data(), data.size(), written));
  EXPECT_EQ(written, data.size());
  ASSERT_TRUE(line.Drain());
  EXPECT_EQ(pty.Read(data.size(), 2000), data);
}

TEST_F(SerialLineTest, WriteThatTimesOutPartWayIsNoError) {
  line.SetWriteLimits({0, 50});
  // Nobody reads the master: the pty's buffers fill and the write stops.
  std::vector<std::uint8_t> data(4 << 20, 0x55);
  std::size_t written = 0;
  const auto start = Clock::now();
  EXPECT_TRUE(line.Write(data.data(), data.size(), written));
  EXPECT_LT(written, data.size());
  EXPECT_GE(MsSince(start), 50);
}

TEST(SerialLineDeadLine, AReadFailsWithEioButNoSoonerThanItsLimit) {
  // A caller that repeats reads on a pulled adapter must not spin: the read
  // takes the time a silent line would have taken.  Without a limit there is
  // nothing to wait out.
  struct Case {
    common::ReadLimits limits;
    long long minMs;
  };
  for (const Case c : {Case{{0, 5, 40}, 100}, Case{{131072, 5, 40}, 100}, Case{{0, 0, 0}, 0}}) {
    SCOPED_TRACE(c.minMs);
    PseudoTerminal pty;
    SerialLine line;
    ASSERT_TRUE(line.Open(pty.SlavePath()));
    ASSERT_TRUE(line.Configure(115200));
    line.SetReadLimits(c.limits);
    pty.CloseMaster();
    std::uint8_t buffer[12];
    std::size_t received = 0;
    const auto start = Clock::now();
    EXPECT_FALSE(line.Read(buffer, sizeof buffer, received));
    const auto elapsed = MsSince(start);
    EXPECT_EQ(line.LastError(), EIO);
    EXPECT_EQ(received, 0u);
    EXPECT_GE(elapsed, c.minMs);
    EXPECT_LT(elapsed, c.minMs + 1000);
  }
}

TEST_F(SerialLineTest, WaitForInputCanBeCutShortFromAnotherThread) {
  EXPECT_EQ(line.WaitForInput(10), SerialLine::WaitResult::kTimedOut);
  std::thread stopper([&] { line.Interrupt(); });
  EXPECT_EQ(line.WaitForInput(-1), SerialLine::WaitResult::kInterrupted);
  stopper.join();
  // Stays pending until cleared, so a request made before a wait is not lost.
  EXPECT_EQ(line.WaitForInput(-1), SerialLine::WaitResult::kInterrupted);
  line.ClearInterrupt();
  ASSERT_TRUE(pty.Write("x", 1));
  EXPECT_EQ(line.WaitForInput(-1), SerialLine::WaitResult::kInput);
}

TEST_F(SerialLineTest, CloseRestoresTheSettingsFoundAtOpen) {
  EXPECT_TRUE(line.IsPseudoTerminal());
  ASSERT_TRUE(line.Close());
  EXPECT_FALSE(line.IsPseudoTerminal());
  const std::uint32_t before = pty.SlaveBaud();
  ASSERT_TRUE(line.Open(pty.SlavePath()));
  ASSERT_TRUE(line.Configure(before == 19200 ? 9600 : 19200));
  ASSERT_TRUE(line.Close());
  EXPECT_EQ(pty.SlaveBaud(), before);
  EXPECT_FALSE(line.Close()) << "nothing left to close";
}

}  // namespace
