// Interrupted transfers, many times over: `torvix-cli read-user-data`,
// `updater-cli receive` and `updater-cli update` against the receiver
// emulator, with the emulator killed (the line vanishes for the tool; not
// during `receive`, whose reads wait out minutes on a vanished line as on a
// silent one), or the tool killed (SIGKILL) or stopped (SIGTERM), at a random
// moment of the transfer, or nothing done to either.  After every run:
//   - the user's file (missing, a plain file, or a symbolic link to one) is
//     byte for byte as before, or complete, and a link is still a link;
//   - no other file is left in its folder (no temporary file);
//   - the tool has ended, and one that was not killed has put the line's
//     settings back as it found them; the line opens again.
//
// The runs follow a seeded random sequence: RT_SOAK_SEED (default 1) and
// RT_SOAK_RUNS (default 30) choose it; the moments are fractions of each
// operation's undisturbed duration, measured first on this machine.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include "common/serial_line.h"
#include "common/testing/test_support.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Longest a tool or the emulator may take to end after what ends it.
constexpr auto kEndLimit = std::chrono::seconds(60);
// How long a tool may take to give up a receiver that vanished before it is stopped.
constexpr auto kVanishedLimit = std::chrono::seconds(15);

using common::testing::ReadFile;
using common::testing::WaitUntil;

// A child process with standard input from /dev/null and its output in a file.
class Process {
 public:
  Process(std::vector<std::string> args, const fs::path& output) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Process() {
    if (Running()) {
      ::kill(pid_, SIGKILL);
      Wait(kEndLimit);
    }
  }
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  bool Running() { return pid_ > 0 && !Reap(); }
  void Signal(int sig) {
    if (Running()) ::kill(pid_, sig);
  }
  // Waits for the end; false when it did not come within `limit`.
  bool Wait(std::chrono::milliseconds limit) {
    return WaitUntil([this] { return Reap(); }, limit);
  }
  bool Exited() const { return ended_ && WIFEXITED(status_); }
  int ExitCode() const { return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1; }

 private:
  // True once the process has ended (and been reaped).
  bool Reap() {
    if (pid_ <= 0 || ended_) return true;
    if (::waitpid(pid_, &status_, WNOHANG) == pid_) ended_ = true;
    return ended_;
  }

  pid_t pid_ = -1;
  bool ended_ = false;
  int status_ = 0;
};

enum class Operation { kReadUserData, kReceive, kUpdate };
enum class Fault { kNone, kKillEmulator, kKillTool, kTerminateTool };
enum class Before { kMissing, kFile, kLink };

const char* Name(Operation op) {
  switch (op) {
    case Operation::kReadUserData: return "read-user-data";
    case Operation::kReceive: return "receive";
    case Operation::kUpdate: return "update";
  }
  return "";
}
// What each tool says when its operation is complete.
const char* DoneText(Operation op) {
  switch (op) {
    case Operation::kReadUserData: return "Factory data written to";
    case Operation::kReceive: return "Получено удачно!";
    case Operation::kUpdate: return "Обновление ПО завершено.";
  }
  return "";
}
const char* Name(Fault fault) {
  switch (fault) {
    case Fault::kNone: return "none";
    case Fault::kKillEmulator: return "emulator killed";
    case Fault::kKillTool: return "tool SIGKILL";
    case Fault::kTerminateTool: return "tool SIGTERM";
  }
  return "";
}

