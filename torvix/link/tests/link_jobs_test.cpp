// The link jobs against the receiver emulator (or a receiver played by hand)
// over real pseudo-terminals.
#include "torvix/link/link_jobs.h"
#include "common/testing/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "emulator/link/sample_database.h"
#include "torvix/link/link_frame.h"
#include "torvix/link/tests/job_harness.h"

namespace {

using namespace torvix;
using torvix::testing::JobBench;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

// The tool's acknowledgement as the wire has it.
const Bytes kAckFrame = {'T', 'w', 'i', 'n', 'O', 'w', 'L', 's', 0x00, 0x00, 0x00, 0x00};

int Count(const std::vector<int>& codes, int code) {
  return static_cast<int>(std::count(codes.begin(), codes.end(), code));
}

bool Contains(const std::vector<std::string>& texts, const std::string& text) {
  return std::find(texts.begin(), texts.end(), text) != texts.end();
}

// ---- Connect -------------------------------------------------------------

class ConnectTest : public ::testing::Test {
 protected:
  void Run(emulator::LinkOptions options) {
    bench.StartReceiver(std::move(options));
    ASSERT_TRUE(bench.OpenPort());
    bench.job.receiverInfo = record.data();
    bench.Run(ConnectThreadProc);
  }
  JobBench bench;
  Bytes record = Bytes(kReceiverInfoSize, 0);
};

TEST_F(ConnectTest, IdentificationInSeveralFramesFillsTheRecord) {
  emulator::LinkOptions options;
  options.hardwareText = "0503 TWIN-S";
  options.softwareText = "4.00";
  options.identificationFrames = 3;
  Run(options);
  EXPECT_EQ(record, emulator::IdentificationRecord("0503 TWIN-S", "4.00"));
  EXPECT_EQ(HardwareNumberFromText(reinterpret_cast<const char*>(&record[32])), 503);
  EXPECT_EQ(bench.host.statuses, std::vector<std::string>{"Connecting..."});
  EXPECT_EQ(bench.host.results, std::vector<std::int32_t>{JOB_RESULT_SUCCESS});
  EXPECT_EQ(bench.host.closes, 1);
  EXPECT_EQ(bench.state.load(), JOB_ENDED);
  bench.StopReceiver();
  // Identify, an ACK per frame, the ACK of the end.
  EXPECT_EQ(bench.Receiver().CodesReceived(), (std::vector<int>{CODE_IDENTIFY, CODE_ACK, CODE_ACK, CODE_ACK, CODE_ACK}));
}

TEST_F(ConnectTest, DamagedFirstFrameIsRefusedAndAppendedOnlyOnce) {
  emulator::LinkOptions options;
  options.identificationFrames = 2;
  options.faults.damageFrame = 1;
  Run(options);
  EXPECT_EQ(record, emulator::IdentificationRecord(options.hardwareText, options.softwareText));
  EXPECT_EQ(bench.host.results, std::vector<std::int32_t>{JOB_RESULT_SUCCESS});
  bench.StopReceiver();
  EXPECT_EQ(bench.Receiver().CodesReceived(), (std::vector<int>{CODE_IDENTIFY, CODE_NAK, CODE_ACK, CODE_ACK, CODE_ACK}));
}

TEST_F(ConnectTest, SilentReceiverFailsAfterOneTimeoutAndIsToldToAbort) {
  emulator::LinkOptions options;
  options.faults.ignoreRequests = 1;
  Run(options);
  EXPECT_EQ(bench.host.statuses, std::vector<std::string>{"Connecting..."});
  EXPECT_EQ(bench.host.results, std::vector<std::int32_t>{JOB_RESULT_FAILURE});
  EXPECT_EQ(bench.host.closes, 1);
  EXPECT_EQ(record, Bytes(kReceiverInfoSize, 0));
  ASSERT_TRUE(bench.Receiver().WaitForCodes(CODE_ABORT, 1, 2000));
  bench.StopReceiver();
  EXPECT_EQ(bench.Receiver().CodesReceived(), (std::vector<int>{CODE_IDENTIFY, CODE_ABORT}));
}

TEST_F(ConnectTest, UnexpectedAnswerIsAFailure) {
  emulator::LinkOptions options;
  options.faults.unexpectedCode = CODE_READY;
  Run(options);
  EXPECT_EQ(bench.host.results, std::vector<std::int32_t>{JOB_RESULT_FAILURE});
  EXPECT_EQ(bench.state.load(), JOB_ENDED);
}

TEST_F(ConnectTest, StopRequestedBeforeTheStartOnlyAborts) {
  bench.StartReceiver({});
  ASSERT_TRUE(bench.OpenPort());
  bench.job.receiverInfo = record.data();
  bench.state.store(JOB_STOP_REQUESTED);
  std::thread worker(ConnectThreadProc, std::ref(bench.job));
  worker.join();
  EXPECT_TRUE(bench.host.results.empty());
  EXPECT_EQ(bench.host.closes, 1);
  EXPECT_EQ(bench.state.load(), JOB_ENDED);
  ASSERT_TRUE(bench.Receiver().WaitForCodes(CODE_ABORT, 1, 2000));
  bench.StopReceiver();
  EXPECT_EQ(Count(bench.Receiver().CodesReceived(), CODE_IDENTIFY), 0);
}

// A receiver that sends more identification than the record holds: the
// surplus is dropped.  The record is a heap block of exactly 96 bytes, so a
// write past it would not go unnoticed under the sanitizers.
TEST(ConnectSurplus, IdentificationBeyondNinetySixBytesIsDropped) {
  JobBench bench;
  ASSERT_TRUE(bench.OpenPort());
  auto record = std::make_unique<std::uint8_t[]>(kReceiverInfoSize);
  std::fill_n(record.get(), kReceiverInfoSize, 0);
  bench.job.receiverInfo = record.get();
  std::thread worker(ConnectThreadProc, std::ref(bench.job));
  auto& pty = bench.Pty();
  ASSERT_TRUE(bench.TakeCommand());
  bench.SendCode(CODE_ACK);
  Bytes first(60, 0xA1), second(60, 0xB2);
  for (const Bytes* part : {&first, &second}) {
    pty.Write(BuildDataFrame(part->data(), part->size()));
    ASSERT_EQ(pty.Read(12, 2000), kAckFrame);
  }
  bench.SendCode(CODE_IDENTIFY_END);
  worker.join();
  Bytes expected(first);
  expected.insert(expected.end(), second.begin(), second.begin() + 36);
  EXPECT_EQ(Bytes(record.get(), record.get() + kReceiverInfoSize), expected);
  EXPECT_EQ(bench.host.results, std::vector<std::int32_t>{JOB_RESULT_SUCCESS});
}

// ---- Read User Data ------------------------------------------------------

class ReadUserDataTest : public ::testing::Test {
 protected:
  void Run(emulator::LinkOptions options) {
    if (options.databaseImage.empty()) options.databaseImage = sample;
    bench.StartReceiver(std::move(options));
    ASSERT_TRUE(bench.OpenPort());
    bench.job.databaseImage = image.data();
    bench.Run(ReadUserDataThreadProc);
  }
  JobBench bench;
  const Bytes sample = emulator::SampleDatabaseImage();
  Bytes image = Bytes(kDatabaseImageSize, 0xEE);  // what an earlier operation left
};

TEST_F(ReadUserDataTest, DownloadsAtNineteenThousandTwoHundredInBlocksOf4096) {
  Run({});
  EXPECT_EQ(image, sample);
  EXPECT_EQ(bench.host.results, std::vector<std::int32_t>{JOB_RESULT_SUCCESS});
  EXPECT_EQ(bench.host.closes, 1);
  EXPECT_EQ(bench.host.ranges, std::vector<std::uint16_t>{32});
  ASSERT_GE(bench.host.statuses.size(), 3u);
  EXPECT_EQ(bench.host.statuses[0], "Connecting...");
  EXPECT_EQ(bench.host.statuses[1], "Downloading...");
  EXPECT_EQ(bench.host.statuses[2], "Downloading...   block 1/32   error 0");
  EXPECT_EQ(bench.host.statuses.back(), "Downloading...   block 32/32   error 0");
  EXPECT_EQ(bench.host.positions.size(), 32u);
  EXPECT_EQ(bench.port.IsOpen(), true);
  EXPECT_EQ(bench.Line().ToolBaud(), 19200u);
}

TEST_F(ReadUserDataTest, BlocksOf4080AlsoShowATotalOf32) {
  emulator::LinkOptions options;
  options.downloadBlockSize = 4080;
  Run(options);
  EXPECT_EQ(image, sample);
  EXPECT_EQ(bench.host.ranges, std::vector<std::uint16_t>{32});
  EXPECT_EQ(bench.host.statuses.back(), "Downloading...   block 33/32   error 0");
}

TEST_F(ReadUserDataTest, AShortImageReplacesTheWholeImage) {
  emulator::LinkOptions options;
  options.databaseImage.assign(sample.begin(), sample.begin() + 10000);
  Run(options);
  EXPECT_EQ(bench.host.results, std::vector<std::int32_t>{JOB_RESULT_SUCCESS});
  Bytes expected(sample.begin(), sample.begin() + 10000);
  expected.resize(kDatabaseImageSize, 0);
  EXPECT_EQ(image, expected) << "nothing of the earlier image may survive behind the receiver's";
}

TEST_F(ReadUserDataTest, DamagedBlockBeforeAnyGoodOneCountsAgainstTheStartingTotal) {
  // 4080-byte blocks: a 4096-byte block's length field needs a thirteenth
  // bit, and the 12-bit length the checksum test reads says "no checksum".
  emulator::LinkOptions options;
  options.downloadBlockSize = 4080;
  options.faults.damageFrame = 1;
  Run(options);
  EXPECT_EQ(image, sample);
  ASSERT_GE(bench.host.statuses.size(), 4u);
  EXPECT_EQ(bench.host.statuses[2], "Downloading...   block 0/16   err.count 1");
  EXPECT_EQ(bench.host.statuses[3], "Downloading...   block 1/32   error 1");
}

TEST_F(ReadUserDataTest, CancelBetweenBlocksAbortsAndLeavesTheImageAsItWas) {
  bench.host.onPosition = [this](int position) {
    if (position == 2) bench.state.store(JOB_STOP_REQUESTED);
  };
  Run({});
  EXPECT_EQ(image, Bytes(kDatabaseImageSize, 0xEE)) << "a stopped download must not touch the image";
  EXPECT_TRUE(bench.host.results.empty());
  EXPECT_EQ(bench.host.closes, 1);
  EXPECT_EQ(bench.state.load(), JOB_ENDED);
  ASSERT_TRUE(bench.Receiver().WaitForCodes(CODE_ABORT, 1, 3000));
}

TEST_F(ReadUserDataTest, ReceiverVanishingMidwayShowsTheErrorAndLeavesTheImage) {
  emulator::LinkOptions options;
  options.faults.vanishAfterBlocks = 3;
  Run(options);
  EXPECT_EQ(image, Bytes(kDatabaseImageSize, 0xEE));
  EXPECT_EQ(bench.host.boxes, std::vector<std::string>{"\n Communication Eror !!!! \n Err.# = -4"});
  EXPECT_EQ(bench.host.results, std::vector<std::int32_t>{JOB_RESULT_FAILURE});
  EXPECT_EQ(bench.host.closes, 1);
}

TEST_F(ReadUserDataTest, UnexpectedCodeInTheDownloadIsShownWithItsNumber) {
  // Played by hand: after the switch the "receiver" sends READY, a code no
  // download expects.
  ASSERT_TRUE(bench.OpenPort());
  bench.job.databaseImage = image.data();
  std::thread worker(ReadUserDataThreadProc, std::ref(bench.job));
  ASSERT_TRUE(bench.AcceptReadRequest());
  bench.SendCode(CODE_READY);
  worker.join();
  EXPECT_EQ(bench.host.boxes, std::vector<std::string>{"\n Communication Eror !!!! \n Err.# = 4"});
  EXPECT_EQ(bench.host.results, std::vector<std::int32_t>{JOB_RESULT_FAILURE});
  EXPECT_EQ(image, Bytes(kDatabaseImageSize, 0xEE));
}

TEST_F(ReadUserDataTest, UnacknowledgedRequestClosesSilentlyAtTheOldRate) {
  emulator::LinkOptions options;
  options.faults.ignoreRequests = 1;
  Run(options);
  EXPECT_TRUE(bench.host.results.empty());
  EXPECT_TRUE(bench.host.boxes.empty());
  EXPECT_EQ(bench.host.closes, 1);
  EXPECT_EQ(bench.state.load(), JOB_ENDED);
  EXPECT_EQ(bench.Line().ToolBaud(), 115200u);
  bench.StopReceiver();
  EXPECT_EQ(bench.Receiver().CodesReceived(), std::vector<int>{CODE_READ_USER_DATA}) << "no abort";
}

// A receiver that starts with an empty block and sends more than the image
// holds: no division by zero (the total stays 16) and nothing past the image.
TEST(ReadUserDataByHand, EmptyFirstBlockAndSurplusData) {
  JobBench bench;
  ASSERT_TRUE(bench.OpenPort());
  auto image = std::make_unique<std::uint8_t[]>(kDatabaseImageSize);
  bench.job.databaseImage = image.get();
  std::thread worker(ReadUserDataThreadProc, std::ref(bench.job));
  ASSERT_TRUE(bench.AcceptReadRequest());
  auto& pty = bench.Pty();
  pty.Write(BuildDataFrame(nullptr, 0));
  ASSERT_EQ(pty.Read(12, 2000), kAckFrame);
  Bytes block(4096);
  for (int i = 0; i < 33; ++i) {  // 135168 bytes
    std::fill(block.begin(), block.end(), static_cast<std::uint8_t>(i));
    pty.Write(BuildDataFrame(block.data(), block.size()));
    ASSERT_EQ(pty.Read(12, 2000), kAckFrame);
  }
  bench.SendCode(CODE_USER_DATA_END);
  worker.join();
  EXPECT_EQ(bench.host.ranges, std::vector<std::uint16_t>{16});
  EXPECT_EQ(bench.host.statuses.back(), "Downloading...   block 34/16   error 0");
  EXPECT_EQ(bench.host.results, std::vector<std::int32_t>{JOB_RESULT_SUCCESS});
  EXPECT_EQ(image[0], 0);
  EXPECT_EQ(image[kDatabaseImageSize - 1], 31);
}

// ---- Uploads -------------------------------------------------------------

// A ROM image file in memory: `length` bytes with a recognisable pattern,
// the flag byte set where the file reaches it.
class MemoryImage : public ImageStream {
 public:
  static constexpr std::size_t kFileHeader = 42;       // what the upgrade entry has read before the job
  static constexpr std::size_t kFlagByte = 0x1F0066;  // file offset of the byte the mode marker replaces

