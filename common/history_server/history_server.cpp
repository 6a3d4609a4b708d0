#include "common/history_server/history_server.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <utility>

#include "common/history_server/pg.h"
#include "common/ini_file.h"

namespace history_server {
namespace {

namespace fs = std::filesystem;
using pg::Clock;

constexpr double kLongestTimeoutSeconds = 600;
// Rows per INSERT: 23 parameters each, well below the protocol's 65535.
constexpr std::size_t kRowsPerStatement = 500;
// Any number the stations agree on: serializes their schema changes.
constexpr long long kSchemaLock = 0x686973746f7279;  // "history"

// Step n makes version n out of version n - 1.  Later steps only add.
constexpr const char* kMigrations[] = {
    R"sql(
CREATE TABLE history (
  station text NOT NULL,
  uuid text NOT NULL,
  id bigint NOT NULL,
  started timestamptz NOT NULL,
  ended timestamptz,
  duration_ms bigint,
  program text NOT NULL,
  version text NOT NULL,
  operation text NOT NULL,
  mode text,
  port text,
  device text,
  adapter text,
  hardware text,
  software text,
  file text,
  file_size bigint,
  file_sha256 text,
  result text,
  exit_code integer,
  message text,
  operator text NOT NULL,
  unit text,
  uploaded timestamptz NOT NULL DEFAULT now(),
  PRIMARY KEY (station, uuid)
);
CREATE INDEX history_started ON history (started);
CREATE INDEX history_unit ON history (unit);
)sql",
};
static_assert(std::size(kMigrations) == kSchemaVersion);

constexpr const char* kColumns =
    "station, uuid, id, started, ended, duration_ms, program, version, operation, mode, port, device, adapter, "
    "hardware, software, file, file_size, file_sha256, result, exit_code, message, operator, unit";
constexpr int kColumnCount = 23;

const char* Env(const std::function<const char*(const char*)>& getenv, const char* name) {
  return getenv ? getenv(name) : nullptr;
}

std::optional<std::chrono::milliseconds> Seconds(const std::string& text) {
  if (text.empty()) return std::nullopt;
  char* end = nullptr;
  const double seconds = std::strtod(text.c_str(), &end);
  if (end == text.c_str() || *end != '\0' || !(seconds > 0) || seconds > kLongestTimeoutSeconds) return std::nullopt;
  return std::chrono::milliseconds(static_cast<long long>(seconds * 1000 + 0.5));
}

// The stored text of kSettingsKey in the first of the program's files that has it.
std::optional<std::string> StoredServer(const common::SettingsName& program, const common::SettingsFolders& folders) {
  for (const std::string& file : common::SettingsFiles(program, folders)) {
    const common::IniFile ini = common::ReadIniFile(file);
    const auto found = ini.contents.texts.find(kSettingsKey);
    if (found != ini.contents.texts.end()) return found->second;
  }
  return std::nullopt;
}

// The string's keywords as libpq reads them, without a password; none when
// libpq cannot read it (`problem` says why).
std::optional<pg::Parameters> Parse(const Server& server, std::string* problem) {
  char* error = nullptr;
  PQconninfoOption* options = PQconninfoParse(server.conninfo.c_str(), &error);
  if (options == nullptr) {
    if (problem != nullptr) *problem = error != nullptr ? error : "out of memory";
    while (problem != nullptr && !problem->empty() && problem->back() == '\n') problem->pop_back();
    PQfreemem(error);
    return std::nullopt;
  }
  pg::Parameters parameters;
  bool named = false;
  for (const PQconninfoOption* o = options; o->keyword != nullptr; ++o) {
    if (o->val == nullptr) continue;
    const std::string_view key = o->keyword;
    if (key == "password") {
      if (problem != nullptr) {
        *problem = "the password in the history server's connection string is not used; put it in ~/.pgpass";
      }
      continue;
    }
    if (key == "fallback_application_name") named = true;
    parameters.emplace_back(o->keyword, o->val);
  }
  PQconninfoFree(options);
  if (!named && !server.applicationName.empty()) {
    parameters.emplace_back("fallback_application_name", server.applicationName);
  }
  return parameters;
}

// A connection with the session in UTC, or none with `failure`.
pg::Connection Open(const Server& server, const std::stop_token& stop, pg::Failure& failure) {
  std::string problem;
  const std::optional<pg::Parameters> parameters = Parse(server, &problem);
  if (!parameters) {
    failure = {problem, {}};
    return nullptr;
  }
  pg::Connection connection = pg::Connect(*parameters, Clock::now() + server.timeout, stop, failure);
  if (!connection) return nullptr;
  if (!pg::Exec(connection.get(), "SET TimeZone TO 'UTC'", {}, Clock::now() + server.timeout, stop, failure)) {
    return nullptr;
  }
  return connection;
}

constexpr std::string_view kUndefinedTable = "42P01";
constexpr std::string_view kInsufficientPrivilege = "42501";

// The schema's version on the server: 0 when there is none yet.
std::optional<int> SchemaVersion(PGconn* c, const Server& server, const std::stop_token& stop, pg::Failure& failure) {
  const pg::Result result = pg::Exec(c, "SELECT coalesce(max(version), 0) FROM schema_version", {},
                                     Clock::now() + server.timeout, stop, failure);
  if (!result) {
    if (failure.sqlstate == kUndefinedTable) return 0;
    return std::nullopt;
  }
  return std::atoi(PQgetvalue(result.get(), 0, 0));
}

// Makes the schema current (one station at a time).  False with `failure`.
bool EnsureSchema(PGconn* c, const Server& server, const std::stop_token& stop, pg::Failure& failure) {
  const std::optional<int> version = SchemaVersion(c, server, stop, failure);
  if (!version) return false;
  if (*version >= kSchemaVersion) return true;  // a newer program's schema keeps what this one writes
  const auto exec = [&](const std::string& sql) {
    return static_cast<bool>(pg::Exec(c, sql, {}, Clock::now() + server.timeout, stop, failure));
  };
  if (!exec("BEGIN")) return false;
  bool done = exec("SELECT pg_advisory_xact_lock(" + std::to_string(kSchemaLock) + ")") &&
              exec(
                  "CREATE TABLE IF NOT EXISTS schema_version (version integer PRIMARY KEY, "
                  "applied timestamptz NOT NULL DEFAULT now()); GRANT SELECT ON schema_version TO PUBLIC");
  if (done) {
    // Another station may have done it meanwhile.
    const std::optional<int> now = SchemaVersion(c, server, stop, failure);
    done = now.has_value();
    for (int step = now.value_or(kSchemaVersion) + 1; done && step <= kSchemaVersion; ++step) {
      done = exec(kMigrations[step - 1]) &&
             exec("INSERT INTO schema_version (version) VALUES (" + std::to_string(step) + ")");
    }
  }
  if (done && exec("COMMIT")) return true;
  pg::Failure ignored;
  pg::Exec(c, "ROLLBACK", {}, Clock::now() + server.timeout, stop, ignored);
  if (failure.sqlstate == kInsufficientPrivilege) {
    failure.message = "the shared database has no history schema of version " + std::to_string(kSchemaVersion) +
                      " yet, and this role may not make it (" + failure.message +
                      "); run `history --upload` once as the database's owner";
  }
  return false;
}

std::optional<std::string> Number(const std::optional<std::int64_t>& n) {
  return n ? std::optional<std::string>(std::to_string(*n)) : std::nullopt;
}

void AddParameters(const WaitingRow& w, std::vector<std::optional<std::string>>& p) {
  const history::Row& r = w.row;
  p.insert(p.end(), {r.station,
                     w.uuid,
                     std::to_string(r.id),
                     r.started,
                     r.ended,
                     Number(r.duration_ms),
                     r.program,
                     r.version,
                     r.operation,
                     r.mode,
                     r.port,
                     r.device,
                     r.adapter,
                     r.hardware,
                     r.software,
                     r.file,
                     Number(r.file_size),
                     r.file_sha256,
                     r.result,
                     r.exit_code ? std::optional<std::string>(std::to_string(*r.exit_code)) : std::nullopt,
                     r.message,
                     r.operator_name,
                     r.unit});
}

std::string InsertStatement(std::size_t rows) {
  std::string sql = std::string("INSERT INTO history (") + kColumns + ") VALUES ";
  int n = 0;
  for (std::size_t i = 0; i < rows; ++i) {
    sql += i == 0 ? "(" : ",(";
    for (int c = 0; c < kColumnCount; ++c) sql += (c == 0 ? "$" : ",$") + std::to_string(++n);
    sql += ')';
  }
  return sql + " ON CONFLICT (station, uuid) DO NOTHING";
}

constexpr std::string_view kTime = R"(to_char(%s AT TIME ZONE 'UTC', 'YYYY-MM-DD"T"HH24:MI:SS.MS"Z"'))";

std::string TimeText(std::string_view column) {
  std::string text(kTime);
  text.replace(text.find("%s"), 2, column);
  return text;
}

}  // namespace

