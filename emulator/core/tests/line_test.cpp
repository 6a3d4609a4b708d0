#include "emulator/core/line.h"
#include "common/testing/test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "common/serial_line.h"

namespace {

using Clock = std::chrono::steady_clock;


TEST(EmulatorLine, DeviceIsReachableThroughTheLinkWhichGoesAwayAfterwards) {
  const common::testing::TempFolder folder("emu-line");
  ASSERT_TRUE(folder.Ok());
  const std::string link = folder / "line";
  {
    emulator::Line line({link, false});
    ASSERT_TRUE(line.Ok()) << line.Error();
    EXPECT_EQ(line.DevicePath(), link);
    common::SerialLine tool;
    ASSERT_TRUE(tool.Open(link)) << tool.LastErrorText();
    ASSERT_TRUE(tool.Configure(19200));
    EXPECT_EQ(line.ToolBaud(), 19200u);
    ASSERT_TRUE(line.Send({'o', 'k'}));
    tool.SetReadLimits({0, 100, 100});
    char buffer[2];
    std::size_t got = 0;
    ASSERT_TRUE(tool.Read(buffer, 2, got));
    EXPECT_EQ(got, 2u);
  }
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
}

TEST(EmulatorLine, NeverReplacesARegularFile) {
  const common::testing::TempFolder folder("emu-file");
  ASSERT_TRUE(folder.Ok());
  const std::string path = folder / "file";
  ASSERT_TRUE(common::testing::WriteFile(path, ""));
  emulator::Line line({path, false});
  EXPECT_FALSE(line.Ok());
  EXPECT_TRUE(std::filesystem::is_regular_file(path));
}

// A second emulator does not take over a path the first serves, and an
// emulator removes only a link that still leads to its own line; a link left
// by one that is gone is taken over.
TEST(EmulatorLine, APathServedByALiveEmulatorIsRefusedAndOnlyItsOwnLinkRemoved) {
  namespace fs = std::filesystem;
  const common::testing::TempFolder folder("emu-held");
  ASSERT_TRUE(folder.Ok());
  const std::string link = folder / "line";
  {
    emulator::Line first({link, false});
    ASSERT_TRUE(first.Ok()) << first.Error();
    {
      emulator::Line second({link, false});
      EXPECT_FALSE(second.Ok());
      EXPECT_NE(second.Error().find("another receiver-emulator"), std::string::npos) << second.Error();
    }
    EXPECT_EQ(fs::read_symlink(link), first.Pty().SlavePath());
  }
  EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
  fs::create_symlink("/dev/pts/gone", link);
  {
    emulator::Line third({link, false});
    ASSERT_TRUE(third.Ok()) << third.Error();
    fs::remove(link);
    fs::create_symlink("/dev/null", link);  // someone points it elsewhere meanwhile
  }
  EXPECT_EQ(fs::read_symlink(link), "/dev/null");
}

TEST(EmulatorLine, PacedBytesTakeTheirLineTime) {
  emulator::Line line({"", true});
  ASSERT_TRUE(line.Ok());
  common::SerialLine tool;
  ASSERT_TRUE(tool.Open(line.DevicePath()));
  ASSERT_TRUE(tool.Configure(9600));
  // 96 bytes at 9600 bit/s, ten bits each: 100 ms.
  const std::vector<std::uint8_t> bytes(96, 0x33);
  auto start = Clock::now();
  ASSERT_TRUE(line.Send(bytes));
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(100));
  std::size_t written = 0;
  ASSERT_TRUE(tool.Write(bytes.data(), bytes.size(), written));
  start = Clock::now();
  EXPECT_EQ(line.Receive(bytes.size(), 1000).size(), bytes.size());
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(99));
}

}  // namespace
