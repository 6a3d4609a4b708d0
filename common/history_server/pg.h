// A thin layer over libpq's C API for the shared history database: owners
// of a connection and a result, and the two calls the rest needs, each with
// a deadline of its own, so that nothing here waits longer than it was told
// (libpq's blocking calls would wait as long as the network does).
//
// One thread per connection; every call blocks at most until its deadline,
// and returns early when `stop` is asked.
#pragma once

#include <libpq-fe.h>

#include <chrono>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <utility>
#include <vector>

namespace history_server::pg {

using Clock = std::chrono::steady_clock;

struct ConnectionCloser {
  void operator()(PGconn* connection) const { PQfinish(connection); }
};
using Connection = std::unique_ptr<PGconn, ConnectionCloser>;

struct ResultClearer {
  void operator()(PGresult* result) const { PQclear(result); }
};
using Result = std::unique_ptr<PGresult, ResultClearer>;

// Keyword/value pairs as PQconnectStartParams takes them.
using Parameters = std::vector<std::pair<std::string, std::string>>;

// What went wrong, when something did.
struct Failure {
  std::string message;   // libpq's or the server's text, one line
  std::string sqlstate;  // the server's error code, empty when it said none
};

// Opens a connection with `parameters` (no expansion of dbname) and switches
// it to non-blocking mode.  A connection, or none with `failure` filled in
// (also when the deadline passed or stop was asked).  Blocks until the
// deadline at most.
Connection Connect(const Parameters& parameters, Clock::time_point deadline, std::stop_token stop, Failure& failure);

// Runs `sql` on `connection`: with parameters (text, NULL for none) one
// statement, without any several separated by ';'.  The last result of a
// statement that succeeded, or none with `failure` filled in.  After a
// failure on the connection itself (deadline, stop, lost server) the
// connection is of no further use.  Blocks until the deadline at most.
Result Exec(PGconn* connection, const std::string& sql, const std::vector<std::optional<std::string>>& parameters,
            Clock::time_point deadline, std::stop_token stop, Failure& failure);

// Value of a cell; none for NULL.
std::optional<std::string> Value(const PGresult* result, int row, int column);

}  // namespace history_server::pg
