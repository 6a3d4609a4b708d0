// The service history: one row per operation on a receiver, by either
// program and either front end, in an SQLite file that every process of the
// station shares.  A row is written when the operation starts and completed
// when it ends; a row left open by a process that died reads as
// "interrupted".  Nothing is ever deleted.
//
// The history never fails or slows an operation: every call here returns
// normally whatever the file does (read-only folder, full disk, a lock held
// beyond the busy timeout, a corrupt file), and the first failure of a run is
// said once through the Warning callback; after it the recorder goes on
// without a database.
//
// No Qt.  A Recorder and its Entries may be used from any thread (an entry
// from one thread at a time); each call blocks at most for the busy timeout.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/serial_ports.h"

namespace history {

// The outcomes of an operation, as the `result` column spells them.
inline constexpr std::string_view kOk = "ok";
inline constexpr std::string_view kFailed = "failed";
inline constexpr std::string_view kRefused = "refused";
inline constexpr std::string_view kDeclined = "declined";
inline constexpr std::string_view kStopped = "stopped";
inline constexpr std::string_view kInterrupted = "interrupted";

// One row; the member names are the columns and the keys of the JSON output.
// Absent values are NULL in the file and null in JSON.
struct Row {
  std::int64_t id = 0;
  std::string started;  // UTC, ISO 8601 with milliseconds: 2026-12-10T13:25:40.123Z
  std::optional<std::string> ended;
  std::optional<std::int64_t> duration_ms;
  std::string program;  // torvix, torvix-cli, torvix-channels, updater, updater-cli
  std::string version;
  std::string operation;  // connect, upgrade, write-factory-data, read-user-data, send-settings, receive-settings, update-software
  std::optional<std::string> mode;  // the upgrade's mode
  std::optional<std::string> port;  // COMn
  std::optional<std::string> device;
  std::optional<std::string> adapter;  // by-id name and serial number of a USB adapter
  std::optional<std::string> hardware;
  std::optional<std::string> software;
  std::optional<std::string> file;  // absolute path
  std::optional<std::int64_t> file_size;
  std::optional<std::string> file_sha256;
  std::optional<std::string> result;  // one of the k... above; null while the operation runs
  std::optional<int> exit_code;
  std::optional<std::string> message;
  std::string operator_name;  // column and key "operator"
  std::string station;
  std::optional<std::string> unit;
};

// The columns in the file's order (also the CSV header and the JSON keys).
inline constexpr std::array<std::string_view, 22> kColumns = {
    "id",       "started",  "ended",     "duration_ms", "program",   "version", "operation", "mode",
    "port",     "device",   "adapter",   "hardware",    "software",  "file",    "file_size", "file_sha256",
    "result",   "exit_code", "message",  "operator",    "station",   "unit"};

// The schema this program writes (PRAGMA user_version).  Older files are
// migrated in place; a newer one is only read.
inline constexpr int kSchemaVersion = 2;

// How long a call waits for another process's lock on the file before it
// gives up (and warns).  Transactions are a few statements long, so only a
// stuck process holds the lock this long.
inline constexpr std::chrono::milliseconds kBusyTimeout{2000};

// What tests and benchmarks change; the programs keep the defaults.
struct Options {
  std::chrono::milliseconds busyTimeout = kBusyTimeout;
  common::DeviceRoots roots;  // where the adapter of Start::device is looked up
};

// A UTC time as the rows carry it: 2026-12-10T13:25:40.123Z.  Any thread.
std::string IsoTime(std::chrono::system_clock::time_point time);

// Where the history lives for a run: off, or a file.
struct Location {
  bool enabled = true;
  std::string path;
};

// The file a run uses: `--no-history` (noHistory) or RT_HISTORY=off turns it
// off; `--history PATH` (flagPath), else RT_HISTORY=PATH, else
// $XDG_STATE_HOME/KALMER/history.sqlite, else
// ~/.local/state/KALMER/history.sqlite.  The command line wins over the
// environment (`--history PATH` records even with RT_HISTORY=off); a
// relative path is made absolute; a relative XDG_STATE_HOME is ignored; with
// neither it nor HOME the history is off.  Folders are made when the first
// row is written, not here.  `getenv` is injectable for tests.  Any thread.
Location ResolveLocation(std::optional<std::string> flagPath, bool noHistory,
                         const std::function<const char*(const char*)>& getenv);

using Warning = std::function<void(const std::string& line)>;

// What an operation knows when it starts.
struct Start {
  std::string program;
  std::string version;
  std::string operation;
  std::optional<std::string> mode;
  std::optional<std::string> port;
  std::optional<std::string> device;  // the adapter is looked up from it (sysfs)
  std::optional<std::string> file;    // made absolute; size and SHA-256 are read when the row is written
  std::optional<std::string> unit;
};

class Recorder;

// One operation's row.  Finish() completes it once; an entry destroyed
// without Finish() leaves its row open, as a process that died would.
class Entry {
 public:
  Entry();
  Entry(Entry&&) noexcept;
  Entry& operator=(Entry&&) noexcept;
  ~Entry();

