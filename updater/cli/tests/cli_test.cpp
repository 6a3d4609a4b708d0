// updater-cli end to end: the real executable against receiver-emulator,
// both as processes, over a pseudo-terminal reached through a symbolic link.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <algorithm>
#include <functional>
#include <memory>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/pty.h"
#include "common/testing/test_support.h"

extern char** environ;

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Pattern(std::size_t size, unsigned seed) {
  Bytes bytes(size);
  std::uint32_t x = seed;
  for (auto& b : bytes) {
    x = x * 1103515245u + 12345u;
    b = static_cast<std::uint8_t>(x >> 16);
  }
  return bytes;
}

void WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A software file with one record per payload length.
Bytes MakeWsw(const std::vector<std::uint32_t>& lengths) {
  Bytes file = {0x55, 0xAA, 0, 0, 0, 0, 0, 0, 0, 0, 0, static_cast<std::uint8_t>(lengths.size()), 0, 0, 0, 0};
  for (std::size_t index = 0; index < lengths.size(); ++index) {
    const std::uint32_t length = lengths[index];
    const Bytes header = {0x5A, 0x5A, 0, static_cast<std::uint8_t>(index), 1, 2, 3, 4, 0, 0,
                          static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length)};
    file.insert(file.end(), header.begin(), header.end());
    const Bytes payload = Pattern(length + 4, static_cast<unsigned>(index));
    file.insert(file.end(), payload.begin(), payload.end());
  }
  return file;
}

std::string ReadText(const std::string& path) {
  const Bytes bytes = ReadFile(path);
  return std::string(bytes.begin(), bytes.end());
}

// A child process with stdin from /dev/null (or `inputPath`) and stdout and
// stderr to a file (stderr to a file of its own when `errorPath` is given).
class Process {
 public:
  Process(std::vector<std::string> args, const std::string& outputPath, std::vector<std::string> extraEnv = {},
          const std::string& errorPath = "", const std::string& inputPath = "/dev/null") {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, inputPath.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (errorPath.empty()) {
      posix_spawn_file_actions_adddup2(&actions, 1, 2);
    } else {
      posix_spawn_file_actions_addopen(&actions, 2, errorPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    }
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env(extraEnv);
    for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Process() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      Wait();
    }
  }
  // Exit code, or -1 when it did not exit normally.
  int Wait() {
    int status = 0;
    if (pid_ <= 0 || ::waitpid(pid_, &status, 0) != pid_) return -1;
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  void Signal(int sig) const {
    if (pid_ > 0) ::kill(pid_, sig);
  }
  bool Started() const { return pid_ > 0; }

 private:
  pid_t pid_ = -1;
};

using common::testing::WaitUntil;

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.Ok());
    dir_ = folder_.Path().string();
    std::filesystem::create_directory(dir_ + "/out");
    // The runs' default history goes into the test's folder, not the user's.
    ::setenv("XDG_STATE_HOME", dir_.c_str(), 1);
  }

  // Starts the emulator for `sessions` sessions and waits for its device link.
  std::unique_ptr<Process> StartEmulator(std::vector<std::string> extra, int sessions = 1) {
    std::vector<std::string> args = {RECEIVER_EMULATOR, "updater", "--link", Tty(), "--sessions",
                                     std::to_string(sessions), "--store", dir_ + "/out", "--patience", "20000"};
    args.insert(args.end(), extra.begin(), extra.end());
    auto emulator = std::make_unique<Process>(args, dir_ + "/emulator.log");
    EXPECT_TRUE(WaitUntil([&] { return std::filesystem::is_symlink(Tty()); })) << ReadText(dir_ + "/emulator.log");
    return emulator;
  }
  int RunCli(std::vector<std::string> args, std::vector<std::string> env = {}, const std::string& output = "") {
    args.insert(args.begin(), UPDATER_CLI);
    Process cli(args, output.empty() ? Output() : output, env, Errors());
    return cli.Wait();
  }
  std::string Tty() const { return dir_ + "/tty"; }
  std::string File(const std::string& name) const { return dir_ + "/" + name; }
  std::string Output() const { return dir_ + "/cli.log"; }
  std::string Errors() const { return dir_ + "/cli.err"; }
  bool OutputHas(const std::string& text) const { return ReadText(Output()).find(text) != std::string::npos; }

  common::testing::TempFolder folder_{"updater-cli"};
  std::string dir_;
};

