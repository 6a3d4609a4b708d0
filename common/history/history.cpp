#include "common/history/history.h"

#include <pwd.h>
#include <sys/random.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <set>
#include <utility>

#include "common/history/store.h"
#include "common/sha256.h"

namespace history {
namespace fs = std::filesystem;
using sqlite::Connection;
using sqlite::Status;

namespace {

constexpr const char* kRowColumns =
    "id, started, ended, duration_ms, program, version, operation, mode, port, device, adapter, hardware, software, "
    "file, file_size, file_sha256, result, exit_code, message, operator, station, unit";

Row ReadRow(const sqlite::Statement& s) {
  Row row;
  row.id = s.Int(0);
  row.started = s.Text(1);
  row.ended = s.OptText(2);
  row.duration_ms = s.OptInt(3);
  row.program = s.Text(4);
  row.version = s.Text(5);
  row.operation = s.Text(6);
  row.mode = s.OptText(7);
  row.port = s.OptText(8);
  row.device = s.OptText(9);
  row.adapter = s.OptText(10);
  row.hardware = s.OptText(11);
  row.software = s.OptText(12);
  row.file = s.OptText(13);
  row.file_size = s.OptInt(14);
  row.file_sha256 = s.OptText(15);
  row.result = s.OptText(16);
  if (auto code = s.OptInt(17)) row.exit_code = static_cast<int>(*code);
  row.message = s.OptText(18);
  row.operator_name = s.Text(19);
  row.station = s.Text(20);
  row.unit = s.OptText(21);
  return row;
}

std::string LoginName() {
  passwd entry{};
  passwd* found = nullptr;
  char buffer[4096];
  if (::getpwuid_r(::geteuid(), &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr) return found->pw_name;
  return std::to_string(::geteuid());
}

std::string NewUuid() {
  unsigned char bytes[16] = {};
  std::size_t have = 0;
  while (have < sizeof bytes) {
    const ssize_t n = ::getrandom(bytes + have, sizeof bytes - have, 0);
    if (n > 0) have += static_cast<std::size_t>(n);
  }
  bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0f) | 0x40);
  bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3f) | 0x80);
  char text[64];
  std::snprintf(text, sizeof text, "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", bytes[0],
                bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7], bytes[8], bytes[9], bytes[10],
                bytes[11], bytes[12], bytes[13], bytes[14], bytes[15]);
  return text;
}

std::string Absolute(const std::string& path) {
  std::error_code error;
  const fs::path absolute = fs::absolute(path, error);
  return error ? path : absolute.lexically_normal().string();
}

// "usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0, serial A1B2C3" for a USB
// adapter behind `device`; nullopt for anything else.
std::optional<std::string> AdapterOf(const std::string& device, const common::DeviceRoots& roots) {
  std::error_code error;
  const fs::path target = fs::canonical(device, error);
  for (const common::SerialDevice& d : common::ListSerialPorts(roots).devices) {
    bool match = d.name == device || d.device == device;
    for (const std::string& link : d.byId) match = match || link == device;
    if (!match && !error) {
      std::error_code other;
      match = fs::canonical(d.device, other) == target && !other;
    }
    if (!match || d.usbVendor.empty()) continue;
    std::string text = d.byId.empty() ? fs::path(d.device).filename().string() : fs::path(d.byId.front()).filename().string();
    if (!d.serialNumber.empty()) text += ", serial " + d.serialNumber;
    return text;
  }
  return std::nullopt;
}

struct Digest {
  std::optional<std::int64_t> size;
  std::optional<std::string> sha256;
};
Digest DigestOf(const std::string& path) {
  Digest digest;
  if (auto file = common::HashFile(path)) {
    digest.size = file->size;
    digest.sha256 = file->sha256;
  }
  return digest;
}

std::optional<std::string> NonEmpty(std::string text) {
  if (text.empty()) return std::nullopt;
  return text;
}

}  // namespace

