// torvix-cli's receiver commands, run in-process with short time limits
// against the receiver emulator on a pseudo-terminal reached through a
// symbolic link, as --device and --port give it.
#include "torvix/cli/receiver_commands.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "common/exit_codes.h"
#include "common/history/history.h"
#include "torvix/cli/console_ui.h"
#include "torvix/cli/offline_commands.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <map>
#include <thread>

#include <unistd.h>

#include "common/pty.h"
#include "common/testing/test_support.h"
#include "emulator/link/receiver.h"
#include "emulator/link/sample_database.h"
#include "emulator/link/tests/sample_database_text.h"
#include "emulator/link/served_receiver.h"
#include "torvix/database/database_image.h"
#include "torvix/database/factory_text_reader.h"
#include "torvix/database/factory_text_writer.h"
#include "torvix/link/link_frame.h"
#include "torvix/link/rom_image.h"
#include "torvix/link/tests/job_harness.h"
#include "torvix/ops/database_factory_text.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using namespace torvix;
using namespace torvix::cli;
using namespace common;  // the exit codes
using Clock = std::chrono::steady_clock;

std::string Contents(std::FILE* file) {
  std::string text;
  std::rewind(file);
  for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) text += static_cast<char>(c);
  std::fclose(file);
  return text;
}

using common::testing::ReadFile;

void WriteBytes(const fs::path& path, const void* data, std::size_t n) {
  std::ofstream(path, std::ios::binary | std::ios::trunc).write(static_cast<const char*>(data),
                                                                static_cast<std::streamsize>(n));
}

// A ROM image of about 2 MiB that reaches the flag byte.
Bytes RomImage(std::string_view magic, std::uint8_t hardwareCode, std::uint8_t flag) {
  Bytes rom(2 * 1024 * 1024, 0);
  for (std::size_t i = 0; i < rom.size(); ++i) rom[i] = static_cast<std::uint8_t>(i * 13);
  std::copy(magic.begin(), magic.end(), rom.begin());
  rom[kHardwareCodeOffset] = hardwareCode;
  rom[kUpgradeFlagOffset] = flag;
  return rom;
}

std::vector<nlohmann::json> JsonLines(const std::string& text) {
  std::vector<nlohmann::json> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(nlohmann::json::parse(line));
  return lines;
}

// What a complete download of the emulator's database prints.
const std::string& PrintedSample() { return emulator::testing::kSampleDatabaseText; }

class ReceiverCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.Ok());
    dir_ = folder_.Path();
    link_ = (dir_ / "receiver").string();
  }
  void TearDown() override {
    StopReceiver();
    line_.reset();
  }

  void StartReceiver(emulator::LinkOptions options = {}) {
    line_ = std::make_unique<emulator::Line>(emulator::Line::Options{link_, false});
    ASSERT_TRUE(line_->Ok()) << line_->Error();
    if (options.databaseImage.empty()) options.databaseImage = emulator::SampleDatabaseImage();
    options.replyTimeoutMs = 5000;
    receiver_ = std::make_unique<emulator::LinkReceiver>(*line_, std::move(options));
    thread_ = std::thread([this] { receiver_->Serve(stop_); });
  }
  void StopReceiver() {
    stop_.store(true);
    if (thread_.joinable()) thread_.join();
  }
  // Waits until the receiver has stored `uploads` uploads.
  bool Uploaded(int uploads) {
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (receiver_->CompletedUploads() < uploads && Clock::now() < deadline) std::this_thread::yield();
    return receiver_->CompletedUploads() >= uploads;
  }

  // Temporary files of the read operation left in the folder.
  int TemporaryFiles() const {
    int count = 0;
    for (const auto& entry : fs::directory_iterator(dir_)) count += entry.path().filename().string().rfind(".torvix-", 0) == 0;
    return count;
  }

  // Runs torvix-cli with `args` (without the program name); the console's
  // output goes to output_, its errors to errors_.  `out` replaces the
  // standard output (it is closed afterwards).
  int Run(std::vector<std::string> args, std::FILE* out = nullptr) {
    CLI::App app;
    app.require_subcommand(1);
    int exitCode = -1;
    ReceiverCommandSettings settings;
    settings.timings.limits = torvix::testing::ShortLimits();
    settings.timings.connectSuccessPause = std::chrono::milliseconds(0);
    settings.factoryText = &factoryText_;
    const bool capture = out == nullptr;
    settings.out = capture ? std::tmpfile() : out;
    settings.err = std::tmpfile();
    settings.in = input_;
    AddReceiverCommands(app, exitCode, settings);
    std::reverse(args.begin(), args.end());
    try {
      app.parse(args);
    } catch (const CLI::ParseError& error) {
      exitCode = kExitUsage;
    }
    output_.clear();
    if (capture) {
      output_ = Contents(settings.out);
    } else {
      std::fclose(settings.out);
    }
    errors_ = Contents(settings.err);
    return exitCode;
  }

  common::testing::TempFolder folder_{"torvix-rx-test"};
  fs::path dir_;
  std::string link_;
  std::FILE* input_ = nullptr;  // standard input of the runs; null: none
  std::string output_;
  std::string errors_;
  DatabaseFactoryText factoryText_;
  std::unique_ptr<emulator::Line> line_;
  std::unique_ptr<emulator::LinkReceiver> receiver_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

TEST_F(ReceiverCommandsTest, ConnectShowsTheVersions) {
  StartReceiver();
  EXPECT_EQ(Run({"connect", "--device", link_}), kExitOk) << output_;
  EXPECT_NE(output_.find("Hardware version: 0503 TWIN-S"), std::string::npos) << output_;
  EXPECT_NE(output_.find("Connection established."), std::string::npos);
}

TEST_F(ReceiverCommandsTest, PortNumberGoesThroughTheComVariable) {
  StartReceiver();
  ::setenv("COM7", link_.c_str(), 1);
  EXPECT_EQ(Run({"connect", "--port", "7"}), kExitOk) << output_;
  EXPECT_EQ(Run({"connect", "--port", "com7"}), kExitOk) << "as updater-cli takes it: " << errors_;
  ::unsetenv("COM7");
  EXPECT_EQ(Run({"connect", "--port", "7", "--device", link_}), kExitUsage) << "one or the other";
}

