// The emulated receiver of the token protocol and the tool that talks to it:
// a session belongs to one tool, and the line is left clean for the next.
#include "emulator/token/token_receiver.h"
#include "common/testing/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <future>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "common/serial_line.h"

namespace {

using emulator::TokenOptions;
using emulator::TokenReceiver;
using emulator::TokenRole;
using emulator::TokenSession;

// Runs one session on its own thread.
std::future<TokenSession> StartSession(TokenReceiver& receiver) {
  return std::async(std::launch::async, [&receiver] { return receiver.RunSession(); });
}

// A tool of our own on the line: 115200 bit/s, reads of up to a second.
struct Tool {
  explicit Tool(const std::string& path) {
    EXPECT_TRUE(line.Open(path) && line.Configure(115200)) << line.LastErrorText();
    line.SetReadLimits({1000, 0, 1000});
  }
  std::string Read(std::size_t n) {
    std::string text(n, '\0');
    std::size_t got = 0;
    line.Read(text.data(), n, got);
    return text.substr(0, got);
  }
  void Write(const std::string& text) {
    std::size_t written = 0;
    line.Write(text.data(), text.size(), written);
  }
  common::SerialLine line;
};

// A tool that stops halfway, or is killed, ends the session at once, however
// patient the receiver; and the next tool finds nothing of the last one's
// left on the line, nor its exclusive hold.
TEST(TokenReceiver, ASessionEndsWhenItsToolLetsGoOfTheLine) {
  struct Case {
    const char* name;
    TokenRole role;
    std::function<void(const std::string& path)> tool;
  };
  for (const Case& c : std::vector<Case>{
           {"killed before it said a word", TokenRole::kAcceptSettings,
            [](const std::string& path) {
              // As a killed tool leaves it: exclusive, and closed without a
              // word once the receiver has spoken.
              const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
              ASSERT_GE(fd, 0);
              ::ioctl(fd, TIOCEXCL);
              pollfd readable{fd, POLLIN, 0};
              EXPECT_EQ(::poll(&readable, 1, 10000), 1);
              ::close(fd);
            }},
           {"stopped after the handshake", TokenRole::kServeSettings,
            [](const std::string& path) {
              Tool tool(path);
              tool.Write("DB4EU");
              EXPECT_EQ(tool.Read(5), "2ACK3");
            }},
           {"stopped after answering the announcement", TokenRole::kAcceptSoftware,
            [](const std::string& path) {
              Tool tool(path);
              EXPECT_EQ(tool.Read(5), "UP2SW");
              tool.Write("2ACK3");
            }},
       }) {
    SCOPED_TRACE(c.name);
    emulator::Line line({"", false});
    ASSERT_TRUE(line.Ok()) << line.Error();
    TokenOptions options;
    options.role = c.role;
    options.image = TokenReceiver::SampleImage();
    options.patience = std::chrono::milliseconds(-1);
    TokenReceiver receiver(line, options);
    auto session = StartSession(receiver);
    c.tool(line.DevicePath());
    if (session.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
      receiver.Stop();
      ADD_FAILURE() << "the session outlived its tool";
    }
    EXPECT_EQ(session.get().error, "the tool closed the line");
    ASSERT_TRUE(receiver.ReleaseLine(std::chrono::milliseconds(-1)));
    // What the next tool finds.
    const int next = ::open(line.DevicePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(next, 0);
    int waiting = 1;
    int exclusive = 1;
    EXPECT_EQ(::ioctl(next, FIONREAD, &waiting), 0);
    EXPECT_EQ(::ioctl(next, TIOCGEXCL, &exclusive), 0);
    ::close(next);
    EXPECT_EQ(waiting, 0);
    EXPECT_EQ(exclusive, 0);
  }
}

// An emulator may wait long for its first tool: its patience counts only
// once a tool has come.
TEST(TokenReceiver, PatienceCountsOnceTheToolHasCome) {
  emulator::Line line({"", false});
  ASSERT_TRUE(line.Ok()) << line.Error();
  TokenOptions options;
  options.role = TokenRole::kServeSettings;
  options.patience = std::chrono::milliseconds(100);
  TokenReceiver receiver(line, options);
  auto session = StartSession(receiver);
  EXPECT_EQ(session.wait_for(std::chrono::milliseconds(400)), std::future_status::timeout);
  Tool tool(line.DevicePath());  // comes, and says nothing
  ASSERT_EQ(session.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_EQ(session.get().error, "the tool fell silent");
}

// A served image whose 256-byte blocks the header's 16-bit count cannot
// count is refused when the emulator starts, before any line appears.
TEST(TokenReceiver, AnImageTooLargeForTheBlockCountIsRefusedAtStart) {
  const common::testing::TempFolder folder("emu-image");
  ASSERT_TRUE(folder.Ok());
  const std::filesystem::path& dir = folder.Path();
  const std::string image = (dir / "image.bin").string();
  ASSERT_TRUE(common::testing::WriteFile(image, ""));
  std::filesystem::resize_file(image, emulator::kLargestServedImage + 1);
  const std::string command = std::string(RECEIVER_EMULATOR) + " updater --role receive --image " + image + " " +
                              (dir / "tty").string() + " 2>" + (dir / "err").string();
  const int status = std::system(command.c_str());
  EXPECT_EQ(WEXITSTATUS(status), 2);
  const std::string text = common::testing::ReadFile(dir / "err");
  EXPECT_NE(text.find("16776961 bytes; a settings image has at most 16776960"), std::string::npos) << text;
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(dir / "tty")));
}

}  // namespace

