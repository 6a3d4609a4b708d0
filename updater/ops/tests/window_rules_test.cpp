// Updater's window rules against a recording view and a stand-in worker:
// the view's "window thread" is the test's, which runs the worker's queued
// calls while it waits for something (Pump).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/testing/test_support.h"
#include "updater/ops/window_rules.h"
#include "updater/ops/window_texts.h"

namespace updater {
namespace {

using namespace std::chrono_literals;

const std::vector<std::string> kLines(std::begin(kPortLines), std::end(kPortLines));
const char* const kWorking = "working";
const char* const kCancelled = "cancelled";

enum class Answer { kYes, kNo, kHold };  // kHold: open until the rules close it

class RecordingView : public WindowView {
 public:
  bool RunOnWindowThread(std::function<void()> call) override {
    std::unique_lock<std::mutex> lock(mutex_);
    if (closed_) return false;
    if (std::this_thread::get_id() == windowThread_) {
      lock.unlock();
      call();
      return true;
    }
    bool done = false;
    queue_.push_back({std::move(call), &done});
    queued_.notify_all();
    ran_.wait(lock, [&] { return done || closed_; });
    return done;
  }
  void PostToWindowThread(std::function<void()> call) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) return;
    queue_.push_back({std::move(call), nullptr});
    queued_.notify_all();
  }
  // Runs the queued calls until `done` holds; false after 20 s.
  bool Pump(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (!done()) {
      Item item;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!queued_.wait_until(lock, deadline, [&] { return !queue_.empty(); })) return done();
        item = std::move(queue_.front());
        queue_.pop_front();
      }
      item.call();
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (item.done != nullptr) *item.done = true;
      }
      ran_.notify_all();
    }
    return true;
  }
  // The window's queue closed: waiting and later calls return without it.
  void Close() {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    queue_.clear();
    ran_.notify_all();
  }

  void ShowMode(Mode m, const ModeControls& c) override {
    mode = m;
    label = c.label;
    startText = c.startText;
  }
  void ClearStatusLines() override { lines.clear(); }
  void AddStatusLine(const std::string& line) override { lines.push_back(line); }
  void SetProgressRange(int, int) override {}
  void SetProgressPosition(int p) override { position = p; }
  void SetSecondsText(const std::string& text) override { seconds = text; }
  void EnableStop(bool enabled) override { stopEnabled = enabled; }
  void SelectModel(int entry) override { model = entry; }
  void ShowFile(const std::string& path) override { file = path; }
  void ShowPort(int, const std::string& name, const std::string&) override { port = name; }
  void StartTimer(TimerId id) override { timer[id == TimerId::SECONDS_TIMER ? 0 : 1] = true; }
  void StopTimers() override { timer[0] = timer[1] = false; }
  void ShowBox(const std::string& text, bool) override { boxes.push_back(text); }
  bool AskStop(const StopQuestion& question) override {
    questions.emplace_back(question.caption);
    const Answer answer = answers.empty() ? Answer::kNo : answers.front();
    if (!answers.empty()) answers.pop_front();
    if (answer != Answer::kHold) return answer == Answer::kYes;
    onHold();
    EXPECT_TRUE(Pump([&] { return questionClosed; }));
    questionClosed = false;
    return true;  // too late: the operation has ended
  }
  std::optional<std::string> ChooseFilePath(bool softwareFiles) override {
    chooserSoftware.push_back(softwareFiles);
    return std::nullopt;
  }
  void CloseQuestion() override { questionClosed = true; }
  void CloseWindow() override { ++windowClosed; }

  Mode mode = Mode::MODE_SEND;
  std::string label, startText, seconds, file, port;
  std::vector<std::string> lines, boxes, questions;
  std::vector<bool> chooserSoftware;
  int position = -1, model = -1, windowClosed = 0;
  bool stopEnabled = false, questionClosed = false;
  bool timer[2] = {false, false};
  std::deque<Answer> answers;
  std::function<void()> onHold = [] {};

 private:
  struct Item {
    std::function<void()> call;
    bool* done = nullptr;
  };
  const std::thread::id windowThread_ = std::this_thread::get_id();
  std::mutex mutex_;
  std::condition_variable queued_, ran_;
  std::deque<Item> queue_;
  bool closed_ = false;
};

// Stands in for the three operations: shows a line, may start a timer, and
// waits until released (or, with endOnCancel, until a stop is confirmed),
// then ends as every worker does.
class TestWorker {
 public:
  std::optional<TimerId> timer;
  bool endOnCancel = false;

  void Release() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      released_ = true;
    }
    changed_.notify_all();
  }
  bool SawCancel() const { return sawCancel_.load(); }

  WorkerBody Body() {
    return [this](Mode, const Job& job, UpdaterPort&, WorkerHost& host) {
      host.AddStatusLine(kWorking);
      EXPECT_EQ(job.baudRate, kPortBaudRate);
      if (timer) host.StartTimer(*timer);
      {
        std::unique_lock<std::mutex> lock(mutex_);
        // The confirmed stop reaches the worker through the flag alone.
        while (!changed_.wait_for(lock, 5ms, [&] {
          return released_ || (endOnCancel && host.Flags().cancelRequested.load());
        })) {
        }
      }
      if (host.Flags().cancelRequested.load()) {
        sawCancel_.store(true);
        host.AddStatusLine(kCancelled);
      }
      EndWorker(host);
      return Outcome::kSucceeded;
    };
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool released_ = false;
  std::atomic<bool> sawCancel_{false};
};

class WindowRulesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.Ok());
    ASSERT_TRUE(common::testing::WriteFile(Path("s.wdb"), "x"));
    ASSERT_TRUE(common::testing::WriteFile(Path("u.wsw"), "\x55\xAA\x01"));
    Reset();
  }
  // A fresh view and worker, no rules yet.
  void Reset() {
    rules_.reset();
    view_ = std::make_unique<RecordingView>();
    worker_ = std::make_unique<TestWorker>();
  }
  void TearDown() override {
    // A test that failed half-way may leave a worker waiting.
    view_->Close();
    worker_->Release();
    rules_.reset();
  }
  std::string Path(const std::string& name) const { return dir_ / name; }

  WindowRules& Rules() {
    RulesOptions options;
    options.deviceRoots = {Path("sys"), Path("dev")};
    options.worker = worker_->Body();
    rules_ = std::make_unique<WindowRules>(*view_, options);
    rules_->Open();
    return *rules_;
  }
  // Started with `file` taken, the worker's first line shown.
  WindowRules& Started(const std::string& file) {
    WindowRules& rules = Rules();
    rules.TakeFile(Path(file));
    rules.StartOperation();
    EXPECT_TRUE(view_->Pump([&] { return !view_->lines.empty(); }));
    return rules;
  }
  bool Finish() {
    worker_->Release();
    return view_->Pump([&] { return !rules_->WorkerRunning(); });
  }

  common::testing::TempFolder dir_{"window-rules-test"};
  std::unique_ptr<RecordingView> view_;
  std::unique_ptr<TestWorker> worker_;
  std::unique_ptr<WindowRules> rules_;
};