TEST_F(ReceiverCommandsTest, PortThatDoesNotOpenIsNamedOnStandardErrorAndExitsWithFour) {
  const fs::path rom = dir_ / "rom.bin";
  const Bytes image = RomImage(kRomMagicT, 0, 0x07);
  WriteBytes(rom, image.data(), image.size());
  const std::string missing = (dir_ / "nothing").string();
  // Upgrade 1 connects first: a port that did not open there ends it.
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"connect", "--device", missing},
        std::vector<std::string>{"upgrade", "--mode", "1", rom.string(), "--device", missing}}) {
    SCOPED_TRACE(args[0]);
    EXPECT_EQ(Run(args), kExitPortNotOpened);
    EXPECT_NE(errors_.find("[Serial Communication Device Error] " + missing + ": No such file or directory\n"),
              std::string::npos)
        << errors_;
    EXPECT_NE(errors_.find("[ERROR] Open error\n"), std::string::npos);
    EXPECT_EQ(output_.find("Open error"), std::string::npos) << "errors are not on standard output";
    EXPECT_EQ(errors_.find(kHardwareVersionError), std::string::npos);
    if (args[0] == "connect") {
      EXPECT_NE(errors_.find("Connection failed."), std::string::npos) << "its own report, a failure's";
      EXPECT_TRUE(output_.empty()) << output_;
    }
  }
}

TEST_F(ReceiverCommandsTest, SilentReceiverIsAFailedConnect) {
  emulator::LinkOptions options;
  options.faults.ignoreRequests = 1;
  StartReceiver(options);
  EXPECT_EQ(Run({"connect", "--device", link_}), kExitFailed);
  EXPECT_NE(errors_.find("[Connect] Connection error."), std::string::npos) << errors_;
}

TEST_F(ReceiverCommandsTest, ReadUserDataPrintsTheReceiversDatabase) {
  StartReceiver();
  const fs::path text = dir_ / "factory_data.txt";
  EXPECT_EQ(Run({"read-user-data", text.string(), "--device", link_}), kExitOk) << output_;
  EXPECT_EQ(ReadFile(text), PrintedSample());
  EXPECT_NE(output_.find("Downloading...   block 32/32   error 0"), std::string::npos) << output_;
  EXPECT_EQ(TemporaryFiles(), 0);
}

TEST_F(ReceiverCommandsTest, FailedReadLeavesTheTextFileAsItWas) {
  emulator::LinkOptions options;
  options.faults.vanishAfterBlocks = 5;
  StartReceiver(options);
  const fs::path text = dir_ / "factory_data.txt";
  std::ofstream(text) << "earlier contents\n";
  EXPECT_EQ(Run({"read-user-data", text.string(), "--device", link_}), kExitFailed);
  EXPECT_EQ(ReadFile(text), "earlier contents\n");
  EXPECT_NE(errors_.find("Communication Eror !!!!"), std::string::npos) << errors_;
  EXPECT_NE(errors_.find("Factory data of the receiver is not valid."), std::string::npos);
  EXPECT_EQ(TemporaryFiles(), 0);
}

TEST_F(ReceiverCommandsTest, ReadIntoAFolderThatCannotBeWrittenTouchesNoReceiver) {
  StartReceiver();
  EXPECT_EQ(Run({"read-user-data", (dir_ / "missing" / "x.txt").string(), "--device", link_}), kExitFile);
  EXPECT_EQ(errors_.rfind("torvix-cli: " + (dir_ / "missing").string() + ": ", 0), 0u)
      << "the folder is named, after the program: " << errors_;
  StopReceiver();
  EXPECT_TRUE(receiver_->CodesReceived().empty());
}

TEST_F(ReceiverCommandsTest, WriteFactoryDataSendsWhatCompileMakes) {
  StartReceiver();
  const fs::path text = dir_ / "factory_data.txt";
  std::ofstream(text, std::ios::binary) << PrintedSample();
  GetDatabaseImage() = DatabaseImage();  // as at program start
  EXPECT_EQ(Run({"write-factory-data", text.string(), "--device", link_}), kExitOk) << output_;
  ASSERT_TRUE(Uploaded(1));
  DatabaseImage compiled;
  std::istringstream in(PrintedSample());
  StreamByteSource raw(in);
  DosTextSource source(raw);
  FactoryTextReader reader;
  ASSERT_EQ(reader.Read(source, compiled), FT_OK);
  EXPECT_EQ(receiver_->StoredFactoryData(), Bytes(compiled.Data(), compiled.Data() + DatabaseImage::kSize));
  EXPECT_NE(output_.find("The factory data transfered to receiver OK."), std::string::npos);
  EXPECT_NE(output_.find("[Write Factory Data] 1 satellite, 2 transponders, 2 services, 0 antennas\n"),
            std::string::npos)
      << output_;
}

// A list without services is sent only when --yes accepts the question.
TEST_F(ReceiverCommandsTest, AListWithoutServicesNeedsYes) {
  StartReceiver();
  const fs::path text = dir_ / "no-services.txt";
  std::ofstream(text, std::ios::binary) << "# satellites only\r\ns \"A\" 1 1 u 1 e n n n n\r\n";
  struct Case {
    std::vector<std::string> options;
    int code;
    int uploads;
  };
  for (const Case& c : {Case{{}, kExitDeclined, 0}, Case{{"--yes"}, kExitOk, 1}}) {
    SCOPED_TRACE(c.options.empty() ? "asked" : "--yes");
    std::vector<std::string> args = {"write-factory-data", text.string(), "--device", link_};
    args.insert(args.end(), c.options.begin(), c.options.end());
    EXPECT_EQ(Run(args), c.code) << output_ << errors_;
    EXPECT_NE(output_.find("[Write Factory Data] 1 satellite, 0 transponders, 0 services, 0 antennas\n"),
              std::string::npos)
        << output_;
    EXPECT_NE(output_.find(kNoServicesQuestion), std::string::npos) << output_;
    if (c.uploads > 0) {
      ASSERT_TRUE(Uploaded(c.uploads));
    }
    EXPECT_EQ(receiver_->CompletedUploads(), c.uploads);
  }
  StopReceiver();
  const auto codes = receiver_->CodesReceived();
  EXPECT_EQ(std::count(codes.begin(), codes.end(), CODE_FACTORY_DATA), 2) << "announce and start, once";
}