  explicit MemoryImage(std::size_t length, std::uint8_t flag = 0x07) : bytes_(length) {
    for (std::size_t i = 0; i < length; ++i) bytes_[i] = static_cast<std::uint8_t>(i * 7 + (i >> 12));
    if (length > kFlagByte) bytes_[kFlagByte] = flag;
    position_ = kFileHeader;
  }
  std::uint64_t Length() const override { return bytes_.size(); }
  long Read(std::uint8_t* buffer, std::size_t n) override {
    if (failAtRead_ != 0 && ++reads_ == failAtRead_) return -1;
    const std::size_t take = std::min(n, bytes_.size() - position_);
    std::memcpy(buffer, bytes_.data() + position_, take);
    position_ += take;
    return static_cast<long>(take);
  }
  void FailAtRead(int n) { failAtRead_ = n; }
  // The stream the receiver should get: size prefix, the bytes after the header.
  Bytes Stream(std::uint8_t marker) const {
    const auto size = static_cast<std::uint32_t>(bytes_.size() - kFileHeader);
    Bytes s(4 + size);
    s[0] = static_cast<std::uint8_t>(size >> 24);
    s[1] = static_cast<std::uint8_t>(size >> 16);
    s[2] = static_cast<std::uint8_t>(size >> 8);
    s[3] = static_cast<std::uint8_t>(size);
    std::copy(bytes_.begin() + kFileHeader, bytes_.end(), s.begin() + 4);
    if (bytes_.size() > kFlagByte) s[0x1F0040] = marker;  // the flag byte's place in the stream
    return s;
  }
  const Bytes& Bytes_() const { return bytes_; }