class InterruptedTransfers : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.Ok());
    root_ = folder_.Path();
    user_ = root_ / "user";
    fs::create_directories(user_ / "real");
    // The tools' service history goes beside the user's folder, not into the
    // history of whoever runs the tests.
    ::setenv("XDG_STATE_HOME", (root_ / "state").c_str(), 1);
    ::unsetenv("RT_HISTORY");
    // A software file of three records for the update; the tool only reads it.
    std::string wsw = {'\x55', '\xAA', 0, 0, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0, 0};
    for (int record = 0; record < 3; ++record) {
      const std::uint32_t length = 3000;
      wsw += std::string{'\x5A', '\x5A', 0, static_cast<char>(record), 0, 0, 0, 0, 0, 0,
                         static_cast<char>(length >> 8), static_cast<char>(length & 0xFF)};
      wsw += std::string(length + 4, static_cast<char>('a' + record));
    }
    std::ofstream(user_ / "update.wsw", std::ios::binary) << wsw;
  }

  fs::path UserFile(Operation op) const {
    return user_ / (op == Operation::kReadUserData ? "factory_data.txt" : op == Operation::kReceive ? "settings.wdb"
                                                                                                   : "update.wsw");
  }
  fs::path Line() const { return root_ / "line"; }

  std::unique_ptr<Process> StartEmulator(Operation op) {
    // A link left by a killed emulator may lead to anybody's terminal by now.
    fs::remove(Line());
    std::vector<std::string> args = {RECEIVER_EMULATOR};
    if (op == Operation::kReadUserData) {
      args.insert(args.end(), {"link", Line().string()});
    } else {
      args.insert(args.end(), {"updater", "--role", op == Operation::kReceive ? "receive" : "update", "--link",
                               Line().string(), "--sessions", "0", "--patience", "10000"});
    }
    auto emulator = std::make_unique<Process>(args, root_ / "emulator.log");
    EXPECT_TRUE(WaitUntil([&] { return fs::is_symlink(Line()) && fs::exists(Line()); }, kEndLimit))
        << ReadFile(root_ / "emulator.log");
    return emulator;
  }
  std::unique_ptr<Process> StartTool(Operation op) {
    const std::string file = UserFile(op).string();
    const std::string device = Line().string();
    std::vector<std::string> args =
        op == Operation::kReadUserData
            ? std::vector<std::string>{TORVIX_CLI, "read-user-data", file, "--device", device}
            : std::vector<std::string>{UPDATER_CLI, Name(op), file, "--device", device};
    return std::make_unique<Process>(args, root_ / "tool.log");
  }

  // One undisturbed run: how long it takes, and the complete file.
  void Calibrate(Operation op, std::chrono::microseconds& duration, std::string& complete) {
    auto emulator = StartEmulator(op);
    const auto start = Clock::now();
    auto tool = StartTool(op);
    ASSERT_TRUE(tool->Wait(kEndLimit));
    duration = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start);
    ASSERT_EQ(tool->ExitCode(), 0) << ReadFile(root_ / "tool.log");
    complete = ReadFile(UserFile(op));
    emulator->Signal(SIGTERM);
    ASSERT_TRUE(emulator->Wait(kEndLimit));
    if (op != Operation::kUpdate) fs::remove(UserFile(op));
  }

  // Lays out the user's file as `before` says; returns its contents ("" when missing).
  std::string Prepare(Operation op, Before before) {
    const fs::path file = UserFile(op);
    if (op == Operation::kUpdate) return ReadFile(file);
    fs::remove(file);
    fs::remove(user_ / "real" / file.filename());
    const std::string old = "old contents of " + file.filename().string() + "\r\n";
    if (before == Before::kMissing) return "";
    const fs::path real = before == Before::kLink ? user_ / "real" / file.filename() : file;
    std::ofstream(real, std::ios::binary) << old;
    ::chmod(real.c_str(), 0640);
    if (before == Before::kLink) fs::create_symlink(fs::path("real") / file.filename(), file);
    return old;
  }

  // Every entry under the user's folder.
  std::set<std::string> Entries() const {
    std::set<std::string> names;
    for (const auto& e : fs::recursive_directory_iterator(user_)) names.insert(e.path().lexically_relative(user_).string());
    return names;
  }

  common::testing::TempFolder folder_{"soak"};
  fs::path root_;
  fs::path user_;
};

int EnvironmentNumber(const char* name, int fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? std::atoi(value) : fallback;
}

