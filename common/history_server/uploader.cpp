#include "common/history_server/uploader.h"

#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>

namespace history_server {

struct Uploader::State {
  Server server;
  std::string path;
  history::Warning warning;

  mutable std::mutex mutex;
  std::condition_variable changed;
  bool requested = true;  // the upload at start
  bool closing = false;
  Progress progress;
  std::jthread thread;  // last: started once the rest is there

  void Run(const std::stop_token& stop) {
    bool warned = false;
    bool reached = true;
    for (;;) {
      {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return requested || closing; });
        // Closing after a failed attempt: the rows wait for the next run
        // rather than the program's end for another timeout.
        if (!requested || (closing && !reached)) return;
        requested = false;
      }
      UploadResult result = Upload(server, path, stop);
      reached = result.reached;
      if (!result.reached && !warned && warning) {
        warned = true;
        warning("history server: " + result.message + "; the rows wait in the local history");
      }
      std::lock_guard lock(mutex);
      ++progress.attempts;
      progress.last = std::move(result);
    }
  }
};

Uploader::Uploader(Server server, std::string historyPath, history::Warning warning)
    : state_(std::make_shared<State>()) {
  state_->server = std::move(server);
  state_->path = std::move(historyPath);
  state_->warning = std::move(warning);
  State* state = state_.get();
  state_->thread = std::jthread([state](std::stop_token stop) { state->Run(stop); });
}

Uploader::~Uploader() {
  {
    std::lock_guard lock(state_->mutex);
    state_->closing = true;
  }
  state_->changed.notify_all();
  state_->thread.join();
}

void Uploader::Request() {
  {
    std::lock_guard lock(state_->mutex);
    state_->requested = true;
  }
  state_->changed.notify_all();
}

std::function<void(const std::string&)> Uploader::Cue() const {
  return [weak = std::weak_ptr<State>(state_)](const std::string&) {
    const std::shared_ptr<State> state = weak.lock();
    if (!state) return;
    {
      std::lock_guard lock(state->mutex);
      if (state->closing) return;
      state->requested = true;
    }
    state->changed.notify_all();
  };
}

Uploader::Progress Uploader::Current() const {
  std::lock_guard lock(state_->mutex);
  return state_->progress;
}

std::unique_ptr<Uploader> StartUploader(history::Recorder& recorder, const history::Location& location,
                                        const common::SettingsName& program, std::string programName,
                                        history::Warning warning,
                                        const std::function<const char*(const char*)>& getenv) {
  if (!location.enabled || location.path.empty()) return nullptr;
  const ServerSetting setting = ResolveServer(program, getenv, std::move(programName));
  if (!setting.problem.empty() && warning) warning(setting.problem);
  if (!setting.server) return nullptr;
  auto uploader = std::make_unique<Uploader>(*setting.server, location.path, std::move(warning));
  recorder.OnFinished(uploader->Cue());
  return uploader;
}

}  // namespace history_server