TEST_F(WindowRulesTest, EachModeShowsItsLabelStartTextAndFiles) {
  struct Row {
    Mode mode;
    bool modelChosen;  // a software image taken first chooses the model
    const char* label;
    const char* startText;
    bool softwareFiles;
  };
  const Row rows[] = {
      {Mode::MODE_SEND, false, "", "Запись", false},
      {Mode::MODE_RECEIVE, false, "", "Получить", false},
      {Mode::MODE_UPDATE, false, ">> Оюновление ПО ", "Запись", true},
      {Mode::MODE_SEND, true, ">> Отправка настроек ", "Запись", false},
      {Mode::MODE_RECEIVE, true, ">> Получение настроек", "Получить", false},
      {Mode::MODE_UPDATE, true, ">> Оюновление ПО ", "Запись", true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(static_cast<int>(row.mode) * 2 + row.modelChosen);
    Reset();
    WindowRules& rules = Rules();
    EXPECT_EQ(view_->port, "COM1");
    if (row.modelChosen) {
      rules.TakeFile(Path("u.wsw"));
      EXPECT_EQ(view_->model, 0);
    }
    view_->lines.push_back("before");
    view_->position = 50;
    rules.SelectMode(row.mode);
    EXPECT_EQ(rules.CurrentMode(), row.mode);
    EXPECT_EQ(view_->mode, row.mode);
    EXPECT_EQ(view_->label, row.label);
    EXPECT_EQ(view_->startText, row.startText);
    EXPECT_EQ(view_->lines, kLines);
    EXPECT_EQ(view_->position, 0);
    rules.ChooseFile();
    EXPECT_EQ(view_->chooserSoftware, std::vector<bool>{row.softwareFiles});
  }
}

// The state table of the header, row by row: what the window allows in the
// state, and where the worker's end leads.
TEST_F(WindowRulesTest, EachStateAllowsWhatItsRowSays) {
  struct Row {
    const char* name;
    WindowState state;
    bool busy, idle, stopEnabled;
    bool changes;       // mode and file change
    bool closesNow;     // a close is accepted at once
    int busyBoxes;      // "Идет загрузка..." for the refused file and start
    int closedAtEnd;    // a close that waited closes the window at the worker's end
  };
  const Row rows[] = {
      {"idle", WindowState::kIdle, false, true, false, true, true, 0, 0},
      {"running", WindowState::kRunning, true, false, true, false, false, 2, 0},
      {"stopping", WindowState::kStopping, false, true, false, true, false, 1, 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Reset();
    WindowRules& rules = row.state == WindowState::kIdle ? Rules() : Started("s.wdb");
    if (row.state == WindowState::kIdle) rules.TakeFile(Path("s.wdb"));
    if (row.state == WindowState::kStopping) {
      view_->answers = {Answer::kYes};
      rules.StopOperation();
    }
    EXPECT_EQ(rules.State(), row.state);
    EXPECT_EQ(rules.Busy(), row.busy);
    EXPECT_EQ(rules.Idle(), row.idle);
    EXPECT_EQ(view_->stopEnabled, row.stopEnabled);

    EXPECT_EQ(rules.CloseRequested(), row.closesNow);
    rules.SelectMode(Mode::MODE_RECEIVE);
    EXPECT_EQ(rules.CurrentMode(), row.changes ? Mode::MODE_RECEIVE : Mode::MODE_SEND);
    EXPECT_EQ(view_->mode, rules.CurrentMode());
    rules.TakeFile(Path("t.wdb"));
    EXPECT_EQ(rules.FileName(), Path(row.changes ? "t.wdb" : "s.wdb"));
    rules.StartOperation();
    EXPECT_EQ(std::count(view_->boxes.begin(), view_->boxes.end(), kBusyText), row.busyBoxes);
    EXPECT_TRUE(rules.WorkerRunning());

    EXPECT_TRUE(Finish());
    EXPECT_EQ(rules.State(), WindowState::kIdle);
    EXPECT_FALSE(view_->stopEnabled);
    EXPECT_FALSE(rules.Flags().cancelRequested.load());
    EXPECT_EQ(view_->windowClosed, row.closedAtEnd);
  }
}

TEST_F(WindowRulesTest, StartWithoutFileAsksForOne) {
  WindowRules& rules = Rules();
  rules.StartOperation();
  EXPECT_EQ(view_->boxes, std::vector<std::string>{kChooseFileText});
  EXPECT_EQ(view_->chooserSoftware, std::vector<bool>{true});
  EXPECT_FALSE(rules.WorkerRunning());
  EXPECT_EQ(rules.State(), WindowState::kIdle);
}

TEST_F(WindowRulesTest, StopAnsweredNoGoesOnAndYesAsksTheWorkerToStop) {
  WindowRules& rules = Started("s.wdb");
  view_->answers = {Answer::kNo, Answer::kYes};
  rules.StopOperation();
  EXPECT_EQ(view_->questions, std::vector<std::string>{"  ПРЕРВАТЬ Отправку"});
  EXPECT_EQ(rules.State(), WindowState::kRunning);
  EXPECT_TRUE(view_->stopEnabled);
  EXPECT_FALSE(rules.Flags().cancelRequested.load());

  rules.StopOperation();
  EXPECT_EQ(rules.State(), WindowState::kStopping);
  EXPECT_FALSE(view_->stopEnabled);
  EXPECT_TRUE(rules.Flags().cancelRequested.load());
  EXPECT_EQ(view_->lines.back(), kWaitLine);
  // Stopping: nothing more to ask.
  rules.StopOperation();
  EXPECT_EQ(view_->questions.size(), 2u);

  EXPECT_TRUE(Finish());
  EXPECT_TRUE(worker_->SawCancel());
  EXPECT_EQ(view_->lines, (std::vector<std::string>{kWorking, kWaitLine, kCancelled}));
  EXPECT_FALSE(rules.Flags().cancelRequested.load());
}

TEST_F(WindowRulesTest, WorkerEndingWhileAskedClosesTheQuestionUnanswered) {
  WindowRules& rules = Started("s.wdb");
  view_->answers = {Answer::kHold};
  view_->onHold = [&] { worker_->Release(); };
  rules.StopOperation();
  EXPECT_EQ(rules.State(), WindowState::kStopping);
  EXPECT_TRUE(view_->Pump([&] { return !rules.WorkerRunning(); }));
  EXPECT_EQ(rules.State(), WindowState::kIdle);
  EXPECT_FALSE(worker_->SawCancel());
  EXPECT_EQ(view_->lines, std::vector<std::string>{kWorking});
}

// Ticks follow the operation's mode, also once the window's mode has changed
// after a confirmed stop; without an operation they do nothing.
TEST_F(WindowRulesTest, TicksFollowTheOperationsMode) {
  worker_->timer = TimerId::COMPLETION_TIMER;
  WindowRules& rules = Started("u.wsw");
  EXPECT_EQ(rules.CurrentMode(), Mode::MODE_UPDATE);
  ASSERT_TRUE(view_->Pump([&] { return view_->timer[1]; }));
  view_->answers = {Answer::kYes};
  rules.StopOperation();
  rules.SelectMode(Mode::MODE_SEND);
  int ticks = 0;
  while (view_->timer[1] && ticks < 1000) {
    rules.TimerTick(TimerId::COMPLETION_TIMER);
    ++ticks;
  }
  EXPECT_EQ(ticks, kUpdateCompletionTicks + 1);
  EXPECT_EQ(view_->seconds, "100 Сек.");
  EXPECT_TRUE(Finish());
  view_->seconds = "unchanged";
  rules.TimerTick(TimerId::SECONDS_TIMER);
  EXPECT_EQ(view_->seconds, "unchanged");
}

TEST_F(WindowRulesTest, DestroyedWithAWorkerAsksItToStopAndWaitsForIt) {
  worker_->endOnCancel = true;
  Started("s.wdb");
  view_->Close();
  rules_.reset();
  EXPECT_TRUE(worker_->SawCancel());
}

}  // namespace
}  // namespace updater