  // What the operation learned on the way (written with Finish).
  void SetVersions(std::string hardware, std::string software);
  // A file known only later (a download's output): hashed at Finish.
  void SetFile(std::string path);
  // Completes the row (ended, duration, result, exit code, message: "" is
  // null) in a transaction of its own; later calls do nothing.  Hashes a
  // SetFile file first; blocks at most for the busy timeout beyond that.
  void Finish(std::string_view result, int exitCode, std::string message = {});

 private:
  friend class Recorder;
  struct State;
  std::unique_ptr<State> state_;
};

class Recorder {
 public:
  // Opens lazily; a disabled location records nothing and never warns.
  Recorder(Location location, Warning warning);
  Recorder(Location location, Warning warning, Options options);
  ~Recorder();
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;

  // Writes the operation's row (result null) in a transaction of its own;
  // the entry records nothing when the history is off or failed.  Hashes
  // Start::file first (about 2 ms per MB); blocks at most for the busy
  // timeout beyond that.
  Entry Begin(const Start& start);
  // Called after each Finish that reached the file, on the finishing
  // thread (the shared-database uploader's cue); must not block.
  void OnFinished(std::function<void(const std::string& path)> callback);

 private:
  struct State;
  std::shared_ptr<State> state_;
};

// Reading.
struct Filter {
  std::optional<std::string> since;  // a date or an ISO 8601 time, UTC; rows started at or after it
  std::optional<std::string> until;  // rows started before the end of that date / at or before that time
  std::optional<std::string> unit;
  std::optional<std::string> result;
  std::optional<std::string> operation;
  std::optional<std::string> port;
  int limit = 50;  // 0: every row
};

// A --since (upper false) or --until (upper true) text as the first or last
// millisecond it names, in the rows' own form: "2026-12-10" is
// 2026-12-10T00:00:00.000Z as a lower bound and ...T23:59:59.999Z as an
// upper one; a time without seconds or milliseconds likewise.  None when the
// text is no date or time.
std::optional<std::string> StartedBound(std::string_view text, bool upper);

// "" or the message for a wrong filter value (exit 2), naming the
// command-line option, e.g. "--since: \"12/10\" is not a date ...".
std::string CheckFilter(const Filter& filter);

struct QueryResult {
  bool ok = true;
  std::string message;  // why the file could not be read (exit 10)
  std::vector<Row> rows;  // newest first
  std::string warning;    // one line to show, e.g. a newer program's file read read-only
};
// Marks the rows of dead processes interrupted first (when the file is
// writable; in the rows returned in any case).  A missing file is an empty
// history.  The filter must have passed CheckFilter.  Blocks at most for the
// busy timeout plus the reading.  Any thread.
QueryResult Query(const std::string& path, const Filter& filter);
QueryResult Query(const std::string& path, const Filter& filter, const Options& options);

// For the shared-database uploader: every row carries a key unique to it
// (a random UUID, lowercase 8-4-4-4-12) and the time it was uploaded.
struct PendingRow {
  Row row;
  std::string uuid;
};
// Finished rows (interrupted ones included) not yet uploaded, oldest first,
// at most `limit` (0: all).  Marks dead processes' rows interrupted first.
// Empty when the file is missing or cannot be read (`error` then says why).
// Blocks at most for the busy timeout plus the reading.  Any thread.
std::vector<PendingRow> Pending(const std::string& path, int limit, std::string* error = nullptr,
                                const Options& options = {});
// Stamps the rows with these keys uploaded at `time` (rows already stamped
// keep their first time), in one transaction; false (with `error`) when the
// file could not be written.  Blocks at most for the busy timeout.
bool MarkUploaded(const std::string& path, const std::vector<std::string>& uuids,
                  std::chrono::system_clock::time_point time, std::string* error = nullptr,
                  const Options& options = {});

// Outputs: a table for a person (one line per row), RFC 4180 CSV with a
// header line, a JSON array of objects with the keys of Row.
std::string FormatTable(const std::vector<Row>& rows);
std::string FormatCsv(const std::vector<Row>& rows);
std::string FormatJson(const std::vector<Row>& rows);

}  // namespace history