// What a Recorder and its Entries share: the connection (opened on the
// first Begin), and whether the run still records.  Guarded by `mutex`.
struct Store {
  Location location;
  Warning warning;
  Options options;
  store::Process self = store::ThisProcess();
  std::string operatorName = LoginName();

  std::mutex mutex;
  Connection connection;
  bool failed = false;  // nothing more is recorded
  bool warned = false;  // the run's one line has been said
  std::function<void(const std::string&)> onFinished;

  // Under `mutex`.
  void Warn(const std::string& line) {
    if (warned) return;
    warned = true;
    if (warning) warning("history: " + location.path + ": " + line);
  }
  // Under `mutex`: stops recording, saying why once.
  void Fail(const std::string& reason) {
    connection.Close();
    failed = true;
    Warn(reason + "; this run is not recorded");
  }
  // Under `mutex`: true when there is a connection to write on.
  bool Ready() {
    if (failed || !location.enabled) return false;
    if (connection.IsOpen()) return true;
    store::Opened opened = store::Open(location.path, store::OpenMode::kCreate, options.busyTimeout, connection);
    if (!opened.status.Ok()) {
      Fail(opened.reason);
      return false;
    }
    if (opened.readOnly) {
      Fail("written by a newer program (schema " + std::to_string(opened.version) + "), opened read-only");
      return false;
    }
    if (!opened.setAside.empty()) Warn("damaged, set aside as " + opened.setAside + "; a new file started");
    return true;
  }
};

struct Recorder::State {
  std::shared_ptr<Store> store;
};

struct Entry::State {
  std::shared_ptr<Store> store;
  std::int64_t id = 0;
  std::chrono::steady_clock::time_point begun;
  std::optional<std::string> hardware, software, file;
  bool finished = false;
};

std::string IsoTime(std::chrono::system_clock::time_point time) {
  const auto ms = std::chrono::floor<std::chrono::milliseconds>(time.time_since_epoch()).count();
  const auto seconds = static_cast<std::time_t>(ms >= 0 ? ms / 1000 : (ms - 999) / 1000);
  const int milli = static_cast<int>(ms - static_cast<std::int64_t>(seconds) * 1000);
  std::tm tm{};
  gmtime_r(&seconds, &tm);
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                tm.tm_hour, tm.tm_min, tm.tm_sec, milli);
  return text;
}

Location ResolveLocation(std::optional<std::string> flagPath, bool noHistory,
                         const std::function<const char*(const char*)>& getenv) {
  const auto env = [&](const char* name) -> std::string {
    const char* value = getenv ? getenv(name) : nullptr;
    return value != nullptr ? value : "";
  };
  if (noHistory) return {false, {}};
  if (flagPath && !flagPath->empty()) return {true, Absolute(*flagPath)};
  const std::string chosen = env("RT_HISTORY");
  if (chosen == "off") return {false, {}};
  if (!chosen.empty()) return {true, Absolute(chosen)};
  // Relative values of XDG_STATE_HOME are to be ignored.
  const std::string state = env("XDG_STATE_HOME");
  if (!state.empty() && state.front() == '/') return {true, (fs::path(state) / "KALMER/history.sqlite").string()};
  const std::string home = env("HOME");
  if (home.empty()) return {false, {}};
  return {true, (fs::path(home) / ".local/state/KALMER/history.sqlite").string()};
}

Entry::Entry(Entry&&) noexcept = default;
Entry& Entry::operator=(Entry&&) noexcept = default;
Entry::~Entry() = default;

void Entry::SetVersions(std::string hardware, std::string software) {
  if (!state_) return;
  state_->hardware = NonEmpty(std::move(hardware));
  state_->software = NonEmpty(std::move(software));
}

void Entry::SetFile(std::string path) {
  if (state_ && !path.empty()) state_->file = Absolute(path);
}