ServerSetting ResolveServer(const common::SettingsName& program, const common::SettingsFolders& folders,
                            const std::function<const char*(const char*)>& getenv, std::string applicationName) {
  ServerSetting setting;
  std::optional<std::string> conninfo;
  if (const char* env = Env(getenv, "RT_HISTORY_SERVER")) {
    conninfo = env;
  } else {
    conninfo = StoredServer(program, folders);
  }
  if (!conninfo || conninfo->empty() || *conninfo == "off") return setting;
  Server server{*conninfo, kDefaultTimeout, std::move(applicationName)};
  std::string problem;
  const std::optional<pg::Parameters> parameters = Parse(server, &problem);
  if (!parameters) {
    setting.problem = "history server: " + problem;
    return setting;
  }
  setting.problem = problem;
  for (const auto& [key, value] : *parameters) {
    if (key != "connect_timeout") continue;
    // libpq's own rule: whole seconds; and our floor of one.
    if (const auto t = Seconds(value)) server.timeout = std::max(*t, std::chrono::milliseconds(1000));
  }
  if (const char* t = Env(getenv, "RT_HISTORY_SERVER_TIMEOUT"); t != nullptr && *t != '\0') {
    if (const auto timeout = Seconds(t)) {
      server.timeout = *timeout;
    } else {
      setting.problem = "RT_HISTORY_SERVER_TIMEOUT: not a number of seconds from 0 to 600: " + std::string(t);
    }
  }
  setting.server = std::move(server);
  return setting;
}

