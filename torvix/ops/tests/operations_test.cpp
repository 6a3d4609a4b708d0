// The progress session and the operations against the receiver emulator:
// Cancel and the upgrade's stop question, the result messages, the
// program-wide values, and the mended Read User Data.
#include "torvix/ops/operations.h"
#include "common/testing/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <mutex>
#include <sstream>
#include <thread>

#include <unistd.h>

#include "emulator/link/receiver.h"
#include "emulator/link/sample_database.h"
#include "torvix/link/link_frame.h"
#include "torvix/link/tests/job_harness.h"

namespace {

using namespace torvix;
using Bytes = std::vector<std::uint8_t>;

class RecordingUi : public OperationUi {
 public:
  void ShowStatus(const std::string& text) override { Add(statuses, text); }
  void ShowProgressRange(std::uint16_t) override {}
  void ShowProgressPosition(int) override {}
  void ShowMessage(const std::string& text, const std::string& caption) override { Add(messages, caption + "|" + text); }
  bool AskStopUpgrade(const std::string& question, const std::string&) override {
    Add(questions, question);
    return stopAnswer;
  }
  void ShowSerialError(const std::string& caption, const std::string& text) override { Add(messages, caption + "|" + text); }
  bool ConfirmReceiverOn(const std::string&, const std::string&) override { return true; }
  bool ConfirmWholeUpgrade(const std::string&, const std::string&) override {
    ++wholeUpgradeQuestions;
    return true;
  }
  std::optional<std::string> AskAccessCode() override {
    ++accessCodeQuestions;
    return std::string(kFactoryAccessCode);
  }
  void ShowReceiverInformation(const ConnectReport& report) override { reports.push_back(report); }

  bool Has(const std::vector<std::string>& list, const std::string& text) {
    std::lock_guard lock(mutex_);
    return std::find(list.begin(), list.end(), text) != list.end();
  }

  bool stopAnswer = true;
  int wholeUpgradeQuestions = 0, accessCodeQuestions = 0;  // the operation's thread only
  std::vector<std::string> statuses, messages, questions;
  std::vector<ConnectReport> reports;  // from the session's thread only

 private:
  void Add(std::vector<std::string>& list, const std::string& text) {
    std::lock_guard lock(mutex_);
    list.push_back(text);
  }
  std::mutex mutex_;
};

// Hands the test's image to the operations; prints and compiles nothing real.
class PlainText : public FactoryText {
 public:
  std::uint8_t* Image() override { return image.data(); }
  int Print(std::ostream& out) override {
    out << "image of " << static_cast<int>(image[0]) << "\r\n";
    return image[0] == 0 ? 1 : 0;
  }
  int Compile(std::istream&, std::string&) override { return 0; }
  Bytes image = Bytes(kDatabaseImageSize, 0);
};

class OperationsTest : public ::testing::Test {
 protected:
  void Start(emulator::LinkOptions options = {}, bool paced = false) {
    line = std::make_unique<emulator::Line>(emulator::Line::Options{"", paced});
    if (options.databaseImage.empty()) options.databaseImage = emulator::SampleDatabaseImage();
    options.replyTimeoutMs = 5000;
    receiver = std::make_unique<emulator::LinkReceiver>(*line, std::move(options));
    thread = std::thread([this] { receiver->Serve(stop); });
    timings.limits = torvix::testing::ShortLimits();
    timings.connectSuccessPause = std::chrono::milliseconds(0);
  }
  void TearDown() override {
    stop.store(true);
    if (thread.joinable()) thread.join();
  }
  BlockingProgress Progress() { return BlockingProgress(ui, "TORVIX", {1, line->DevicePath()}, timings, &cancel); }
  // A ROM image in the test's folder; see below.
  std::string WriteRom(std::uint8_t flag, bool forHardwareZero = false) const;

