// Reading the history: the filters, the query, and the uploader's view.
#include <cstdio>
#include <set>

#include "common/history/history.h"
#include "common/history/store.h"

namespace history {
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

}  // namespace

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

}  // namespace

std::optional<std::string> StartedBound(std::string_view text, bool upper) {
  if (!text.empty() && text.back() == 'Z') text.remove_suffix(1);
  int year, month, day;
  if (!Digits(text, 0, 4, year) || text.size() < 10 || text[4] != '-' || !Digits(text, 5, 2, month) || text[7] != '-' ||
      !Digits(text, 8, 2, day)) {
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

namespace {

constexpr std::string_view kResults[] = {kOk, kFailed, kRefused, kDeclined, kStopped, kInterrupted};
constexpr std::string_view kOperations[] = {"connect",       "upgrade",          "write-factory-data", "read-user-data",
                                            "send-settings", "receive-settings", "update-software"};

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
  if (filter.since && !StartedBound(*filter.since, false)) return "--since: \"" + *filter.since + "\"" + kTimes;
  if (filter.until && !StartedBound(*filter.until, true)) return "--until: \"" + *filter.until + "\"" + kTimes;
  if (filter.since && filter.until && *StartedBound(*filter.since, false) > *StartedBound(*filter.until, true)) {
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
  if (filter.since) where(" AND started >= ?", *StartedBound(*filter.since, false));
  if (filter.until) where(" AND started <= ?", *StartedBound(*filter.until, true));
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