TEST_F(ReceiverCommandsTest, RefusedTextSendsNothing) {
  StartReceiver();
  const fs::path text = dir_ / "bad.txt";
  std::ofstream(text) << "Q nonsense\n";
  EXPECT_EQ(Run({"write-factory-data", text.string(), "--device", link_}), kExitRefused);
  // The reader's box, then where it stopped, in GNU form.
  EXPECT_EQ(errors_, "[TORVIX]  * Error : line 1. Invalid tag 'Q'.\n\ntorvix-cli: " + text.string() +
                         ":1: * Error : line 1. Invalid tag 'Q'.\n");
  StopReceiver();
  EXPECT_TRUE(receiver_->CodesReceived().empty());
}

TEST_F(ReceiverCommandsTest, UpgradeInEachModeSendsItsMarker) {
  StartReceiver();
  const fs::path rom = dir_ / "rom.bin";
  const Bytes image = RomImage(kRomMagicT, 0, 0x07);  // hardware 503
  WriteBytes(rom, image.data(), image.size());
  struct Case {
    const char* mode;
    std::uint8_t marker;
  };
  int uploads = 0;
  for (const Case c : {Case{"1", 0xFD}, Case{"2", 0xFE}, Case{"3", 0x00}, Case{"4", 0x00}}) {
    SCOPED_TRACE(c.mode);
    EXPECT_EQ(Run({"upgrade", "--mode", c.mode, rom.string(), "--access-code", "5082613", "--device", link_}),
              kExitOk)
        << output_;
    ASSERT_TRUE(Uploaded(++uploads));
    const Bytes got = receiver_->StoredSoftware();
    ASSERT_EQ(got.size(), image.size() - 42 + 4);
    EXPECT_EQ(got[0x1F0040], c.marker);
    EXPECT_TRUE(std::equal(got.begin() + 4, got.begin() + 0x1F0040, image.begin() + 42));
  }
  EXPECT_NE(output_.find("The software transfered to receiver OK."), std::string::npos);
  StopReceiver();
  // Modes 1 to 3 connect first (each run is a new program), mode 4 does not.
  const auto codes = receiver_->CodesReceived();
  EXPECT_EQ(std::count(codes.begin(), codes.end(), CODE_IDENTIFY), 3);
  EXPECT_EQ(ReadFile(rom).size(), image.size());
}

TEST_F(ReceiverCommandsTest, WholeUpgradeQuestionNeedsYes) {
  StartReceiver();
  const fs::path rom = dir_ / "rom.bin";
  const Bytes image = RomImage(kRomMagicT, 0, 0x00);  // whole upgrade only
  WriteBytes(rom, image.data(), image.size());
  EXPECT_EQ(Run({"upgrade", "--mode", "1", rom.string(), "--device", link_}), kExitDeclined);
  EXPECT_NE(output_.find("Sorry, the software is only provided for whole upgrade!"), std::string::npos);
  EXPECT_EQ(Run({"upgrade", "--mode", "1", rom.string(), "--yes", "--device", link_}), kExitOk) << output_;
  ASSERT_TRUE(Uploaded(1));
  EXPECT_EQ(receiver_->StoredSoftware()[0x1F0040], 0x00);
}

TEST_F(ReceiverCommandsTest, ChecksBeforeSending) {
  StartReceiver();
  const fs::path rom = dir_ / "rom.bin";
  Bytes image = RomImage(kRomMagicT, 1, 0x07);  // built for hardware 505, receiver is 503
  WriteBytes(rom, image.data(), image.size());
  EXPECT_EQ(Run({"upgrade", "--mode", "2", rom.string(), "--device", link_}), kExitRefused);
  EXPECT_NE(errors_.find("[TORVIX] hardware version error!\ntorvix-cli: " + rom.string() +
                         ": the image is for hardware 505, the receiver's hardware number is 503\n"),
            std::string::npos)
      << errors_;
  EXPECT_EQ(Run({"upgrade", "--mode", "3", rom.string(), "--access-code", "5082613 ", "--device", link_}),
            kExitRefused);
  EXPECT_NE(errors_.find("password error!"), std::string::npos);
  EXPECT_EQ(Run({"upgrade", "--mode", "4", rom.string(), "--device", link_}), kExitDeclined) << "no access code";
  image[0] = 'k';
  WriteBytes(rom, image.data(), image.size());
  EXPECT_EQ(Run({"upgrade", "--mode", "4", rom.string(), "--access-code", "5082613", "--device", link_}),
            kExitRefused);
  EXPECT_NE(errors_.find("Wrong ROM image."), std::string::npos);
  EXPECT_NE(errors_.find(rom.string() + ": the file does not begin with the text of a ROM image"), std::string::npos)
      << errors_;
  EXPECT_EQ(Run({"upgrade", "--mode", "4", (dir_ / "none.bin").string(), "--access-code", "5082613", "--device",
                 link_}),
            kExitFile);
  StopReceiver();
  EXPECT_EQ(receiver_->CompletedUploads(), 0);
}