  RecordingUi ui;
  LinkTimings timings;
  std::atomic<bool> cancel{false};
  ProgramValues values;
  std::unique_ptr<emulator::Line> line;
  std::unique_ptr<emulator::LinkReceiver> receiver;
  std::atomic<bool> stop{false};
  std::thread thread;
  common::testing::TempFolder folder{"ops-test"};
};

// A ROM image for hardware 503 (variant T, code 0), or for hardware 0
// (variant A, code 254 with the number 0), the number a program that never
// identified a receiver has.
std::string OperationsTest::WriteRom(std::uint8_t flag, bool forHardwareZero) const {
  Bytes rom(kUpgradeFlagOffset + 100, 0x33);
  const std::string_view magic = forHardwareZero ? kRomMagicA : kRomMagicT;
  std::copy(magic.begin(), magic.end(), rom.begin());
  rom[kHardwareCodeOffset] = forHardwareZero ? 254 : 0;
  if (forHardwareZero) rom[kHardwareNumberOffset] = rom[kHardwareNumberOffset + 1] = 0;
  rom[kUpgradeFlagOffset] = flag;
  const std::string path = folder / "rom";
  EXPECT_TRUE(common::testing::WriteFile(path, std::string(rom.begin(), rom.end())));
  return path;
}

TEST_F(OperationsTest, CancelDuringAnUpgradeAnsweredNoLetsItGoOn) {
  emulator::LinkOptions options;
  options.faults.readyDelayMs = 400;  // Cancel lands while the job waits for ready
  Start(options);
  ui.stopAnswer = false;
  cancel.store(true);
  const std::string rom = WriteRom(0x07);
  auto progress = Progress();
  OperationContext context{values, ui, progress, "TORVIX"};
  std::string error;
  EXPECT_EQ(Upgrade(context, 4, rom, error), OperationResult::kDone);
  EXPECT_EQ(ui.questions, std::vector<std::string>{kStopUpgradeQuestion});
  EXPECT_FALSE(ui.Has(ui.statuses, kClosingConnection));
  EXPECT_TRUE(ui.Has(ui.messages, std::string("Upgrade|") + ResultMessageFor(OperationCode::Upgrade, true)->text));
}

TEST_F(OperationsTest, CancelDuringAnUpgradeAnsweredYesStopsIt) {
  emulator::LinkOptions options;
  options.faults.readyDelayMs = 400;
  Start(options);
  cancel.store(true);
  const std::string rom = WriteRom(0x07);
  auto progress = Progress();
  OperationContext context{values, ui, progress, "TORVIX"};
  std::string error;
  EXPECT_EQ(Upgrade(context, 4, rom, error), OperationResult::kStopped);
  EXPECT_TRUE(ui.Has(ui.statuses, kClosingConnection));
  EXPECT_FALSE(ui.Has(ui.messages, "Upgrade|Software upgrade error!")) << "a stop shows no result";
  EXPECT_TRUE(receiver->WaitForCodes(CODE_ABORT, 1, 3000));
}

TEST_F(OperationsTest, FailedConnectKeepsTheHardwareNumberAndIsNotRepeated) {
  emulator::LinkOptions options;
  options.faults.ignoreRequests = 1;
  Start(options);
  values.hardwareNumber = 503;  // from an earlier connect of this run
  auto progress = Progress();
  OperationContext context{values, ui, progress, "TORVIX"};
  const ConnectReport report = Connect(context);
  EXPECT_FALSE(report.identified);
  EXPECT_EQ(report.result, OperationResult::kFailed);
  EXPECT_TRUE(ui.Has(ui.messages, "Connect|Connection error."));
  EXPECT_TRUE(values.connectAttempted);
  EXPECT_EQ(values.hardwareNumber, 503);
  ASSERT_EQ(ui.reports.size(), 1u);
  EXPECT_FALSE(ui.reports[0].identified);
  // Upgrade 1 does not connect again and checks against what it has.
  const std::string rom = WriteRom(0x07);
  std::string error;
  EXPECT_EQ(Upgrade(context, 1, rom, error), OperationResult::kDone);
  EXPECT_EQ(values.upgradeMode, 1);
  stop.store(true);
  thread.join();
  const auto codes = receiver->CodesReceived();
  EXPECT_EQ(std::count(codes.begin(), codes.end(), CODE_IDENTIFY), 1);
}

TEST_F(OperationsTest, HowTheFirstConnectOfAnUpgradeEndedDecidesWhetherItGoesOn) {
  emulator::LinkOptions options;
  options.faults.ignoreRequests = 1;  // the stop lands while the connect waits
  Start(options);
  struct Case {
    const char* name;
    bool stop;
    const char* device;  // null: the emulator's
    bool portFailureEndsUpgrade;
    OperationResult expected;
    bool hardwareError;
  };
  const Case cases[] = {
      // Stopped: the entry ends, even for an image the hardware number 0 would pass.
      {"stopped", true, nullptr, false, OperationResult::kStopped, false},
      {"no port, command line", false, "/nonexistent/tty", true, OperationResult::kPortNotOpened, false},
      {"no port, window", false, "/nonexistent/tty", false, OperationResult::kRefused, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingUi caseUi;
    ProgramValues fresh;
    cancel.store(c.stop);
    BlockingProgress progress(caseUi, "TORVIX", {1, c.device ? c.device : line->DevicePath()}, timings, &cancel);
    OperationContext context{fresh, caseUi, progress, "TORVIX", c.portFailureEndsUpgrade};
    const std::string rom = WriteRom(0x07, c.stop);
    std::string error;
    EXPECT_EQ(Upgrade(context, 1, rom, error), c.expected);
    EXPECT_TRUE(fresh.connectAttempted);
    EXPECT_EQ(caseUi.Has(caseUi.messages, std::string("TORVIX|") + kHardwareVersionError), c.hardwareError);
  }
  stop.store(true);
  thread.join();
  const auto codes = receiver->CodesReceived();
  EXPECT_EQ(std::count(codes.begin(), codes.end(), CODE_SOFTWARE), 0) << "nothing was uploaded";
}

TEST_F(OperationsTest, FirstUpgradeConnectsAndLearnsTheHardwareNumber) {
  Start();
  auto progress = Progress();
  OperationContext context{values, ui, progress, "TORVIX"};
  const std::string rom = WriteRom(0x00);  // whole upgrade only: accepted, mode 0
  std::string error;
  EXPECT_EQ(Upgrade(context, 2, rom, error), OperationResult::kDone);
  EXPECT_TRUE(values.connectAttempted);
  EXPECT_EQ(values.hardwareNumber, 503);
  EXPECT_EQ(values.upgradeMode, 0);
  // The main window learns the versions from the connect the upgrade made.
  ASSERT_EQ(ui.reports.size(), 1u);
  EXPECT_TRUE(ui.reports[0].identified);
  EXPECT_EQ(ui.reports[0].hardwareText, emulator::LinkOptions{}.hardwareText);
  EXPECT_EQ(ui.reports[0].softwareText, emulator::LinkOptions{}.softwareText);
}

// Each entry as the operator meets it, on a fresh run: what it asks, whether
// it connects, whether it checks the hardware, and the marker the receiver
// gets, for an image that allows partial upgrades, one for whole upgrades
// only, and one for other hardware (0; the receiver reports 503).
TEST_F(OperationsTest, EachUpgradeEntryAsksConnectsChecksAndMarksAsItsRowSays) {
  Start();
  struct Row {
    int entry;
    bool asksAccessCode;
    bool asksWholeUpgrade;  // of the image for whole upgrades only
    bool connects;
    bool checksHardware;
    std::uint8_t marker;  // of the image that allows partial upgrades
  };
  const Row rows[] = {
      {1, false, true, true, true, kMarkerKeepChannels},
      {2, false, true, true, true, kMarkerSatelliteInfo},
      {3, true, false, true, true, kMarkerWhole},
      {4, true, false, false, false, kMarkerWhole},
  };
  struct Image {
    const char* name;
    std::uint8_t flag;
    bool otherHardware;
  };
  const Image images[] = {{"partial", 0x07, false}, {"whole only", 0x00, false}, {"other hardware", 0x07, true}};
  constexpr std::size_t kMarkerInStream = kSoftwareSizePrefix + kUpgradeFlagOffset - kRomImageHeaderSize;
  int uploads = 0;
  for (const Row& row : rows) {
    for (const Image& image : images) {
      SCOPED_TRACE(std::to_string(row.entry) + ", " + image.name);
      RecordingUi rowUi;
      ProgramValues fresh;
      BlockingProgress progress(rowUi, "TORVIX", {1, line->DevicePath()}, timings, &cancel);
      OperationContext context{fresh, rowUi, progress, "TORVIX"};
      const std::string rom = WriteRom(image.flag, image.otherHardware);
      const auto before = receiver->CodesReceived();
      const auto identifiesBefore = std::count(before.begin(), before.end(), CODE_IDENTIFY);
      std::string error;
      const bool refused = image.otherHardware && row.checksHardware;
      EXPECT_EQ(Upgrade(context, row.entry, rom, error), refused ? OperationResult::kRefused : OperationResult::kDone);
      EXPECT_EQ(rowUi.accessCodeQuestions, row.asksAccessCode ? 1 : 0);
      EXPECT_EQ(rowUi.wholeUpgradeQuestions, row.asksWholeUpgrade && image.flag == 0 ? 1 : 0);
      const auto codes = receiver->CodesReceived();
      EXPECT_EQ(std::count(codes.begin(), codes.end(), CODE_IDENTIFY) - identifiesBefore, row.connects ? 1 : 0);
      EXPECT_EQ(rowUi.Has(rowUi.messages, std::string("TORVIX|") + kHardwareVersionError), refused);
      if (!refused) {
        ++uploads;
        common::testing::WaitUntil([&] { return receiver->CompletedUploads() >= uploads; }, std::chrono::seconds(5));
        ASSERT_EQ(receiver->CompletedUploads(), uploads);
        const bool whole = row.asksWholeUpgrade && image.flag == 0;
        EXPECT_EQ(receiver->StoredSoftware().at(kMarkerInStream), whole ? kMarkerWhole : row.marker);
      }
    }
  }
}

TEST_F(OperationsTest, StoppedReadShowsNothingAndWritesNothing) {
  emulator::LinkOptions options;
  options.downloadBlockSize = 64;  // paced at 19200 bit/s: about 40 ms a block
  Start(options, true);
  const std::string path = folder / "text";
  ASSERT_TRUE(common::testing::WriteFile(path, "kept\n"));
  PlainText text;
  auto progress = Progress();
  OperationContext context{values, ui, progress, "TORVIX"};
  cancel.store(true);
  std::string error;
  EXPECT_EQ(ReadUserData(context, text, path, error), OperationResult::kStopped);
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_EQ(text.image, Bytes(kDatabaseImageSize, 0));
  EXPECT_EQ(common::testing::ReadFile(path), "kept\n");
}

TEST_F(OperationsTest, PortThatDoesNotOpen) {
  Start();
  BlockingProgress progress(ui, "TORVIX", {1, "/nonexistent/tty"}, timings, &cancel);
  OperationContext context{values, ui, progress, "TORVIX"};
  PlainText text;
  std::string error;
  const std::string path = folder / "none";
  EXPECT_EQ(ReadUserData(context, text, path, error), OperationResult::kPortNotOpened);
  EXPECT_TRUE(ui.Has(ui.messages, "ERROR|Open error"));
  EXPECT_TRUE(ui.Has(ui.messages, std::string("TORVIX|") + kFactoryDataNotValid));
  EXPECT_FALSE(std::filesystem::exists(path));
}

}  // namespace
