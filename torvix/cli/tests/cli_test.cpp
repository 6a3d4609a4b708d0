// torvix-cli as a user runs it: exit codes, messages on standard error, and
// which files exist afterwards.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/testing/test_support.h"
#include "torvix/database/database_image.h"

namespace {

namespace fs = std::filesystem;

struct RunResult {
  int exitCode;
  std::string out;
  std::string err;
};

using common::testing::ReadFile;
using common::testing::WriteFile;

// The smallest valid image: the magic and nothing else.
std::string MagicOnlyImage() {
  std::string image(torvix::DatabaseImage::kSize, '\0');
  image.replace(0, 8, "twinowls");
  return image;
}

class Cli : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.Ok());
    dir_ = folder_.Path();
    // The runs' default history goes into a folder of the test's, not the user's.
    ::setenv("XDG_STATE_HOME", state_.Path().c_str(), 1);
  }

  // Runs the program with `args`, its output and errors captured in files;
  // `wrapper` (a program and its arguments) runs it when given, `output`
  // takes its standard output instead of the capture.
  RunResult Run(const std::vector<std::string>& args, const std::vector<std::string>& wrapper = {},
                const fs::path& output = {}) {
    const fs::path out = output.empty() ? dir_ / "stdout.capture" : output;
    const fs::path err = dir_ / "stderr.capture";
    const pid_t pid = ::fork();
    if (pid == 0) {
      const int outFd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      const int errFd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (outFd < 0 || errFd < 0 || ::dup2(outFd, 1) < 0 || ::dup2(errFd, 2) < 0) ::_exit(127);
      std::vector<char*> argv;
      for (const std::string& w : wrapper) argv.push_back(const_cast<char*>(w.c_str()));
      argv.push_back(const_cast<char*>(TORVIX_CLI_PATH));
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    int status = 0;
    EXPECT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status));
    RunResult r{WEXITSTATUS(status), output.empty() ? ReadFile(out) : "", ReadFile(err)};
    if (output.empty()) fs::remove(out);
    fs::remove(err);
    return r;
  }

  std::string Path(const char* name) const { return (dir_ / name).string(); }
  // Files in the folder other than the capture files: no temporary file may stay behind.
  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  common::testing::TempFolder folder_{"torvix-cli-test"};
  common::testing::TempFolder state_{"torvix-cli-state"};
  fs::path dir_;
};

TEST_F(Cli, CompileThenPrintAndPrintAgainGivesTheSameText) {
  WriteFile(Path("in.txt"), "KVRS\r\ns \"ASTRA\" 9750 10600 u 19.2 e y\r\nt 12663 22000 hor 0 14 0 3/4\r\n"
                            "v \"ZDF\" 1 1 1 2048 4096 4097 4096 4000 0 1 0\r\n");
  RunResult r = Run({"compile", Path("in.txt"), Path("image.bin")});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(fs::file_size(Path("image.bin")), torvix::DatabaseImage::kSize);
  EXPECT_EQ(ReadFile(Path("image.bin")).substr(0, 8), "twinowls");

  r = Run({"print", Path("image.bin"), Path("out.txt")});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  const std::string printed = ReadFile(Path("out.txt"));
  EXPECT_NE(printed.find("\r\nKVRS\r\n"), std::string::npos);
  EXPECT_NE(printed.find("\"ZDF\""), std::string::npos);

  EXPECT_EQ(Run({"compile", Path("out.txt"), Path("image2.bin")}).exitCode, 0);
  EXPECT_EQ(Run({"print", Path("image2.bin"), Path("out2.txt")}).exitCode, 0);
  EXPECT_EQ(ReadFile(Path("out2.txt")), printed);
  EXPECT_EQ(Files(), (std::vector<std::string>{"image.bin", "image2.bin", "in.txt", "out.txt", "out2.txt"}));
}

TEST_F(Cli, RefusedTextExitsWithThreeWhateverTheReadersResultAndKeepsTheOldImage) {
  // The reader's own results (2 and 7 here) would overlap the other exit codes.
  WriteFile(Path("image.bin"), "old image");
  WriteFile(Path("bad.txt"), "# fine\r\ns \"A\" 1 1 u 1 e n n n n\r\nt -1 2 h 0 14 0 a\r\n");
  RunResult r = Run({"compile", Path("bad.txt"), Path("image.bin")});
  EXPECT_EQ(r.exitCode, 3);
  // The reader's message as it is, behind the file and line (GNU form).
  EXPECT_EQ(r.err, Path("bad.txt") + ":3: * Error : line 3. Default TP Data format error.\n   field : frequency\n");
  EXPECT_EQ(ReadFile(Path("image.bin")), "old image");

  WriteFile(Path("mixed.txt"), "s \"A\" 1 1 u 1 e n n n n\r\nt 1 2 h 0 14 0 a\r\nv \"S\" 1 1 1 2 3 4 5 0 0 0\r\na 1\r\n");
  r = Run({"compile", Path("mixed.txt"), Path("image.bin")});
  EXPECT_EQ(r.exitCode, 3);
  EXPECT_EQ(r.err, Path("mixed.txt") + ":4: * Error : line 4. Program information and switch configuration mixed.\n");

  r = Run({"compile", Path("missing.txt"), Path("image.bin")});
  EXPECT_EQ(r.exitCode, 10);
  EXPECT_NE(r.err.find("missing.txt"), std::string::npos);
  EXPECT_EQ(Files(), (std::vector<std::string>{"bad.txt", "image.bin", "mixed.txt"}));
}