TEST_F(InterruptedTransfers, LeaveTheUsersFileWholeNoTemporaryFileAndAFreeLine) {
  const unsigned seed = static_cast<unsigned>(EnvironmentNumber("RT_SOAK_SEED", 1));
  const int runs = EnvironmentNumber("RT_SOAK_RUNS", 30);
  const Operation operations[] = {Operation::kReadUserData, Operation::kReceive, Operation::kUpdate};
  std::chrono::microseconds duration[3];
  std::string complete[3];
  for (int i = 0; i < 3; ++i) {
    Calibrate(operations[i], duration[i], complete[i]);
    if (HasFatalFailure()) return;
  }

  std::mt19937 random(seed);
  int stopped = 0;
  for (int run = 0; run < runs; ++run) {
    const int which = static_cast<int>(random() % 3);
    const Operation op = operations[which];
    Fault fault = static_cast<Fault>(random() % 4);
    // A settings line that vanishes fails as a silent one times out, which
    // the transfer profile's limits make minutes: its tool is stopped instead.
    if (fault == Fault::kKillEmulator && op == Operation::kReceive) fault = Fault::kTerminateTool;
    Before before = static_cast<Before>(random() % 3);
    if (op == Operation::kUpdate) before = Before::kFile;  // the tool's input, only read
    // Anywhere from the start to a little past the undisturbed end.
    const auto moment = duration[which] * static_cast<long>(random() % 1200) / 1000;
    SCOPED_TRACE("seed " + std::to_string(seed) + " run " + std::to_string(run) + ": " + Name(op) + ", " +
                 Name(fault) + " after " + std::to_string(moment.count()) + " us, file before: " +
                 std::to_string(static_cast<int>(before)));

    const std::string old = Prepare(op, before);
    const std::set<std::string> entriesBefore = Entries();
    auto emulator = StartEmulator(op);
    // A distinctive setting of the line, which a tool that ends by itself
    // must put back; held open so that it can be read afterwards.
    const int held = ::open(Line().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(held, 0);
    termios found{};
    ASSERT_EQ(::tcgetattr(held, &found), 0);
    cfmakeraw(&found);
    cfsetspeed(&found, B2400);
    found.c_cflag |= PARENB | CSTOPB;
    ASSERT_EQ(::tcsetattr(held, TCSANOW, &found), 0);
    ASSERT_EQ(::tcgetattr(held, &found), 0);

    auto tool = StartTool(op);
    if (fault == Fault::kTerminateTool) {
      // A stop request goes to a tool that has its handlers: one that has
      // set the line up.  (Before that, SIGTERM ends it as any program.)
      EXPECT_TRUE(WaitUntil(
          [&] {
            termios now{};
            return !tool->Running() || (::tcgetattr(held, &now) == 0 && cfgetispeed(&now) != cfgetispeed(&found));
          },
          kEndLimit));
    }
    if (fault != Fault::kNone) {
      std::this_thread::sleep_for(moment);  // the random moment itself
      if (fault == Fault::kKillEmulator) emulator->Signal(SIGKILL);
      if (fault == Fault::kKillTool) tool->Signal(SIGKILL);
      if (fault == Fault::kTerminateTool) tool->Signal(SIGTERM);
    }
    // A receiver that vanishes in the middle of a block is waited for as
    // long as a silent one, minutes at 20 ms a byte: there the operator stops.
    if (fault == Fault::kKillEmulator && !tool->Wait(kVanishedLimit)) tool->Signal(SIGTERM);
    ASSERT_TRUE(tool->Wait(kEndLimit)) << "the tool did not end\n" << ReadFile(root_ / "tool.log");
    const std::string output = ReadFile(root_ / "tool.log");
    if (fault == Fault::kNone) {
      EXPECT_EQ(tool->ExitCode(), 0) << output;
    }
    // A stop request is a stop, not a death: only a tool that has already
    // said it is done may still die of it (its handlers are gone by then).
    const bool done = output.find(DoneText(op)) != std::string::npos;
    const bool endedItself = tool->Exited() || (fault == Fault::kTerminateTool && done);
    if (fault == Fault::kTerminateTool) {
      EXPECT_TRUE(endedItself) << output;
      if (tool->ExitCode() == 130) ++stopped;
    }

    if (endedItself && fault != Fault::kKillEmulator) {
      termios after{};
      ASSERT_EQ(::tcgetattr(held, &after), 0);
      EXPECT_EQ(cfgetispeed(&after), cfgetispeed(&found));
      EXPECT_EQ(after.c_cflag, found.c_cflag);
      EXPECT_EQ(after.c_iflag, found.c_iflag);
      EXPECT_EQ(after.c_oflag, found.c_oflag);
      EXPECT_EQ(after.c_lflag, found.c_lflag);
      // The line opens again, exclusively.
      common::SerialLine line;
      EXPECT_TRUE(line.Open(Line().string())) << line.LastErrorText();
    }
    ::close(held);

    const std::string now = fs::exists(UserFile(op)) ? ReadFile(UserFile(op)) : "";
    const bool existsNow = fs::exists(UserFile(op));
    const bool whole = (existsNow == (before != Before::kMissing) && now == old) || now == complete[which];
    EXPECT_TRUE(whole) << "the user's file holds " << now.size() << " bytes\n" << output;
    if (before == Before::kLink) {
      EXPECT_TRUE(fs::is_symlink(UserFile(op)));
    }
    std::set<std::string> expected = entriesBefore;
    if (existsNow) expected.insert(UserFile(op).filename().string());
    EXPECT_EQ(Entries(), expected) << "a file was left behind";

    emulator->Signal(SIGTERM);
    EXPECT_TRUE(emulator->Wait(kEndLimit));
    if (HasFailure()) return;
  }
  std::cout << runs << " runs (seed " << seed << "), " << stopped << " stopped by SIGTERM with exit code 130\n";
  // The stop path was taken, not only ends that came first.
  if (runs >= 30) {
    EXPECT_GT(stopped, 0);
  }
}

}  // namespace