void Entry::Finish(std::string_view result, int exitCode, std::string message) {
  if (!state_ || state_->finished || state_->id == 0) return;
  state_->finished = true;
  const auto ended = std::chrono::system_clock::now();
  const auto duration =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - state_->begun).count();
  Digest digest;
  if (state_->file) digest = DigestOf(*state_->file);

  Store& store = *state_->store;
  std::function<void(const std::string&)> callback;
  {
    std::lock_guard lock(store.mutex);
    if (!store.Ready()) return;
    const Status status = store::Write(store.connection, store.options.busyTimeout, [&]() -> Status {
      Status s;
      sqlite::Statement update = store.connection.Prepare(
          "UPDATE history SET ended = ?1, duration_ms = ?2, result = ?3, exit_code = ?4, message = ?5, "
          "hardware = COALESCE(?6, hardware), software = COALESCE(?7, software), "
          "file = CASE WHEN ?8 IS NULL THEN file ELSE ?8 END, "
          "file_size = CASE WHEN ?8 IS NULL THEN file_size ELSE ?9 END, "
          "file_sha256 = CASE WHEN ?8 IS NULL THEN file_sha256 ELSE ?10 END "
          "WHERE id = ?11",
          s);
      if (!s.Ok()) return s;
      update.Bind(1, std::string_view(IsoTime(ended)));
      update.Bind(2, std::int64_t{duration});
      update.Bind(3, result);
      update.Bind(4, std::int64_t{exitCode});
      update.Bind(5, NonEmpty(std::move(message)));
      update.Bind(6, state_->hardware);
      update.Bind(7, state_->software);
      update.Bind(8, state_->file);
      update.Bind(9, digest.size);
      update.Bind(10, digest.sha256);
      update.Bind(11, state_->id);
      return update.Run();
    });
    if (!status.Ok()) {
      store.Fail(store::Reason(status, store.options.busyTimeout));
      return;
    }
    callback = store.onFinished;
  }
  if (callback) callback(store.location.path);
}

Recorder::Recorder(Location location, Warning warning) : Recorder(std::move(location), std::move(warning), Options{}) {}

Recorder::Recorder(Location location, Warning warning, Options options) : state_(std::make_shared<State>()) {
  state_->store = std::make_shared<Store>();
  state_->store->location = std::move(location);
  state_->store->warning = std::move(warning);
  state_->store->options = std::move(options);
}

Recorder::~Recorder() = default;

void Recorder::OnFinished(std::function<void(const std::string& path)> callback) {
  std::lock_guard lock(state_->store->mutex);
  state_->store->onFinished = std::move(callback);
}

Entry Recorder::Begin(const Start& start) {
  Entry entry;
  Store& store = *state_->store;
  if (!store.location.enabled) return entry;
  {
    std::lock_guard lock(store.mutex);
    if (store.failed) return entry;
  }
  auto state = std::make_unique<Entry::State>();
  state->store = state_->store;
  state->begun = std::chrono::steady_clock::now();
  const std::string started = IsoTime(std::chrono::system_clock::now());
  std::optional<std::string> file;
  Digest digest;
  if (start.file && !start.file->empty()) {
    file = Absolute(*start.file);
    digest = DigestOf(*file);
  }
  std::optional<std::string> adapter;
  if (start.device && !start.device->empty()) adapter = AdapterOf(*start.device, store.options.roots);

  std::lock_guard lock(store.mutex);
  if (!store.Ready()) return entry;
  const Status status = store::Write(store.connection, store.options.busyTimeout, [&]() -> Status {
    Status s;
    // The rows of processes that died are closed on the way.
    const std::set<std::int64_t> dead = store::DeadRows(store.connection, store.self, s);
    if (s.Ok()) s = store::MarkInterrupted(store.connection, dead);
    if (!s.Ok()) return s;
    sqlite::Statement insert = store.connection.Prepare(
        "INSERT INTO history (started, program, version, operation, mode, port, device, adapter, file, file_size, "
        "file_sha256, operator, station, unit, pid, boot_id, process_start, uuid) "
        "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16, ?17, ?18)",
        s);
    if (!s.Ok()) return s;
    insert.Bind(1, std::string_view(started));
    insert.Bind(2, std::string_view(start.program));
    insert.Bind(3, std::string_view(start.version));
    insert.Bind(4, std::string_view(start.operation));
    insert.Bind(5, start.mode);
    insert.Bind(6, start.port);
    insert.Bind(7, start.device);
    insert.Bind(8, adapter);
    insert.Bind(9, file);
    insert.Bind(10, digest.size);
    insert.Bind(11, digest.sha256);
    insert.Bind(12, std::string_view(store.operatorName));
    insert.Bind(13, std::string_view(store.self.station));
    insert.Bind(14, start.unit);
    insert.Bind(15, store.self.pid);
    insert.Bind(16, std::string_view(store.self.bootId));
    insert.Bind(17, std::string_view(store.self.processStart));
    insert.Bind(18, std::string_view(NewUuid()));
    s = insert.Run();
    if (s.Ok()) state->id = store.connection.LastInsertId();
    return s;
  });
  if (!status.Ok()) {
    store.Fail(store::Reason(status, store.options.busyTimeout));
    return entry;
  }
  entry.state_ = std::move(state);
  return entry;
}

