#include "common/history/store.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>
#include <thread>

#include "common/history/history.h"

namespace history::store {
namespace fs = std::filesystem;
using sqlite::Connection;
using sqlite::Status;

namespace {

// Version 1: the first history, before units and the shared database.
// Version 2: unit, and uuid/uploaded for the uploader.
constexpr const char* kSchema = R"sql(
CREATE TABLE history (
  id INTEGER PRIMARY KEY,
  started TEXT NOT NULL,
  ended TEXT,
  duration_ms INTEGER,
  program TEXT NOT NULL,
  version TEXT NOT NULL,
  operation TEXT NOT NULL,
  mode TEXT,
  port TEXT,
  device TEXT,
  adapter TEXT,
  hardware TEXT,
  software TEXT,
  file TEXT,
  file_size INTEGER,
  file_sha256 TEXT,
  result TEXT,
  exit_code INTEGER,
  message TEXT,
  operator TEXT NOT NULL,
  station TEXT NOT NULL,
  unit TEXT,
  pid INTEGER NOT NULL,
  boot_id TEXT NOT NULL,
  process_start TEXT NOT NULL,
  uuid TEXT,
  uploaded TEXT
);
CREATE INDEX history_started ON history(started);
CREATE INDEX history_open ON history(station) WHERE result IS NULL;
)sql";

// What version 2 adds to a file of either version (the columns only to a
// version 1 file).  Keys for existing rows: random version 4 UUIDs.
constexpr const char* kToVersion2Columns = R"sql(
ALTER TABLE history ADD COLUMN unit TEXT;
ALTER TABLE history ADD COLUMN uuid TEXT;
ALTER TABLE history ADD COLUMN uploaded TEXT;
UPDATE history SET uuid =
  lower(hex(randomblob(4))) || '-' || lower(hex(randomblob(2))) || '-4' ||
  substr(lower(hex(randomblob(2))), 2) || '-' || substr('89ab', 1 + abs(random() % 4), 1) ||
  substr(lower(hex(randomblob(2))), 2) || '-' || lower(hex(randomblob(6)))
WHERE uuid IS NULL;
)sql";
constexpr const char* kVersion2Indexes = R"sql(
CREATE INDEX IF NOT EXISTS history_unit ON history(unit, started);
CREATE UNIQUE INDEX IF NOT EXISTS history_uuid ON history(uuid);
CREATE INDEX IF NOT EXISTS history_pending ON history(id) WHERE uploaded IS NULL AND result IS NOT NULL;
)sql";

std::string ReadLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

std::string StartOf(std::int64_t pid) {
  const std::string stat = [&] {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }();
  const auto close = stat.rfind(')');
  if (close == std::string::npos) return {};
  std::istringstream fields(stat.substr(close + 1));
  std::string field;
  // The fields after the name start with the third (state); the start time
  // is the 22nd.
  for (int i = 3; i <= 22; ++i) {
    if (!(fields >> field)) return {};
  }
  return field;
}

bool Alive(std::int64_t pid, const std::string& start) {
  if (pid <= 0) return false;
  if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno != EPERM) return false;
  const std::string now = StartOf(pid);
  return now.empty() || start.empty() || now == start;
}

std::string CompactUtc() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  gmtime_r(&now, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &tm);
  return text;
}

// Moves a damaged file (and its write-ahead log) aside under a name not yet
// taken; "" when it could not be moved.  `inode` is the file found damaged:
// when another process has already replaced it, nothing is moved and the
// new file is used.
std::string SetAside(const std::string& path, ino_t inode, bool& replacedByOther) {
  replacedByOther = false;
  struct stat now {};
  if (::stat(path.c_str(), &now) != 0 || now.st_ino != inode) {
    replacedByOther = true;
    return {};
  }
  const std::string base = path + ".corrupt-" + CompactUtc();
  std::string aside = base;
  std::error_code error;
  for (int n = 2; fs::exists(aside, error); ++n) aside = base + "-" + std::to_string(n);
  if (::rename(path.c_str(), aside.c_str()) != 0) return {};
  ::rename((path + "-wal").c_str(), (aside + "-wal").c_str());
  ::unlink((path + "-shm").c_str());
  return aside;
}

// Brings the schema to kSchemaVersion; the file's version is read again
// inside the write lock, as another process may be doing the same.
Status Migrate(Connection& connection, std::chrono::milliseconds busyTimeout, int& version) {
  return Write(connection, busyTimeout, [&]() -> Status {
    Status status;
    const auto current = connection.QueryInt("PRAGMA user_version", status);
    if (!status.Ok()) return status;
    version = static_cast<int>(*current);
    if (version >= kSchemaVersion) return {};
    if (version == 0) {
      const auto tables = connection.QueryInt("SELECT COUNT(*) FROM sqlite_master WHERE name = 'history'", status);
      if (!status.Ok()) return status;
      if (*tables == 0) {
        status = connection.Exec(kSchema);
        if (!status.Ok()) return status;
        status = connection.Exec(kVersion2Indexes);
      } else {
        status = {SQLITE_NOTADB, "a table \"history\" of unknown shape"};
      }
    } else if (version == 1) {
      status = connection.Exec(kToVersion2Columns);
      if (status.Ok()) status = connection.Exec(kVersion2Indexes);
    }
    if (!status.Ok()) return status;
    status = connection.Exec("PRAGMA user_version = " + std::to_string(kSchemaVersion));
    if (status.Ok()) version = kSchemaVersion;
    return status;
  });
}

}  // namespace

Process ThisProcess() {
  Process self;
  self.pid = ::getpid();
  self.bootId = ReadLine("/proc/sys/kernel/random/boot_id");
  self.processStart = StartOf(self.pid);
  char host[256] = {};
  if (::gethostname(host, sizeof host - 1) == 0) self.station = host;
  return self;
}

