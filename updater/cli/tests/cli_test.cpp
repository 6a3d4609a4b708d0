// updater-cli end to end: the real executable against receiver-emulator,
// both as processes, over a pseudo-terminal reached through a symbolic link.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

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

// A child process with stdin from /dev/null and stdout and stderr to a file
// (stderr to a file of its own when `errorPath` is given).
class Process {
 public:
  Process(std::vector<std::string> args, const std::string& outputPath, std::vector<std::string> extraEnv = {},
          const std::string& errorPath = "") {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
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

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
  const auto deadline = Clock::now() + limit;
  while (!done()) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "updater-cli-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    std::filesystem::create_directory(dir_ + "/out");
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  // Starts the emulator for `sessions` sessions and waits for its device link.
  std::unique_ptr<Process> StartEmulator(std::vector<std::string> extra, int sessions = 1) {
    std::vector<std::string> args = {RECEIVER_EMULATOR, "updater", "--link", Tty(), "--sessions",
                                     std::to_string(sessions), "--store", dir_ + "/out", "--patience", "20000"};
    args.insert(args.end(), extra.begin(), extra.end());
    auto emulator = std::make_unique<Process>(args, dir_ + "/emulator.log");
    EXPECT_TRUE(WaitFor([&] { return std::filesystem::is_symlink(Tty()); })) << ReadText(dir_ + "/emulator.log");
    return emulator;
  }
  int RunCli(std::vector<std::string> args, std::vector<std::string> env = {}) {
    args.insert(args.begin(), UPDATER_CLI);
    Process cli(args, Output(), env, Errors());
    return cli.Wait();
  }
  std::string Tty() const { return dir_ + "/tty"; }
  std::string File(const std::string& name) const { return dir_ + "/" + name; }
  std::string Output() const { return dir_ + "/cli.log"; }
  std::string Errors() const { return dir_ + "/cli.err"; }
  bool OutputHas(const std::string& text) const { return ReadText(Output()).find(text) != std::string::npos; }

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
           {{"send", File("s.wdb"), "--port", "COM5"}, 2, "COM5"},
           {{"send", File("s.wsw")}, 3, "Не тот Файл! " + File("s.wsw") + ": the name of a settings file"},
           {{"receive", File("s.txt")}, 3, "Не тот Файл! " + File("s.txt")},
           {{"update", File("s.wdb")}, 3, "Не тот Файл! " + File("s.wdb") + ": the name of a software file"},
           {{"send", File("software.wdb")}, 3, "Не тот Файл! " + File("software.wdb") + ": begins with 55 AA"},
           {{"send", File("small.wdb"), "--device", none}, 3, File("small.wdb") + ": 199999 bytes"},
           {{"send", File("s.wdb"), "--device", none}, 4, none + ": No such file or directory"},
           {{"update", File("none.wsw"), "--device", none}, 10, File("none.wsw") + ": No such file or directory"},
           {{"receive", File("no-dir/r.wdb"), "--device", none}, 10, File("no-dir") + ": No such file or directory (the folder"},
       }) {
    SCOPED_TRACE(c.args.empty() ? "no arguments" : c.args.front() + " " + c.args.at(1));
    EXPECT_EQ(RunCli(c.args), c.code);
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
    ASSERT_TRUE(WaitFor([&] { return OutputHas("Передача настроек..."); })) << ReadText(Output());
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

TEST_F(CliTest, CtrlCAsksAndStopsAWaitingUpdate) {
  WriteFile(File("u.wsw"), {0x55, 0xAA, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  auto emulator = StartEmulator({"--role", "update", "--fault", "silent"});
  Process cli({UPDATER_CLI, "update", File("u.wsw"), "--device", Tty()}, Output());
  ASSERT_TRUE(WaitFor([&] { return ReadText(Output()).find("Подключение..") != std::string::npos; }));
  cli.Signal(SIGINT);  // no terminal to answer on: taken as yes
  EXPECT_EQ(cli.Wait(), 130);
  const std::string output = ReadText(Output());
  EXPECT_NE(output.find("Вы хотите отменить Обновление?"), std::string::npos) << output;
  EXPECT_NE(output.find("Подождите ............."), std::string::npos);
  EXPECT_NE(output.find("Ошибка!>>Подключение."), std::string::npos);
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
  ASSERT_TRUE(WaitFor([&] { return OutputHas(" Получение... "); })) << ReadText(Output());
  cli.Signal(SIGINT);  // no terminal to answer on: taken as yes
  EXPECT_EQ(cli.Wait(), 130);
  EXPECT_TRUE(OutputHas("Подождите ............."));
  EXPECT_FALSE(OutputHas("Ошибка!")) << ReadText(Output());
  EXPECT_EQ(RunCli({"update", File("small.wsw"), "--device", Tty()}), 0) << ReadText(Output());
  EXPECT_EQ(emulator->Wait(), 1);  // the first session did not complete
  EXPECT_EQ(ReadFile(File("out/software-2.wsw")), small);
  EXPECT_NE(ReadText(dir_ + "/emulator.log").find("the tool closed the line"), std::string::npos);
}

}  // namespace