namespace {

// Opens an existing file for reading, closing dead processes' rows first
// where it may write; `dead` keeps them for showing them interrupted
// whether or not that write succeeded.
struct Reader {
  Connection connection;
  store::Opened opened;
  std::set<std::int64_t> dead;
  std::string error;

  bool Open(const std::string& path, const Options& options) {
    opened = store::Open(path, store::OpenMode::kExisting, options.busyTimeout, connection);
    if (!opened.status.Ok()) {
      error = path + ": " + opened.reason;
      return false;
    }
    if (opened.missing) return true;
    Status status;
    dead = store::DeadRows(connection, store::ThisProcess(), status);
    if (!status.Ok()) {
      error = path + ": " + store::Reason(status, options.busyTimeout);
      return false;
    }
    if (!dead.empty() && !opened.readOnly) {
      store::Write(connection, options.busyTimeout, [&] { return store::MarkInterrupted(connection, dead); });
    }
    return true;
  }
  void Patch(Row& row) const {
    if (!row.result && dead.count(row.id) != 0) row.result = std::string(kInterrupted);
  }
};

}  // namespace

namespace {

bool Digits(std::string_view text, std::size_t at, std::size_t count, int& value) {
  if (at + count > text.size()) return false;
  value = 0;
  for (std::size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + (text[i] - '0');
  }
  return true;
}

// A date or a UTC time as the lower (or upper) bound of `started`, in the
// rows' own form so that the comparison is the text's: "2026-12-10" is
// 2026-12-10T00:00:00.000Z as a lower bound and ...T23:59:59.999Z as an
// upper one; a time without seconds or milliseconds likewise.
std::optional<std::string> Bound(std::string_view text, bool upper) {
  if (!text.empty() && text.back() == 'Z') text.remove_suffix(1);
  int year, month, day;
  if (!Digits(text, 0, 4, year) || text.size() < 10 || text[4] != '-' || !Digits(text, 5, 2, month) ||
      text[7] != '-' || !Digits(text, 8, 2, day)) {
    return std::nullopt;
  }
  static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (month < 1 || month > 12 || day < 1 || day > kDays[month - 1] || (month == 2 && day == 29 && !leap)) {
    return std::nullopt;
  }
  int hour = upper ? 23 : 0, minute = upper ? 59 : 0, second = upper ? 59 : 0, milli = upper ? 999 : 0;
  if (text.size() > 10) {
    if ((text[10] != 'T' && text[10] != ' ') || !Digits(text, 11, 2, hour) || text.size() < 16 || text[13] != ':' ||
        !Digits(text, 14, 2, minute)) {
      return std::nullopt;
    }
    if (text.size() == 16) {
      second = upper ? 59 : 0;
    } else if (text[16] != ':' || !Digits(text, 17, 2, second)) {
      return std::nullopt;
    } else if (text.size() == 19) {
      milli = upper ? 999 : 0;
    } else if (text.size() != 23 || text[19] != '.' || !Digits(text, 20, 3, milli)) {
      return std::nullopt;
    }
    if (text.size() < 23) milli = upper ? 999 : 0;
    if (hour > 23 || minute > 59 || second > 59) return std::nullopt;
  }
  char bound[96];
  std::snprintf(bound, sizeof bound, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", year, month, day, hour, minute, second,
                milli);
  return std::string(bound);
}

constexpr std::string_view kResults[] = {kOk, kFailed, kRefused, kDeclined, kStopped, kInterrupted};
constexpr std::string_view kOperations[] = {"connect",         "upgrade",          "write-factory-data",
                                            "read-user-data",  "send-settings",    "receive-settings",
                                            "update-software"};

template <std::size_t N>
bool OneOf(const std::string& value, const std::string_view (&list)[N], std::string& names) {
  bool found = false;
  for (std::string_view name : list) {
    found = found || value == name;
    names += (names.empty() ? "" : ", ") + std::string(name);
  }
  return found;
}

}  // namespace

