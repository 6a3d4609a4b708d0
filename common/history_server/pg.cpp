#include "common/history_server/pg.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>

namespace history_server::pg {
namespace {

// How often a wait looks at `stop`.
constexpr std::chrono::milliseconds kStopSlice{50};

// libpq's texts end in a line feed and may go on over further (indented)
// lines: one line, its lines parted by "; ".
std::string OneLine(const std::string& text) {
  std::string line;
  bool blank = false;
  bool newLine = false;
  for (const char c : text) {
    if (c == '\n') newLine = true;
    if (c == '\n' || c == '\t' || c == ' ' || c == '\r') {
      blank = true;
      continue;
    }
    if (!line.empty() && (newLine || blank)) line += newLine ? "; " : " ";
    blank = newLine = false;
    line += c;
  }
  return line;
}

void IgnoreNotice(void*, const char*) {}

enum class Wait { kReady, kTimedOut, kStopped, kBroken };

// Waits until `fd` can be read (or written, or either), the deadline passes or stop is asked.
Wait WaitFor(int fd, short events, Clock::time_point deadline, const std::stop_token& stop) {
  if (fd < 0) return Wait::kBroken;
  for (;;) {
    if (stop.stop_requested()) return Wait::kStopped;
    const auto now = Clock::now();
    if (now >= deadline) return Wait::kTimedOut;
    const auto slice = std::min<Clock::duration>(deadline - now, kStopSlice);
    const int ms = static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(slice).count());
    pollfd p{fd, events, 0};
    const int n = ::poll(&p, 1, ms);
    if (n > 0) return Wait::kReady;
    if (n < 0 && errno != EINTR) return Wait::kBroken;
  }
}

std::string WaitText(Wait wait) {
  switch (wait) {
    case Wait::kTimedOut:
      return "no answer before the time limit";
    case Wait::kStopped:
      return "stopped";
    default:
      return "the connection broke";
  }
}

}  // namespace

Connection Connect(const Parameters& parameters, Clock::time_point deadline, std::stop_token stop, Failure& failure) {
  std::vector<const char*> keys;
  std::vector<const char*> values;
  for (const auto& [key, value] : parameters) {
    keys.push_back(key.c_str());
    values.push_back(value.c_str());
  }
  keys.push_back(nullptr);
  values.push_back(nullptr);
  Connection connection(PQconnectStartParams(keys.data(), values.data(), 0));
  if (!connection) {
    failure = {"out of memory", {}};
    return nullptr;
  }
  if (PQstatus(connection.get()) == CONNECTION_BAD) {
    failure = {OneLine(PQerrorMessage(connection.get())), {}};
    return nullptr;
  }
  // The server's notices ("already exists, skipping") are for nobody here;
  // libpq would print them on standard error.
  PQsetNoticeProcessor(connection.get(), IgnoreNotice, nullptr);
  PostgresPollingStatusType state = PGRES_POLLING_WRITING;
  for (;;) {
    if (state == PGRES_POLLING_OK) break;
    if (state == PGRES_POLLING_FAILED) {
      failure = {OneLine(PQerrorMessage(connection.get())), {}};
      return nullptr;
    }
    // The socket may change from one attempt (host, address) to the next.
    const Wait wait =
        WaitFor(PQsocket(connection.get()), state == PGRES_POLLING_WRITING ? POLLOUT : POLLIN, deadline, stop);
    if (wait != Wait::kReady) {
      failure = {"could not connect: " + WaitText(wait), {}};
      return nullptr;
    }
    state = PQconnectPoll(connection.get());
  }
  if (PQsetnonblocking(connection.get(), 1) != 0) {
    failure = {OneLine(PQerrorMessage(connection.get())), {}};
    return nullptr;
  }
  return connection;
}

Result Exec(PGconn* connection, const std::string& sql, const std::vector<std::optional<std::string>>& parameters,
            Clock::time_point deadline, std::stop_token stop, Failure& failure) {
  int sent = 0;
  if (parameters.empty()) {
    sent = PQsendQuery(connection, sql.c_str());
  } else {
    std::vector<const char*> values;
    values.reserve(parameters.size());
    for (const auto& p : parameters) values.push_back(p ? p->c_str() : nullptr);
    sent = PQsendQueryParams(connection, sql.c_str(), static_cast<int>(values.size()), nullptr, values.data(), nullptr,
                             nullptr, 0);
  }
  if (sent != 1) {
    failure = {OneLine(PQerrorMessage(connection)), {}};
    return nullptr;
  }
  const auto broken = [&](Wait wait) {
    failure = {wait == Wait::kBroken ? OneLine(PQerrorMessage(connection)) : WaitText(wait), {}};
    if (failure.message.empty()) failure.message = WaitText(wait);
    return nullptr;
  };
  // Hand the whole statement over; what the server says meanwhile is read,
  // so that neither side waits for the other.
  for (;;) {
    const int flushed = PQflush(connection);
    if (flushed == 0) break;
    if (flushed < 0) return broken(Wait::kBroken);
    const Wait wait = WaitFor(PQsocket(connection), POLLIN | POLLOUT, deadline, stop);
    if (wait != Wait::kReady) return broken(wait);
    if (PQconsumeInput(connection) != 1) return broken(Wait::kBroken);
  }
  Result last;
  std::optional<Failure> error;
  for (;;) {
    while (PQisBusy(connection) != 0) {
      const Wait wait = WaitFor(PQsocket(connection), POLLIN, deadline, stop);
      if (wait != Wait::kReady) return broken(wait);
      if (PQconsumeInput(connection) != 1) return broken(Wait::kBroken);
    }
    Result result(PQgetResult(connection));
    if (!result) break;
    const ExecStatusType status = PQresultStatus(result.get());
    if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK || status == PGRES_EMPTY_QUERY) {
      last = std::move(result);
    } else if (!error) {
      const char* state = PQresultErrorField(result.get(), PG_DIAG_SQLSTATE);
      error = Failure{OneLine(PQresultErrorMessage(result.get())), state != nullptr ? state : ""};
    }
  }
  if (error) {
    failure = *error;
    return nullptr;
  }
  if (!last) {
    failure = {OneLine(PQerrorMessage(connection)), {}};
    if (failure.message.empty()) failure.message = "no result";
  }
  return last;
}

std::optional<std::string> Value(const PGresult* result, int row, int column) {
  if (PQgetisnull(result, row, column) != 0) return std::nullopt;
  return std::string(PQgetvalue(result, row, column), static_cast<std::size_t>(PQgetlength(result, row, column)));
}

}  // namespace history_server::pg