 private:
  Bytes bytes_;
  std::size_t position_;
  int failAtRead_ = 0;
  int reads_ = 0;
};

class UploadTest : public ::testing::Test {
 protected:
  void Upgrade(MemoryImage& file, emulator::LinkOptions options = {}, int mode = 0) {
    bench.StartReceiver(std::move(options));
    ASSERT_TRUE(bench.OpenPort());
    bench.job.imageFile = &file;
    bench.job.upgradeMode = mode;
    bench.Run(UpgradeThreadProc);
  }
  void WriteFactory(emulator::LinkOptions options = {}) {
    bench.StartReceiver(std::move(options));
    ASSERT_TRUE(bench.OpenPort());
    bench.job.databaseImage = image.data();
    bench.Run(WriteFactoryDataThreadProc);
  }
  // Waits for the receiver to finish the exchange, then stops it.
  void Settle(int uploads) {
    common::testing::WaitUntil([&] { return bench.Receiver().CompletedUploads() >= uploads; }, std::chrono::seconds(5));
    bench.StopReceiver();
  }
  JobBench bench;
  Bytes image = emulator::SampleDatabaseImage();
};

TEST_F(UploadTest, ImageOf4132BytesGoesInTwoFrames) {
  MemoryImage file(4132);
  Upgrade(file);
  Settle(1);
  EXPECT_EQ(bench.Receiver().StoredSoftware(), file.Stream(0));
  EXPECT_EQ(bench.host.ranges, std::vector<std::uint16_t>{2});
  EXPECT_EQ(bench.host.statuses,
            (std::vector<std::string>{"Connecting...", "Connection complete...", "Uploading...",
                                      "Uploading...   block 1/2   error 0", "Uploading...   block 2/2   error 0",
                                      "Uploading complete...", "Transfer Complete..."}));
  EXPECT_EQ(bench.host.results, std::vector<std::int32_t>{JOB_RESULT_SUCCESS});
  EXPECT_EQ(bench.host.closes, 0) << "the host closes after its completion message";
  EXPECT_EQ(bench.state.load(), JOB_ENDED);
  const auto codes = bench.Receiver().CodesReceived();
  EXPECT_EQ(codes, (std::vector<int>{CODE_SOFTWARE, CODE_SOFTWARE, CODE_DATA, CODE_DATA, CODE_SOFTWARE_END}));
}

TEST_F(UploadTest, ImageOf8202BytesEndsAtBlockTwoOfThree) {
  MemoryImage file(8202);
  Upgrade(file);
  Settle(1);
  EXPECT_EQ(bench.Receiver().StoredSoftware(), file.Stream(0));
  EXPECT_EQ(bench.host.ranges, std::vector<std::uint16_t>{3});
  EXPECT_TRUE(Contains(bench.host.statuses, "Uploading...   block 2/3   error 0"));
  EXPECT_FALSE(Contains(bench.host.statuses, "Uploading...   block 3/3   error 0"));
  EXPECT_EQ(bench.host.results, std::vector<std::int32_t>{JOB_RESULT_SUCCESS});
}

TEST_F(UploadTest, ModeMarkerReplacesTheFlagByteOnTheWayOnly) {
  MemoryImage file(0x1F0067 + 1000, 0x07);
  const Bytes before = file.Bytes_();
  for (const auto& [mode, marker] : {std::pair{1, 0xFD}, std::pair{2, 0xFE}, std::pair{0, 0x00}}) {
    SCOPED_TRACE(mode);
    JobBench run;
    run.StartReceiver({});
    ASSERT_TRUE(run.OpenPort());
    MemoryImage fresh(0x1F0067 + 1000, 0x07);
    run.job.imageFile = &fresh;
    run.job.upgradeMode = mode;
    run.Run(UpgradeThreadProc);
    ASSERT_EQ(run.host.results, std::vector<std::int32_t>{JOB_RESULT_SUCCESS});
    common::testing::WaitUntil([&] { return run.Receiver().CompletedUploads() >= 1; }, std::chrono::seconds(5));
    const Bytes got = run.Receiver().StoredSoftware();
    ASSERT_EQ(got.size(), fresh.Length() - 42 + 4);
    EXPECT_EQ(got[0x1F0040], marker);
    EXPECT_EQ(got, fresh.Stream(static_cast<std::uint8_t>(marker)));
    EXPECT_EQ(fresh.Bytes_(), before) << "the file itself is not changed";
  }
}

TEST_F(UploadTest, BlockRefusedThreeTimesIsSentFourTimes) {
  MemoryImage file(4132);
  emulator::LinkOptions options;
  options.faults.nakBlock = 1;
  options.faults.nakTimes = 3;
  Upgrade(file, options);
  Settle(1);
  EXPECT_EQ(bench.Receiver().StoredSoftware(), file.Stream(0));
  const std::vector<std::string> expected = {"Uploading...",
                                             "Uploading...   block 0/2   err.count 1",
                                             "Uploading...   block 0/2   err.count 2",
                                             "Uploading...   block 0/2   err.count 3",
                                             "Uploading...   block 1/2   error 3",
                                             "Uploading...   block 2/2   error 3"};
  EXPECT_TRUE(std::search(bench.host.statuses.begin(), bench.host.statuses.end(), expected.begin(), expected.end()) !=
              bench.host.statuses.end());
  EXPECT_EQ(Count(bench.Receiver().CodesReceived(), CODE_DATA), 5);
}

TEST_F(UploadTest, RefusedEndCodeIsAFailure) {
  MemoryImage file(4132);
  emulator::LinkOptions options;
  options.faults.nakEnd = true;
  Upgrade(file, options);
  EXPECT_EQ(bench.host.results, std::vector<std::int32_t>{JOB_RESULT_FAILURE});
  EXPECT_EQ(bench.host.closes, 1);
  EXPECT_FALSE(Contains(bench.host.statuses, "Uploading complete..."));
  ASSERT_TRUE(bench.Receiver().WaitForCodes(CODE_ABORT, 1, 3000));
  EXPECT_EQ(bench.Receiver().CompletedUploads(), 0);
}

TEST_F(UploadTest, ReceiverVanishingMidUploadIsAFailure) {
  MemoryImage file(5 * 4080 + 42);
  emulator::LinkOptions options;
  options.faults.vanishAfterBlocks = 2;
  Upgrade(file, options);
  EXPECT_EQ(bench.host.results, std::vector<std::int32_t>{JOB_RESULT_FAILURE});
  EXPECT_EQ(bench.host.closes, 1);
  EXPECT_EQ(bench.state.load(), JOB_ENDED);
}

TEST_F(UploadTest, UnexpectedAnswerToTheAnnounceIsAFailure) {
  MemoryImage file(4132);
  emulator::LinkOptions options;
  options.faults.unexpectedCode = CODE_USER_DATA_END;
  Upgrade(file, options);
  EXPECT_EQ(bench.host.results, std::vector<std::int32_t>{JOB_RESULT_FAILURE});
  bench.StopReceiver();
  EXPECT_EQ(bench.Receiver().CodesReceived(), (std::vector<int>{CODE_SOFTWARE, CODE_ABORT}));
}

TEST_F(UploadTest, SilentReceiverIsAnnouncedToAgain) {
  MemoryImage file(4132);
  emulator::LinkOptions options;
  options.faults.ignoreRequests = 1;
  Upgrade(file, options);
  Settle(1);
  EXPECT_EQ(bench.host.results, std::vector<std::int32_t>{JOB_RESULT_SUCCESS});
  // Announce, announce again, start.
  EXPECT_EQ(Count(bench.Receiver().CodesReceived(), CODE_SOFTWARE), 3);
}

TEST_F(UploadTest, LateReadyAfterAnAcknowledgementNeedsNoSecondAnnounce) {
  MemoryImage file(4132);
  emulator::LinkOptions options;
  options.faults.readyDelayMs = 1000;  // several read time-outs of the tool
  const auto start = Clock::now();
  Upgrade(file, options);
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(1000));
  Settle(1);
  EXPECT_EQ(bench.host.results, std::vector<std::int32_t>{JOB_RESULT_SUCCESS});
  EXPECT_EQ(Count(bench.Receiver().CodesReceived(), CODE_SOFTWARE), 2) << "announce and start only";
}

