// The emulator's own promises: a sample database that prints, the line-speed
// check of the download, and the uploads stored to files.
#include "emulator/link/receiver.h"
#include "common/testing/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <thread>

#include <unistd.h>

#include "emulator/link/link_wire.h"
#include "emulator/link/sample_database.h"
#include "emulator/link/tests/sample_database_text.h"
#include "torvix/database/database_image.h"
#include "torvix/database/factory_text_writer.h"
#include "torvix/link/link_frame.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace torvix;

TEST(SampleDatabase, PrintsAsAFactoryDataText) {
  const Bytes sample = emulator::SampleDatabaseImage();
  ASSERT_EQ(sample.size(), DatabaseImage::kSize);
  DatabaseImage image;
  std::copy(sample.begin(), sample.end(), image.Data());
  std::ostringstream text;
  ASSERT_EQ(WriteFactoryText(text, image), kWriteOk);
  EXPECT_EQ(text.str(), emulator::testing::kSampleDatabaseText);
}

// The receiver's own frames, byte for byte as the wire has them.
TEST(ReceiverFrames, GoldenBytes) {
  const Bytes marker = {'T', 'w', 'i', 'n', 'O', 'w', 'L', 's'};
  const auto framed = [&marker](Bytes rest) {
    rest.insert(rest.begin(), marker.begin(), marker.end());
    return rest;
  };
  const std::uint8_t abc[] = {'a', 'b', 'c'};
  EXPECT_EQ(emulator::wire::CommandFrame(17), framed({0x00, 0x11, 0x00, 0x00}));
  EXPECT_EQ(emulator::wire::CommandFrame(0x1234), framed({0x12, 0x34, 0x00, 0x00}));
  EXPECT_EQ(emulator::ReceiverDataFrame(abc, 3, false),
            framed({0x00, 0x30, 0x00, 0x07, 'a', 'b', 'c', 0x35, 0x24, 0x41, 0xC2}));
  EXPECT_EQ(emulator::ReceiverDataFrame(abc, 3, true),
            framed({0x00, 0x30, 0x00, 0x07, 'a', 'b', 'c', 0x35, 0x24, 0x41, 0xC2 ^ 0x5A}));
  EXPECT_EQ(emulator::ReceiverDataFrame(nullptr, 0, false), framed({0x00, 0x30, 0x00, 0x04, 0, 0, 0, 0}));
  // 4096 bytes: the length 4100 runs into the field's thirteenth bit.
  const Bytes big(4096, 0);
  const Bytes frame = emulator::ReceiverDataFrame(big.data(), big.size(), false);
  ASSERT_EQ(frame.size(), 4112u);
  EXPECT_EQ(Bytes(frame.begin() + 8, frame.begin() + 12), (Bytes{0x00, 0x30, 0x10, 0x04}));
}

TEST(IdentificationRecord, TextsAreCutToThirtyOneCharacters) {
  const Bytes record = emulator::IdentificationRecord(std::string(40, 'h'), "sw");
  ASSERT_EQ(record.size(), 96u);
  EXPECT_NE(record[0], 0);
  EXPECT_EQ(record[32 + 30], 'h');
  EXPECT_EQ(record[32 + 31], 0);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&record[64])), "sw");
}

// A damaged frame is noticed by the tool's own check only where the note
// about --damage-frame says so.
TEST(DownloadDamage, ShowsOnlyWhereTheLengthFieldCoversTheChecksum) {
  for (const std::size_t size : {1u, 4091u, 4092u, 4095u, 4096u}) {
    const Bytes payload(size, 0x33);
    const Bytes frame = emulator::ReceiverDataFrame(payload.data(), payload.size(), true);
    EXPECT_EQ(!CheckFrameCrc(frame.data()), emulator::DownloadDamageShows(size)) << size;
  }
}

// The tool's side played with a plain SerialPort and the frame operations.
class ReceiverTest : public ::testing::Test {
 protected:
  void Start(emulator::LinkOptions options) {
    ASSERT_TRUE(line.Ok());
    receiver = std::make_unique<emulator::LinkReceiver>(line, std::move(options));
    thread = std::thread([this] { receiver->Serve(stop); });
    port.Setup(1, SerialPort::kQueueSize, SerialPort::kQueueSize);
    port.SetDevicePath(line.DevicePath());
    port.SetOperationTimeout(1000);
    port.SetCommTimeoutValues(SerialPort::kReadInterval, 1, 20, 20, 20);
    ASSERT_TRUE(port.Open());
  }
  void TearDown() override {
    stop.store(true);
    if (thread.joinable()) thread.join();
  }
  emulator::Line line{{"", false}};
  std::unique_ptr<emulator::LinkReceiver> receiver;
  std::atomic<bool> stop{false};
  std::thread thread;
  SerialPort port;
};

TEST_F(ReceiverTest, DownloadIsRefusedToAToolThatStaysAtTheOldRate) {
  std::vector<std::string> log;
  std::mutex logMutex;
  emulator::LinkOptions options;
  options.databaseImage = emulator::SampleDatabaseImage();
  options.baudWaitMs = 200;
  options.log = [&](const std::string& text) {
    std::lock_guard lock(logMutex);
    log.push_back(text);
  };
  Start(options);
  SendCommand(port, CODE_READ_USER_DATA);
  EXPECT_EQ(ReceiveFrame(port, nullptr, nullptr), CODE_ACK);
  EXPECT_EQ(ReceiveFrame(port, nullptr, nullptr), RECV_TIMEOUT) << "nothing at 115200 bit/s";
  stop.store(true);
  thread.join();
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back(), "tool stayed at 115200 bit/s, not 19200: database not sent");
}

TEST_F(ReceiverTest, UploadsAreStoredInFiles) {
  const common::testing::TempFolder folder("emu-sw");
  ASSERT_TRUE(folder.Ok());
  const std::string software = folder / "software";
  emulator::LinkOptions options;
  options.softwareOut = software;
  Start(options);
  SendCommand(port, CODE_SOFTWARE);
  ASSERT_EQ(ReceiveFrame(port, nullptr, nullptr), CODE_READY);
  SendCommand(port, CODE_SOFTWARE);
  const Bytes block = {0, 0, 0, 3, 'a', 'b', 'c'};
  SendData(port, block.data(), block.size());
  ASSERT_EQ(ReceiveFrame(port, nullptr, nullptr), CODE_ACK);
  SendCommand(port, CODE_SOFTWARE_END);
  ASSERT_EQ(ReceiveFrame(port, nullptr, nullptr), CODE_ACK);
  stop.store(true);
  thread.join();
  const std::string stored = common::testing::ReadFile(software);
  EXPECT_EQ(Bytes(stored.begin(), stored.end()), block);
  EXPECT_EQ(receiver->StoredSoftware(), block);
}

TEST_F(ReceiverTest, AbortedUploadIsNotStored) {
  Start({});
  SendCommand(port, CODE_FACTORY_DATA);
  ASSERT_EQ(ReceiveFrame(port, nullptr, nullptr), CODE_READY);
  SendCommand(port, CODE_FACTORY_DATA);
  const Bytes block(2048, 0x42);
  SendData(port, block.data(), block.size());
  ASSERT_EQ(ReceiveFrame(port, nullptr, nullptr), CODE_ACK);
  SendCommand(port, CODE_ABORT);
  ASSERT_TRUE(receiver->WaitForCodes(CODE_ABORT, 1, 2000));
  EXPECT_EQ(receiver->CompletedUploads(), 0);
  EXPECT_TRUE(receiver->StoredFactoryData().empty());
}

}  // namespace