ServerSetting ResolveServer(const common::SettingsName& program, const std::function<const char*(const char*)>& getenv,
                            std::string applicationName) {
  common::SettingsFolders folders;
  const char* config = Env(getenv, "XDG_CONFIG_HOME");
  const char* home = Env(getenv, "HOME");
  if (config != nullptr && config[0] == '/') {
    folders.user = config;
  } else if (home != nullptr && *home != '\0') {
    folders.user = std::string(home) + "/.config";
  }
  folders.system = {"/etc/xdg"};
  return ResolveServer(program, folders, getenv, std::move(applicationName));
}

SendResult SendRows(const Server& server, const std::vector<WaitingRow>& rows, std::stop_token stop) {
  SendResult result;
  pg::Failure failure;
  const pg::Connection connection = Open(server, stop, failure);
  if (!connection || !EnsureSchema(connection.get(), server, stop, failure)) {
    result.message = failure.message;
    return result;
  }
  PGconn* c = connection.get();
  const auto deadline = [&] { return Clock::now() + server.timeout; };
  if (!pg::Exec(c, "BEGIN", {}, deadline(), stop, failure)) {
    result.message = failure.message;
    return result;
  }
  for (std::size_t first = 0; first < rows.size(); first += kRowsPerStatement) {
    const std::size_t count = std::min(kRowsPerStatement, rows.size() - first);
    std::vector<std::optional<std::string>> parameters;
    parameters.reserve(count * kColumnCount);
    for (std::size_t i = first; i < first + count; ++i) AddParameters(rows[i], parameters);
    const pg::Result inserted = pg::Exec(c, InsertStatement(count), parameters, deadline(), stop, failure);
    if (!inserted) {
      result.message = failure.message;
      return result;  // closing the connection rolls the transaction back
    }
    result.inserted += static_cast<std::size_t>(std::atoll(PQcmdTuples(inserted.get())));
  }
  if (!pg::Exec(c, "COMMIT", {}, deadline(), stop, failure)) {
    result.message = failure.message;
    result.inserted = 0;
    return result;
  }
  result.ok = true;
  return result;
}

UploadResult Upload(const Server& server, const std::string& historyPath, std::stop_token stop) {
  UploadResult result;
  std::string error;
  const std::vector<WaitingRow> rows = history::Pending(historyPath, 0, &error);
  result.waiting = rows.size();
  if (!error.empty()) {
    result.message = error;
    return result;
  }
  // Also with nothing to send: the schema is made on first contact, and a
  // server that is away is said at the start of a run.
  const SendResult sent = SendRows(server, rows, stop);
  if (!sent.ok) {
    result.message = sent.message;
    return result;
  }
  result.reached = true;
  if (rows.empty()) return result;
  std::vector<std::string> uuids;
  uuids.reserve(rows.size());
  for (const WaitingRow& w : rows) uuids.push_back(w.uuid);
  // Should the local file refuse the mark, the rows go again next time and
  // the server keeps one of each.
  if (!history::MarkUploaded(historyPath, uuids, std::chrono::system_clock::now(), &error)) {
    result.message = error;
    return result;
  }
  result.uploaded = uuids.size();
  result.waiting = history::Pending(historyPath, 0).size();
  return result;
}