std::string CheckFilter(const Filter& filter) {
  const char* kTimes = " is not a date (YYYY-MM-DD) or a UTC time (YYYY-MM-DDTHH:MM[:SS[.mmm]][Z])";
  if (filter.since && !Bound(*filter.since, false)) return "--since: \"" + *filter.since + "\"" + kTimes;
  if (filter.until && !Bound(*filter.until, true)) return "--until: \"" + *filter.until + "\"" + kTimes;
  if (filter.since && filter.until && *Bound(*filter.since, false) > *Bound(*filter.until, true)) {
    return "--since " + *filter.since + " is after --until " + *filter.until;
  }
  if (filter.unit && filter.unit->empty()) return "--unit: empty";
  std::string names;
  if (filter.result && !OneOf(*filter.result, kResults, names)) {
    return "--result: \"" + *filter.result + "\" is not one of " + names;
  }
  names.clear();
  if (filter.operation && !OneOf(*filter.operation, kOperations, names)) {
    return "--operation: \"" + *filter.operation + "\" is not one of " + names;
  }
  if (filter.port) {
    int n = 0;
    const std::string& port = *filter.port;
    const bool digits = port.size() > 3 && port.size() <= 6 && port.compare(0, 3, "COM") == 0 &&
                        Digits(port, 3, port.size() - 3, n) && port[3] != '0';
    if (!digits || n < 1 || n > 256) return "--port: \"" + port + "\" is not COM1 to COM256";
  }
  if (filter.limit < 0) return "--limit: " + std::to_string(filter.limit) + " is below 0 (0 shows every row)";
  return {};
}

QueryResult Query(const std::string& path, const Filter& filter) { return Query(path, filter, Options{}); }