TEST_F(Cli, PrintRefusesAnInvalidImageAndKeepsTheOldText) {
  WriteFile(Path("old.txt"), "old text");
  WriteFile(Path("zero.bin"), std::string(torvix::DatabaseImage::kSize, '\0'));
  RunResult r = Run({"print", Path("zero.bin"), Path("old.txt")});
  EXPECT_EQ(r.exitCode, 6);
  EXPECT_EQ(r.err, "Factory data of the receiver is not valid.\ntorvix-cli: " + Path("zero.bin") +
                       ": not a database image (it does not begin with \"twinowls\")\n");
  EXPECT_EQ(ReadFile(Path("old.txt")), "old text");

  WriteFile(Path("short.bin"), "twinowls");
  r = Run({"print", Path("short.bin"), Path("new.txt")});
  EXPECT_EQ(r.exitCode, 6);
  EXPECT_NE(r.err.find("131072"), std::string::npos);
  EXPECT_FALSE(fs::exists(Path("new.txt")));

  // A folder that does not exist: nothing can be written.
  WriteFile(Path("ok.bin"), MagicOnlyImage());
  r = Run({"print", Path("ok.bin"), Path("no-such-folder/out.txt")});
  EXPECT_EQ(r.exitCode, 10);
  EXPECT_NE(r.err.find("no-such-folder"), std::string::npos);
  EXPECT_EQ(Files(), (std::vector<std::string>{"ok.bin", "old.txt", "short.bin", "zero.bin"}));
}

// compile says what the list holds, an empty one too.
TEST_F(Cli, CompileSaysWhatTheListHolds) {
  struct Case {
    const char* text;
    const char* says;
  };
  for (const Case c : {Case{"", "0 satellites, 0 transponders, 0 services, 0 antennas"},
                       Case{"KVRS\r\na 1 universal 9750 10600 f n n n n\r\ns \"ASTRA\" 9750 10600 u 19.2 e y\r\n"
                            "t 12663 22000 hor 0 14 0 3/4\r\nv \"ZDF\" 1 1 1 2048 4096 4097 4096 4000 0 1 0\r\n",
                            "1 satellite, 1 transponder, 1 service, 1 antenna"}}) {
    SCOPED_TRACE(c.says);
    WriteFile(Path("list.txt"), c.text);
    const RunResult r = Run({"compile", Path("list.txt"), Path("list.img")});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, Path("list.txt") + ": " + c.says + "\n");
  }
}

// Every file argument that is a folder, cannot be read (or written), is
// missing or is a full device: "FILE: reason" and exit 10, no crash, and no
// file left behind.  Root may read anything, so as root the unreadable cases
// run as nobody.
TEST_F(Cli, FileArgumentsThatCannotBeUsedAreNamedWithTheReason) {
  WriteFile(Path("good.txt"), "# nothing\r\n");
  WriteFile(Path("good.img"), MagicOnlyImage());
  fs::create_directory(Path("folder"));
  WriteFile(Path("locked"), "# locked\r\n");
  ::chmod(Path("locked").c_str(), 0);
  ::chmod(dir_.c_str(), 0755);
  const std::string missingInput = Path("missing");
  enum Kind { kFolder, kLocked, kMissing, kFull };
  struct Case {
    std::vector<std::string> args;  // "{}" stands for the file
    bool output;
    std::vector<Kind> kinds;
  };
  const std::string code = "5082613";
  const std::string none = "/nonexistent/tty";
  const std::vector<Case> cases = {
      {{"compile", "{}", Path("out.img")}, false, {kFolder, kLocked, kMissing}},
      {{"compile", Path("good.txt"), "{}"}, true, {kFolder, kLocked, kMissing, kFull}},
      {{"print", "{}", Path("out.txt")}, false, {kFolder, kLocked, kMissing}},
      {{"print", Path("good.img"), "{}"}, true, {kFolder, kLocked, kMissing, kFull}},
      {{"check-rom", "{}"}, false, {kFolder, kLocked, kMissing}},
      {{"write-factory-data", "{}", "--device", none}, false, {kFolder, kLocked, kMissing}},
      {{"upgrade", "--mode", "4", "{}", "--access-code", code, "--device", none}, false, {kFolder, kLocked, kMissing}},
      {{"upgrade", "--mode", "1", "{}", "--device", none}, false, {kFolder, kMissing}},
      {{"read-user-data", "{}", "--device", none}, true, {kFolder, kLocked, kMissing}},
  };
  const std::vector<std::string> files = Files();
  for (const Case& c : cases) {
    for (const Kind kind : c.kinds) {
      std::string file;
      std::string named;  // the path the reason is about
      std::string reason;
      switch (kind) {
        case kFolder: file = named = Path("folder"), reason = "Is a directory"; break;
        case kLocked: file = named = Path("locked"), reason = "Permission denied"; break;
        case kMissing:
          file = c.output ? Path("gone/out") : missingInput;
          named = c.output ? Path("gone") : missingInput;
          reason = "No such file or directory";
          break;
        case kFull: file = named = "/dev/full", reason = "No space left on device"; break;
      }
      std::vector<std::string> args = c.args;
      std::replace(args.begin(), args.end(), std::string("{}"), file);
      SCOPED_TRACE(args[0] + " " + file);
      std::vector<std::string> wrapper;
      if (kind == kLocked && ::geteuid() == 0) {
        wrapper = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
      }
      const RunResult r = Run(args, wrapper);
      EXPECT_EQ(r.exitCode, 10) << r.out << r.err;
      EXPECT_NE(r.err.find(named + ": " + reason), std::string::npos) << r.err;
      EXPECT_EQ(Files(), files);
    }
  }
}

