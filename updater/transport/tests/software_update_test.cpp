// UpdateSoftware against the emulated receiver over a pseudo-terminal.
#include <atomic>

#include "updater/transport/packets.h"
#include "updater/transport/tests/token_rig.h"

namespace updater::testing {
namespace {

const std::string kTransferFailed = "Ошибка!>>Получение.";

void Append16(Bytes& b, std::uint16_t v) {
  b.push_back(static_cast<std::uint8_t>(v >> 8));
  b.push_back(static_cast<std::uint8_t>(v));
}
void Append32(Bytes& b, std::uint32_t v) {
  Append16(b, static_cast<std::uint16_t>(v >> 16));
  Append16(b, static_cast<std::uint16_t>(v));
}

// A software file: header with `count`, then one record per payload length.
Bytes MakeWsw(const std::vector<std::uint32_t>& lengths, int count = -1) {
  Bytes file = {0x55, 0xAA, 1, 2, 3, 4, 5, 6, 7, 8};
  Append16(file, static_cast<std::uint16_t>(count < 0 ? lengths.size() : static_cast<std::size_t>(count)));
  Append32(file, 0xC0FFEE00);
  for (std::size_t i = 0; i < lengths.size(); ++i) {
    file.push_back(0x5A);
    file.push_back(0x5A);
    Append16(file, static_cast<std::uint16_t>(i));
    Append32(file, 0x01020304 + static_cast<std::uint32_t>(i));
    Append32(file, lengths[i]);
    const Bytes payload = Pattern(lengths[i], static_cast<unsigned>(i + 1));
    file.insert(file.end(), payload.begin(), payload.end());
    Append32(file, 0xDEADBEEF);
  }
  return file;
}

TokenOptions Accepting(TokenFault fault = TokenFault::kNone) {
  TokenOptions options;
  options.role = TokenRole::kAcceptSoftware;
  options.fault = fault;
  return options;
}

const std::vector<std::string> kGoodRun = {"Подключение..",  " OK! >>Подключение.", " Получение... ",
                                           " Подождтите!",   "Не выключайте!",      "",
                                           " OK! >> Обновление ПО завершено."};

TEST(UpdateSoftware, SendsEveryRecordUnchangedInEightByteWrites) {
  TempDir dir;
  // 0 and 5 are the short cases (two writes; two writes and five bytes),
  // 65520 the largest record the buffer holds.
  const std::vector<std::uint32_t> lengths = {0, 5, 8, 1000, 4093, 65520};
  const Bytes file = MakeWsw(lengths);
  WriteFile(dir.File("u.wsw"), file);
  Rig rig(Mode::MODE_UPDATE, Accepting());
  EXPECT_EQ(UpdateSoftware(rig.MakeJob(dir.File("u.wsw")), rig.port, rig.host), Outcome::kSucceeded);
  const auto& session = rig.Finish();
  ASSERT_TRUE(session.completed) << session.error;
  EXPECT_EQ(session.received, file);
  EXPECT_EQ(session.recordLengths, lengths);
  EXPECT_TRUE(session.closingWord);
  EXPECT_EQ(rig.host.Lines(), kGoodRun);
  EXPECT_THAT(rig.host.Messages(), ElementsAre("Обновление ПО завершено. "));
  EXPECT_THAT(rig.host.SecondsTexts(), ElementsAre("16%", "33%", "50%", "66%", "83%", "100%", ""));
  EXPECT_EQ(rig.host.Ended(), 1);
  EXPECT_FALSE(rig.port.IsOpen());
}

TEST(UpdateSoftware, AnnouncementVariantsConnect) {
  for (const std::string announcement : {"UP2SW", "LODSW", "xODSW", "DSW\0x"}) {
    SCOPED_TRACE(announcement);
    TempDir dir;
    WriteFile(dir.File("u.wsw"), MakeWsw({}));
    TokenOptions options = Accepting();
    options.announcement = std::string(announcement.data(), 5);
    Rig rig(Mode::MODE_UPDATE, options);
    EXPECT_EQ(UpdateSoftware(rig.MakeJob(dir.File("u.wsw")), rig.port, rig.host), Outcome::kSucceeded);
    // A file without records goes straight to the completion stages.
    EXPECT_EQ(rig.host.Lines(), kGoodRun);
  }
}

TEST(UpdateSoftware, ZeroByteBeforeDswIsNoAnnouncement) {
  TempDir dir;
  WriteFile(dir.File("u.wsw"), MakeWsw({16}));
  TokenOptions options = Accepting();
  options.announcement = std::string("L\0DSW", 5);
  options.announceInterval = std::chrono::milliseconds(20);
  Rig rig(Mode::MODE_UPDATE, options);
  EXPECT_EQ(UpdateSoftware(rig.MakeJob(dir.File("u.wsw")), rig.port, rig.host), Outcome::kFailed);
  EXPECT_THAT(rig.host.Lines(), ElementsAre("Подключение..", "Ошибка!>>Подключение."));
}

TEST(UpdateSoftware, StopCutsShortTheWaitForASilentReceiver) {
  TempDir dir;
  WriteFile(dir.File("u.wsw"), MakeWsw({16}));
  Rig rig(Mode::MODE_UPDATE, Accepting(TokenFault::kSilent));
  std::thread stopper([&] {
    rig.host.WaitForLine("Подключение..");
    rig.Stop();
  });
  EXPECT_EQ(UpdateSoftware(rig.MakeJob(dir.File("u.wsw")), rig.port, rig.host), Outcome::kFailed);
  stopper.join();
  EXPECT_THAT(rig.host.Lines(), ElementsAre("Подключение..", "Ошибка!>>Подключение."));
  EXPECT_FALSE(rig.host.Flags().cancelRequested.load());
}

TEST(UpdateSoftware, UnacknowledgedHeaderAsksToCheckTheModel) {
  TempDir dir;
  WriteFile(dir.File("u.wsw"), MakeWsw({16}));
  TokenOptions options = Accepting(TokenFault::kNoHeaderAck);
  options.announceInterval = std::chrono::milliseconds(20);
  Rig rig(Mode::MODE_UPDATE, options);
  EXPECT_EQ(UpdateSoftware(rig.MakeJob(dir.File("u.wsw")), rig.port, rig.host), Outcome::kFailed);
  EXPECT_THAT(rig.host.Lines(), ElementsAre("Подключение..", " OK! >>Подключение.", kTransferFailed,
                                            "Проверьте модель Ресивера!"));
}

TEST(UpdateSoftware, FileWithoutSignatureIsRefusedAfterConnecting) {
  TempDir dir;
  Bytes file = MakeWsw({16});
  std::swap(file[0], file[1]);
  WriteFile(dir.File("u.wsw"), file);
  Rig rig(Mode::MODE_UPDATE, Accepting());
  EXPECT_EQ(UpdateSoftware(rig.MakeJob(dir.File("u.wsw")), rig.port, rig.host), Outcome::kFailed);
  EXPECT_THAT(rig.host.Lines(), ElementsAre("Подключение..", " OK! >>Подключение.", "Ошибка!>>Не тот тип файла!"));
}

TEST(UpdateSoftware, TrailingFragmentIsReportedButCompletionStillRuns) {
  TempDir dir;
  Bytes file = MakeWsw({24});
  const Bytes records = file;
  file.insert(file.end(), {0x5A, 0x5A, 0, 1, 9});
  WriteFile(dir.File("u.wsw"), file);
  Rig rig(Mode::MODE_UPDATE, Accepting());
  EXPECT_EQ(UpdateSoftware(rig.MakeJob(dir.File("u.wsw")), rig.port, rig.host), Outcome::kSucceeded);
  EXPECT_EQ(rig.Finish().received, records);
  std::vector<std::string> expected = kGoodRun;
  expected.insert(expected.begin() + 3, kTransferFailed);
  EXPECT_EQ(rig.host.Lines(), expected);
}

TEST(UpdateSoftware, RecordsEndAtTheFirstForeignBytes) {
  TempDir dir;
  Bytes file = MakeWsw({3, 4}, 0);  // a count of 0 shows 100%
  const Bytes sent = file;
  file.insert(file.end(), {0x5A, 0x5B, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4});
  WriteFile(dir.File("u.wsw"), file);
  Rig rig(Mode::MODE_UPDATE, Accepting());
  EXPECT_EQ(UpdateSoftware(rig.MakeJob(dir.File("u.wsw")), rig.port, rig.host), Outcome::kSucceeded);
  EXPECT_EQ(rig.Finish().received, sent);
  EXPECT_THAT(rig.host.SecondsTexts(), ElementsAre("100%", "100%", ""));
  EXPECT_EQ(rig.host.Lines(), kGoodRun);
}

// A record that does not fit the buffer, or is cut short by the end of the
// file, is refused and none of it reaches the receiver.
void ExpectRecordRefused(const Bytes& file) {
  TempDir dir;
  WriteFile(dir.File("u.wsw"), file);
  Rig rig(Mode::MODE_UPDATE, Accepting());
  EXPECT_EQ(UpdateSoftware(rig.MakeJob(dir.File("u.wsw")), rig.port, rig.host), Outcome::kFailed);
  EXPECT_THAT(rig.host.Lines(), ElementsAre("Подключение..", " OK! >>Подключение.", " Получение... ", kTransferFailed));
  const auto& session = rig.Finish(true);
  EXPECT_EQ(session.received, Bytes(file.begin(), file.begin() + kWswHeaderSize));
}

TEST(UpdateSoftware, OversizedRecordIsRefused) {
  Bytes file = MakeWsw({0});
  file[kWswHeaderSize + kRecordLengthOffset + 2] = 0xFF;  // L = 65521
  file[kWswHeaderSize + kRecordLengthOffset + 3] = 0xF1;
  file.resize(kWswHeaderSize + 65521 + 16);
  ExpectRecordRefused(file);
}

TEST(UpdateSoftware, RecordCutShortIsRefused) {
  Bytes file = MakeWsw({100});
  file.resize(file.size() - 1);
  ExpectRecordRefused(file);
}

// A stop confirmed while the receiver takes in record 1: the record in
// progress is still acknowledged (its "2ACK3" comes after the interrupt) and
// the update ends after it without a further line.
TEST(UpdateSoftware, StopEndsTheUpdateAfterTheRecordInProgress) {
  TempDir dir;
  WriteFile(dir.File("u.wsw"), MakeWsw({10, 20, 30, 40}));
  Rig rig(Mode::MODE_UPDATE, Accepting());
  rig.stopAtItem = 1;
  EXPECT_EQ(UpdateSoftware(rig.MakeJob(dir.File("u.wsw")), rig.port, rig.host), Outcome::kFailed);
  EXPECT_THAT(rig.host.Lines(), ElementsAre("Подключение..", " OK! >>Подключение.", " Получение... "));
  EXPECT_EQ(rig.Finish(true).recordLengths, (std::vector<std::uint32_t>{10, 20}));
  EXPECT_FALSE(rig.host.Flags().cancelRequested.load());
}

// After a stop, a receiver that owes an answer has five seconds from the end
// of the record on the line; one that stays silent then fails the record.
TEST(UpdateSoftware, AfterAStopASilentReceiverFailsTheRecordAfterFiveSeconds) {
  TempDir dir;
  WriteFile(dir.File("u.wsw"), MakeWsw({10, 20}));
  std::atomic<Rig*> rigPointer{nullptr};
  std::chrono::steady_clock::time_point stoppedAt;
  TokenOptions options = Accepting();
  options.onItem = [&](int) {
    Rig& rig = *rigPointer.load();
    stoppedAt = std::chrono::steady_clock::now();
    rig.Stop();
    rig.host.WaitForEnd();  // silent until the tool has given up
  };
  Rig rig(Mode::MODE_UPDATE, options, PortTimings{});  // the real limits
  rigPointer = &rig;
  EXPECT_EQ(UpdateSoftware(rig.MakeJob(dir.File("u.wsw")), rig.port, rig.host), Outcome::kFailed);
  const auto endedAt = std::chrono::steady_clock::now();
  rig.Finish(true);
  EXPECT_GE(endedAt - stoppedAt, std::chrono::milliseconds(4900));
  EXPECT_LT(endedAt - stoppedAt, std::chrono::milliseconds(7000));
  EXPECT_THAT(rig.host.Lines(), ElementsAre("Подключение..", " OK! >>Подключение.", " Получение... ", kTransferFailed));
}

TEST(UpdateSoftware, MissingFileAndMissingDevice) {
  TempDir dir;
  {
    RecordingHost host(Mode::MODE_UPDATE);
    UpdaterPort port;
    EXPECT_EQ(UpdateSoftware(Job{dir.File("none.wsw"), "/dev/null", 0}, port, host), Outcome::kFailed);
    EXPECT_THAT(host.Lines(), ElementsAre("[Ошибка!] : Файл"));
    EXPECT_THAT(host.Failures(),
                ElementsAre(std::pair(Failure::kFile, dir.File("none.wsw") + ": No such file or directory")));
    EXPECT_EQ(host.Ended(), 1);
  }
  WriteFile(dir.File("u.wsw"), MakeWsw({}));
  RecordingHost host(Mode::MODE_UPDATE);
  UpdaterPort port;
  EXPECT_EQ(UpdateSoftware(Job{dir.File("u.wsw"), dir.File("no-tty"), 0}, port, host), Outcome::kFailed);
  const std::string failure = dir.File("no-tty") + ": No such file or directory";
  EXPECT_THAT(host.Failures(), ElementsAre(std::pair(Failure::kPort, failure)));
  EXPECT_THAT(host.Lines(), ElementsAre("Ошибка!>> COM Порт " + failure, "Проверьте эти параметры. ",
                                        "Скорость:115200bps Оптимально ", "Четность:нет четности", "Биты данных:8 бит ",
                                        "Стоповый бит:1", "Управл. потоком:Нет"));
}

// Completion stages driven by hand-made ticks of COMPLETION_TIMER: `ticks[s]`
// pass before stage s's token goes out.  A stage whose ticks pass the limit
// waits until the worker has given up before its token goes out.
struct CompletionRun {
  Outcome outcome;
  std::vector<std::string> lines;
};

CompletionRun RunCompletion(const std::array<int, 3>& ticks) {
  TempDir dir;
  WriteFile(dir.File("u.wsw"), MakeWsw({40}));
  std::atomic<RecordingHost*> hostPointer{nullptr};
  TokenOptions options = Accepting();
  options.beforeStage = [&](int stage) {
    RecordingHost& host = *hostPointer.load();
    // The receiver can be quicker than the worker's start of the timer.
    if (stage == 0) host.WaitForTimerStart(TimerId::COMPLETION_TIMER);
    if (stage == 2) {
      // The counter restarts when "2DBD3" is taken.
      host.WaitForCounterResetOrEnd();
    }
    const int before = host.Flags().secondsCounter.load();
    host.Ticks(TimerId::COMPLETION_TIMER, ticks[static_cast<std::size_t>(stage)]);
    if (before + ticks[static_cast<std::size_t>(stage)] > 99) host.WaitForEnd();
  };
  Rig rig(Mode::MODE_UPDATE, options);
  hostPointer = &rig.host;
  const Outcome outcome = UpdateSoftware(rig.MakeJob(dir.File("u.wsw")), rig.port, rig.host);
  rig.Finish(true);
  return {outcome, rig.host.Lines()};
}

TEST(UpdateSoftware, CompletionCounterRestartsAtTheSecondStage) {
  const CompletionRun run = RunCompletion({40, 50, 95});
  EXPECT_EQ(run.outcome, Outcome::kSucceeded);
  EXPECT_EQ(run.lines.back(), " OK! >> Обновление ПО завершено.");
}

TEST(UpdateSoftware, CompletionStagesFailOnceTheCounterPasses99) {
  for (const auto& [ticks, line] : std::vector<std::pair<std::array<int, 3>, std::string>>{
           {{100, 0, 0}, "Ошибка!>> Ресивер не отвечает."},
           {{40, 61, 0}, "Ошибка!>> Ресивер не отвечает."},
           {{0, 99, 100}, "Ошибка!>>Ресивер не отвечает."}}) {
    const CompletionRun run = RunCompletion(ticks);
    EXPECT_EQ(run.outcome, Outcome::kFailed);
    EXPECT_EQ(run.lines.back(), line);
  }
}

// The timer stops itself at its 100th tick; when "2DBD3" is already coming in
// at that tick, the counter restarts at 0 and must go on counting, or the wait
// for "2DVD3" never ends.
TEST(UpdateSoftware, LastStageTimesOutEvenWhenTheTimerStoppedAsTheSecondStageCame) {
  TempDir dir;
  WriteFile(dir.File("u.wsw"), MakeWsw({40}));
  // Reads long enough for "2DBD3" to arrive in two parts around the ticks.
  PortTimings timings = FastTimings();
  timings.update.read = {1000, 1, 3000};
  std::atomic<Rig*> rigPointer{nullptr};
  std::atomic<bool> endedInTime{false};
  TokenOptions options = Accepting();
  options.beforeStage = [&](int stage) {
    Rig& rig = *rigPointer.load();
    auto send = [&](std::string_view text) {
      rig.line.Send(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    };
    if (stage == 0) rig.host.WaitForTimerStart(TimerId::COMPLETION_TIMER);
    if (stage != 1) return;
    send("2DB");
    rig.host.Ticks(TimerId::COMPLETION_TIMER, 100);
    ASSERT_FALSE(rig.host.Running(TimerId::COMPLETION_TIMER));
    send("D3");
    rig.host.WaitForCounterResetOrEnd();
    // "2DVD3" never comes.
    rig.host.Ticks(TimerId::COMPLETION_TIMER, 100);
    send("XXXXX");
    endedInTime = rig.host.WaitForEnd();
    if (!endedInTime) {
      // Free the worker that would wait for ever.
      rig.host.Flags().secondsCounter = 1000;
      send("XXXXX");
      rig.host.WaitForEnd();
    }
  };
  Rig rig(Mode::MODE_UPDATE, options, timings);
  rigPointer = &rig;
  const Outcome outcome = UpdateSoftware(rig.MakeJob(dir.File("u.wsw")), rig.port, rig.host);
  rig.Finish(true);
  EXPECT_TRUE(endedInTime);
  EXPECT_EQ(outcome, Outcome::kFailed);
  EXPECT_EQ(rig.host.Lines().back(), "Ошибка!>>Ресивер не отвечает.");
}

}  // namespace
}  // namespace updater::testing
