// A throw-away PostgreSQL cluster for tests: initdb in a new temporary
// folder, started with pg_ctl on a free port of 127.0.0.1, stopped and
// removed at the end.  PostgreSQL refuses to run as root, so when the tests
// do, the cluster's folder belongs to `nobody` and its programs run as that
// user.  Connections over TCP need a password (scram-sha-256, from a
// passfile the cluster writes); the Unix socket lets the superuser in for
// setting things up.
//
// For tests only.  One thread; Start, Stop and the constructor block until
// the server is up or down (pg_ctl -w).
#pragma once

#include <string>
#include <vector>

#include "common/testing/test_support.h"

namespace history_server::testing {

class PgCluster {
 public:
  // Makes and starts the cluster; Ok() is false with Error() saying why (for
  // one, that PostgreSQL 15 is not installed).
  PgCluster();
  ~PgCluster();
  PgCluster(const PgCluster&) = delete;
  PgCluster& operator=(const PgCluster&) = delete;

  bool Ok() const { return error_.empty(); }
  const std::string& Error() const { return error_; }

  // pg_ctl start / stop (fast); false, with Error(), when it did not work.
  bool Start();
  bool Stop();

  // Runs `sql` as the superuser over the Unix socket: "" or the error.
  std::string Admin(const std::string& sql, const std::string& database = "postgres") const;
  // A login role with this password, known to the passfile.
  std::string AddRole(const std::string& name, const std::string& password, const std::string& attributes = "");
  // A keyword string for `user` over TCP, with the cluster's passfile.
  std::string Conninfo(const std::string& user, const std::string& database) const;
  // The same with a password in the passfile other than the role's.
  std::string WrongPasswordConninfo(const std::string& user, const std::string& database);

  int Port() const { return port_; }

 private:
  bool Run(const std::string& what, const std::vector<std::string>& argv);

  common::testing::TempFolder folder_{"rt-pg"};
  std::string bin_;
  std::string data_;
  std::string passfile_;
  std::string wrongPassfile_;
  int port_ = 0;
  bool running_ = false;
  std::string error_;
};

}  // namespace history_server::testing