TEST_F(Cli, ExistingOutputKeepsItsPermissions) {
  WriteFile(Path("ok.bin"), MagicOnlyImage());
  WriteFile(Path("out.txt"), "old");
  fs::permissions(Path("out.txt"), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_EQ(Run({"print", Path("ok.bin"), Path("out.txt")}).exitCode, 0);
  EXPECT_EQ(fs::status(Path("out.txt")).permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_NE(ReadFile(Path("out.txt")), "old");
}

TEST_F(Cli, HelpAndUsageErrors) {
  RunResult r = Run({"--help"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(r.out.find("compile"), std::string::npos);
  EXPECT_NE(r.out.find("print"), std::string::npos);
  for (const char* command : {"compile", "print", "connect", "read-user-data", "write-factory-data", "upgrade"}) {
    r = Run({command, "--help"});
    EXPECT_EQ(r.exitCode, 0) << command;
    EXPECT_NE(r.out.find("Exit codes"), std::string::npos) << command;
  }
  const std::vector<std::vector<std::string>> usage = {
      {}, {"compile"}, {"compile", "only-one"}, {"print", "a", "b", "c"}, {"frobnicate"},
      {"compile", "--bogus", "a", "b"}, {"upgrade", "rom.bin"}, {"upgrade", "--mode", "5", "rom.bin"},
      {"connect", "--port", "0"}};
  for (const auto& args : usage) {
    r = Run(args);
    EXPECT_EQ(r.exitCode, 2) << (args.empty() ? "" : args[0]);
    EXPECT_FALSE(r.err.empty());
  }
  EXPECT_EQ(Run({"frobnicate"}).err.rfind("torvix-cli: frobnicate: unknown subcommand; the subcommands are ", 0), 0u);
  EXPECT_TRUE(Files().empty());
}

// What is written to standard output must arrive: a full one is an error
// with its reason, and exit 10.
TEST_F(Cli, AStandardOutputThatCannotBeWrittenIsAFileError) {
  std::string rom(2 * 1024 * 1024, '\0');
  rom.replace(0, 40, "Kalmer VELOX Series ****T**** ROM image.");
  WriteFile(Path("rom.bin"), rom);
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"check-rom", Path("rom.bin")}, {"ports"}, {"ports", "--json"}, {"--help"}, {"upgrade", "--help"}}) {
    SCOPED_TRACE(args.front() + " " + args.back());
    const RunResult r = Run(args, {}, "/dev/full");
    EXPECT_EQ(r.exitCode, 10);
    EXPECT_EQ(r.err, "torvix-cli: standard output: No space left on device\n");
  }
}

// A device the user may not open: the box gives the reason, then what to do.
// Root may open anything, so as root the tool runs as nobody.
TEST_F(Cli, PermissionDeniedSaysWhatToDo) {
  const std::string device = Path("ttyUSB0");
  WriteFile(device, "");
  ::chmod(device.c_str(), 0);
  ::chmod(dir_.c_str(), 0755);
  std::vector<std::string> wrapper;
  if (::geteuid() == 0) wrapper = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
  const RunResult r = Run({"connect", "--device", device}, wrapper);
  EXPECT_EQ(r.exitCode, 4);
  EXPECT_NE(r.err.find("[Serial Communication Device Error] " + device + ": Permission denied\n" + device +
                       " is open to its owner ("),
            std::string::npos)
      << r.err;
}

}  // namespace