// An image cut short, however valid its start, is refused by every entry
// before anything is sent or a receiver is asked; one that just reaches the
// flag byte is sent.
TEST_F(ReceiverCommandsTest, EveryEntryRefusesAnImageCutShort) {
  StartReceiver();
  const fs::path rom = dir_ / "rom.bin";
  const Bytes image = RomImage(kRomMagicT, 0, 0x07);
  struct Case {
    std::size_t length;
    int code;
  };
  int uploads = 0;
  for (const Case c : {Case{1000, kExitRefused}, Case{kUpgradeFlagOffset, kExitRefused},
                       Case{kMinRomImageSize, kExitOk}}) {
    WriteBytes(rom, image.data(), c.length);
    for (const char* mode : {"1", "2", "3", "4"}) {
      SCOPED_TRACE(std::to_string(c.length) + " bytes, mode " + mode);
      EXPECT_EQ(Run({"upgrade", "--mode", mode, rom.string(), "--access-code", "5082613", "--device", link_}), c.code)
          << errors_;
      if (c.code == kExitOk) {
        ASSERT_TRUE(Uploaded(++uploads));
        EXPECT_EQ(receiver_->StoredSoftware().size(), c.length - kRomImageHeaderSize + kSoftwareSizePrefix);
        continue;
      }
      EXPECT_EQ(errors_, "[TORVIX] \n  Wrong ROM image.     \n\n  Retry.\ntorvix-cli: " + rom.string() + ": the file has " +
                             std::to_string(c.length) + " bytes, too few for an image: it ends before the flag byte "
                             "at 0x1F0066, and an image has at least 2031719 bytes\n");
      const auto codes = receiver_->CodesReceived();
      EXPECT_TRUE(codes.empty()) << "no connect, no upload";
    }
  }
}

// What check-rom says of the blocks is what the upload does: its data frames
// (the first with the size in front of 4080 image bytes) and the total the
// progress counts them against.  An image of exactly 498 frames of data
// shows the total one above them.
TEST_F(ReceiverCommandsTest, CheckRomCountsTheBlocksAsTheUploadSendsAndShowsThem) {
  StartReceiver();
  struct Case {
    std::size_t length;
    int frames;
    int total;
  };
  int uploads = 0;
  for (const Case c : {Case{2 * 1024 * 1024, 514, 515}, Case{kRomImageHeaderSize + 498 * 4080, 498, 499}}) {
    SCOPED_TRACE(c.length);
    const fs::path rom = dir_ / "rom.bin";
    const Bytes image = RomImage(kRomMagicT, 0, 0x07);
    Bytes cut(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(std::min(c.length, image.size())));
    cut.resize(c.length);
    WriteBytes(rom, cut.data(), cut.size());

    CLI::App app;
    int exitCode = -1;
    OfflineCommandSettings offline;
    offline.out = std::tmpfile();
    offline.err = std::tmpfile();
    AddOfflineCommands(app, exitCode, offline);
    app.parse(std::vector<std::string>{rom.string(), "check-rom"});
    const std::string said = Contents(offline.out);
    Contents(offline.err);
    ASSERT_EQ(exitCode, kExitOk) << said;
    EXPECT_NE(said.find("blocks:           " + std::to_string(c.total) + ", as the upgrade's progress counts them"),
              std::string::npos)
        << said;
    EXPECT_NE(said.find("data frames:      " + std::to_string(c.frames) + " of 4080 bytes"), std::string::npos) << said;

    const fs::path trace = dir_ / "trace.log";
    ASSERT_EQ(Run({"upgrade", "--mode", "4", rom.string(), "--access-code", "5082613", "--device", link_, "--trace",
                   trace.string()}),
              kExitOk)
        << errors_;
    ASSERT_TRUE(Uploaded(++uploads));
    std::istringstream lines(ReadFile(trace));
    int frames = 0;
    for (std::string line; std::getline(lines, line);) frames += line.find(" -> DATA ") != std::string::npos;
    EXPECT_EQ(frames, c.frames);
    const std::string last = "Uploading...   block " + std::to_string(c.frames) + "/" + std::to_string(c.total) + " ";
    EXPECT_NE(output_.find(last), std::string::npos) << "the last block shown";
  }
}

// Standard input on a terminal, for the questions: the answers are typed
// ahead on its master side.
class Terminal {
 public:
  Terminal() : input_(std::fopen(pty_.SlavePath().c_str(), "r")) {}
  ~Terminal() {
    if (input_ != nullptr) std::fclose(input_);
  }
  std::FILE* Input() const { return input_; }
  void Type(const std::string& text) { pty_.Write(text.data(), text.size()); }

 private:
  common::PseudoTerminal pty_;
  std::FILE* input_;
};

TEST_F(ReceiverCommandsTest, EveryWayOfStoppingAnUpgradeTellsTheReceiver) {
  emulator::LinkOptions options;
  options.faults.ignoreRequests = 1000;
  StartReceiver(options);
  const fs::path rom = dir_ / "rom.bin";
  const Bytes image = RomImage(kRomMagicT, 0, 0x07);
  WriteBytes(rom, image.data(), image.size());
  struct Case {
    const char* name;
    int signal;        // 0: standard output is a pipe nobody reads
    bool terminal;     // standard input is a terminal, where "y" is typed ahead
    const char* says;  // the run's last line
  };
  int announces = 0;
  int aborts = 0;
  // Ctrl-C is the Cancel button, which asks when it can; without a terminal
  // nobody could answer, and it stops as the rest do.
  for (const Case c : {Case{"SIGINT on a terminal", SIGINT, true, "stopped by Ctrl-C"},
                       Case{"SIGINT", SIGINT, false, "stopped by Ctrl-C"},
                       Case{"SIGTERM", SIGTERM, false, "stopped by SIGTERM"},
                       Case{"SIGHUP", SIGHUP, false, "stopped by SIGHUP"},
                       Case{"closed output", 0, false, "stopped: standard output was closed"}}) {
    SCOPED_TRACE(c.name);
    std::FILE* out = nullptr;
    if (c.signal == 0) {
      int pipeFds[2];
      ASSERT_EQ(::pipe(pipeFds), 0);
      ::close(pipeFds[0]);
      out = ::fdopen(pipeFds[1], "w");
      ASSERT_NE(out, nullptr);
    }
    Terminal terminal;
    if (c.terminal) {
      input_ = terminal.Input();
      terminal.Type("y\n");
    }
    announces += 2;
    std::thread stopper([&] {
      if (c.signal != 0 && receiver_->WaitForCodes(CODE_SOFTWARE, announces, 5000)) ::kill(::getpid(), c.signal);
    });
    EXPECT_EQ(Run({"upgrade", "--mode", "4", rom.string(), "--access-code", "5082613", "--device", link_}, out),
              kExitStopped)
        << output_ << errors_;
    stopper.join();
    input_ = nullptr;
    if (c.signal != 0) {
      EXPECT_EQ(output_.find("You want to stop the upgrade procedure?") != std::string::npos, c.terminal) << output_;
      EXPECT_NE(output_.find("Closing Connection..."), std::string::npos);
    }
    EXPECT_NE(errors_.find("torvix-cli: " + link_ + ": " + c.says + "\n"), std::string::npos) << errors_;
    EXPECT_TRUE(receiver_->WaitForCodes(CODE_ABORT, ++aborts, 3000));
    const auto codes = receiver_->CodesReceived();
    announces = static_cast<int>(std::count(codes.begin(), codes.end(), CODE_SOFTWARE));
  }
}