TEST_F(UploadTest, CancelWhileTheReceiverStaysSilentAbortsWithoutOutcome) {
  MemoryImage file(4132);
  emulator::LinkOptions options;
  options.faults.ignoreRequests = 1000;
  bench.StartReceiver(options);
  ASSERT_TRUE(bench.OpenPort());
  bench.job.imageFile = &file;
  std::thread worker(UpgradeThreadProc, std::ref(bench.job));
  EXPECT_TRUE(bench.Receiver().WaitForCodes(CODE_SOFTWARE, 2, 5000)) << "announced again after a time-out";
  bench.state.store(JOB_STOP_REQUESTED);
  worker.join();
  EXPECT_TRUE(bench.host.results.empty());
  EXPECT_EQ(bench.host.closes, 1);
  EXPECT_EQ(bench.state.load(), JOB_ENDED);
  EXPECT_TRUE(bench.Receiver().WaitForCodes(CODE_ABORT, 1, 3000));
}

TEST_F(UploadTest, DeadLineIsAnnouncedToNoFasterThanASilentOne) {
  // The adapter is pulled while the job announces: every write and read fails
  // at once, and a failed read counts as a time-out.  Each repeat shows the
  // write's box, then the read's, and the read still lasts its full time.
  MemoryImage file(4132);
  ASSERT_TRUE(bench.OpenPort());
  bench.Line().Vanish();
  bench.job.imageFile = &file;
  bench.notifier.onBox = [this](int boxes) {
    if (boxes == 6) bench.state.store(JOB_STOP_REQUESTED);
  };
  const auto start = Clock::now();
  bench.Run(UpgradeThreadProc);
  const auto readTime = std::chrono::milliseconds(torvix::testing::kTestOperationTimeout / 100 *
                                                  (torvix::testing::kTestPerByte * kFrameHeaderSize +
                                                   torvix::testing::kTestConstant));
  EXPECT_GE(Clock::now() - start, 3 * readTime);
  EXPECT_EQ(bench.notifier.texts.size(), 7u) << "three announces, three reads, the abort";
  EXPECT_EQ(bench.notifier.texts.back(), std::strerror(EIO));
  EXPECT_TRUE(bench.host.results.empty());
  EXPECT_EQ(bench.state.load(), JOB_ENDED);
}

