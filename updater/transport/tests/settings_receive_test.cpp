// ReceiveSettings against the emulated receiver over a pseudo-terminal.
#include <sys/stat.h>

#include "updater/transport/tests/token_rig.h"

namespace updater::testing {
namespace {


TokenOptions Serving(Bytes image, TokenFault fault = TokenFault::kNone) {
  TokenOptions options;
  options.role = TokenRole::kServeSettings;
  options.image = std::move(image);
  options.fault = fault;
  return options;
}

TEST(ReceiveSettings, StoresTheServedImageAndRepeatsTheLastToken1001Times) {
  TempDir dir;
  const Bytes image = emulator::TokenReceiver::SampleImage();
  Rig rig(Mode::MODE_RECEIVE, Serving(image));
  EXPECT_EQ(ReceiveSettings(rig.MakeJob(dir.File("r.wdb")), rig.port, rig.host), Outcome::kSucceeded);
  const auto& session = rig.Finish();
  EXPECT_TRUE(session.completed) << session.error;
  EXPECT_EQ(session.finalTokens, 1001);
  EXPECT_EQ(ReadFile(dir.File("r.wdb")), image);
  EXPECT_THAT(dir.Entries(), ElementsAre("r.wdb"));  // no temporary file left
  EXPECT_THAT(rig.host.Lines(), ElementsAre("Соединение........ ", kOk, "Получение настроек...", kOk,
                                            "Получено удачно! "));
  EXPECT_THAT(rig.host.Messages(), ElementsAre("Получено удачно! "));
  const auto seconds = rig.host.SecondsTexts();
  EXPECT_EQ(seconds.at(seconds.size() - 2), "100%");
  EXPECT_EQ(seconds.back(), "");
  EXPECT_EQ(rig.host.Positions().back(), 0);
  EXPECT_EQ(rig.host.Ended(), 1);
}

TEST(ReceiveSettings, ReplacingAFileKeepsItsPermissions) {
  TempDir dir;
  const std::string target = dir.File("r.wdb");
  WriteFile(target, Pattern(10));
  ::chmod(target.c_str(), 0640);
  const Bytes image = Pattern(200000, 7);
  Rig rig(Mode::MODE_RECEIVE, Serving(image));
  EXPECT_EQ(ReceiveSettings(rig.MakeJob(target), rig.port, rig.host), Outcome::kSucceeded);
  EXPECT_EQ(ReadFile(target), image);
  struct stat st {};
  ASSERT_EQ(::stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

// Every failed reception sends "2DER3" and leaves the chosen file as it was.
void ExpectFailedReceptionKeepsTheFile(TokenFault fault) {
  TempDir dir;
  const std::string target = dir.File("keep.wdb");
  const Bytes old = Pattern(4321, 3);
  WriteFile(target, old);
  Rig rig(Mode::MODE_RECEIVE, Serving(Pattern(200000), fault));
  EXPECT_EQ(ReceiveSettings(rig.MakeJob(target), rig.port, rig.host), Outcome::kFailed);
  const auto& session = rig.Finish();
  EXPECT_TRUE(session.aborted) << session.error;
  EXPECT_THAT(rig.host.Lines(), ElementsAre("Соединение........ ", kOk, "Получение настроек...", kError));
  EXPECT_EQ(ReadFile(target), old);
  EXPECT_THAT(dir.Entries(), ElementsAre("keep.wdb"));
}

TEST(ReceiveSettings, BlockHeaderAnnouncing257BytesFails) { ExpectFailedReceptionKeepsTheFile(TokenFault::kOversizedBlock); }
TEST(ReceiveSettings, BadDataCrcFails) { ExpectFailedReceptionKeepsTheFile(TokenFault::kBadCrc); }
TEST(ReceiveSettings, ShortImageFails) { ExpectFailedReceptionKeepsTheFile(TokenFault::kShortImage); }

TEST(ReceiveSettings, ShortImageCreatesNoFile) {
  TempDir dir;
  Rig rig(Mode::MODE_RECEIVE, Serving(Pattern(200000), TokenFault::kShortImage));
  EXPECT_EQ(ReceiveSettings(rig.MakeJob(dir.File("new.wdb")), rig.port, rig.host), Outcome::kFailed);
  EXPECT_TRUE(dir.Entries().empty());
}

TEST(ReceiveSettings, StopBetweenBlocksSendsDerTwice) {
  TempDir dir;
  Rig rig(Mode::MODE_RECEIVE, Serving(Pattern(200000)));
  rig.stopAtItem = 2;
  EXPECT_EQ(ReceiveSettings(rig.MakeJob(dir.File("r.wdb")), rig.port, rig.host), Outcome::kFailed);
  EXPECT_TRUE(rig.Finish().aborted);
  const Bytes second = rig.pty.Read(5, 2000);
  EXPECT_EQ(std::string(second.begin(), second.end()), "2DER3");
  EXPECT_THAT(rig.host.Lines(), ElementsAre("Соединение........ ", kOk, "Получение настроек...", kError, "Отменено!"));
  EXPECT_TRUE(dir.Entries().empty());
}

TEST(ReceiveSettings, SilentReceiverGetsTwoHandshakeAttempts) {
  TempDir dir;
  Rig rig(Mode::MODE_RECEIVE, Serving(Pattern(200000), TokenFault::kSilent));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ReceiveSettings(rig.MakeJob(dir.File("r.wdb")), rig.port, rig.host), Outcome::kFailed);
  // Two token waits of 5 x 200 ms.
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2000));
  rig.Finish(true);
  EXPECT_THAT(rig.host.Lines(), ElementsAre("Соединение........ ", kError));
  EXPECT_TRUE(dir.Entries().empty());
}

TEST(ReceiveSettings, UncreatableFileEndsWithoutAFurtherLine) {
  TempDir dir;
  Rig rig(Mode::MODE_RECEIVE, Serving(Pattern(200000)));
  EXPECT_EQ(ReceiveSettings(rig.MakeJob(dir.File("no-dir/r.wdb")), rig.port, rig.host), Outcome::kFailed);
  EXPECT_THAT(rig.host.Lines(), ElementsAre("Соединение........ "));
  // The reason goes to hosts that can show it (the command line).
  EXPECT_THAT(rig.host.Failures(),
              ElementsAre(std::pair(Failure::kFile, dir.File("no-dir") + ": No such file or directory (the folder of " +
                                                      dir.File("no-dir/r.wdb") + ")")));
  EXPECT_EQ(rig.host.Ended(), 1);
  EXPECT_FALSE(rig.host.Running(TimerId::SECONDS_TIMER));
}

}  // namespace
}  // namespace updater::testing
