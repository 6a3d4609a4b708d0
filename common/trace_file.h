// A protocol trace in a text file, one line per record:
//
//   4711.052311 -> SOFTWARE           12  00 12 00 00
//   4711.053002 <- ACK                12  00 00 00 00
//   4711.060113 -> DATA             4100  00 30 10 04 00 1f fe 2c 4b 61 6c 6d ...
//
// seconds of the monotonic clock (the same clock for every trace of a run, so
// that traces of receivers served side by side line up), the direction (->
// to the receiver, <- from it), what it was, its length in bytes, and its
// first bytes in hex ("..." when it had more to show).
//
// Record() only queues; a thread of the file's own formats and writes, so
// that tracing never holds up the line.  Record() may be called from any
// thread; Open() and Close() from the owner's.
#pragma once

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/wire_trace.h"

namespace common {

class TraceFile : public WireTrace {
 public:
  TraceFile() = default;
  ~TraceFile() override;  // Close()
  TraceFile(const TraceFile&) = delete;
  TraceFile& operator=(const TraceFile&) = delete;

  // Creates (or empties) `path` and writes `heading` as its first line after
  // "# ".  False with Error() naming the file when it cannot be created.
  bool Open(const std::string& path, const std::string& heading);
  void Record(std::chrono::steady_clock::time_point at, WireDirection direction, std::string_view name,
              std::size_t length, const std::uint8_t* bytes, std::size_t n) override;
  // Writes what is queued and closes.  False (Error()) when a write failed.
  // Blocks until the writer thread has written everything.
  bool Close();
  const std::string& Error() const { return error_; }

 private:
  struct Entry {
    std::int64_t nanoseconds;
    WireDirection direction;
    char name[28];
    std::uint32_t length;
    std::uint8_t shown;
    bool more;  // the record had more bytes to show
    std::uint8_t bytes[kExcerpt];
  };
  void WriterLoop();
  void WriteEntries(const std::vector<Entry>& entries);

  std::FILE* file_ = nullptr;
  std::string path_;
  std::string error_;
  bool writeFailed_ = false;  // writer thread only until joined
  std::mutex mutex_;
  std::condition_variable wake_;
  std::vector<Entry> queue_;
  bool closing_ = false;
  std::thread writer_;
};

}  // namespace common