TEST_F(UploadTest, ImageFileFailingPartWaySendsNoHalfBlock) {
  MemoryImage file(5 * 4080 + 42);
  file.FailAtRead(3);  // the first two blocks read, the third fails
  Upgrade(file);
  EXPECT_EQ(bench.host.results, std::vector<std::int32_t>{JOB_RESULT_FAILURE});
  ASSERT_TRUE(bench.Receiver().WaitForCodes(CODE_ABORT, 1, 3000));
  bench.StopReceiver();
  EXPECT_EQ(Count(bench.Receiver().CodesReceived(), CODE_DATA), 2);
  EXPECT_FALSE(Contains(bench.host.statuses, "Uploading...   block 2/6   error 0"));
}

TEST_F(UploadTest, FactoryDataGoesInSixtyFourBlocksOf2048) {
  WriteFactory();
  Settle(1);
  EXPECT_EQ(bench.Receiver().StoredFactoryData(), image);
  EXPECT_EQ(bench.host.ranges, std::vector<std::uint16_t>{64});
  EXPECT_EQ(bench.host.positions.size(), 64u);
  EXPECT_TRUE(Contains(bench.host.statuses, "Uploading...   block 64/64   error 0"));
  EXPECT_EQ(bench.host.statuses.back(), "Transfer Complete...");
  EXPECT_EQ(bench.host.results, std::vector<std::int32_t>{JOB_RESULT_SUCCESS});
  EXPECT_EQ(bench.host.closes, 0);
  const auto codes = bench.Receiver().CodesReceived();
  EXPECT_EQ(Count(codes, CODE_DATA), 64);
  EXPECT_EQ(codes.back(), CODE_FACTORY_DATA_END);
}

