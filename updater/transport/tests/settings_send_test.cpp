// SendSettings against the emulated receiver over a pseudo-terminal.
#include <atomic>
#include <chrono>

#include "updater/transport/tests/token_rig.h"

namespace updater::testing {
namespace {


TokenOptions Accepting(TokenFault fault = TokenFault::kNone) {
  TokenOptions options;
  options.role = TokenRole::kAcceptSettings;
  options.fault = fault;
  return options;
}

// Sends a file of `size` bytes and checks what the receiver stored.
void ExpectSentWhole(std::size_t size, std::uint32_t base, std::uint16_t blocks) {
  TempDir dir;
  const Bytes file = Pattern(size, static_cast<unsigned>(size));
  WriteFile(dir.File("s.wdb"), file);
  Rig rig(Mode::MODE_SEND, Accepting());
  EXPECT_EQ(SendSettings(rig.MakeJob(dir.File("s.wdb")), rig.port, rig.host), Outcome::kSucceeded);
  const auto& session = rig.Finish();
  ASSERT_TRUE(session.completed) << session.error;
  EXPECT_EQ(session.headerBlockCount, blocks);
  EXPECT_EQ(session.headerImageSize, blocks * 256u);
  ASSERT_EQ(session.received.size(), blocks * 256u);
  EXPECT_TRUE(std::equal(file.begin(), file.end(), session.received.begin()));
  EXPECT_TRUE(std::all_of(session.received.begin() + static_cast<long>(size), session.received.end(),
                          [](std::uint8_t b) { return b == 0; }));  // fill
  ASSERT_EQ(session.blockAddresses.size(), blocks);
  for (std::size_t i = 0; i < blocks; ++i) ASSERT_EQ(session.blockAddresses[i], base + i * 256) << i;
}

TEST(SendSettings, SmallestFileGoesAs782BlocksToTheSmallBase) {
  TempDir dir;
  WriteFile(dir.File("s.wdb"), Pattern(200000));
  Rig rig(Mode::MODE_SEND, Accepting());
  EXPECT_EQ(SendSettings(rig.MakeJob(dir.File("s.wdb")), rig.port, rig.host), Outcome::kSucceeded);
  const auto& session = rig.Finish();
  ASSERT_TRUE(session.completed) << session.error;
  EXPECT_EQ(session.headerBlockCount, 782);
  EXPECT_EQ(session.received.size(), 200192u);
  EXPECT_EQ(session.blockAddresses.at(0), 0x7FFB0000u);
  EXPECT_EQ(session.blockAddresses.at(3), 0x7FFB0300u);
  EXPECT_EQ(session.received, [] {
    Bytes expected = Pattern(200000);
    expected.resize(200192, 0);
    return expected;
  }());
  EXPECT_THAT(rig.host.Lines(), ElementsAre("Соединение........", kOk, "Передача настроек...", kOk,
                                            "Проверка настроек......", kOk, "Удачная загрузка! "));
  EXPECT_THAT(rig.host.Messages(), ElementsAre("Удачная загрузка! "));
  EXPECT_EQ(rig.host.Flags().progressStep.load(), 19);
  EXPECT_EQ(rig.host.High(), 781);  // the block range
  EXPECT_EQ(rig.host.Positions().back(), 0);
  const auto seconds = rig.host.SecondsTexts();
  EXPECT_NE(std::find(seconds.begin(), seconds.end(), "100%"), seconds.end());
  EXPECT_EQ(seconds.back(), "");
  EXPECT_EQ(rig.host.Ended(), 1);
  EXPECT_FALSE(rig.host.Running(TimerId::SECONDS_TIMER));
  EXPECT_FALSE(rig.host.Running(TimerId::COMPLETION_TIMER));
  EXPECT_FALSE(rig.port.IsOpen());
}

TEST(SendSettings, TooSmallFileIsRefusedBeforeThePortOpens) {
  TempDir dir;
  WriteFile(dir.File("s.wdb"), Pattern(199999));
  Rig rig(Mode::MODE_SEND, Accepting());
  EXPECT_EQ(SendSettings(rig.MakeJob(dir.File("s.wdb")), rig.port, rig.host), Outcome::kFailed);
  EXPECT_THAT(rig.host.Lines(), ElementsAre("Соединение........", "Проверьте Файл! "));
  EXPECT_EQ(rig.host.Ended(), 1);
  // The receiver's model token is still waiting: nobody opened the line.
  EXPECT_EQ(rig.pty.ReadAvailable().size(), 0u);
  EXPECT_FALSE(rig.Finish(true).completed);
}

TEST(SendSettings, LargeImageBaseStartsAbove300000Bytes) {
  ExpectSentWhole(300000, 0x7FFB0000, 1172);
  ExpectSentWhole(300001, 0x7FFA0000, 1172);
}

TEST(SendSettings, UnreadableFileEndsWithALineNamingIt) {
  TempDir dir;
  Rig rig(Mode::MODE_SEND, Accepting());
  const std::string missing = dir.File("missing.wdb");
  EXPECT_EQ(SendSettings(rig.MakeJob(missing), rig.port, rig.host), Outcome::kFailed);
  const std::string reason = missing + ": No such file or directory";
  EXPECT_THAT(rig.host.Lines(), ElementsAre("Соединение........", "Ошибка! Нет доступа к файлу " + reason, kError));
  EXPECT_THAT(rig.host.Failures(), ElementsAre(std::pair(Failure::kFile, reason)));
  EXPECT_EQ(rig.host.Ended(), 1);
}

TEST(SendSettings, WrongModelFailsTheHandshake) {
  TempDir dir;
  WriteFile(dir.File("s.wdb"), Pattern(200000));
  Rig rig(Mode::MODE_SEND, Accepting(TokenFault::kWrongModel));
  EXPECT_EQ(SendSettings(rig.MakeJob(dir.File("s.wdb")), rig.port, rig.host), Outcome::kFailed);
  EXPECT_THAT(rig.host.Lines(), ElementsAre("Соединение........", kError, kError));
  EXPECT_TRUE(rig.Finish(true).received.empty());
}

TEST(SendSettings, SilentReceiverFailsAfterOneFiveSecondTokenWait) {
  TempDir dir;
  WriteFile(dir.File("s.wdb"), Pattern(200000));
  Rig rig(Mode::MODE_SEND, Accepting(TokenFault::kSilent), PortTimings{});  // the real limits
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(SendSettings(rig.MakeJob(dir.File("s.wdb")), rig.port, rig.host), Outcome::kFailed);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_GE(elapsed, std::chrono::milliseconds(4900));
  EXPECT_LT(elapsed, std::chrono::milliseconds(7000));
  EXPECT_THAT(rig.host.Lines(), ElementsAre("Соединение........", kError, kError));
}

TEST(SendSettings, StopBetweenBlocksAbortsWithDer) {
  TempDir dir;
  WriteFile(dir.File("s.wdb"), Pattern(200000));
  Rig rig(Mode::MODE_SEND, Accepting());
  rig.stopAtItem = 2;  // confirmed while block 2 goes out
  EXPECT_EQ(SendSettings(rig.MakeJob(dir.File("s.wdb")), rig.port, rig.host), Outcome::kFailed);
  EXPECT_THAT(rig.host.Lines(), ElementsAre("Соединение........", kOk, "Передача настроек...", "Стоп!........",
                                            kError, "Отменено!"));
  const auto& session = rig.Finish();
  EXPECT_TRUE(session.aborted);
  EXPECT_EQ(session.received.size(), 3 * 256u);
  EXPECT_FALSE(rig.host.Flags().cancelRequested.load());  // reset by the common end
}

TEST(SendSettings, UnacknowledgedHeaderFails) {
  TempDir dir;
  WriteFile(dir.File("s.wdb"), Pattern(200000));
  Rig rig(Mode::MODE_SEND, Accepting(TokenFault::kNoHeaderAck));
  EXPECT_EQ(SendSettings(rig.MakeJob(dir.File("s.wdb")), rig.port, rig.host), Outcome::kFailed);
  EXPECT_THAT(rig.host.Lines(), ElementsAre("Соединение........", kOk, "Передача настроек...", kError));
  EXPECT_EQ(rig.host.Ended(), 1);
}

TEST(SendSettings, SecondStageMayTakeUpToElevenReads) {
  TempDir dir;
  WriteFile(dir.File("s.wdb"), Pattern(200000));
  constexpr std::uint32_t kPerByte = 30;  // a token read gives up after 150 ms
  {
    TokenOptions options = Accepting();
    options.stageDelays = {std::chrono::milliseconds(0), std::chrono::milliseconds(5 * 150),
                           std::chrono::milliseconds(0)};
    Rig rig(Mode::MODE_SEND, options, FastTimings(kPerByte));
    EXPECT_EQ(SendSettings(rig.MakeJob(dir.File("s.wdb")), rig.port, rig.host), Outcome::kSucceeded);
  }
  {
    TokenOptions options = Accepting();
    options.stageDelays = {std::chrono::milliseconds(0), std::chrono::milliseconds(11 * 150 * 3),
                           std::chrono::milliseconds(0)};
    Rig rig(Mode::MODE_SEND, options, FastTimings(kPerByte));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(SendSettings(rig.MakeJob(dir.File("s.wdb")), rig.port, rig.host), Outcome::kFailed);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(11 * 150));
    EXPECT_THAT(rig.host.Lines(), ElementsAre("Соединение........", kOk, "Передача настроек...", kOk,
                                              "Проверка настроек......", kError));
  }
}

// The first of the seven lines names the port, its device and the reason.
TEST(SendSettings, PortThatCannotBeOpenedGivesTheSevenLinesWithTheReason) {
  TempDir dir;
  WriteFile(dir.File("s.wdb"), Pattern(200000));
  common::PseudoTerminal pty;
  common::SerialLine holder;  // another program holds this one
  ASSERT_TRUE(holder.Open(pty.SlavePath()));
  for (const auto& [device, reason] : std::vector<std::pair<std::string, std::string>>{
           {dir.File("no-such-tty"), "No such file or directory"}, {pty.SlavePath(), "Device or resource busy"}}) {
    RecordingHost host(Mode::MODE_SEND);
    UpdaterPort port;
    ::setenv("COM3", device.c_str(), 1);
    EXPECT_EQ(SendSettings(Job{dir.File("s.wdb"), "COM3", 115200}, port, host), Outcome::kFailed);
    ::unsetenv("COM3");
    const std::string failure = "COM3 (" + device + "): " + reason;
    EXPECT_THAT(host.Lines(),
                ElementsAre("Соединение........", "Не возможно открыть COM порт     " + failure,
                            "Проверьте параметры COM  Порта. Не возможно открыть COM порт     ",
                            "Скорость порта:115200bps Оптимально", "Четность  : нет     ", "Биты данных:8 бит    ",
                            "Стоповые биты:1", "Проверьте не занят ли COM Порт ", kError));
    EXPECT_THAT(host.Failures(), ElementsAre(std::pair(Failure::kPort, failure)));
  }
}

TEST(SendSettings, RefusedLineSettingsGiveTheInitialisationLine) {
  TempDir dir;
  WriteFile(dir.File("s.wdb"), Pattern(200000));
  Rig rig(Mode::MODE_SEND, Accepting());
  Job job = rig.MakeJob(dir.File("s.wdb"));
  job.baudRate = 0;  // no line runs at 0 bit/s
  EXPECT_EQ(SendSettings(job, rig.port, rig.host), Outcome::kFailed);
  EXPECT_THAT(rig.host.Lines(),
              ElementsAre("Соединение........", "Инициализация  " + rig.pty.SlavePath() + " ошибка.", kError));
  EXPECT_FALSE(rig.port.IsOpen());
}

TEST(SendSettings, RunsAt128000BitPerSecond) {
  TempDir dir;
  WriteFile(dir.File("s.wdb"), Pattern(200000));
  TokenOptions options = Accepting();
  std::atomic<Rig*> rigPointer{nullptr};
  std::atomic<std::uint32_t> seen{0};
  options.beforeStage = [&](int stage) {
    if (stage == 0) seen = rigPointer.load()->pty.SlaveBaud();
  };
  Rig rig(Mode::MODE_SEND, options);
  rigPointer = &rig;
  Job job = rig.MakeJob(dir.File("s.wdb"));
  job.baudRate = 128000;
  EXPECT_EQ(SendSettings(job, rig.port, rig.host), Outcome::kSucceeded);
  rig.Finish();
  EXPECT_EQ(seen.load(), 128000u);
}

}  // namespace
}  // namespace updater::testing
