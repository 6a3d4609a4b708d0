#include "common/history/sqlite.h"

#include <sqlite3.h>

#include <utility>

namespace history::sqlite {

bool Status::Busy() const { return code == SQLITE_BUSY || code == SQLITE_LOCKED; }
bool Status::Corrupt() const { return code == SQLITE_CORRUPT || code == SQLITE_NOTADB; }

Connection::Connection(Connection&& other) noexcept : db_(std::exchange(other.db_, nullptr)) {}

Connection& Connection::operator=(Connection&& other) noexcept {
  if (this != &other) {
    Close();
    db_ = std::exchange(other.db_, nullptr);
  }
  return *this;
}

Connection::~Connection() { Close(); }

void Connection::Close() {
  // Every statement is finalised by its own owner first; close_v2 defers the
  // close until then should one still be alive.
  if (db_ != nullptr) sqlite3_close_v2(std::exchange(db_, nullptr));
}

Status Connection::Open(const std::string& path, Mode mode, std::chrono::milliseconds busyTimeout) {
  Close();
  int flags = SQLITE_OPEN_NOMUTEX;
  switch (mode) {
    case Mode::kReadOnly: flags |= SQLITE_OPEN_READONLY; break;
    case Mode::kReadWrite: flags |= SQLITE_OPEN_READWRITE; break;
    case Mode::kCreate: flags |= SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE; break;
  }
  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
  if (rc != SQLITE_OK) {
    Status status{rc & 0xff, db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc), db != nullptr ? sqlite3_system_errno(db) : 0};
    sqlite3_close_v2(db);
    return status;
  }
  db_ = db;
  sqlite3_extended_result_codes(db_, 0);
  sqlite3_busy_timeout(db_, static_cast<int>(busyTimeout.count()));
  return {};
}

Status Connection::Error(int code) const {
  if (db_ == nullptr) return {code & 0xff, sqlite3_errstr(code)};
  return {code & 0xff, sqlite3_errmsg(db_), sqlite3_system_errno(db_)};
}

Status Connection::Exec(std::string_view sql) {
  const std::string text(sql);
  char* message = nullptr;
  const int rc = sqlite3_exec(db_, text.c_str(), nullptr, nullptr, &message);
  Status status;
  if (rc != SQLITE_OK) {
    status = {rc & 0xff, message != nullptr ? message : sqlite3_errstr(rc), sqlite3_system_errno(db_)};
  }
  sqlite3_free(message);
  return status;
}

Statement Connection::Prepare(std::string_view sql, Status& status) {
  sqlite3_stmt* stmt = nullptr;
  const int rc = sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &stmt, nullptr);
  if (rc != SQLITE_OK) {
    status = Error(rc);
    sqlite3_finalize(stmt);
    return {};
  }
  status = {};
  return Statement(stmt, db_);
}

std::optional<std::int64_t> Connection::QueryInt(std::string_view sql, Status& status) {
  Statement statement = Prepare(sql, status);
  if (!status.Ok()) return std::nullopt;
  if (!statement.Step(status)) {
    if (status.Ok()) status = {SQLITE_ERROR, "no result"};
    return std::nullopt;
  }
  return statement.Int(0);
}

std::int64_t Connection::LastInsertId() const { return sqlite3_last_insert_rowid(db_); }
int Connection::Changes() const { return sqlite3_changes(db_); }

Statement::Statement(Statement&& other) noexcept
    : stmt_(std::exchange(other.stmt_, nullptr)), db_(std::exchange(other.db_, nullptr)) {}

Statement& Statement::operator=(Statement&& other) noexcept {
  if (this != &other) {
    sqlite3_finalize(stmt_);
    stmt_ = std::exchange(other.stmt_, nullptr);
    db_ = std::exchange(other.db_, nullptr);
  }
  return *this;
}

Statement::~Statement() { sqlite3_finalize(stmt_); }

void Statement::Bind(int index, std::int64_t value) { sqlite3_bind_int64(stmt_, index, value); }
void Statement::Bind(int index, std::string_view text) {
  sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}
void Statement::Bind(int index, const std::optional<std::string>& text) {
  if (text) {
    Bind(index, std::string_view(*text));
  } else {
    BindNull(index);
  }
}
void Statement::Bind(int index, const std::optional<std::int64_t>& value) {
  if (value) {
    Bind(index, *value);
  } else {
    BindNull(index);
  }
}
void Statement::BindNull(int index) { sqlite3_bind_null(stmt_, index); }

bool Statement::Step(Status& status) {
  const int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) {
    status = {};
    return true;
  }
  if (rc == SQLITE_DONE) {
    status = {};
  } else {
    status = {rc & 0xff, sqlite3_errmsg(db_), sqlite3_system_errno(db_)};
  }
  return false;
}

Status Statement::Run() {
  Status status;
  while (Step(status)) {
  }
  return status;
}

void Statement::Reset() {
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
}

bool Statement::IsNull(int column) const { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }
std::int64_t Statement::Int(int column) const { return sqlite3_column_int64(stmt_, column); }
std::string Statement::Text(int column) const {
  const auto* text = sqlite3_column_text(stmt_, column);
  if (text == nullptr) return {};
  return std::string(reinterpret_cast<const char*>(text), static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column)));
}
std::optional<std::string> Statement::OptText(int column) const {
  if (IsNull(column)) return std::nullopt;
  return Text(column);
}
std::optional<std::int64_t> Statement::OptInt(int column) const {
  if (IsNull(column)) return std::nullopt;
  return Int(column);
}

Transaction::~Transaction() {
  // After a failed statement or COMMIT SQLite may or may not have rolled
  // back already; whatever is still open goes.
  if (begun_ && sqlite3_get_autocommit(connection_.Handle()) == 0) connection_.Exec("ROLLBACK");
}

Status Transaction::Begin() {
  Status status = connection_.Exec("BEGIN IMMEDIATE");
  begun_ = status.Ok();
  return status;
}

Status Transaction::Commit() {
  // A busy COMMIT leaves the transaction open, to be committed again.
  return connection_.Exec("COMMIT");
}

}  // namespace history::sqlite