TEST_F(CliTest, SendsA300001ByteFileThatTheReceiverStoresByteForByte) {
  const Bytes file = Pattern(300001, 11);
  WriteFile(File("s.wdb"), file);
  auto emulator = StartEmulator({"--role", "send"});
  // COM2 reaches the emulator through the environment, as for a USB adapter.
  EXPECT_EQ(RunCli({"send", File("s.wdb"), "--port", "COM2"}, {"COM2=" + Tty()}), 0) << ReadText(Output());
  EXPECT_EQ(emulator->Wait(), 0);
  Bytes expected = file;
  expected.resize(300032, 0);
  EXPECT_EQ(ReadFile(File("out/settings-1.wdb")), expected);
  const std::string output = ReadText(Output());
  EXPECT_NE(output.find("Передача настроек...\n"), std::string::npos);
  EXPECT_NE(output.find("100%\n"), std::string::npos);
  EXPECT_NE(output.find("Удачная загрузка! \n"), std::string::npos);
}

TEST_F(CliTest, ReceivesTheReceiversImageIntoAnEqualFile) {
  const Bytes image = Pattern(250000, 12);
  WriteFile(File("image.bin"), image);
  auto emulator = StartEmulator({"--role", "receive", "--image", File("image.bin")});
  EXPECT_EQ(RunCli({"receive", File("r.wdb"), "--device", Tty(), "--baud", "19200"}), 0) << ReadText(Output());
  EXPECT_EQ(emulator->Wait(), 0);
  EXPECT_EQ(ReadFile(File("r.wdb")), image);
}

TEST_F(CliTest, UpdatesFromAMultiRecordFileThatTheReceiverGetsUnchanged) {
  const Bytes file = MakeWsw({1000, 2001, 3002});
  WriteFile(File("u.wsw"), file);
  auto emulator = StartEmulator({"--role", "update"});
  EXPECT_EQ(RunCli({"update", File("u.wsw"), "--device", Tty()}), 0) << ReadText(Output());
  EXPECT_EQ(emulator->Wait(), 0);
  EXPECT_EQ(ReadFile(File("out/software-1.wsw")), file);
  EXPECT_NE(ReadText(Output()).find(" OK! >> Обновление ПО завершено.\n"), std::string::npos);
}

// The exit codes of the table both command lines share, each with what the
// user reads on standard error.
TEST_F(CliTest, ExitCodesTellTheOutcomesApart) {
  WriteFile(File("s.wdb"), Pattern(200000, 13));
  WriteFile(File("small.wdb"), Pattern(199999, 13));
  Bytes software = Pattern(200000, 14);
  software[0] = 0x55;
  software[1] = 0xAA;
  WriteFile(File("software.wdb"), software);
  const std::string none = File("nothing-here");
  struct Case {
    std::vector<std::string> args;
    int code;
    std::string error;
  };
  for (const Case& c : std::vector<Case>{
           {{}, 2, "A subcommand is required"},
           {{"frobnicate", File("s.wdb")}, 2, "updater-cli: frobnicate: unknown subcommand"},
           {{"send", File("s.wdb"), "--port", "COM5"}, 2, "COM5"},
           {{"send", File("s.wdb"), "--port", "5"}, 2, "5: COM1 to COM4"},
           {{"send", File("s.wdb"), "--port", "1"}, 4, "COM1 (" + none + "): No such file or directory"},
           {{"send", File("s.wsw")}, 3, "Не тот Файл! " + File("s.wsw") + ": the name of a settings file"},
           {{"receive", File("s.txt")}, 3, "Не тот Файл! " + File("s.txt")},
           {{"update", File("s.wdb")}, 3, "Не тот Файл! " + File("s.wdb") + ": the name of a software file"},
           {{"send", File("software.wdb")}, 3, "Не тот Файл! " + File("software.wdb") + ": begins with 55 AA"},
           {{"send", File("small.wdb"), "--device", none}, 3, File("small.wdb") + ": 199999 bytes"},
           {{"send", File("s.wdb"), "--device", none}, 4, none + ": No such file or directory"},
           {{"update", File("none.wsw"), "--device", none}, 10, File("none.wsw") + ": No such file or directory"},
           {{"receive", File("no-dir/r.wdb"), "--device", none}, 10, File("no-dir") + ": No such file or directory (the folder"},
       }) {
    SCOPED_TRACE(c.args.empty() ? "no arguments" : c.args.front() + " " + c.args.back());
    EXPECT_EQ(RunCli(c.args, {"COM1=" + none}), c.code);
    EXPECT_NE(ReadText(Errors()).find(c.error), std::string::npos) << ReadText(Errors());
  }
  // The port's failure is also the first of the seven lines.
  RunCli({"send", File("s.wdb"), "--device", none});
  EXPECT_TRUE(OutputHas("Не возможно открыть COM порт     " + none + ": No such file or directory\n"));
}

