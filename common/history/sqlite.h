// A thin RAII layer over SQLite's C API: a connection, prepared statements
// and transactions that end on every path.  Errors come back as a Status
// (SQLite's primary result code and its message), never as exceptions.
//
// A Connection, and the statements made from it, belong to one thread at a
// time (the caller serialises).  A call blocks at most for the connection's
// busy timeout, plus the time of the statement itself.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace history::sqlite {

struct Status {
  int code = 0;  // SQLITE_OK (0), or SQLite's primary result code
  std::string message;
  int systemErrno = 0;  // the system call's errno behind an I/O error, else 0
  bool Ok() const { return code == 0; }
  bool Busy() const;     // SQLITE_BUSY or SQLITE_LOCKED: someone else holds the file
  bool Corrupt() const;  // SQLITE_CORRUPT or SQLITE_NOTADB: not a database we can use
};

class Statement;

class Connection {
 public:
  enum class Mode { kReadOnly, kReadWrite, kCreate };

  Connection() = default;
  Connection(Connection&& other) noexcept;
  Connection& operator=(Connection&& other) noexcept;
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  ~Connection();

  // Opens `path` (kCreate makes the file when missing); busyTimeout bounds
  // every later wait for another connection's lock.  Blocks on the file
  // system only.
  Status Open(const std::string& path, Mode mode, std::chrono::milliseconds busyTimeout);
  bool IsOpen() const { return db_ != nullptr; }
  void Close();

  // Runs one or more statements without results.
  Status Exec(std::string_view sql);
  // Prepares one statement; the Statement is empty when `status` is not ok.
  Statement Prepare(std::string_view sql, Status& status);
  // A single integer result (PRAGMA user_version, COUNT(*)); nullopt on error
  // with `status` set.
  std::optional<std::int64_t> QueryInt(std::string_view sql, Status& status);

  std::int64_t LastInsertId() const;
  int Changes() const;
  Status Error(int code) const;  // `code` with the connection's message
  sqlite3* Handle() const { return db_; }

 private:
  sqlite3* db_ = nullptr;
};

class Statement {
 public:
  Statement() = default;
  Statement(Statement&& other) noexcept;
  Statement& operator=(Statement&& other) noexcept;
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  ~Statement();

  bool Valid() const { return stmt_ != nullptr; }
  // Binding by 1-based index; nullopt binds NULL.
  void Bind(int index, std::int64_t value);
  void Bind(int index, std::string_view text);
  void Bind(int index, const std::optional<std::string>& text);
  void Bind(int index, const std::optional<std::int64_t>& value);
  void BindNull(int index);

  // One step: true with a row to read, false when done (`status` ok) or on
  // an error (`status` set).
  bool Step(Status& status);
  // Runs to the end, for statements without rows.
  Status Run();
  void Reset();

  bool IsNull(int column) const;
  std::int64_t Int(int column) const;
  std::string Text(int column) const;
  std::optional<std::string> OptText(int column) const;
  std::optional<std::int64_t> OptInt(int column) const;

 private:
  friend class Connection;
  Statement(sqlite3_stmt* stmt, sqlite3* db) : stmt_(stmt), db_(db) {}
  sqlite3_stmt* stmt_ = nullptr;
  sqlite3* db_ = nullptr;
};

// BEGIN IMMEDIATE (the write lock taken at once, so that a commit never
// meets a newer snapshot) ... COMMIT; rolled back when destroyed with the
// transaction still open (not begun by it, or a failed COMMIT).
class Transaction {
 public:
  explicit Transaction(Connection& connection) : connection_(connection) {}
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  ~Transaction();

  Status Begin();
  Status Commit();

 private:
  Connection& connection_;
  bool begun_ = false;
};

}  // namespace history::sqlite
