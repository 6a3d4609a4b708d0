// The service history on both command lines:
//   - the options every receiver command takes (--history PATH,
//     --no-history, --unit ID) and the recorder a run writes with;
//   - the `history` subcommand, which reads the file that torvix-cli,
//     updater-cli and both windows write:
//       history [--since DATE] [--until DATE] [--unit ID] [--result R]
//               [--operation OP] [--port COMn] [--limit N] [--json | --csv]
//               [--history PATH] [--server] [--upload]
//     newest first, a table (or JSON, or CSV); exit 0, 2 for a wrong filter,
//     10 when the file cannot be read.  --server reads the shared database
//     instead (common/history_server), --upload sends the waiting rows there
//     now and says how many went and how many wait;
//   - the background uploader of a run that records, when a shared database
//     is configured.
// Main thread; a run's recorder may then be used from any thread.
#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "common/history/history.h"
#include "common/history_server/uploader.h"
#include "common/operation_history.h"

namespace common::cli {

// How the program reads its environment (RT_HISTORY, XDG_STATE_HOME, HOME);
// empty: as if nothing were set, and then only --history PATH records.
using Environment = std::function<const char*(const char*)>;

// The history options of one receiver command, as parsed.
struct HistoryOptions {
  std::string path;                // --history PATH
  bool off = false;                // --no-history
  std::vector<std::string> units;  // --unit ID, one per receiver
};

// Adds --history, --no-history and --unit to a receiver command.
void AddHistoryOptions(CLI::App* command, HistoryOptions& options);

// What a receiver command records with: the recorder (none when the history
// is off) and the unit of each of its `receivers` receivers.
class RunHistory {
 public:
  // `program` names the rows ("torvix-cli") and the one line on `err` that
  // says the history cannot be written (and the one that says the shared
  // database cannot be reached, from the uploader's thread).  `environment`
  // may be empty.  Does not wait for the network.
  RunHistory(const HistoryOptions& options, const std::string& program, const Environment& environment,
             std::FILE* err);
  ~RunHistory();
  RunHistory(const RunHistory&) = delete;
  RunHistory& operator=(const RunHistory&) = delete;

  // The message for --unit given a number of times that does not fit
  // `receivers` (one per receiver, or none); empty when it fits.
  std::string CheckUnits(std::size_t receivers) const;
  // What the operations of receiver `index` (in the order given) record with.
  common::OperationHistory For(std::size_t index) const;

 private:
  std::unique_ptr<history::Recorder> recorder_;
  // Destroyed first: lets an upload under way end (at most one connection
  // timeout after the run's last operation).
  std::unique_ptr<history_server::Uploader> uploader_;
  std::vector<std::string> units_;
  std::string program_;
};

struct HistoryCommandSettings {
  std::string program;  // "torvix-cli": in its lines
  Environment environment;
  std::FILE* out = stdout;
  std::FILE* err = stderr;
};

// Registers `history` on `app`; when it runs it stores its exit code in
// `exitCode`, which must outlive the parse.  Blocks for the query (at most
// the history's busy timeout beyond the reading itself; with --server or
// --upload the connection timeout and a statement's).
CLI::App* AddHistoryCommand(CLI::App& app, int& exitCode, HistoryCommandSettings settings);

}  // namespace common::cli
