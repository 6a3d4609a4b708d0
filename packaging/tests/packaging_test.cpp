// The programs as a Debian user gets them: `cmake --install` into a
// temporary prefix, the packages CPack builds from this build, and the manual
// pages read against what the command lines' --help says.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "common/testing/test_support.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

// Every installed file, below the prefix, with the package that holds it.
struct Installed {
  const char* package;
  const char* path;
};
constexpr Installed kInstalled[] = {
    {"torvix", "bin/torvix"},
    {"torvix", "bin/torvix-cli"},
    {"torvix", "bin/torvix-channels"},
    {"torvix", "share/applications/torvix.desktop"},
    {"torvix", "share/applications/torvix-channels.desktop"},
    {"torvix", "share/icons/hicolor/scalable/apps/torvix.svg"},
    {"torvix", "share/icons/hicolor/scalable/apps/torvix-channels.svg"},
    {"torvix", "share/man/man1/torvix.1.gz"},
    {"torvix", "share/man/man1/torvix-cli.1.gz"},
    {"torvix", "share/man/man1/torvix-channels.1.gz"},
    {"torvix", "share/doc/torvix/copyright"},
    {"torvix", "share/doc/torvix/changelog.gz"},
    {"updater", "bin/updater"},
    {"updater", "bin/updater-cli"},
    {"updater", "share/applications/updater.desktop"},
    {"updater", "share/icons/hicolor/scalable/apps/updater.svg"},
    {"updater", "share/man/man1/updater.1.gz"},
    {"updater", "share/man/man1/updater-cli.1.gz"},
    {"updater", "share/doc/updater/copyright"},
    {"updater", "share/doc/updater/changelog.gz"},
    {"receiver-emulator", "bin/receiver-emulator"},
    {"receiver-emulator", "share/man/man1/receiver-emulator.1.gz"},
    {"receiver-emulator", "share/doc/receiver-emulator/copyright"},
    {"receiver-emulator", "share/doc/receiver-emulator/changelog.gz"},
};

struct CommandLine {
  const char* name;
  const char* binary;
};
constexpr CommandLine kCommandLines[] = {
    {"torvix-cli", TORVIX_CLI},
    {"updater-cli", UPDATER_CLI},
    {"receiver-emulator", RECEIVER_EMULATOR},
};

std::set<std::string> InstalledPaths(const std::string& package = "") {
  std::set<std::string> paths;
  for (const Installed& file : kInstalled) {
    if (package.empty() || package == file.package) paths.insert(file.path);
  }
  return paths;
}

struct Ran {
  int exitCode = -1;  // -1: did not start or did not exit normally
  std::string out;    // standard output; standard error stays the test's
};

// Runs argv[0] (looked up in PATH) and collects its standard output; blocks
// until it ends.
Ran RunProgram(const std::vector<std::string>& argv) {
  Ran ran;
  int pipeEnds[2];
  if (::pipe2(pipeEnds, O_CLOEXEC) != 0) return ran;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeEnds[1]);
  if (spawned == 0) {
    char buffer[4096];
    for (;;) {
      const ssize_t n = ::read(pipeEnds[0], buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      ran.out.append(buffer, static_cast<std::size_t>(n));
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) ran.exitCode = WEXITSTATUS(status);
  }
  ::close(pipeEnds[0]);
  return ran;
}