history::QueryResult QueryServer(const Server& server, const history::Filter& filter) {
  history::QueryResult result;
  pg::Failure failure;
  const std::stop_token never;
  const pg::Connection connection = Open(server, never, failure);
  if (!connection) {
    result.ok = false;
    result.message = failure.message;
    return result;
  }
  std::string sql = "SELECT id, " + TimeText("started") + ", " + TimeText("ended") +
                    ", duration_ms, program, version, operation, mode, port, device, adapter, hardware, software, "
                    "file, file_size, file_sha256, result, exit_code, message, operator, station, unit "
                    "FROM history WHERE true";
  std::vector<std::optional<std::string>> parameters;
  const auto where = [&](const std::string& condition, const std::string& value) {
    parameters.push_back(value);
    std::string c = condition;
    c.replace(c.find('?'), 1, "$" + std::to_string(parameters.size()));
    sql += " AND " + c;
  };
  if (filter.since) where("started >= ?::timestamptz", *history::StartedBound(*filter.since, false));
  if (filter.until) where("started <= ?::timestamptz", *history::StartedBound(*filter.until, true));
  if (filter.unit) where("unit = ?", *filter.unit);
  if (filter.result) where("result = ?", *filter.result);
  if (filter.operation) where("operation = ?", *filter.operation);
  if (filter.port) where("upper(port) = upper(?)", *filter.port);
  sql += " ORDER BY started DESC, station, id DESC";
  if (filter.limit > 0) sql += " LIMIT " + std::to_string(filter.limit);
  const pg::Result rows = pg::Exec(connection.get(), sql, parameters, Clock::now() + server.timeout, never, failure);
  if (!rows) {
    if (failure.sqlstate == kUndefinedTable) return result;  // no station has uploaded yet
    result.ok = false;
    result.message = failure.message;
    return result;
  }
  const PGresult* r = rows.get();
  const auto integer = [&](int row, int column) -> std::optional<std::int64_t> {
    const auto v = pg::Value(r, row, column);
    return v ? std::optional<std::int64_t>(std::atoll(v->c_str())) : std::nullopt;
  };
  for (int i = 0; i < PQntuples(r); ++i) {
    history::Row row;
    int c = 0;
    row.id = integer(i, c++).value_or(0);
    row.started = pg::Value(r, i, c++).value_or("");
    row.ended = pg::Value(r, i, c++);
    row.duration_ms = integer(i, c++);
    row.program = pg::Value(r, i, c++).value_or("");
    row.version = pg::Value(r, i, c++).value_or("");
    row.operation = pg::Value(r, i, c++).value_or("");
    row.mode = pg::Value(r, i, c++);
    row.port = pg::Value(r, i, c++);
    row.device = pg::Value(r, i, c++);
    row.adapter = pg::Value(r, i, c++);
    row.hardware = pg::Value(r, i, c++);
    row.software = pg::Value(r, i, c++);
    row.file = pg::Value(r, i, c++);
    row.file_size = integer(i, c++);
    row.file_sha256 = pg::Value(r, i, c++);
    row.result = pg::Value(r, i, c++);
    if (const auto code = integer(i, c++)) row.exit_code = static_cast<int>(*code);
    row.message = pg::Value(r, i, c++);
    row.operator_name = pg::Value(r, i, c++).value_or("");
    row.station = pg::Value(r, i, c++).value_or("");
    row.unit = pg::Value(r, i, c++);
    result.rows.push_back(std::move(row));
  }
  return result;
}

std::string FormatServerTable(const std::vector<history::Row>& rows) {
  const std::string table = history::FormatTable(rows);
  constexpr std::string_view kHeading = "STATION";
  std::size_t width = kHeading.size();
  for (const history::Row& row : rows) width = std::max(width, row.station.size());
  // The table has its heading and then one line per row.
  std::string out;
  std::size_t line = 0;
  for (std::size_t begin = 0; begin < table.size(); ++line) {
    const std::size_t end = table.find('\n', begin);
    const std::string_view station = line == 0 ? kHeading : std::string_view(rows.at(line - 1).station);
    out += std::string(station) + std::string(width - station.size() + 2, ' ');
    out += table.substr(begin, end == std::string::npos ? std::string::npos : end + 1 - begin);
    begin = end == std::string::npos ? table.size() : end + 1;
  }
  return out;
}

}  // namespace history_server