TEST_F(CliTest, ForceSendsAFileTheChecksWouldRefuse) {
  Bytes file = Pattern(200000, 16);
  file[0] = 0x55;
  file[1] = 0xAA;
  WriteFile(File("image.bin"), file);
  auto emulator = StartEmulator({"--role", "send"});
  EXPECT_EQ(RunCli({"send", File("image.bin"), "--device", Tty(), "--force"}), 0) << ReadText(Errors());
  EXPECT_EQ(emulator->Wait(), 0);
  file.resize(200192, 0);
  EXPECT_EQ(ReadFile(File("out/settings-1.wdb")), file);
}

// SIGTERM, SIGHUP (a closed terminal) and a reader that goes away stop a
// settings send as a confirmed stop does, without asking: the receiver hears
// "2DER3" and the exit code is 130.
TEST_F(CliTest, TerminationHangUpAndAClosedPipeStopASendWithoutAsking) {
  WriteFile(File("s.wdb"), Pattern(200000, 15));
  for (const int way : {SIGTERM, SIGHUP, SIGPIPE}) {
    SCOPED_TRACE(way);
    auto emulator = StartEmulator({"--role", "send", "--paced"});
    std::vector<std::string> args = {UPDATER_CLI, "send", File("s.wdb"), "--device", Tty()};
    if (way == SIGPIPE) {
      // Its output into a reader that leaves after three lines.
      args.insert(args.begin(), {"/bin/bash", "-c", R"("$@" | head -n 3; exit "${PIPESTATUS[0]}")", "pipe"});
    }
    Process cli(args, Output());
    ASSERT_TRUE(WaitUntil([&] { return OutputHas("Передача настроек..."); })) << ReadText(Output());
    if (way != SIGPIPE) cli.Signal(way);
    EXPECT_EQ(cli.Wait(), 130);
    EXPECT_EQ(emulator->Wait(), 1);
    EXPECT_NE(ReadText(dir_ + "/emulator.log").find("the tool aborted"), std::string::npos);
    if (way != SIGPIPE) {
      EXPECT_TRUE(OutputHas("Стоп!........\n"));
    }
    EXPECT_FALSE(OutputHas("ПРЕРВАТЬ"));
  }
}