TEST_F(UploadTest, FactoryDataIsAnnouncedAgainToASilentReceiver) {
  emulator::LinkOptions options;
  options.faults.ignoreRequests = 1;
  WriteFactory(options);
  Settle(1);
  EXPECT_EQ(bench.Receiver().StoredFactoryData(), image);
  EXPECT_EQ(Count(bench.Receiver().CodesReceived(), CODE_FACTORY_DATA), 3);
}

// ---- The real time limits, once each --------------------------------------

// The factory pauses as the receiver needs them: 100 ms after the announce,
// 2000 ms after the start, 1000 ms after each block.  Played by hand: READY
// at once, NAK for the first block, an unexpected code for its resend, so the
// job fails after 100 + 2000 + 1000 + 1000 ms.
TEST(RealLimits, FactoryPausesHundredTwoThousandAndThousand) {
  JobBench bench;
  ASSERT_TRUE(bench.OpenPort());
  bench.job.limits = JobLimits{};  // production pauses, short read limits
  Bytes image(kDatabaseImageSize, 0x11);
  bench.job.databaseImage = image.data();
  const auto start = Clock::now();
  std::thread worker(WriteFactoryDataThreadProc, std::ref(bench.job));
  auto& pty = bench.Pty();
  ASSERT_TRUE(bench.TakeCommand());  // announce
  bench.SendCode(CODE_READY);
  ASSERT_TRUE(bench.TakeCommand());  // start
  ASSERT_EQ(pty.Read(16 + kFactoryBlockSize, 4000).size(), 16 + kFactoryBlockSize);
  bench.SendCode(CODE_NAK);
  ASSERT_EQ(pty.Read(16 + kFactoryBlockSize, 4000).size(), 16 + kFactoryBlockSize);
  bench.SendCode(CODE_USER_DATA_END);
  worker.join();
  const auto elapsed = Clock::now() - start;
  EXPECT_GE(elapsed, std::chrono::milliseconds(100 + 2000 + 1000 + 1000));
  EXPECT_LT(elapsed, std::chrono::milliseconds(100 + 2000 + 1000 + 1000 + 1000));
  EXPECT_EQ(bench.host.results, std::vector<std::int32_t>{JOB_RESULT_FAILURE});
}

// After the switch to 19200 bit/s the job's own read limits apply: 20
// attempts of 20 ms per byte + 20 ms, about 5.2 s for a header that never comes.
TEST(RealLimits, DownloadPatienceAfterTheSwitchIsAboutFiveSeconds) {
  JobBench bench;
  ASSERT_TRUE(bench.OpenPort(true));
  Bytes image(kDatabaseImageSize, 0);
  bench.job.databaseImage = image.data();
  std::thread worker(ReadUserDataThreadProc, std::ref(bench.job));
  ASSERT_TRUE(bench.TakeCommand());
  bench.SendCode(CODE_ACK);
  const auto start = Clock::now();
  worker.join();
  const auto elapsed = Clock::now() - start;
  EXPECT_GE(elapsed, std::chrono::milliseconds(20 * 260));
  EXPECT_LT(elapsed, std::chrono::milliseconds(20 * 260 + 1500));
  EXPECT_EQ(bench.host.boxes, std::vector<std::string>{"\n Communication Eror !!!! \n Err.# = -4"});
}

}  // namespace
