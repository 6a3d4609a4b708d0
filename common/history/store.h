// The history file itself: opening it (WAL journal, busy timeout), creating
// and migrating its schema, setting a damaged file aside, marking the rows
// of dead processes interrupted, and writing in short retried transactions.
// Internal to common_history.  A Connection from here belongs to one thread
// at a time; every function blocks at most for the busy timeout beyond its
// own reading and writing.
#pragma once

#include <chrono>
#include <functional>
#include <set>
#include <string>

#include "common/history/sqlite.h"

namespace history::store {

// Where this process stands, for telling live rows from dead ones.
struct Process {
  std::int64_t pid = 0;
  std::string bootId;        // /proc/sys/kernel/random/boot_id
  std::string processStart;  // field 22 of /proc/<pid>/stat: tells a reused pid apart
  std::string station;       // host name
};
Process ThisProcess();

enum class OpenMode {
  kCreate,    // make folders and file when missing; migrate; set a damaged file aside
  kExisting,  // read-write when possible, else read-only; never creates, never moves
};

struct Opened {
  sqlite::Status status;  // not ok: `reason` says why, the connection is closed
  std::string reason;
  bool readOnly = false;  // opened read-only (newer schema, or no write access)
  bool missing = false;   // kExisting: there is no such file (not an error)
  int version = 0;        // the file's schema version
  std::string setAside;   // kCreate: the name a damaged file was moved to
  std::uint64_t inode = 0;  // of the file opened, for SetAsideDamaged
};

Opened Open(const std::string& path, OpenMode mode, std::chrono::milliseconds busyTimeout,
            sqlite::Connection& connection);

// Moves the damaged file at `path` (with its write-ahead log) aside as
// <path>.corrupt-<UTC time>, when it is still the file of `inode`; returns
// the new name, or "" when another process has already replaced it or it
// could not be moved.
std::string SetAsideDamaged(const std::string& path, std::uint64_t inode);

// Runs `body` between BEGIN IMMEDIATE and COMMIT, again from the start
// while the file is busy and `busyTimeout` has not passed; rolled back on
// any failure, so that a retry never writes twice.
sqlite::Status Write(sqlite::Connection& connection, std::chrono::milliseconds busyTimeout,
                     const std::function<sqlite::Status()>& body);

// The open rows of this station whose process is gone (or from an earlier
// boot).
std::set<std::int64_t> DeadRows(sqlite::Connection& connection, const Process& self, sqlite::Status& status);
// Marks them interrupted (those still open), inside the caller's transaction.
sqlite::Status MarkInterrupted(sqlite::Connection& connection, const std::set<std::int64_t>& ids);

// A reason for a person: "database is locked (waited 2 s)", "disk full".
std::string Reason(const sqlite::Status& status, std::chrono::milliseconds busyTimeout);

}  // namespace history::store