// A standard output that is closed or full stops the run, --json or not,
// and the text file stays as it was: closed is a stop, full a file error.
TEST_F(ReceiverCommandsTest, AClosedOrFullOutputStopsTheRunAndKeepsTheFile) {
  emulator::LinkOptions options;
  options.faults.ignoreRequests = 1000;  // the download would take until a stop
  StartReceiver(options);
  const fs::path text = dir_ / "keep.txt";
  std::ofstream(text) << "earlier contents\n";
  struct Case {
    bool full;
    bool json;
    int code;
    const char* says;
  };
  for (const Case c : {Case{false, false, kExitStopped, ": stopped: standard output was closed\n"},
                       Case{false, true, kExitStopped, ": stopped: standard output was closed\n"},
                       Case{true, false, kExitFile, "torvix-cli: standard output: No space left on device\n"},
                       Case{true, true, kExitFile, "torvix-cli: standard output: No space left on device\n"}}) {
    SCOPED_TRACE(std::string(c.full ? "full" : "closed") + (c.json ? " --json" : ""));
    std::FILE* out = nullptr;
    if (c.full) {
      out = std::fopen("/dev/full", "w");
    } else {
      int pipeFds[2];
      ASSERT_EQ(::pipe(pipeFds), 0);
      ::close(pipeFds[0]);
      out = ::fdopen(pipeFds[1], "w");
    }
    ASSERT_NE(out, nullptr);
    std::vector<std::string> args = {"read-user-data", text.string(), "--device", link_};
    if (c.json) args.push_back("--json");
    EXPECT_EQ(Run(args, out), c.code) << errors_;
    EXPECT_NE(errors_.find(c.says), std::string::npos) << errors_;
    EXPECT_EQ(ReadFile(text), "earlier contents\n");
    EXPECT_EQ(TemporaryFiles(), 0);
  }
}

// The bar's start at 50 comes as the connect's job starts and says
// "Connecting...": the events keep the operation's order, status first.
TEST_F(ReceiverCommandsTest, ConnectEventsComeInTheOperationsOrder) {
  StartReceiver();
  for (int run = 0; run < 5; ++run) {
    ASSERT_EQ(Run({"connect", "--device", link_, "--json"}), kExitOk) << errors_;
    const auto events = JsonLines(output_);
    ASSERT_GE(events.size(), 3u);
    EXPECT_EQ(events[0]["event"], "start");
    EXPECT_EQ(events[1]["text"], "Connecting...") << events[1].dump();
    EXPECT_EQ(events[2]["position"], 50) << events[2].dump();
  }
}

// Receivers served side by side, each by its own emulator on its own line.
class ManyReceivers {
 public:
  ManyReceivers(const fs::path& dir, const std::vector<emulator::LinkOptions>& options) {
    for (std::size_t i = 0; i < options.size(); ++i) {
      emulator::LinkOptions o = options[i];
      if (o.databaseImage.empty()) o.databaseImage = emulator::SampleDatabaseImage();
      o.replyTimeoutMs = 5000;
      served_.push_back(std::make_unique<emulator::ServedLinkReceiver>(
          emulator::Line::Options{(dir / ("rx" + std::to_string(i + 1))).string(), false}, std::move(o)));
      EXPECT_TRUE(served_.back()->Ok()) << served_.back()->Error();
    }
  }
  emulator::LinkReceiver& operator[](std::size_t i) { return served_[i]->Receiver(); }
  std::string Device(std::size_t i) const { return served_[i]->DevicePath(); }

 private:
  std::vector<std::unique_ptr<emulator::ServedLinkReceiver>> served_;
};

// Three receivers at once, the second of which breaks off its download: its
// row says so, the others' files are complete, the exit code is its code, and
// the JSON events say the same to a program.
TEST_F(ReceiverCommandsTest, ThreeReceiversAtOnceEachWithItsOwnFileRowAndEvents) {
  emulator::LinkOptions failing;
  failing.faults.vanishAfterBlocks = 5;
  ManyReceivers receivers(dir_, {{}, failing, {}});
  const fs::path text = dir_ / "data.txt";
  EXPECT_EQ(Run({"read-user-data", text.string(), "--device", receivers.Device(0), "--device", receivers.Device(1),
                 "--device", receivers.Device(2), "--json"}),
            kExitFailed)
      << errors_;
  EXPECT_EQ(ReadFile(dir_ / "data-rx1.txt"), PrintedSample());
  EXPECT_EQ(ReadFile(dir_ / "data-rx3.txt"), PrintedSample());
  EXPECT_FALSE(fs::exists(dir_ / "data-rx2.txt"));
  EXPECT_FALSE(fs::exists(text));
  // The human text: prefixed lines, no bar, then the table.
  EXPECT_NE(errors_.find("[rx1] Downloading...   block 32/32   error 0\n"), std::string::npos) << errors_;
  EXPECT_NE(errors_.find("[rx2] [TORVIX] \n[rx2]  Communication Eror !!!!"), std::string::npos) << errors_;
  EXPECT_EQ(errors_.find("\r"), std::string::npos);
  const auto table = errors_.find("device ");
  ASSERT_NE(table, std::string::npos);
  std::istringstream rows(errors_.substr(table));
  std::string header, row1, row2, row3;
  std::getline(rows, header);
  std::getline(rows, row1);
  std::getline(rows, row2);
  std::getline(rows, row3);
  EXPECT_EQ(row1.rfind(receivers.Device(0) + "  done", 0), 0u) << row1;
  EXPECT_EQ(row2.rfind(receivers.Device(1) + "  failed", 0), 0u) << row2;
  EXPECT_EQ(row2.substr(row2.size() - 2), " 1");
  EXPECT_EQ(row3.rfind(receivers.Device(2) + "  done", 0), 0u) << row3;

  std::map<std::string, int> results;
  int statuses = 0;
  std::string failedErrors;
  for (const nlohmann::json& event : JsonLines(output_)) {
    if (event["event"] == "result") results[event["device"]] = event["exit_code"];
    if (event["event"] == "status" && event["device"] == receivers.Device(2)) ++statuses;
    if (event["event"] == "message" && event["level"] == "error") {
      EXPECT_EQ(event["device"], receivers.Device(1));
      failedErrors += event["text"].get<std::string>();
    }
    if (event["event"] == "summary") {
      EXPECT_EQ(event["exit_code"], 1);
      EXPECT_EQ(event["receivers"].size(), 3u);
    }
  }
  EXPECT_EQ(results, (std::map<std::string, int>{
                         {receivers.Device(0), 0}, {receivers.Device(1), 1}, {receivers.Device(2), 0}}));
  EXPECT_GT(statuses, 32) << "a status event per block";
  EXPECT_NE(failedErrors.find("Communication Eror !!!!"), std::string::npos) << failedErrors;
}

