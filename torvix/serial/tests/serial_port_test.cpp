#include "torvix/serial/serial_port.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "common/pty.h"

namespace {

using Clock = std::chrono::steady_clock;
using torvix::SerialPort;

long long MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

class RecordingNotifier : public torvix::SerialErrorNotifier {
 public:
  void ShowSerialError(const std::string& caption, const std::string& text) override {
    boxes.emplace_back(caption, text);
  }
  std::vector<std::pair<std::string, std::string>> boxes;
};

// A port on a fresh pty, set up as the link tool does but with short read
// limits: 3 attempts of 2 ms per missing byte + 10 ms.
class SerialPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty.Ok()) << pty.Error();
    port.Setup(1, SerialPort::kQueueSize, SerialPort::kQueueSize);
    port.SetDevicePath(pty.SlavePath());
    port.SetOperationTimeout(300);
    port.SetCommTimeoutValues(SerialPort::kReadInterval, 2, 10, 20, 20);
    ASSERT_TRUE(port.Open());
  }
  common::PseudoTerminal pty;
  RecordingNotifier notes;
  SerialPort port{&notes};
};

TEST_F(SerialPortTest, CountZeroReadsNothing) {
  ASSERT_TRUE(pty.Write("xyz", 3));
  std::uint8_t buffer[4] = {};
  std::uint32_t received = 7;
  EXPECT_TRUE(port.Read(buffer, 0, received));
  EXPECT_EQ(received, 0u);
  EXPECT_TRUE(port.Read(buffer, 3, received)) << "the bytes are still there";
  EXPECT_EQ(std::memcmp(buffer, "xyz", 3), 0);
}

TEST_F(SerialPortTest, SilenceFailsAfterAllAttemptsWithoutAMessage) {
  std::uint8_t buffer[12];
  std::uint32_t received = 0;
  const auto start = Clock::now();
  EXPECT_FALSE(port.Read(buffer, 12, received));
  EXPECT_EQ(received, 0u);
  EXPECT_GE(MsSince(start), 3 * (2 * 12 + 10));
  EXPECT_TRUE(notes.boxes.empty());
}

TEST_F(SerialPortTest, PartialArrivalKeepsTheBytesThatCame) {
  ASSERT_TRUE(pty.Write("12345", 5));
  std::uint8_t buffer[12] = {};
  std::uint32_t received = 0;
  EXPECT_FALSE(port.Read(buffer, 12, received));
  EXPECT_EQ(received, 5u);
  EXPECT_EQ(std::memcmp(buffer, "12345", 5), 0);
}

TEST_F(SerialPortTest, BytesSpreadOverAttemptsAreGathered) {
  // Each attempt asks only for the bytes still missing.
  ASSERT_TRUE(pty.Write("ab", 2));
  std::uint8_t buffer[4] = {};
  std::uint32_t received = 0;
  EXPECT_FALSE(port.Read(buffer, 4, received));
  ASSERT_EQ(received, 2u);
  ASSERT_TRUE(pty.Write("cd", 2));
  EXPECT_TRUE(port.Read(buffer + 2, 2, received));
  EXPECT_EQ(std::memcmp(buffer, "abcd", 4), 0);
}

TEST_F(SerialPortTest, OperationTimeoutBelow100MakesNoAttempt) {
  ASSERT_TRUE(pty.Write("hello", 5));
  std::uint8_t buffer[5];
  std::uint32_t received = 0;
  for (std::int32_t timeout : {99, 0, -1}) {
    port.SetOperationTimeout(timeout);
    EXPECT_FALSE(port.Read(buffer, 5, received)) << timeout;
    EXPECT_EQ(received, 0u) << timeout;
  }
  port.SetOperationTimeout(100);  // one attempt
  EXPECT_TRUE(port.Read(buffer, 5, received));
}

TEST_F(SerialPortTest, OpeningTwiceIsRefusedQuietlyOnTheSameObject) {
  EXPECT_FALSE(port.Open());
  EXPECT_FALSE(port.OpenAtBaud(19200));
  EXPECT_TRUE(notes.boxes.empty());
}

TEST_F(SerialPortTest, ADeviceInUseShowsTheSystemsText) {
  RecordingNotifier otherNotes;
  SerialPort other(&otherNotes);
  other.Setup(1, SerialPort::kQueueSize, SerialPort::kQueueSize);
  other.SetDevicePath(pty.SlavePath());
  EXPECT_FALSE(other.Open());
  ASSERT_EQ(otherNotes.boxes.size(), 1u);
  EXPECT_EQ(otherNotes.boxes[0].first, "Serial Communication Device Error");
  EXPECT_EQ(otherNotes.boxes[0].second, std::strerror(EBUSY));
  EXPECT_FALSE(other.IsOpen());
  EXPECT_TRUE(other.IsSetUp()) << "a failed open leaves it set up";
}

TEST(SerialPortOpen, MissingDeviceShowsTheSystemsTextUnderTheCaption) {
  RecordingNotifier notes;
  SerialPort port(&notes);
  EXPECT_FALSE(port.Open()) << "not set up: no attempt, no message";
  EXPECT_TRUE(notes.boxes.empty());
  ::setenv("COM9", "/dev/no-such-serial-device", 1);
  port.Setup(9, SerialPort::kQueueSize, SerialPort::kQueueSize);
  EXPECT_EQ(port.DevicePath(), "/dev/no-such-serial-device");
  EXPECT_FALSE(port.Open());
  ::unsetenv("COM9");
  ASSERT_EQ(notes.boxes.size(), 1u);
  EXPECT_EQ(notes.boxes[0].first, "Serial Communication Device Error");
  EXPECT_EQ(notes.boxes[0].second, std::strerror(ENOENT));
}