// The built-in image looks like a receiver's settings file: whole blocks,
// no software signature (55 AA) in front, a header that names the model,
// format and size, a channel list and erased flash behind it.
TEST(TokenReceiver, TheSampleImageLooksLikeASettingsFile) {
  const std::vector<std::uint8_t> image = TokenReceiver::SampleImage();
  ASSERT_EQ(image.size(), 200192u);
  EXPECT_EQ(image, TokenReceiver::SampleImage());
  const std::vector<std::uint8_t> head = {'D', 'B', '4', 'E', 'U', 0, 0, 0, 0x01, 0x00, 0x03, 0x0E, 0x00, 0x03, 0x0E, 0x00};
  EXPECT_EQ(std::vector<std::uint8_t>(image.begin(), image.begin() + 16), head);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&image[0x10])), "Q5100 settings");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&image[0x108])), "Channel 001");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&image[0x100 + 47 * 32 + 8])), "Channel 048");
  EXPECT_EQ(std::count(image.begin() + 0x100 + 48 * 32, image.end(), 0xFF), 200192 - 0x100 - 48 * 32);
}

// Runs the emulator with `args`; its exit code, its standard output and error
// in `out`.
int RunEmulator(const std::string& args, const std::filesystem::path& dir, std::string& out) {
  const std::string command = std::string(RECEIVER_EMULATOR) + " " + args + " >" + (dir / "out").string() + " 2>&1";
  const int status = std::system(command.c_str());
  out = common::testing::ReadFile(dir / "out");
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A wrong command line and a file that is not there end with the codes of
// the table both command lines share.
TEST(ReceiverEmulator, ExitCodesOfTheSharedTable) {
  const common::testing::TempFolder folder("emu-exit");
  ASSERT_TRUE(folder.Ok());
  const std::filesystem::path& dir = folder.Path();
  const std::string tty = (dir / "tty").string();
  const std::string missing = (dir / "missing").string();
  const struct {
    std::string args;
    int code;
    std::string says;
  } cases[] = {
      {"", 2, "A subcommand is required"},
      {"link", 2, "a PATH for the line is needed"},
      {"link --block-size 0 " + tty, 2, "--block-size"},
      {"updater " + tty, 2, "--role is required"},
      {"updater --role fly " + tty, 2, "--role"},
      {"updater --role update --model DB4 " + tty, 2, "must be five bytes"},
      {"link --database " + missing + " " + tty, 10, "File does not exist: " + missing},
      {"updater --role receive --image " + missing + " " + tty, 10, "File does not exist: " + missing},
      {"updater --role send --store " + missing + " " + tty, 10, "Directory does not exist: " + missing},
      {"link --write-sample " + missing + "/sample.bin", 10, "cannot write " + missing + "/sample.bin"},
      {"--version", 0, "receiver-emulator "},
  };
  for (const auto& c : cases) {
    std::string out;
    EXPECT_EQ(RunEmulator(c.args, dir, out), c.code) << c.args << ": " << out;
    EXPECT_NE(out.find(c.says), std::string::npos) << c.args << ": " << out;
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(tty))) << c.args;
  }
}

// A session that served an image says how much it sent.
TEST(ReceiverEmulator, AServingSessionLogsTheBytesItSent) {
  const common::testing::TempFolder folder("emu-sent");
  ASSERT_TRUE(folder.Ok());
  const std::filesystem::path& dir = folder.Path();
  const std::string tty = (dir / "tty").string();
  ASSERT_TRUE(common::testing::WriteFile(dir / "image.bin", std::string(300, 'x')));  // a block and 44 bytes
  std::string out;
  auto emulator = std::async(std::launch::async, [&] {
    return RunEmulator("updater --role receive --sessions 1 --image " + (dir / "image.bin").string() + " " + tty, dir,
                       out);
  });
  while (!std::filesystem::is_symlink(tty)) {
    ASSERT_EQ(emulator.wait_for(std::chrono::milliseconds(10)), std::future_status::timeout) << out;
  }
  {
    Tool tool(tty);
    tool.Write("DB4EU");
    EXPECT_EQ(tool.Read(5), "2ACK3");
    tool.Write("2NXT3");
    EXPECT_EQ(tool.Read(14).substr(0, 2), "UU");
    tool.Write("2ACK3");
    EXPECT_EQ(tool.Read(5), "2NXT3");
    for (const std::size_t length : {256u, 44u}) {
      EXPECT_EQ(tool.Read(18).size(), 18u);
      tool.Write("2ACK3");
      EXPECT_EQ(tool.Read(length), std::string(length, 'x'));
      tool.Write("2ACK3");
    }
    tool.Write("2DLD3");
    tool.Write("2DBD3");
    std::string finals;
    for (int i = 0; i < 1001; ++i) finals += "2DVD3";
    tool.Write(finals);
  }
  ASSERT_EQ(emulator.wait_for(std::chrono::seconds(20)), std::future_status::ready);
  EXPECT_EQ(emulator.get(), 0) << out;
  EXPECT_NE(out.find("session 1: completed, 300 bytes sent\n"), std::string::npos) << out;
}