// A reader that goes away after the first line stops a reception, --json
// or not: exit 130, and the file is as it was.
TEST_F(CliTest, AClosedOutputStopsAReceptionAndKeepsTheFile) {
  WriteFile(File("r.wdb"), {'o', 'l', 'd'});
  for (const bool json : {false, true}) {
    SCOPED_TRACE(json ? "--json" : "text");
    auto emulator = StartEmulator({"--role", "receive", "--paced"});
    std::vector<std::string> args = {"/bin/bash", "-c", R"("$@" | head -n 1; exit "${PIPESTATUS[0]}")", "pipe",
                                     UPDATER_CLI, "receive", File("r.wdb"), "--device", Tty()};
    if (json) args.push_back("--json");
    Process cli(args, Output(), {}, Errors());
    EXPECT_EQ(cli.Wait(), 130) << ReadText(Errors());
    EXPECT_EQ(ReadFile(File("r.wdb")), (Bytes{'o', 'l', 'd'}));
    EXPECT_NE(ReadText(Errors()).find(": stopped: standard output was closed\n"), std::string::npos)
        << ReadText(Errors());
    emulator->Wait();  // its one session ends with the tool
  }
}

// What is written to standard output must arrive: a full one is an error
// with its reason, and exit 10.
TEST_F(CliTest, AStandardOutputThatCannotBeWrittenIsAFileError) {
  WriteFile(File("s.wdb"), Pattern(200000, 13));
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"check", File("s.wdb")}, {"ports"}, {"--help"}, {"send", "--help"}}) {
    SCOPED_TRACE(args.front());
    EXPECT_EQ(RunCli(args, {}, "/dev/full"), 10);
    EXPECT_EQ(ReadText(Errors()), "updater-cli: standard output: No space left on device\n");
  }
  EXPECT_EQ(RunCli({"--help"}), 0);
  EXPECT_TRUE(OutputHas("Exit codes: 0 done; 1 the exchange with the receiver failed;")) << ReadText(Output());
}

// A software file known to be cut short is refused before the receiver is
// contacted; --force sends it, and the failure in the middle gives its
// reason on standard error and in the JSON result.
TEST_F(CliTest, AnUpdateFileCutShortIsRefusedUnlessForced) {
  Bytes cut = MakeWsw({1000, 2001});
  cut.resize(cut.size() - 10);
  WriteFile(File("cut.wsw"), cut);
  auto emulator = StartEmulator({"--role", "update"});
  EXPECT_EQ(RunCli({"update", File("cut.wsw"), "--device", Tty()}), 3);
  EXPECT_EQ(ReadText(Errors()), "updater-cli: " + File("cut.wsw") +
                                    ": record 2 is cut short by the end of the file; the update would fail there "
                                    "(--force sends it all the same)\n");
  EXPECT_FALSE(OutputHas("Подключение..")) << "no receiver contacted";

  EXPECT_EQ(RunCli({"update", File("cut.wsw"), "--device", Tty(), "--force", "--json"}), 1);
  const std::string reason = Tty() + ": Ошибка!>>Получение. (the exchange with the receiver failed)";
  EXPECT_NE(ReadText(Errors()).find("updater-cli: " + reason + "\n"), std::string::npos) << ReadText(Errors());
  std::string result;
  std::istringstream lines(ReadText(Output()));
  for (std::string line; std::getline(lines, line);) {
    const nlohmann::json event = nlohmann::json::parse(line);
    if (event["event"] == "result") result = event.value("reason", "");
  }
  EXPECT_EQ(result, reason);
}

