// Machine-readable progress of the command lines (--json): one JSON object
// per line, for a factory line's own software.  Every object has "event" (its
// kind) and, except "summary", "device" (the receiver it is about):
//
//   start     "command"
//   status    "text"                          a status text or status line
//   progress  "position", "maximum"           the bar, from 0 to maximum
//   percent   "percent"                       a percentage the operation shows
//   seconds   "seconds"                       Updater's seconds counter
//   message   "level" (info|error), "caption", "text"[, "repeated"]
//                                             a message box, a failure's reason
//   question  "caption", "text", "answer" (yes|no)
//   result    "result", "exit_code", "seconds"[, "reason"]
//   summary   "exit_code", "receivers": [{"device", "result", "exit_code", "seconds"[, "reason"]}]
//
// Texts are UTF-8 (bytes that are not are replaced).  Any thread; each line
// is written whole and flushed, in the order the calls take the stream's
// lock.
#pragma once

#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace common::cli {

// How one receiver's run ended, for "result", "summary" and the summary table.
struct ReceiverResult {
  std::string device;
  int exitCode = 0;
  double seconds = 0;
  std::string reason;  // why it did not succeed, when known
};

class EventStream {
 public:
  // `lost` (may be empty) runs once, on the writing thread and inside the
  // stream's lock, with the errno of the first line that could not be
  // written; it must return at once and not write events.
  explicit EventStream(std::FILE* out, std::function<void(int error)> lost = {})
      : out_(out), lost_(std::move(lost)) {}
  EventStream(const EventStream&) = delete;
  EventStream& operator=(const EventStream&) = delete;

  void Start(const std::string& device, const std::string& command);
  void Status(const std::string& device, const std::string& text);
  void Progress(const std::string& device, int position, int maximum);
  void Percent(const std::string& device, int percent);
  void Seconds(const std::string& device, int seconds);
  // `repeated` > 1: the same message came that many times in a row.
  void Message(const std::string& device, bool error, const std::string& caption, const std::string& text,
               int repeated = 1);
  void Question(const std::string& device, const std::string& caption, const std::string& text, bool yes);
  void Result(const ReceiverResult& result);
  void Summary(int exitCode, const std::vector<ReceiverResult>& results);

  // True once a line could not be written (the reader went away).
  bool Failed();

 private:
  void Write(const std::string& line);

  std::FILE* out_;
  std::function<void(int)> lost_;
  std::mutex mutex_;
  bool failed_ = false;
};

// The word for an exit code of the shared table (common/exit_codes.h):
// "done", "failed", "usage", "refused", "port not opened", "declined",
// "invalid image", "file error", "stopped".
const char* ResultWord(int exitCode);

}  // namespace common::cli
