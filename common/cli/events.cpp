#include "common/cli/events.h"

#include <cerrno>

#include <nlohmann/json.hpp>

#include "common/exit_codes.h"

namespace common::cli {
namespace {

using nlohmann::json;

json Event(const char* kind, const std::string& device) {
  json event = {{"event", kind}};
  if (!device.empty()) event["device"] = device;
  return event;
}

// Texts come from receivers, files and the system: never let a byte that is
// no UTF-8 stop the line.
std::string Dump(const json& event) { return event.dump(-1, ' ', false, json::error_handler_t::replace); }

json ResultObject(const ReceiverResult& result) {
  json object = {{"device", result.device},
                 {"result", ResultWord(result.exitCode)},
                 {"exit_code", result.exitCode},
                 {"seconds", static_cast<double>(static_cast<long long>(result.seconds * 1000 + 0.5)) / 1000}};
  if (!result.reason.empty()) object["reason"] = result.reason;
  return object;
}

}  // namespace

const char* ResultWord(int exitCode) {
  switch (exitCode) {
    case kExitOk: return "done";
    case kExitFailed: return "failed";
    case kExitUsage: return "usage";
    case kExitRefused: return "refused";
    case kExitPortNotOpened: return "port not opened";
    case kExitDeclined: return "declined";
    case kExitInvalidImage: return "invalid image";
    case kExitFile: return "file error";
    case kExitStopped: return "stopped";
    default: return "failed";
  }
}

void EventStream::Write(const std::string& line) {
  std::lock_guard lock(mutex_);
  if (failed_) return;
  errno = 0;
  if (std::fputs(line.c_str(), out_) >= 0 && std::fputc('\n', out_) != EOF && std::fflush(out_) == 0) return;
  failed_ = true;
  if (lost_) lost_(errno);
}

bool EventStream::Failed() {
  std::lock_guard lock(mutex_);
  return failed_;
}

void EventStream::Start(const std::string& device, const std::string& command) {
  json event = Event("start", device);
  event["command"] = command;
  Write(Dump(event));
}

void EventStream::Status(const std::string& device, const std::string& text) {
  json event = Event("status", device);
  event["text"] = text;
  Write(Dump(event));
}

void EventStream::Progress(const std::string& device, int position, int maximum) {
  json event = Event("progress", device);
  event["position"] = position;
  event["maximum"] = maximum;
  Write(Dump(event));
}

void EventStream::Percent(const std::string& device, int percent) {
  json event = Event("percent", device);
  event["percent"] = percent;
  Write(Dump(event));
}

void EventStream::Seconds(const std::string& device, int seconds) {
  json event = Event("seconds", device);
  event["seconds"] = seconds;
  Write(Dump(event));
}

void EventStream::Message(const std::string& device, bool error, const std::string& caption, const std::string& text,
                          int repeated) {
  json event = Event("message", device);
  event["level"] = error ? "error" : "info";
  event["caption"] = caption;
  event["text"] = text;
  if (repeated > 1) event["repeated"] = repeated;
  Write(Dump(event));
}

void EventStream::Question(const std::string& device, const std::string& caption, const std::string& text, bool yes) {
  json event = Event("question", device);
  event["caption"] = caption;
  event["text"] = text;
  event["answer"] = yes ? "yes" : "no";
  Write(Dump(event));
}

void EventStream::Result(const ReceiverResult& result) {
  json event = ResultObject(result);
  event["event"] = "result";
  Write(Dump(event));
}

void EventStream::Summary(int exitCode, const std::vector<ReceiverResult>& results) {
  json receivers = json::array();
  for (const ReceiverResult& result : results) receivers.push_back(ResultObject(result));
  Write(Dump({{"event", "summary"}, {"exit_code", exitCode}, {"receivers", receivers}}));
}

}  // namespace common::cli
