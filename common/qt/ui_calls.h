// How a worker thread reaches a window's thread: calls that the worker waits
// for (status lines, progress, its boxes) and calls it only hands over (an
// outcome, its end).  The window thread runs them from its event loop, also
// from the nested loop of an open box, and never waits for the worker.
//
// The worker's thread touches no Qt object: it puts the call in a queue of
// our own (a mutex and a condition variable) and wakes the event loop through
// an eventfd.  So every hand-over is one a thread sanitizer can see, which is
// not so for Qt's own cross-thread queue in a Qt that was not built for it.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include <QObject>

class QSocketNotifier;
class QTimer;

namespace common::qt {

class UiCalls : public QObject {
  Q_OBJECT
 public:
  // Constructed on the window thread, whose calls it runs.  Must outlive
  // every thread that uses it.
  explicit UiCalls(QObject* parent = nullptr);
  ~UiCalls() override;  // Close()

  // Runs `call` on the window thread and returns once it has run: at once
  // when called there, otherwise when the event loop has run it (however long
  // that takes: a box waits for the operator).  Any thread.  Returns false
  // without running it once Close() has come, also while the caller waits.
  bool Send(std::function<void()> call);
  // Hands `call` to the window thread's event loop and returns at once;
  // calls run in the order they were handed over, each on its own (a box it
  // opens does not hold up the calls behind it).  Dropped after Close().
  // Any thread.
  void Post(std::function<void()> call);
  // Window thread: pending and later calls are dropped, and every waiting
  // caller returns.
  void Close();

 private:
  struct Call {
    std::function<void()> call;
    bool* done = nullptr;  // the waiting caller's flag; null for a posted call
  };
  bool Closed();
  void Wake();
  void Drain();  // window thread

  const std::thread::id uiThread_;
  std::mutex mutex_;
  std::condition_variable ran_;
  std::deque<Call> calls_;
  bool closed_ = false;
  int wakeFd_ = -1;
  QSocketNotifier* notifier_ = nullptr;
  QTimer* poll_ = nullptr;  // only when no eventfd could be made
};

}  // namespace common::qt