// Ctrl-C during an upgrade of three receivers, with a terminal to answer
// on: the question comes once, and every receiver is told to stop.
TEST_F(ReceiverCommandsTest, CtrlCAsksOnceAndStopsEveryReceiver) {
  Terminal terminal;
  input_ = terminal.Input();
  terminal.Type("y\n");
  emulator::LinkOptions silent;
  silent.faults.ignoreRequests = 1000;  // announces go unanswered until the stop
  ManyReceivers receivers(dir_, {silent, silent, silent});
  const fs::path rom = dir_ / "rom.bin";
  const Bytes image = RomImage(kRomMagicT, 0, 0x07);
  WriteBytes(rom, image.data(), image.size());
  std::thread stopper([&] {
    bool announced = true;
    for (std::size_t i = 0; i < 3; ++i) announced = receivers[i].WaitForCodes(CODE_SOFTWARE, 2, 5000) && announced;
    if (announced) ::kill(::getpid(), SIGINT);
  });
  EXPECT_EQ(Run({"upgrade", "--mode", "4", rom.string(), "--access-code", "5082613", "--device", receivers.Device(0),
                 "--device", receivers.Device(1), "--device", receivers.Device(2)}),
            kExitStopped)
      << output_ << errors_;
  stopper.join();
  const std::string question = "You want to stop the upgrade procedure?";
  const auto first = output_.find(question);
  EXPECT_NE(first, std::string::npos) << output_;
  EXPECT_EQ(output_.find(question, first + 1), std::string::npos) << "asked once for all";
  input_ = nullptr;
  for (std::size_t i = 0; i < 3; ++i) EXPECT_TRUE(receivers[i].WaitForCodes(CODE_ABORT, 1, 3000)) << i;
  EXPECT_NE(output_.find("  stopped "), std::string::npos) << output_;
}

TEST_F(ReceiverCommandsTest, TheSameReceiverTwiceOrTwoThatWouldShareFilesIsAUsageError) {
  EXPECT_EQ(Run({"connect", "--device", link_, "--device", link_}), kExitUsage);
  EXPECT_NE(errors_.find("given twice"), std::string::npos) << errors_;
  fs::create_directory(dir_ / "b");
  EXPECT_EQ(Run({"connect", "--device", link_, "--device", (dir_ / "b" / "receiver").string()}), kExitUsage);
}

// --backup reads the database first; a backup that fails starts no upgrade.
// The trace shows every frame of both.
TEST_F(ReceiverCommandsTest, BackupFirstAndNoUpgradeWhenItFails) {
  emulator::LinkOptions options;
  options.faults.ignoreRequests = 1;  // the first request, the backup's, goes unanswered
  StartReceiver(options);
  const fs::path rom = dir_ / "rom.bin";
  const Bytes image = RomImage(kRomMagicT, 0, 0x07);
  WriteBytes(rom, image.data(), image.size());
  const fs::path backup = dir_ / "backup.txt";
  const fs::path trace = dir_ / "trace.log";
  const std::vector<std::string> args = {"upgrade", "--mode", "2", rom.string(), "--backup", backup.string(),
                                         "--device", link_, "--trace", trace.string()};
  EXPECT_EQ(Run(args), kExitFailed);
  EXPECT_NE(errors_.find("The backup did not complete: the upgrade was not started."), std::string::npos) << errors_;
  EXPECT_FALSE(fs::exists(backup));
  auto codes = receiver_->CodesReceived();
  EXPECT_EQ(std::count(codes.begin(), codes.end(), CODE_SOFTWARE), 0);
  EXPECT_NE(ReadFile(trace).find("-> READ_USER_DATA       12  00 20 00 00\n"), std::string::npos) << ReadFile(trace);

  EXPECT_EQ(Run(args), kExitOk) << errors_;
  EXPECT_EQ(ReadFile(backup), PrintedSample());
  ASSERT_TRUE(Uploaded(1));
  EXPECT_EQ(receiver_->StoredSoftware()[0x1F0040], 0xFE);
  const std::string traced = ReadFile(trace);
  std::istringstream lines(traced);
  std::map<std::string, int> seen;
  for (std::string line; std::getline(lines, line);) {
    if (line[0] == '#') continue;
    std::istringstream fields(line);
    std::string time, direction, name;
    fields >> time >> direction >> name;
    ++seen[direction + " " + name];
  }
  EXPECT_EQ(seen["-> READ_USER_DATA"], 1);
  EXPECT_EQ(seen["<- DATA"], 32 + 1) << "the database's frames, the identification";
  const int blocks = static_cast<int>((image.size() - 42 + 4 + 4079) / 4080);
  EXPECT_EQ(seen["-> DATA"], blocks) << "the image's frames";
  EXPECT_EQ(seen["-> SOFTWARE"], 2) << "announce and start";
  EXPECT_EQ(seen["<- READY"], 1);
  // The read request, the connect, every block, the end.
  EXPECT_EQ(seen["<- ACK"], 1 + 1 + blocks + 1);
  EXPECT_NE(traced.find(" -> DATA               4100  00 30 0f f8 00 1f ff d6 "), std::string::npos) << "size first";
}