std::string Reason(const Status& status, std::chrono::milliseconds busyTimeout) {
  if (status.Busy()) {
    std::ostringstream text;
    text << "locked by another program beyond " << busyTimeout.count() << " ms";
    return text.str();
  }
  if (status.code == SQLITE_FULL) return "disk full";
  if (status.code == SQLITE_READONLY) return "not writable";
  if (status.code == SQLITE_CANTOPEN) {
    return "cannot be opened" + (status.systemErrno != 0 ? ": " + std::string(std::strerror(status.systemErrno)) : "");
  }
  if (status.code == SQLITE_IOERR) {
    return "cannot be written" +
           (status.systemErrno != 0 ? ": " + std::string(std::strerror(status.systemErrno)) : " (" + status.message + ")");
  }
  return status.message;
}

std::string SetAsideDamaged(const std::string& path, std::uint64_t inode) {
  bool replacedByOther = false;
  return SetAside(path, static_cast<ino_t>(inode), replacedByOther);
}

Status Write(Connection& connection, std::chrono::milliseconds busyTimeout, const std::function<Status()>& body) {
  const auto deadline = std::chrono::steady_clock::now() + busyTimeout;
  for (;;) {
    Status status;
    {
      sqlite::Transaction transaction(connection);
      status = transaction.Begin();
      if (status.Ok()) status = body();
      if (status.Ok()) {
        do {
          status = transaction.Commit();
        } while (status.Busy() && std::chrono::steady_clock::now() < deadline);
      }
    }
    if (status.Ok() || !status.Busy() || std::chrono::steady_clock::now() >= deadline) return status;
    // Busy without the busy handler having waited (a log being recovered):
    // a moment before the next try.
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

Opened Open(const std::string& path, OpenMode mode, std::chrono::milliseconds busyTimeout, Connection& connection) {
  Opened opened;
  std::error_code error;
  if (mode == OpenMode::kExisting && !fs::exists(path, error)) {
    opened.missing = true;
    return opened;
  }
  if (mode == OpenMode::kCreate) {
    const fs::path folder = fs::path(path).parent_path();
    if (!folder.empty()) fs::create_directories(folder, error);
  }
  const auto fail = [&](Status status) {
    connection.Close();
    opened.reason = Reason(status, busyTimeout);
    opened.status = std::move(status);
    return opened;
  };
  for (int attempt = 0;; ++attempt) {
    Status status = connection.Open(path, mode == OpenMode::kCreate ? Connection::Mode::kCreate : Connection::Mode::kReadWrite,
                                    busyTimeout);
    if (!status.Ok() && mode == OpenMode::kExisting) {
      opened.readOnly = true;
      status = connection.Open(path, Connection::Mode::kReadOnly, busyTimeout);
    }
    if (!status.Ok()) return fail(status);
    struct stat file {};
    ::stat(path.c_str(), &file);
    opened.inode = file.st_ino;

    // Processes making a new file at the same time meet here: switching the
    // journal takes the whole file, and a rollback journal's lock conflicts
    // are reported at once rather than waited for.  Again until the timeout.
    const auto deadline = std::chrono::steady_clock::now() + busyTimeout;
    bool newer = false;
    for (;;) {
      auto version = connection.QueryInt("PRAGMA user_version", status);
      if (status.Ok()) {
        opened.version = static_cast<int>(*version);
        newer = opened.version > kSchemaVersion;
        if (!newer && !opened.readOnly) {
          // Persistent in the file; concurrent writers need it from the start.
          status = connection.Exec("PRAGMA journal_mode = WAL");
          if (status.Ok()) status = connection.Exec("PRAGMA synchronous = NORMAL");
          if (status.Ok() && opened.version < kSchemaVersion) status = Migrate(connection, busyTimeout, opened.version);
        }
      }
      if (!status.Busy() || std::chrono::steady_clock::now() >= deadline) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (status.Ok() && newer) {
      // A newer program's file: read it, never change it.
      opened.readOnly = true;
      if (mode == OpenMode::kCreate) {
        status = connection.Open(path, Connection::Mode::kReadOnly, busyTimeout);
        if (!status.Ok()) return fail(status);
      }
      return opened;
    }
    if (status.Ok()) return opened;
    if (!status.Corrupt() || mode != OpenMode::kCreate || attempt > 0) return fail(status);
    // Damaged: keep it under another name and start a new file.
    connection.Close();
    bool replacedByOther = false;
    opened.setAside = SetAside(path, file.st_ino, replacedByOther);
    if (opened.setAside.empty() && !replacedByOther) return fail({SQLITE_CANTOPEN, status.message + "; cannot be set aside"});
  }
}

std::set<std::int64_t> DeadRows(Connection& connection, const Process& self, Status& status) {
  std::set<std::int64_t> dead;
  sqlite::Statement open = connection.Prepare(
      "SELECT id, pid, boot_id, process_start FROM history WHERE result IS NULL AND station = ?", status);
  if (!status.Ok()) return dead;
  open.Bind(1, std::string_view(self.station));
  while (open.Step(status)) {
    const std::int64_t pid = open.Int(1);
    if (open.Text(2) != self.bootId || !Alive(pid, open.Text(3))) dead.insert(open.Int(0));
  }
  return dead;
}

Status MarkInterrupted(Connection& connection, const std::set<std::int64_t>& ids) {
  if (ids.empty()) return {};
  Status status;
  sqlite::Statement mark = connection.Prepare(
      "UPDATE history SET result = 'interrupted' WHERE id = ? AND result IS NULL", status);
  for (std::int64_t id : ids) {
    if (!status.Ok()) break;
    mark.Reset();
    mark.Bind(1, id);
    status = mark.Run();
  }
  return status;
}

}  // namespace history::store
