#include "common/replacing_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

class ReplacingFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = fs::temp_directory_path() / ("replacing-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    path = (folder / "settings.txt").string();
  }
  void TearDown() override { fs::remove_all(folder); }

  static std::string Contents(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
  }
  std::size_t EntriesInFolder() const {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
  }

  fs::path folder;
  std::string path;
};

TEST_F(ReplacingFileTest, ReplacesAnExistingFileKeepingItsPermissions) {
  std::ofstream(path) << "old contents that are longer";
  ::chmod(path.c_str(), 0640);
  std::string error;
  ASSERT_TRUE(common::ReplaceFile(path, "new", error)) << error;
  EXPECT_EQ(Contents(path), "new");
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(EntriesInFolder(), 1u) << "no temporary file is left";
}

TEST_F(ReplacingFileTest, UncommittedWritesLeaveTheChosenFileAsItWas) {
  std::ofstream(path) << "precious";
  {
    common::ReplacingFile file;
    ASSERT_TRUE(file.Create(path)) << file.Error();
    ASSERT_TRUE(file.Write("half of the new"));
    EXPECT_EQ(Contents(path), "precious");
    EXPECT_EQ(EntriesInFolder(), 2u);
  }
  EXPECT_EQ(Contents(path), "precious");
  EXPECT_EQ(EntriesInFolder(), 1u);
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
