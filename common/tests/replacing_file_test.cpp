#include "common/replacing_file.h"
#include "common/testing/test_support.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <utility>
#include <vector>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

class ReplacingFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(temp.Ok());
    folder = temp.Path();
    path = (folder / "settings.txt").string();
  }

  static std::string Contents(const std::string& file) { return common::testing::ReadFile(file); }
  std::size_t EntriesInFolder() const {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
  }

  common::testing::TempFolder temp{"replacing"};
  fs::path folder;
  std::string path;
};

TEST_F(ReplacingFileTest, ReplacesAnExistingFileKeepingItsPermissions) {
  ASSERT_TRUE(common::testing::WriteFile(path, "old contents that are longer"));
  ::chmod(path.c_str(), 0640);
  std::string error;
  ASSERT_TRUE(common::ReplaceFile(path, "new", error)) << error;
  EXPECT_EQ(Contents(path), "new");
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(EntriesInFolder(), 1u) << "no temporary file is left";
}

// Either kind of temporary file: the chosen file stays as it was until the
// commit, and the temporary file is gone once the object is.  An unnamed one
// never shows in the folder at all.
TEST_F(ReplacingFileTest, UncommittedWritesLeaveTheChosenFileAsItWas) {
  using Temporary = common::ReplacingFile::Temporary;
  for (const Temporary kind : {Temporary::kUnnamedWherePossible, Temporary::kNamed}) {
    ASSERT_TRUE(common::testing::WriteFile(path, "precious"));
    {
      common::ReplacingFile file(kind);
      ASSERT_TRUE(file.Create(path)) << file.Error();
      ASSERT_TRUE(file.Write("half of the new"));
      EXPECT_EQ(Contents(path), "precious");
      EXPECT_EQ(EntriesInFolder(), file.Unnamed() ? 1u : 2u);
      if (kind == Temporary::kNamed) {
        EXPECT_FALSE(file.Unnamed());
      }
    }
    EXPECT_EQ(Contents(path), "precious");
    EXPECT_EQ(EntriesInFolder(), 1u);
  }
}

// A process killed while it writes leaves neither a half file nor a
// temporary one (where the file system has unnamed files).
TEST_F(ReplacingFileTest, AProcessKilledWhileWritingLeavesNothingBehind) {
  ASSERT_TRUE(common::testing::WriteFile(path, "precious"));
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    common::ReplacingFile file;
    const char unnamed = file.Create(path) && file.Write("half of the new") && file.Unnamed() ? 'u' : 'n';
    [[maybe_unused]] const auto written = ::write(pipeFds[1], &unnamed, 1);
    ::raise(SIGKILL);
  }
  ::close(pipeFds[1]);
  char unnamed = 0;
  ASSERT_EQ(::read(pipeFds[0], &unnamed, 1), 1);
  ::close(pipeFds[0]);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(Contents(path), "precious");
  if (unnamed != 'u') GTEST_SKIP() << "no unnamed files in " << folder;
  EXPECT_EQ(EntriesInFolder(), 1u);
}

// A chosen path that is a symbolic link (relative or absolute, in a chain,
// or dangling) stays one, and the file it leads to is replaced, keeping its
// permissions; a loop of links is refused.
TEST_F(ReplacingFileTest, ASymbolicLinkStaysAndItsTargetIsReplaced) {
  using Temporary = common::ReplacingFile::Temporary;
  const fs::path elsewhere = folder / "elsewhere";
  fs::create_directories(elsewhere);
  const std::string target = (elsewhere / "real.txt").string();
  const struct {
    const char* what;
    std::vector<std::pair<std::string, std::string>> links;  // link, what it holds
    bool targetExists;
  } cases[] = {
      {"relative", {{"settings.txt", "elsewhere/real.txt"}}, true},
      {"absolute", {{"settings.txt", target}}, true},
      {"chain", {{"settings.txt", "hop"}, {"hop", "elsewhere/../elsewhere/real.txt"}}, true},
      {"dangling", {{"settings.txt", "elsewhere/real.txt"}}, false},
  };
  for (const Temporary kind : {Temporary::kUnnamedWherePossible, Temporary::kNamed}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(c.what);
      fs::remove(target);
      if (c.targetExists) {
        ASSERT_TRUE(common::testing::WriteFile(target, "old"));
        ::chmod(target.c_str(), 0604);
      }
      for (const auto& [link, to] : c.links) {
        fs::remove(folder / link);
        fs::create_symlink(to, folder / link);
      }
      common::ReplacingFile file(kind);
      ASSERT_TRUE(file.Create(path) && file.Write("new") && file.Commit()) << file.Error();
      for (const auto& [link, to] : c.links) EXPECT_EQ(fs::read_symlink(folder / link), to);
      EXPECT_EQ(Contents(target), "new");
      struct stat st {};
      ASSERT_EQ(::stat(target.c_str(), &st), 0);
      if (c.targetExists) {
        EXPECT_EQ(st.st_mode & 07777, 0604u);
      }
      EXPECT_EQ(EntriesInFolder(), 2u + (c.links.size() > 1 ? 1u : 0u));  // the links and elsewhere/
      EXPECT_EQ(std::distance(fs::directory_iterator(elsewhere), fs::directory_iterator()), 1);
      for (const auto& [link, to] : c.links) fs::remove(folder / link);
    }
  }
  fs::create_symlink("loop", folder / "loop");
  common::ReplacingFile file;
  EXPECT_FALSE(file.Create((folder / "loop").string()));
  EXPECT_NE(file.Error().find(std::strerror(ELOOP)), std::string::npos) << file.Error();
}

TEST_F(ReplacingFileTest, CreatesANewFileInPieces) {
  common::ReplacingFile file;
  ASSERT_TRUE(file.Create(path));
  EXPECT_FALSE(fs::exists(path)) << "nothing appears before the commit";
  ASSERT_TRUE(file.Write("ab", 2));
  ASSERT_TRUE(file.Write("cd"));
  ASSERT_TRUE(file.Commit()) << file.Error();
  EXPECT_EQ(Contents(path), "abcd");
  EXPECT_FALSE(file.Commit()) << "committed once";
}

TEST_F(ReplacingFileTest, PlacesThatCannotTakeTheFileAreRefusedUpFront) {
  common::ReplacingFile file;
  EXPECT_FALSE(file.Create((folder / "missing" / "x.txt").string()));
  // The folder is what refused, and the message says so.
  EXPECT_EQ(file.Error().rfind((folder / "missing").string() + ": ", 0), 0u) << file.Error();
  EXPECT_NE(file.Error().find("missing/x.txt"), std::string::npos) << file.Error();
  EXPECT_FALSE(file.Create(folder.string())) << "a folder is not replaced";
  std::string error;
  EXPECT_FALSE(common::ReplaceFile(folder.string(), "x", error));
  EXPECT_FALSE(error.empty());
  EXPECT_TRUE(fs::is_directory(folder));
}

}  // namespace