// check-rom says what an upgrade would do with each image, and exits as it would refuse.
TEST(CheckRom, SaysWhatEachModeDoesAndExitsAsTheUpgradeWould) {
  const common::testing::TempFolder folder("torvix-check-rom");
  ASSERT_TRUE(folder.Ok());
  const fs::path& dir = folder.Path();
  struct Case {
    const char* name;
    Bytes image;
    std::vector<std::string> options;
    int code;
    const char* says;
  };
  const Bytes image = RomImage(kRomMagicT, 0, 7);
  Bytes wrong = image;
  wrong[5] = 'x';
  const std::vector<Case> cases = {
      {"t0.bin", RomImage(kRomMagicT, 0, 7), {"--mode", "1"}, kExitOk, "hardware number:  503\n"},
      {"t0.bin", RomImage(kRomMagicT, 0, 7), {"--mode", "1"}, kExitOk, "blocks:           515, as the upgrade's"},
      {"t0.bin", RomImage(kRomMagicT, 0, 7), {"--mode", "1"}, kExitOk, "transfer time:    183 s at 115200"},
      {"t254.bin", RomImage(kRomMagicT, 254, 0), {"--mode", "3"}, kExitRefused, "hardware number:  none"},
      {"t254.bin", RomImage(kRomMagicT, 254, 0), {"--mode", "4"}, kExitOk, "without connect or hardware check"},
      {"t254.bin", RomImage(kRomMagicT, 254, 0), {}, kExitOk, "flag byte:        0x00: whole upgrade only"},
      {"whole.bin", RomImage(kRomMagicT, 0, 0), {"--mode", "1"}, kExitDeclined, "asks the whole-upgrade question"},
      {"whole.bin", RomImage(kRomMagicT, 0, 0), {"--mode", "1", "--yes"}, kExitOk, "marker 0x00"},
      {"a.bin", RomImage(kRomMagicA, 255, 1), {"--mode", "2"}, kExitOk, "variant:          A"},
      {"wrong.bin", wrong, {"--mode", "4"}, kExitRefused, ""},
      {"short.bin", Bytes(image.begin(), image.begin() + 1000), {"--mode", "4"}, kExitRefused, "size:             1000 bytes"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " " + (c.options.empty() ? "" : c.options.back()));
    WriteBytes(dir / c.name, c.image.data(), c.image.size());
    CLI::App app;
    int exitCode = -1;
    OfflineCommandSettings settings;
    settings.out = std::tmpfile();
    settings.err = std::tmpfile();
    AddOfflineCommands(app, exitCode, settings);
    std::vector<std::string> args = {"check-rom", (dir / c.name).string()};
    args.insert(args.end(), c.options.begin(), c.options.end());
    std::reverse(args.begin(), args.end());
    app.parse(args);
    const std::string out = Contents(settings.out);
    const std::string err = Contents(settings.err);
    EXPECT_EQ(exitCode, c.code) << out << err;
    EXPECT_NE(out.find(c.says), std::string::npos) << out;
    if (c.code == kExitRefused && c.options.back() == "4") {
      // The box, then why.
      const std::string why = c.image.size() < kMinRomImageSize ? "the file has 1000 bytes, too few for an image"
                                                                 : "the file does not begin with the text of a ROM image";
      EXPECT_EQ(err.find("[TORVIX]\n  Wrong ROM image."), 0u) << err;
      EXPECT_NE(err.find("\ntorvix-cli: " + (dir / c.name).string() + ": " + why), std::string::npos) << err;
    }
  }
}

TEST(ConsoleUi, ErrorsGoToStandardErrorAndARepeatedPortErrorIsShownOnceWithItsCount) {
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  {
    ConsoleUi ui(out, err, nullptr, {}, {});
    ui.SetDevicePath("/dev/ttyS2");
    ui.ShowStatus("Connecting...");
    for (int i = 0; i < 5; ++i) ui.ShowSerialError(kSerialErrorCaption, "Input/output error");
    ui.ShowMessage("Open error", "ERROR");
    ui.ShowSerialError(kSerialErrorCaption, "Input/output error");
    const auto done = ResultMessageFor(OperationCode::Upgrade, true);
    ui.ShowMessage(done->text, done->caption);
    ui.ShowSerialError(kSerialErrorCaption, "No such file or directory");
    ui.ShowSerialError(kSerialErrorCaption, "No such file or directory");
    ui.FinishLine();
  }
  const std::string box = "[Serial Communication Device Error] /dev/ttyS2: ";
  EXPECT_EQ(Contents(err), box + "Input/output error\n" + box + "Input/output error (repeated: 5 times in all)\n" +
                               "[ERROR] Open error\n" + box + "Input/output error\n" + box +
                               "No such file or directory\n" + box +
                               "No such file or directory (repeated: 2 times in all)\n");
  const std::string output = Contents(out);
  EXPECT_EQ(output.rfind("Connecting...\n[Upgrade] The software transfered to receiver OK.", 0), 0u) << output;
}

// What `sha256sum` says of a file.
std::string Sha256Sum(const fs::path& path) {
  std::string digest;
  if (std::FILE* pipe = ::popen(("sha256sum '" + path.string() + "'").c_str(), "r")) {
    for (int c = std::fgetc(pipe); c != EOF && c != ' '; c = std::fgetc(pipe)) digest += static_cast<char>(c);
    ::pclose(pipe);
  }
  return digest;
}

