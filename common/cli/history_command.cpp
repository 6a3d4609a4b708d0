#include "common/cli/history_command.h"

#include <memory>
#include <utility>

#include "common/build_version.h"
#include "common/cli/output.h"
#include "common/cli/receivers.h"
#include "common/device_map.h"
#include "common/exit_codes.h"
#include "common/history_server/history_server.h"

namespace common::cli {
namespace {

const char* NoEnvironment(const char*) { return nullptr; }

history::Location LocationOf(const std::string& path, bool off, const Environment& environment) {
  std::optional<std::string> flag;
  if (!path.empty()) flag = path;
  return history::ResolveLocation(flag, off, environment ? environment : Environment(NoEnvironment));
}

// --port of the filter: n or "COMn" (any case), kept as "COMn" as the rows have it.
std::string ComFilter(std::string& value) {
  const std::optional<int> number = ComNumber(value);
  if (!number || *number < 1) return value + ": a COM port, as COMn or n";
  value = "COM" + std::to_string(*number);
  return "";
}

struct HistoryQuery {
  std::string path;
  std::string since, until, unit, result, operation, port;
  int limit = 50;
  bool json = false;
  bool csv = false;
  bool server = false;
  bool upload = false;
};

// The local file a history command reads; none, said on standard error, when
// the history is turned off.
std::optional<history::Location> FileToRead(const HistoryQuery& query, const HistoryCommandSettings& settings) {
  const history::Location location = LocationOf(query.path, false, settings.environment);
  if (location.enabled) return location;
  std::fprintf(settings.err, "%s\n",
               OwnLine(settings.program, "the history is turned off (RT_HISTORY=off); --history PATH reads a file").c_str());
  return std::nullopt;
}

// Whose settings name the shared database: the program's window's.
const common::SettingsName& SettingsOf(const std::string& program) {
  return program.rfind("torvix", 0) == 0 ? common::kTorvixSettings : common::kUpdaterSettings;
}

// The shared database of this program, or none after saying why on `err`.
std::optional<history_server::Server> ServerOf(const HistoryCommandSettings& settings) {
  const history_server::ServerSetting setting = history_server::ResolveServer(
      SettingsOf(settings.program), settings.environment ? settings.environment : Environment(NoEnvironment),
      settings.program);
  if (!setting.problem.empty()) std::fprintf(settings.err, "%s\n", OwnLine(settings.program, setting.problem).c_str());
  if (!setting.server && setting.problem.empty()) {
    std::fprintf(settings.err, "%s\n",
                 OwnLine(settings.program,
                         "no shared history database: set RT_HISTORY_SERVER or Server in the settings' [History]")
                     .c_str());
  }
  return setting.server;
}

int Deliver(const std::string& text, const HistoryCommandSettings& settings) {
  std::fflush(settings.out);
  if (const int failed = WriteAll(::fileno(settings.out), text); failed != 0) {
    return ReportOutputError(settings.err, settings.program, failed);
  }
  return kExitOk;
}

// --upload: the waiting rows of the local file to the shared database, now.
int RunUpload(const HistoryQuery& query, const HistoryCommandSettings& settings) {
  const std::optional<history::Location> location = FileToRead(query, settings);
  if (!location) return kExitFile;
  const std::optional<history_server::Server> server = ServerOf(settings);
  if (!server) return kExitFile;
  const history_server::UploadResult uploaded = history_server::Upload(*server, location->path);
  if (!uploaded.reached) {
    std::fprintf(settings.err, "%s\n", OwnLine(settings.program, "history server: " + uploaded.message).c_str());
  }
  const std::string text =
      query.json ? "{\"uploaded\":" + std::to_string(uploaded.uploaded) + ",\"waiting\":" +
                       std::to_string(uploaded.waiting) + "}\n"
                 : std::to_string(uploaded.uploaded) + (uploaded.uploaded == 1 ? " row" : " rows") + " uploaded, " +
                       std::to_string(uploaded.waiting) + " waiting\n";
  const int delivered = Deliver(text, settings);
  return uploaded.reached && uploaded.message.empty() ? delivered : kExitFile;
}

std::optional<std::string> Given(const std::string& value) {
  if (value.empty()) return std::nullopt;
  return value;
}

int RunQuery(const HistoryQuery& query, const HistoryCommandSettings& settings) {
  if (query.upload) return RunUpload(query, settings);
  history::Filter filter;
  filter.since = Given(query.since);
  filter.until = Given(query.until);
  filter.unit = Given(query.unit);
  filter.result = Given(query.result);
  filter.operation = Given(query.operation);
  filter.port = Given(query.port);
  filter.limit = query.limit;
  if (const std::string wrong = history::CheckFilter(filter); !wrong.empty()) {
    std::fprintf(settings.err, "%s\n", OwnLine(settings.program, wrong).c_str());
    return kExitUsage;
  }
  history::QueryResult found;
  if (query.server) {
    const std::optional<history_server::Server> server = ServerOf(settings);
    if (!server) return kExitFile;
    found = history_server::QueryServer(*server, filter);
    if (!found.ok) {
      std::fprintf(settings.err, "%s\n", OwnLine(settings.program, "history server: " + found.message).c_str());
      return kExitFile;
    }
  } else {
    const std::optional<history::Location> location = FileToRead(query, settings);
    if (!location) return kExitFile;
    found = history::Query(location->path, filter);
    if (!found.warning.empty()) std::fprintf(settings.err, "%s\n", OwnLine(settings.program, found.warning).c_str());
    if (!found.ok) {
      // The message names the file.
      std::fprintf(settings.err, "%s\n", OwnLine(settings.program, found.message).c_str());
      return kExitFile;
    }
  }
  const std::string text = query.json  ? history::FormatJson(found.rows)
                           : query.csv ? history::FormatCsv(found.rows)
                           : query.server ? history_server::FormatServerTable(found.rows)
                                          : history::FormatTable(found.rows);
  return Deliver(text, settings);
}

}  // namespace

void AddHistoryOptions(CLI::App* command, HistoryOptions& options) {
  auto* path = command->add_option("--history", options.path,
                                   "Record the operation in this history file (default: $RT_HISTORY, else "
                                   "$XDG_STATE_HOME/KALMER/history.sqlite, else "
                                   "~/.local/state/KALMER/history.sqlite)")
                   ->type_name("PATH");
  command->add_flag("--no-history", options.off, "Record nothing (as RT_HISTORY=off)")->excludes(path);
  command->add_option("--unit", options.units,
                      "The receiver's label (a serial number scanned from it), recorded with the operation; "
                      "several receivers: one each, in the order of the ports")
      ->type_name("ID")
      ->expected(1)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
}

RunHistory::RunHistory(const HistoryOptions& options, const std::string& program, const Environment& environment,
                       std::FILE* err)
    : units_(options.units), program_(program) {
  const history::Location location = LocationOf(options.path, options.off, environment);
  if (!location.enabled) return;
  const auto say = [err, program](const std::string& line) {
    std::fprintf(err, "%s\n", OwnLine(program, line).c_str());
    std::fflush(err);
  };
  recorder_ = std::make_unique<history::Recorder>(location, say);
  uploader_ = history_server::StartUploader(*recorder_, location, SettingsOf(program), program, say,
                                            environment ? environment : Environment(NoEnvironment));
}

RunHistory::~RunHistory() { uploader_.reset(); }

std::string RunHistory::CheckUnits(std::size_t receivers) const {
  if (units_.empty() || units_.size() == receivers) return "";
  return "--unit: given " + std::to_string(units_.size()) + " times for " + std::to_string(receivers) +
         (receivers == 1 ? " receiver" : " receivers") + " (one per receiver, in the order of the ports)";
}

common::OperationHistory RunHistory::For(std::size_t index) const {
  common::OperationHistory history;
  history.recorder = recorder_.get();
  history.program = program_;
  history.version = common::kBuildVersion;
  if (index < units_.size()) history.unit = units_[index];
  return history;
}

CLI::App* AddHistoryCommand(CLI::App& app, int& exitCode, HistoryCommandSettings settings) {
  auto query = std::make_shared<HistoryQuery>();
  CLI::App* sub = app.add_subcommand(
      "history", "Show the service history: every operation on a receiver by torvix-cli, updater-cli and both "
                 "windows, newest first");
  sub->footer(
      "Columns: id, started, ended, duration_ms, program, version, operation, mode, port, device, adapter, hardware,\n"
      "software, file, file_size, file_sha256, result, exit_code, message, operator, station, unit.\n"
      "Exit codes: 0 done; 2 a wrong filter; 10 the history file or the shared database (or standard output)\n"
      "could not be read (written).");
  sub->add_option("--history", query->path,
                  "The history file to read (default: $RT_HISTORY, else $XDG_STATE_HOME/KALMER/history.sqlite, else "
                  "~/.local/state/KALMER/history.sqlite)")
      ->type_name("PATH");
  sub->add_option("--since", query->since, "Operations started at or after this date (YYYY-MM-DD) or UTC time")
      ->type_name("DATE");
  sub->add_option("--until", query->until, "Operations started on or before this date (YYYY-MM-DD) or UTC time")
      ->type_name("DATE");
  sub->add_option("--unit", query->unit, "Operations on this unit")->type_name("ID");
  sub->add_option("--result", query->result, "ok, failed, refused, declined, stopped or interrupted")
      ->type_name("R");
  sub->add_option("--operation", query->operation,
                  "connect, upgrade, write-factory-data, read-user-data, send-settings, receive-settings or "
                  "update-software")
      ->type_name("OP");
  sub->add_option("--port", query->port, "Operations on this port, as COMn or n")
      ->transform(CLI::Validator(ComFilter, ""))
      ->type_name("COMn");
  sub->add_option("--limit", query->limit, "At most this many rows (0: every row)")
      ->type_name("N")
      ->capture_default_str();
  auto* json = sub->add_flag("--json", query->json, "An array of objects, one per row, keyed by the columns");
  sub->add_flag("--csv", query->csv, "CSV (RFC 4180) with a header line")->excludes(json);
  auto* server = sub->add_flag("--server", query->server,
                               "Read the shared database of all stations ($RT_HISTORY_SERVER, else Server in the "
                               "settings' [History]) instead of this station's file");
  sub->add_flag("--upload", query->upload,
                "Upload this station's waiting rows to the shared database now and say how many went and how many "
                "wait (with --json as {\"uploaded\":N,\"waiting\":M})")
      ->excludes(server);
  sub->callback([&exitCode, query, settings = std::move(settings)] { exitCode = RunQuery(*query, settings); });
  return sub;
}

}  // namespace common::cli
