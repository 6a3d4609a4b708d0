// How a worker thread reaches the window thread: a call queued for the
// window thread's event loop, run there, and waited for by the caller, so
// that the worker sees the window's work as synchronous while the window
// thread never waits for the worker.
//
// The hand-over goes through a mutex and a condition variable of this class;
// Qt only carries the wake-up (a queued call without arguments), so no data
// crosses threads behind a lock that thread checkers cannot see.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include <QObject>

namespace updater::app {

class UiBridge : public QObject {
  Q_OBJECT

 public:
  // Constructed on the window thread: the calls run on that thread.
  explicit UiBridge(QObject* parent = nullptr);
  ~UiBridge() override;

  // Any thread.  On the window thread `call` runs at once.  On another it is
  // queued for the window thread and the caller waits until it has run, for
  // as long as the window thread takes (a message box: until answered).
  // Returns false without running it when Close() came first, also while
  // the caller waits.  `call` must own what it uses (capture by value).
  bool Call(std::function<void()> call);

  // Any thread: queues `call` for the window thread without waiting.
  // Dropped after Close().
  void Post(std::function<void()> call);

  // Window thread: pending and later calls are dropped, and every waiting
  // caller returns.
  void Close();

 private:
  struct Item {
    std::function<void()> call;
    bool* done;  // the waiting caller's flag, or null for a posted call
  };
  Q_INVOKABLE void Drain();
  void Enqueue(Item item);

  const std::thread::id windowThread_;
  std::mutex mutex_;
  std::condition_variable ran_;
  std::deque<Item> queue_;
  bool closed_ = false;
};

}  // namespace updater::app
