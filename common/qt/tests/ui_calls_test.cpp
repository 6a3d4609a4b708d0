// The window-side call queue without a window: a QCoreApplication's event
// loop on the test's thread stands for the window thread.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>

#include "common/qt/ui_calls.h"

namespace common::qt {
namespace {

QCoreApplication& App() {
  static int argc = 1;
  static char name[] = "ui_calls_test";
  static char* argv[] = {name, nullptr};
  static QCoreApplication app(argc, argv);
  return app;
}

// Runs the event loop until `done` holds; false after 20 s.
template <typename Predicate>
bool PumpUntil(Predicate done) {
  QDeadlineTimer deadline(20000);
  while (!done() && !deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  return done();
}

TEST(UiCallsTest, CallsFromAWorkerRunOnTheWindowThread) {
  App();
  UiCalls calls;
  const std::thread::id window = std::this_thread::get_id();
  std::vector<std::thread::id> ranOn;  // window thread only
  std::atomic<int> sentTrue{0};
  std::atomic<bool> workerDone{false};
  bool posted = false;
  std::thread worker([&] {
    for (int i = 0; i < 3; ++i) {
      if (calls.Send([&] { ranOn.push_back(std::this_thread::get_id()); })) ++sentTrue;
    }
    calls.Post([&] { posted = true; });
    workerDone = true;
  });
  EXPECT_TRUE(PumpUntil([&] { return workerDone.load() && posted; }));
  worker.join();
  EXPECT_EQ(sentTrue.load(), 3);
  EXPECT_EQ(ranOn, std::vector<std::thread::id>(3, window));
  // On the window thread a sent call runs at once.
  bool atOnce = false;
  EXPECT_TRUE(calls.Send([&] { atOnce = true; }));
  EXPECT_TRUE(atOnce);
}

TEST(UiCallsTest, AfterCloseNothingRunsAndNoSenderWaits) {
  App();
  UiCalls calls;
  bool ran = false;
  std::atomic<bool> sent{true};
  // Handed over before the close and not yet run: dropped as well.
  std::thread([&] { calls.Post([&] { ran = true; }); }).join();
  calls.Close();
  std::thread([&] {
    sent = calls.Send([&] { ran = true; });
    calls.Post([&] { ran = true; });
  }).join();
  EXPECT_FALSE(sent.load());
  EXPECT_FALSE(calls.Send([&] { ran = true; }));
  QCoreApplication::processEvents();
  QCoreApplication::processEvents();
  EXPECT_FALSE(ran);
}

}  // namespace
}  // namespace common::qt