bool Have(const std::string& tool) {
  const char* path = std::getenv("PATH");
  std::istringstream dirs(path != nullptr ? path : "");
  for (std::string dir; std::getline(dirs, dir, ':');) {
    if (!dir.empty() && ::access((dir + "/" + tool).c_str(), X_OK) == 0) return true;
  }
  return false;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string Trimmed(std::string text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
  return text;
}

std::string FirstWord(const std::string& text) {
  const std::size_t start = text.find_first_not_of(' ');
  if (start == std::string::npos) return "";
  return text.substr(start, text.find(' ', start) - start);
}

// The value of `key=` in a desktop entry's text, empty when absent.
std::string DesktopValue(const std::string& entry, const std::string& key) {
  for (const std::string& line : Lines(entry)) {
    if (line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
  }
  return "";
}

// Commands and their arguments and options as a help text or a manual page
// lists them: "" for the program's own, else the command's name, each mapped
// to the first words of its entries ("-h,--help", "--port", "FILE").
using Entries = std::map<std::string, std::set<std::string>>;

// The first words of the entries in the named sections of a CLI11 help text.
std::set<std::string> HelpEntries(const std::string& help, const std::set<std::string>& sections) {
  std::set<std::string> entries;
  std::string section;
  for (const std::string& line : Lines(help)) {
    if (line.empty()) {
      section.clear();
    } else if (line[0] != ' ' && line.back() == ':') {
      section = line;
    } else if (sections.count(section) != 0 && line.rfind("  ", 0) == 0 && line.size() > 2 && line[2] != ' ') {
      entries.insert(FirstWord(line));
    }
  }
  return entries;
}

Entries EntriesOfHelp(const std::string& binary) {
  const std::string top = RunProgram({binary, "--help"}).out;
  Entries entries{{"", HelpEntries(top, {"Options:"})}};
  for (const std::string& command : HelpEntries(top, {"Subcommands:"})) {
    entries[command] = HelpEntries(RunProgram({binary, command, "--help"}).out, {"Positionals:", "Options:"});
  }
  return entries;
}

// Roff text as read: font changes and zero-width marks dropped, \- and \e
// as the characters they stand for.
std::string Unroff(const std::string& roff) {
  std::string text;
  for (std::size_t i = 0; i < roff.size(); ++i) {
    if (roff[i] != '\\' || i + 1 == roff.size()) {
      text += roff[i];
      continue;
    }
    const char escape = roff[++i];
    if (escape == 'f') {
      i += (i + 1 < roff.size() && roff[i + 1] == '(') ? 3 : 1;  // \fB or \f(CW
    } else if (escape == '-') {
      text += '-';
    } else if (escape == 'e') {
      text += '\\';
    }  // \, \/ \& print nothing
  }
  return text;
}

std::string Unquote(const std::string& text) {
  return text.size() >= 2 && text.front() == '"' && text.back() == '"' ? text.substr(1, text.size() - 2) : text;
}

// The program's options (section OPTIONS) and each command's entries
// (subsection of COMMANDS) of a page as scripts/manpages.sh makes it.
Entries EntriesOfPage(const std::string& page) {
  Entries entries;
  std::string section;
  std::string command;
  bool tag = false;
  for (const std::string& line : Lines(page)) {
    if (line.rfind(".SH ", 0) == 0) {
      section = Unquote(line.substr(4));
      if (section == "OPTIONS") entries[""];
    } else if (line.rfind(".SS ", 0) == 0 && section == "COMMANDS") {
      command = Unquote(line.substr(4));
      entries[command];
    } else if (line == ".TP") {
      tag = true;
      continue;
    } else if (tag && section == "OPTIONS") {
      entries[""].insert(FirstWord(Unroff(line)));
    } else if (tag && section == "COMMANDS") {
      entries[command].insert(FirstWord(Unroff(line)));
    }
    tag = false;
  }
  return entries;
}

// The third field of the page's .TH line, where help2man puts the first line
// of --version.
std::string PageVersion(const std::string& page) {
  for (const std::string& line : Lines(page)) {
    if (line.rfind(".TH ", 0) != 0) continue;
    std::vector<std::string> fields;
    for (std::size_t open = line.find('"'); open != std::string::npos; open = line.find('"', open + 1)) {
      const std::size_t close = line.find('"', open + 1);
      if (close == std::string::npos) break;
      fields.push_back(line.substr(open + 1, close - open - 1));
      open = close;
    }
    return fields.size() > 2 ? fields[2] : "";
  }
  return "";
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(ManPages, ListTheCommandsOptionsAndVersionThatTheProgramsShow) {
  for (const CommandLine& program : kCommandLines) {
    SCOPED_TRACE(program.name);
    const std::string page = ReadFile(fs::path(RT_MAN_SOURCE_DIR) / (std::string(program.name) + ".1"));
    ASSERT_FALSE(page.empty());
    const Entries help = EntriesOfHelp(program.binary);
    ASSERT_GT(help.size(), 1u) << "no commands in --help";
    EXPECT_EQ(EntriesOfPage(page), help) << "the manual page is stale: bash scripts/manpages.sh";
    EXPECT_EQ(PageVersion(page) + "\n", RunProgram({program.binary, "--version"}).out)
        << "the manual page is stale: bash scripts/manpages.sh";
  }
}

TEST(Install, PutsEveryFileWhereTheDesktopAndManLookForIt) {
  common::testing::TempFolder prefix("packaging-test");
  ASSERT_TRUE(prefix.Ok());
  ASSERT_EQ(RunProgram({RT_CMAKE, "--install", RT_BUILD_DIR, "--prefix", prefix.Path().string()}).exitCode, 0);

  std::set<std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(prefix.Path())) {
    if (!entry.is_directory()) files.insert(fs::relative(entry.path(), prefix.Path()).string());
  }
  EXPECT_EQ(files, InstalledPaths());

  for (const CommandLine& program : kCommandLines) {
    EXPECT_EQ(RunProgram({(prefix.Path() / "bin" / program.name).string(), "--version"}).out,
              std::string(program.name) + " " + RT_VERSION + "\n");
  }
  for (const std::string program : {"torvix", "torvix-channels", "updater"}) {
    SCOPED_TRACE(program);
    EXPECT_EQ(fs::status(prefix.Path() / "bin" / program).permissions() & fs::perms::others_exec, fs::perms::others_exec);
    const fs::path desktop = prefix.Path() / "share/applications" / (program + ".desktop");
    const std::string entry = ReadFile(desktop);
    EXPECT_EQ(FirstWord(DesktopValue(entry, "Exec")), program);
    EXPECT_TRUE(fs::exists(prefix.Path() / "share/icons/hicolor/scalable/apps" / (DesktopValue(entry, "Icon") + ".svg")));
    if (Have("desktop-file-validate")) {
      EXPECT_EQ(RunProgram({"desktop-file-validate", desktop.string()}).exitCode, 0);
    }
  }
  if (!Have("man")) GTEST_SKIP() << "man is not installed: the pages' places are not looked up";
  for (const std::string page :
       {"torvix", "torvix-cli", "torvix-channels", "updater", "updater-cli", "receiver-emulator"}) {
    const fs::path file = prefix.Path() / "share/man/man1" / (page + ".1.gz");
    EXPECT_EQ(RunProgram({"man", "-M", (prefix.Path() / "share/man").string(), "-w", page}).out, file.string() + "\n");
  }
}

TEST(Packages, HoldTheirFilesAndDependOnWhatTheProgramsLoad) {
  if (!Have("dpkg-deb") || !Have("dpkg-shlibdeps")) {
    GTEST_SKIP() << "dpkg-deb or dpkg-shlibdeps (dpkg-dev) is not installed";
  }
  common::testing::TempFolder out("packaging-test");
  ASSERT_TRUE(out.Ok());
  ASSERT_EQ(RunProgram({RT_CPACK, "--config", std::string(RT_BUILD_DIR) + "/CPackConfig.cmake", "-B", out.Path().string()})
                .exitCode,
            0);
  const std::string architecture = Trimmed(RunProgram({"dpkg", "--print-architecture"}).out);
  struct Expected {
    const char* package;
    std::vector<std::string> depends;  // among others
    bool qt;
  };
  for (const Expected& expected : {Expected{"torvix", {"libqt6widgets6", "libqt6svg6"}, true},
                                   Expected{"updater", {"libqt6widgets6", "libqt6svg6"}, true},
                                   Expected{"receiver-emulator", {"libc6", "libstdc++6"}, false}}) {
    SCOPED_TRACE(expected.package);
    const std::string deb =
        (out.Path() / (std::string(expected.package) + "_" + RT_VERSION + "_" + architecture + ".deb")).string();
    ASSERT_TRUE(fs::exists(deb));

    std::set<std::string> files;
    for (const std::string& line : Lines(RunProgram({"dpkg-deb", "--contents", deb}).out)) {
      const std::string path = line.substr(line.rfind(' ') + 1);
      if (line.rfind('-', 0) == 0 && path.rfind("./usr/", 0) == 0) files.insert(path.substr(6));
    }
    EXPECT_EQ(files, InstalledPaths(expected.package));

    const std::string depends = RunProgram({"dpkg-deb", "--field", deb, "Depends"}).out;
    std::set<std::string> dependedOn;
    std::istringstream list(depends);
    for (std::string item; std::getline(list, item, ',');) dependedOn.insert(FirstWord(Trimmed(item)));
    for (const std::string& package : expected.depends) EXPECT_EQ(dependedOn.count(package), 1u) << depends;
    EXPECT_EQ(depends.find("libqt6") != std::string::npos, expected.qt) << depends;
    // Nothing runs at installation or removal.
    const std::string info = RunProgram({"dpkg-deb", "--info", deb}).out;
    for (const char* script : {"preinst", "postinst", "prerm", "postrm"}) EXPECT_EQ(info.find(script), std::string::npos);
  }
}

}  // namespace