// Each operation family leaves one row per run, whatever its outcome: the
// receiver's versions where the operation learned them (an upgrade through
// the connect it makes first), the file with its hash (Read User Data's once
// written), the exit code the command line ends with, and the box a failure
// showed.  Each case has a receiver of its own, with its fault.
TEST_F(ReceiverCommandsTest, EachOperationLeavesItsRowInTheHistory) {
  const fs::path rom = dir_ / "rom.bin";
  const Bytes image = RomImage(kRomMagicT, 0, 0x07);  // hardware 503, as the receiver's
  WriteBytes(rom, image.data(), image.size());
  const fs::path wrongRom = dir_ / "wrong.bin";
  Bytes wrong = image;
  wrong[0] = 'k';
  WriteBytes(wrongRom, wrong.data(), wrong.size());
  const fs::path text = dir_ / "factory_data.txt";
  std::ofstream(text, std::ios::binary) << PrintedSample();
  const fs::path noServices = dir_ / "no-services.txt";
  std::ofstream(noServices, std::ios::binary) << "s \"A\" 1 1 u 1 e n n n n\r\n";
  const fs::path read = dir_ / "read.txt";
  const std::string history = (dir_ / "history.sqlite").string();
  const std::string code = "5082613";
  struct Case {
    const char* name;
    std::vector<std::string> args;  // --device, --history and --unit are added
    emulator::LinkFaults faults;
    bool stop;  // Ctrl-C once the upgrade has been announced
    int code;
    const char* operation;
    std::optional<std::string> mode;
    std::string_view result;
    const char* message;  // the start of the row's message; null: none
    std::optional<fs::path> file;
    bool versions;
  };
  emulator::LinkFaults silent;
  silent.ignoreRequests = 1;
  emulator::LinkFaults vanishing;
  vanishing.vanishAfterBlocks = 5;
  emulator::LinkFaults deaf;
  deaf.ignoreRequests = 1000;
  const std::vector<Case> cases = {
      {"connect", {"connect"}, {}, false, kExitOk, "connect", {}, history::kOk, nullptr, {}, true},
      {"connect, silent receiver", {"connect"}, silent, false, kExitFailed, "connect", {}, history::kFailed,
       "Connection error.", {}, false},
      {"connect, no port", {"connect"}, {}, false, kExitPortNotOpened, "connect", {}, history::kFailed, "Open error",
       {}, false},
      {"upgrade 1", {"upgrade", "--mode", "1", rom.string()}, {}, false, kExitOk, "upgrade", "1", history::kOk,
       nullptr, rom, true},
      {"upgrade, wrong image", {"upgrade", "--mode", "4", wrongRom.string(), "--access-code", code}, {}, false,
       kExitRefused, "upgrade", "4", history::kRefused, "Wrong ROM image. Retry.; ", wrongRom, false},
      {"upgrade, stopped", {"upgrade", "--mode", "4", rom.string(), "--access-code", code}, deaf, true, kExitStopped,
       "upgrade", "4", history::kStopped, nullptr, rom, false},
      {"read", {"read-user-data", read.string()}, {}, false, kExitOk, "read-user-data", {}, history::kOk, nullptr,
       read, false},
      {"read, line lost", {"read-user-data", (dir_ / "lost.txt").string()}, vanishing, false, kExitFailed,
       "read-user-data", {}, history::kFailed, "Factory data of the receiver is not valid.", {}, false},
      {"write", {"write-factory-data", text.string()}, {}, false, kExitOk, "write-factory-data", {}, history::kOk,
       nullptr, text, false},
      {"write, declined", {"write-factory-data", noServices.string()}, {}, false, kExitDeclined,
       "write-factory-data", {}, history::kDeclined, nullptr, noServices, false},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.name);
    StopReceiver();
    stop_.store(false);
    link_ = (dir_ / ("receiver-" + std::to_string(i))).string();
    std::string device = link_;
    if (c.code == kExitPortNotOpened) {
      device = (dir_ / "nothing").string();
    } else {
      emulator::LinkOptions options;
      options.faults = c.faults;
      StartReceiver(options);
    }
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--device", device, "--history", history, "--unit", "U-" + std::to_string(i)});
    std::thread stopper([&] {
      if (c.stop && receiver_->WaitForCodes(CODE_SOFTWARE, 2, 5000)) ::kill(::getpid(), SIGINT);
    });
    EXPECT_EQ(Run(args), c.code) << output_ << errors_;
    stopper.join();
  }

  history::Filter all;
  all.limit = 0;
  const history::QueryResult found = history::Query(history, all);
  ASSERT_TRUE(found.ok) << found.message;
  ASSERT_EQ(found.rows.size(), cases.size());
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    const history::Row& row = found.rows[cases.size() - 1 - i];  // newest first
    SCOPED_TRACE(c.name);
    EXPECT_EQ(row.program, "torvix-cli");
    EXPECT_EQ(row.operation, c.operation);
    EXPECT_EQ(row.mode, c.mode);
    EXPECT_EQ(row.result, std::string(c.result));
    EXPECT_EQ(row.exit_code, c.code);
    EXPECT_EQ(row.unit, "U-" + std::to_string(i));
    EXPECT_EQ(row.port, std::nullopt) << "a device path, no COM port";
    EXPECT_EQ(row.device, c.code == kExitPortNotOpened ? (dir_ / "nothing").string()
                                                       : (dir_ / ("receiver-" + std::to_string(i))).string());
    if (c.message == nullptr) {
      EXPECT_EQ(row.message.value_or(""), "");
    } else {
      EXPECT_EQ(row.message.value_or("").rfind(c.message, 0), 0u) << row.message.value_or("");
    }
    EXPECT_EQ(row.file, c.file ? std::optional<std::string>(c.file->string()) : std::nullopt);
    if (c.file) {
      EXPECT_EQ(row.file_sha256, Sha256Sum(*c.file));
    }
    EXPECT_EQ(row.hardware, c.versions ? std::optional<std::string>("0503 TWIN-S") : std::nullopt);
    EXPECT_EQ(row.software, c.versions ? std::optional<std::string>("4.00 emulator") : std::nullopt);
    EXPECT_TRUE(row.ended.has_value());
  }
}

}  // namespace
