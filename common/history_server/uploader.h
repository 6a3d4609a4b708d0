// The station's background uploader: uploads the local history's waiting
// rows to the shared database at program start and after each operation the
// Recorder finishes, on a thread of its own, so that an operation never waits
// for the network.  An unreachable or refusing server costs one attempt (at
// most one connection timeout) per cue, in the background; the first failure
// of a run is said once through the warning callback, and the rows wait in
// the local file for a later attempt or run.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

#include "common/device_map.h"
#include "common/history/history.h"
#include "common/history_server/history_server.h"

namespace history_server {

class Uploader {
 public:
  // Starts the thread and asks for a first upload.  `warning` is called on
  // the uploader's thread, at most once per uploader.  Does not block.
  Uploader(Server server, std::string historyPath, history::Warning warning);
  // Lets the attempt under way end, and makes the one asked for meanwhile
  // when that attempt reached the server, then ends the thread: blocks for
  // at most one connection timeout when the server is away (plus the
  // statements' limits when it went away in the middle), for the upload
  // itself when it answers.  Call from the thread that made it.
  ~Uploader();
  Uploader(const Uploader&) = delete;
  Uploader& operator=(const Uploader&) = delete;

  // Asks for an upload; requests that come while one runs make one more.
  // Any thread; never blocks (a mutex held for a few instructions).
  void Request();
  // The callback Recorder::OnFinished takes: Request() for as long as the
  // uploader lives (it may be called after the uploader is gone).
  std::function<void(const std::string& path)> Cue() const;

  // What the attempts did so far.  Any thread; never blocks.
  struct Progress {
    std::size_t attempts = 0;  // attempts ended
    UploadResult last;         // the last one's result
  };
  Progress Current() const;

 private:
  struct State;
  std::shared_ptr<State> state_;
};

// The one call for a front end, where its Recorder is made: when the run
// records to a file (`location`) and a shared database is configured for
// `program` (ResolveServer: RT_HISTORY_SERVER, else the settings files found
// through `getenv`), an uploader attached to `recorder` through OnFinished
// that uploads at once and after each finished operation; none otherwise.
// `programName` ("torvix", "updater-cli") is what the server shows of the
// client.  A problem with the setting is said through `warning` now; a server
// that cannot be reached later, once, from the uploader's thread.  The
// uploader may live shorter or longer than the recorder; destroying it waits
// for the attempt under way (see ~Uploader).  Reads the settings files; does
// not wait for the network.
std::unique_ptr<Uploader> StartUploader(
    history::Recorder& recorder, const history::Location& location, const common::SettingsName& program,
    std::string programName, history::Warning warning,
    const std::function<const char*(const char*)>& getenv = [](const char* name) -> const char* {
      return std::getenv(name);
    });

}  // namespace history_server