// Ctrl-C asks the stop question when a terminal can answer it (here "д"
// typed ahead); without one nobody could, and it stops at once.  Either way
// the run ends with a line that says it was stopped.
TEST_F(CliTest, CtrlCAsksOnATerminalAndStopsAWaitingUpdateEitherWay) {
  WriteFile(File("u.wsw"), {0x55, 0xAA, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  for (const bool terminal : {true, false}) {
    SCOPED_TRACE(terminal ? "terminal" : "no terminal");
    common::PseudoTerminal input;
    ASSERT_TRUE(input.Ok()) << input.Error();
    if (terminal) input.Write("д\n", std::strlen("д\n"));
    auto emulator = StartEmulator({"--role", "update", "--fault", "silent"});
    Process cli({UPDATER_CLI, "update", File("u.wsw"), "--device", Tty()}, Output(), {}, Errors(),
                terminal ? input.SlavePath() : "/dev/null");
    ASSERT_TRUE(WaitUntil([&] { return OutputHas("Подключение.."); }));
    cli.Signal(SIGINT);
    EXPECT_EQ(cli.Wait(), 130);
    const std::string output = ReadText(Output());
    EXPECT_EQ(output.find("Вы хотите отменить Обновление?") != std::string::npos, terminal) << output;
    EXPECT_NE(output.find("Подождите ............."), std::string::npos);
    EXPECT_NE(output.find("Ошибка!>>Подключение."), std::string::npos);
    EXPECT_NE(ReadText(Errors()).find("updater-cli: " + Tty() + ": stopped by Ctrl-C\n"), std::string::npos)
        << ReadText(Errors());
    emulator->Wait();  // its one session ends with the tool
  }
}

// Ctrl-C while the records go out to a paced receiver: the record in
// progress is still acknowledged and the update ends without an error line;
// the receiver's session ends with the tool, and the next update goes through.
TEST_F(CliTest, CtrlCDuringTheRecordsEndsCleanlyAndTheReceiverTakesTheNextUpdate) {
  WriteFile(File("big.wsw"), MakeWsw(std::vector<std::uint32_t>(20, 4000)));
  const Bytes small = MakeWsw({100});
  WriteFile(File("small.wsw"), small);
  auto emulator = StartEmulator({"--role", "update", "--paced"}, 2);
  Process cli({UPDATER_CLI, "update", File("big.wsw"), "--device", Tty()}, Output());
  ASSERT_TRUE(WaitUntil([&] { return OutputHas(" Получение... "); })) << ReadText(Output());
  cli.Signal(SIGINT);  // no terminal to answer on: a stop at once
  EXPECT_EQ(cli.Wait(), 130);
  EXPECT_TRUE(OutputHas("Подождите ............."));
  EXPECT_FALSE(OutputHas("Ошибка!")) << ReadText(Output());
  EXPECT_EQ(RunCli({"update", File("small.wsw"), "--device", Tty()}), 0) << ReadText(Output());
  EXPECT_EQ(emulator->Wait(), 1);  // the first session did not complete
  EXPECT_EQ(ReadFile(File("out/software-2.wsw")), small);
  EXPECT_NE(ReadText(dir_ + "/emulator.log").find("the tool closed the line"), std::string::npos);
}

// Three receivers at once, the second serving a damaged block: its row says
// so, the others' files are complete and apart, the exit code is its code,
// the JSON events say the same, and each has its own trace.
TEST_F(CliTest, ThreeReceiversAtOnceEachWithItsOwnFileRowEventsAndTrace) {
  const Bytes image = Pattern(200000, 21);
  WriteFile(File("image.bin"), image);
  std::vector<std::unique_ptr<Process>> emulators;
  std::vector<std::string> args = {"receive", File("r.wdb"), "--json", "--trace", File("t.log")};
  for (int i = 1; i <= 3; ++i) {
    const std::string link = File("rx" + std::to_string(i));
    std::vector<std::string> emulator = {RECEIVER_EMULATOR, "updater", "--role", "receive", "--link", link,
                                         "--sessions", "1", "--image", File("image.bin"), "--patience", "20000"};
    if (i == 2) emulator.insert(emulator.end(), {"--fault", "bad-crc", "--fault-block", "100"});
    emulators.push_back(std::make_unique<Process>(emulator, File("emulator" + std::to_string(i) + ".log")));
    ASSERT_TRUE(WaitUntil([&] { return std::filesystem::is_symlink(link); }));
    args.insert(args.end(), {"--device", link});
  }
  EXPECT_EQ(RunCli(args), 1) << ReadText(Errors());
  EXPECT_EQ(ReadFile(File("r-rx1.wdb")), image);
  EXPECT_EQ(ReadFile(File("r-rx3.wdb")), image);
  EXPECT_FALSE(std::filesystem::exists(File("r-rx2.wdb")));
  EXPECT_FALSE(std::filesystem::exists(File("r.wdb")));

  const std::string human = ReadText(Errors());
  EXPECT_NE(human.find("[rx1] Получение настроек...\n"), std::string::npos) << human;
  EXPECT_NE(human.find("[rx3] * Получено удачно! \n"), std::string::npos) << human;
  EXPECT_NE(human.find("\n" + File("rx2") + "  failed "), std::string::npos) << human;
  EXPECT_NE(human.find("\n" + File("rx3") + "  done "), std::string::npos) << human;

  std::map<std::string, int> results;
  int percents = 0;
  std::istringstream lines(ReadText(Output()));
  for (std::string line; std::getline(lines, line);) {
    const nlohmann::json event = nlohmann::json::parse(line);
    if (event["event"] == "result") results[event["device"]] = event["exit_code"];
    if (event["event"] == "percent" && event["device"] == File("rx1")) ++percents;
    if (event["event"] == "summary") {
      EXPECT_EQ(event["exit_code"], 1);
    }
  }
  EXPECT_EQ(results, (std::map<std::string, int>{{File("rx1"), 0}, {File("rx2"), 1}, {File("rx3"), 0}}));
  EXPECT_EQ(percents, 101) << "one per percentage shown, 0 to 100";

  const std::string trace = ReadText(File("t-rx1.log"));
  for (const char* expected : {"-> DB4EU", "<- 2ACK3", "-> 2NXT3", "<- settings header      14  55 55",
                               "<- block header         18  aa aa", "<- data                256 ", "-> 2DVD3"}) {
    EXPECT_NE(trace.find(expected), std::string::npos) << expected << "\n" << trace.substr(0, 1500);
  }
  for (auto& emulator : emulators) emulator->Wait();
}

// check says what a file holds and exits as the operation would refuse it.
TEST_F(CliTest, CheckSaysWhatAFileHoldsAndExitsAsTheOperationWould) {
  WriteFile(File("u.wsw"), MakeWsw({1000, 2001, 3002}));
  Bytes cut = MakeWsw({1000, 2001});
  cut.resize(cut.size() - 10);
  WriteFile(File("cut.wsw"), cut);
  WriteFile(File("large.wdb"), Pattern(300001, 3));
  WriteFile(File("small.wdb"), Pattern(199999, 3));
  struct Case {
    std::vector<std::string> args;
    int code;
    std::string says;
  };
  for (const Case& c : std::vector<Case>{
           {{"check", File("u.wsw")}, 0, "records found:   3 (6003 bytes of payload, the largest 3002)\n"},
           {{"check", File("cut.wsw")}, 3, "record 2 is cut short"},
           {{"check", File("large.wdb")}, 0, "blocks:          1172 of 256 bytes"},
           {{"check", File("large.wdb")}, 0, "base address:    0x7FFA0000 (a large image)"},
           {{"check", File("large.wdb"), "--baud", "9600"}, 0, "transfer time:   347 s at 9600 bit/s"},
           {{"check", File("small.wdb")}, 3, "199999 bytes; a settings file has 200000"},
           {{"check", File("none.wdb")}, 10, "No such file or directory"},
           {{"check", File("u.txt")}, 3, "Не тот Файл!"},
       }) {
    SCOPED_TRACE(c.args.at(1) + " " + c.args.back());
    EXPECT_EQ(RunCli(c.args), c.code);
    EXPECT_NE((ReadText(Output()) + ReadText(Errors())).find(c.says), std::string::npos)
        << ReadText(Output()) << ReadText(Errors());
  }
}

// A device the user may not open: the reason, then what to do.  Root may
// open anything, so as root the tool runs as nobody.
TEST_F(CliTest, PermissionDeniedSaysWhatToDo) {
  const std::string device = File("ttyUSB0");
  WriteFile(device, {});
  ::chmod(device.c_str(), 0);
  ::chmod(dir_.c_str(), 0755);
  std::vector<std::string> args = {UPDATER_CLI, "send", File("s.wdb"), "--device", device};
  WriteFile(File("s.wdb"), Pattern(200000, 5));
  ::chmod(File("s.wdb").c_str(), 0644);
  if (::geteuid() == 0) args.insert(args.begin(), {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
  Process cli(args, Output(), {}, Errors());
  EXPECT_EQ(cli.Wait(), 4);
  EXPECT_NE(ReadText(Errors()).find(device + ": Permission denied\nupdater-cli: " + device + " is open to its owner ("),
            std::string::npos)
      << ReadText(Errors());
  EXPECT_TRUE(OutputHas(device + " открыт только владельцу (")) << ReadText(Output());
}

// What `sha256sum` says of a file.
std::string Sha256Sum(const std::string& path) {
  std::string digest;
  if (std::FILE* pipe = ::popen(("sha256sum '" + path + "'").c_str(), "r")) {
    for (int c = std::fgetc(pipe); c != EOF && c != ' '; c = std::fgetc(pipe)) digest += static_cast<char>(c);
    ::pclose(pipe);
  }
  return digest;
}

// Each outcome of each operation leaves its row, read back with
// `updater-cli history --json`: ok with the file's hash (a reception's
// output file too), refused before any receiver, a port that did not open,
// a failed line, stopped by Ctrl-C, and killed outright (interrupted when
// the history is read next).
TEST_F(CliTest, EachOperationLeavesItsRowInTheHistory) {
  WriteFile(File("s.wdb"), Pattern(200000, 31));
  WriteFile(File("image.bin"), Pattern(200000, 32));
  WriteFile(File("u.wsw"), MakeWsw({1000, 2001}));
  Bytes cut = MakeWsw({1000, 2001});
  cut.resize(cut.size() - 10);
  WriteFile(File("cut.wsw"), cut);
  const std::string history = File("history.sqlite");
  struct Case {
    std::vector<std::string> args;  // after the command: --device, --history and --unit are added
    std::vector<std::string> emulator;  // none: no receiver
    int signal;                     // sent once the transfer has begun
    int code;
    const char* operation;
    const char* result;
    std::string message;            // in the row's message; empty: none
    std::string file;               // the row's file, hashed
  };
  const std::vector<Case> cases = {
      {{"send", File("s.wdb")}, {"--role", "send"}, 0, 0, "send-settings", "ok", "", File("s.wdb")},
      {{"receive", File("r.wdb"), "--baud", "115200"}, {"--role", "receive", "--image", File("image.bin")}, 0, 0,
       "receive-settings", "ok", "", File("r.wdb")},
      {{"update", File("u.wsw")}, {"--role", "update"}, 0, 0, "update-software", "ok", "", File("u.wsw")},
      {{"update", File("cut.wsw")}, {}, 0, 3, "update-software", "refused", "record 2 is cut short", File("cut.wsw")},
      {{"send", File("s.wdb"), "--port", "COM1"}, {}, 0, 4, "send-settings", "failed", File("nothing-here"),
       File("s.wdb")},
      {{"update", File("cut.wsw"), "--force"}, {"--role", "update"}, 0, 1, "update-software", "failed",
       "Ошибка!>>Получение.", File("cut.wsw")},
      {{"send", File("s.wdb")}, {"--role", "send", "--paced"}, SIGINT, 130, "send-settings", "stopped", "",
       File("s.wdb")},
      {{"send", File("s.wdb")}, {"--role", "send", "--paced"}, SIGKILL, -1, "send-settings", "interrupted", "",
       File("s.wdb")},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.args.front() + " " + c.result);
    std::unique_ptr<Process> emulator;
    if (!c.emulator.empty()) emulator = StartEmulator(c.emulator);
    std::vector<std::string> args = {UPDATER_CLI};
    args.insert(args.end(), c.args.begin(), c.args.end());
    if (std::find(args.begin(), args.end(), "--port") == args.end()) args.insert(args.end(), {"--device", Tty()});
    args.insert(args.end(), {"--history", history, "--unit", "U-" + std::to_string(i)});
    Process cli(args, Output(), {"COM1=" + File("nothing-here")}, Errors());
    if (c.signal != 0) {
      ASSERT_TRUE(WaitUntil([&] { return OutputHas("Передача настроек..."); })) << ReadText(Output());
      cli.Signal(c.signal);
    }
    EXPECT_EQ(cli.Wait(), c.code) << ReadText(Errors());
    if (emulator) emulator->Wait();
  }

  ASSERT_EQ(RunCli({"history", "--history", history, "--json"}), 0) << ReadText(Errors());
  const nlohmann::json rows = nlohmann::json::parse(ReadText(Output()));
  ASSERT_EQ(rows.size(), cases.size());
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    const nlohmann::json& row = rows[cases.size() - 1 - i];  // newest first
    SCOPED_TRACE(row.dump());
    EXPECT_EQ(row["program"], "updater-cli");
    EXPECT_EQ(row["operation"], c.operation);
    EXPECT_EQ(row["result"], c.result);
    EXPECT_EQ(row["unit"], "U-" + std::to_string(i));
    EXPECT_EQ(row["file"], c.file);
    if (c.signal != SIGKILL) {
      EXPECT_EQ(row["exit_code"], c.code);
      EXPECT_EQ(row["file_sha256"], Sha256Sum(c.file));
    }
    if (c.message.empty()) {
      EXPECT_TRUE(row["message"].is_null() || row["message"] == "");
    } else {
      EXPECT_NE(row["message"].get<std::string>().find(c.message), std::string::npos);
    }
    const bool byPort = std::find(c.args.begin(), c.args.end(), "--port") != c.args.end();
    EXPECT_EQ(row["port"], byPort ? nlohmann::json("COM1") : nlohmann::json());
    EXPECT_EQ(row["device"], byPort ? File("nothing-here") : Tty());
  }
}

// A history that cannot be written (a folder nobody may write to, a
// corrupt file) changes nothing of the run but one line on standard error.
TEST_F(CliTest, AHistoryThatCannotBeWrittenAddsOneLineAndKeepsTheExitCode) {
  WriteFile(File("s.wdb"), Pattern(200000, 33));
  std::filesystem::create_directory(File("locked"));
  ::chmod(File("locked").c_str(), 0555);
  // Root writes into any folder; nobody writes into /proc.
  const std::string locked = ::geteuid() == 0 ? "/proc/rt-history-test/history.sqlite" : File("locked/history.sqlite");
  WriteFile(File("corrupt.sqlite"), Pattern(8192, 34));
  const std::vector<std::string> send = {"send", File("s.wdb"), "--device", File("nothing-here")};
  auto lines = [&] {
    std::multiset<std::string> set;
    std::istringstream in(ReadText(Errors()));
    for (std::string line; std::getline(in, line);) set.insert(line);
    return set;
  };
  std::vector<std::string> quiet = send;
  quiet.push_back("--no-history");
  ASSERT_EQ(RunCli(quiet), 4);
  const std::multiset<std::string> plain = lines();
  for (const std::string& history : {locked, File("corrupt.sqlite")}) {
    SCOPED_TRACE(history);
    std::vector<std::string> args = send;
    args.insert(args.end(), {"--history", history});
    EXPECT_EQ(RunCli(args), 4);
    std::multiset<std::string> extra = lines();
    for (const std::string& line : plain) {
      const auto found = extra.find(line);
      ASSERT_NE(found, extra.end()) << line;
      extra.erase(found);
    }
    ASSERT_EQ(extra.size(), 1u) << ReadText(Errors());
    EXPECT_EQ(extra.begin()->rfind("updater-cli: history: " + history, 0), 0u) << *extra.begin();
  }
  // The same through RT_HISTORY, and RT_HISTORY=off records nothing.
  EXPECT_EQ(RunCli(send, {"RT_HISTORY=" + locked}), 4);
  EXPECT_EQ(lines().size(), plain.size() + 1) << ReadText(Errors());
  EXPECT_EQ(RunCli(send, {"RT_HISTORY=off"}), 4);
  EXPECT_EQ(lines(), plain);
}

}  // namespace