QueryResult Query(const std::string& path, const Filter& filter, const Options& options) {
  QueryResult result;
  if (const std::string wrong = CheckFilter(filter); !wrong.empty()) {
    result.ok = false;
    result.message = wrong;
    return result;
  }
  Reader reader;
  if (!reader.Open(path, options)) {
    result.ok = false;
    result.message = reader.error;
    return result;
  }
  if (reader.opened.missing) return result;
  if (reader.opened.version > kSchemaVersion) {
    result.warning = "history: " + path + ": written by a newer program (schema " +
                     std::to_string(reader.opened.version) + "), read only";
  }
  std::string sql = std::string("SELECT ") + kRowColumns + " FROM history WHERE 1";
  std::vector<std::string> values;
  const auto where = [&](const char* clause, std::string value) {
    sql += clause;
    values.push_back(std::move(value));
  };
  if (filter.since) where(" AND started >= ?", *Bound(*filter.since, false));
  if (filter.until) where(" AND started <= ?", *Bound(*filter.until, true));
  if (filter.unit) where(" AND unit = ?", *filter.unit);
  if (filter.result) {
    // Rows of dead processes count as interrupted even where the file
    // could not be changed to say so.
    if (*filter.result == kInterrupted && !reader.dead.empty()) {
      std::string ids;
      for (std::int64_t id : reader.dead) ids += (ids.empty() ? "" : ",") + std::to_string(id);
      sql += " AND (result = ? OR (result IS NULL AND id IN (" + ids + ")))";
      values.push_back(*filter.result);
    } else {
      where(" AND result = ?", *filter.result);
    }
  }
  if (filter.operation) where(" AND operation = ?", *filter.operation);
  if (filter.port) where(" AND port = ?", *filter.port);
  sql += " ORDER BY started DESC, id DESC LIMIT ?";

  Status status;
  sqlite::Statement select = reader.connection.Prepare(sql, status);
  if (status.Ok()) {
    int index = 1;
    for (const std::string& value : values) select.Bind(index++, std::string_view(value));
    select.Bind(index, std::int64_t{filter.limit > 0 ? filter.limit : -1});
    while (select.Step(status)) {
      result.rows.push_back(ReadRow(select));
      reader.Patch(result.rows.back());
    }
  }
  if (!status.Ok()) {
    result.ok = false;
    result.message = path + ": " + store::Reason(status, options.busyTimeout);
    result.rows.clear();
  }
  return result;
}

std::vector<PendingRow> Pending(const std::string& path, int limit, std::string* error, const Options& options) {
  std::vector<PendingRow> rows;
  Reader reader;
  if (!reader.Open(path, options)) {
    if (error) *error = reader.error;
    return rows;
  }
  if (reader.opened.missing) return rows;
  Status status;
  sqlite::Statement select = reader.connection.Prepare(
      std::string("SELECT ") + kRowColumns +
          ", uuid FROM history WHERE uploaded IS NULL AND result IS NOT NULL ORDER BY id LIMIT ?",
      status);
  if (status.Ok()) {
    select.Bind(1, std::int64_t{limit > 0 ? limit : -1});
    while (select.Step(status)) rows.push_back({ReadRow(select), select.Text(22)});
  }
  // Rows closed just now in memory only (a read-only file) are not pending:
  // the file still has them open.
  if (!status.Ok()) {
    rows.clear();
    if (error) *error = path + ": " + store::Reason(status, options.busyTimeout);
  }
  return rows;
}

bool MarkUploaded(const std::string& path, const std::vector<std::string>& uuids,
                  std::chrono::system_clock::time_point time, std::string* error, const Options& options) {
  Connection connection;
  const store::Opened opened = store::Open(path, store::OpenMode::kExisting, options.busyTimeout, connection);
  std::string why;
  if (!opened.status.Ok()) {
    why = opened.reason;
  } else if (opened.missing) {
    why = "no such file";
  } else if (opened.readOnly) {
    why = "not writable";
  } else {
    const std::string stamp = IsoTime(time);
    const Status status = store::Write(connection, options.busyTimeout, [&]() -> Status {
      Status s;
      sqlite::Statement mark =
          connection.Prepare("UPDATE history SET uploaded = ? WHERE uuid = ? AND uploaded IS NULL", s);
      for (const std::string& uuid : uuids) {
        if (!s.Ok()) break;
        mark.Reset();
        mark.Bind(1, std::string_view(stamp));
        mark.Bind(2, std::string_view(uuid));
        s = mark.Run();
      }
      return s;
    });
    if (status.Ok()) return true;
    why = store::Reason(status, options.busyTimeout);
  }
  if (error) *error = path + ": " + why;
  return false;
}

}  // namespace history
