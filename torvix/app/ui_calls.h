// How a link job's thread reaches the user-interface thread: calls that the
// job waits for (status, progress, its boxes) and calls it only hands over
// (the outcome, the close).  The user-interface thread runs them from its
// event loop, also from the nested loop of an open box, and never waits for
// the job.
//
// The job's thread touches no Qt object: it puts the call in a queue of our
// own (a mutex and a condition variable) and wakes the event loop through an
// eventfd.  So every hand-over is one a thread sanitizer can see, which is not
// so for Qt's own cross-thread queue in a Qt that was not built for it.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include <QObject>

class QSocketNotifier;
class QTimer;

namespace torvix::app {

class UiCalls : public QObject {
  Q_OBJECT
 public:
  // Constructed on the user-interface thread, whose calls it runs.  Must
  // outlive every thread that uses it.
  explicit UiCalls(QObject* parent = nullptr);
  ~UiCalls() override;

  // Runs `call` on the user-interface thread and returns once it has run:
  // at once when called there, otherwise when the event loop has run it
  // (however long that takes: a box waits for the operator).  Any thread.
  void Send(const std::function<void()>& call);
  // Hands `call` to the user-interface thread's event loop and returns at
  // once; calls run in the order they were handed over.  Any thread.
  void Post(std::function<void()> call);

 private:
  struct Call {
    std::function<void()> posted;
    const std::function<void()>* sent = nullptr;
    bool* done = nullptr;  // set once a sent call has run
  };
  void Wake();
  void Drain();  // user-interface thread

  std::thread::id uiThread_;
  std::mutex mutex_;
  std::condition_variable ran_;
  std::deque<Call> calls_;
  int wakeFd_ = -1;
  QSocketNotifier* notifier_ = nullptr;
  QTimer* poll_ = nullptr;  // only when no eventfd could be made
};

}  // namespace torvix::app