TEST(SerialPortOpen, ComNumberResolvesThroughTheEnvironment) {
  common::PseudoTerminal pty;
  ASSERT_TRUE(pty.Ok());
  ::setenv("COM2", pty.SlavePath().c_str(), 1);
  SerialPort port;
  port.Setup(2, SerialPort::kQueueSize, SerialPort::kQueueSize);
  EXPECT_TRUE(port.Open());
  ::unsetenv("COM2");
  EXPECT_EQ(pty.SlaveBaud(), 115200u);
}

TEST_F(SerialPortTest, CloseDiscardsUnreadInput) {
  ASSERT_TRUE(pty.Write("stale", 5));
  ASSERT_TRUE(port.IsOpen());
  std::uint8_t first = 0;
  std::uint32_t received = 0;
  ASSERT_TRUE(port.Read(&first, 1, received)) << "the bytes have arrived";
  EXPECT_TRUE(port.Close());
  EXPECT_FALSE(port.Close()) << "already closed";
  ASSERT_TRUE(port.Open());
  std::uint8_t rest[4];
  EXPECT_FALSE(port.Read(rest, 4, received));
  EXPECT_EQ(received, 0u) << "what was not read before the close is gone";
}

TEST_F(SerialPortTest, CloseKeepsWhatAPseudoTerminalPeerHasYetToRead) {
  // A pty has no transmit queue: bytes a write took are already with the
  // receiver, as on a wire after the drain.  Nobody reads the master here, so
  // the write stops when its 50 ms run out, and the close must lose nothing.
  ASSERT_TRUE(port.Close());
  port.SetCommTimeoutValues(SerialPort::kReadInterval, 2, 10, 0, 50);
  ASSERT_TRUE(port.Open());
  std::vector<std::uint8_t> data(1 << 20, 0xA5);
  std::uint32_t written = 0;
  ASSERT_TRUE(port.Write(data.data(), static_cast<std::uint32_t>(data.size()), written));
  ASSERT_GT(written, 0u);
  ASSERT_LT(written, data.size()) << "a write cut short by its limit is no error";
  EXPECT_TRUE(port.Close());
  EXPECT_EQ(pty.Read(written, 2000).size(), written);
}

TEST_F(SerialPortTest, ReopenAtAnotherRateKeepsTheStoredSettings) {
  ASSERT_EQ(pty.SlaveBaud(), 115200u);
  ASSERT_TRUE(port.Close());
  ASSERT_TRUE(port.OpenAtBaud(19200));
  EXPECT_EQ(pty.SlaveBaud(), 19200u);
  ASSERT_TRUE(pty.Write("0123456789ab", 12));
  std::uint8_t buffer[12];
  std::uint32_t received = 0;
  EXPECT_TRUE(port.Read(buffer, 12, received));
  EXPECT_FALSE(port.Read(buffer, 1, received)) << "read limits still apply after the reopen";
}

TEST_F(SerialPortTest, PeerVanishingShowsTheErrorBoxAndTakesTheWholeReadTime) {
  // Upload jobs take a failed read for a time-out and ask again: on a dead
  // line they must not repeat faster than on a silent one.
  pty.CloseMaster();
  std::uint8_t buffer[12];
  std::uint32_t received = 0;
  const auto start = Clock::now();
  EXPECT_FALSE(port.Read(buffer, 12, received));
  EXPECT_GE(MsSince(start), 3 * (2 * 12 + 10));
  ASSERT_EQ(notes.boxes.size(), 1u);
  EXPECT_EQ(notes.boxes[0].second, std::strerror(EIO));
}

TEST_F(SerialPortTest, AStopCutsTheDeadLinePauseShort) {
  // Three attempts of 13 s each: a stopping job must not wait them out.
  port.Close();
  port.SetCommTimeoutValues(SerialPort::kReadInterval, 1000, 1000, 20, 20);
  ASSERT_TRUE(port.Open());
  pty.CloseMaster();
  std::uint8_t buffer[12];
  std::uint32_t received = 0;
  const auto start = Clock::now();
  std::thread stopper([&] { port.Interrupt(); });
  EXPECT_FALSE(port.Read(buffer, 12, received));
  stopper.join();
  EXPECT_LT(MsSince(start), 5000);
  EXPECT_EQ(notes.boxes.size(), 1u);
}

TEST(SerialPortRealLimits, TwentyAttemptsOfTwoHundredSixtyMillisecondsForAHeader) {
  common::PseudoTerminal pty;
  ASSERT_TRUE(pty.Ok());
  SerialPort port;
  port.Setup(1, SerialPort::kQueueSize, SerialPort::kQueueSize);
  port.SetDevicePath(pty.SlavePath());
  port.SetOperationTimeout(SerialPort::kOperationTimeout);
  port.SetCommTimeoutValues(SerialPort::kReadInterval, SerialPort::kPerByte, SerialPort::kConstant,
                            SerialPort::kPerByte, SerialPort::kConstant);
  ASSERT_TRUE(port.Open());
  std::uint8_t buffer[12];
  std::uint32_t received = 0;
  const auto start = Clock::now();
  EXPECT_FALSE(port.Read(buffer, 12, received));
  const auto elapsed = MsSince(start);
  EXPECT_GE(elapsed, 20 * 260);
  EXPECT_LT(elapsed, 20 * 260 + 2000);
}

}  // namespace
