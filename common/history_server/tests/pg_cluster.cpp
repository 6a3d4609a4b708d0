#include "common/history_server/tests/pg_cluster.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <libpq-fe.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace history_server::testing {
namespace {

namespace fs = std::filesystem;

constexpr const char* kBin = "/usr/lib/postgresql/15/bin";
constexpr const char* kUnprivileged = "nobody";

void IgnoreNotice(void*, const char*) {}

int FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return 0;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  ::close(fd);
  return port;
}

std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  for (const char c : text) {
    if (c == '\'' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return quoted + "'";
}

}  // namespace

PgCluster::PgCluster() {
  bin_ = kBin;
  if (!fs::exists(bin_ + "/initdb") || !fs::exists(bin_ + "/pg_ctl")) {
    error_ = "PostgreSQL 15 is not installed (no " + bin_ + "/initdb): run scripts/deps.sh (package postgresql)";
    return;
  }
  if (!folder_.Ok()) {
    error_ = "no temporary folder";
    return;
  }
  if (::geteuid() == 0) {
    const passwd* user = ::getpwnam(kUnprivileged);
    if (user == nullptr || ::chown(folder_.Path().c_str(), user->pw_uid, user->pw_gid) != 0) {
      error_ = std::string("cannot hand the cluster's folder to ") + kUnprivileged;
      return;
    }
  }
  data_ = folder_ / "data";
  if (!Run("initdb", {bin_ + "/initdb", "-D", data_, "-U", "postgres", "-N", "--no-locale", "-E", "UTF8",
                      "--auth-local=trust", "--auth-host=scram-sha-256"})) {
    return;
  }
  passfile_ = (fs::path(folder_.Path()) / "pgpass").string();
  wrongPassfile_ = (fs::path(folder_.Path()) / "pgpass-wrong").string();
  for (int attempt = 0; attempt < 3 && !running_; ++attempt) {
    port_ = FreePort();
    error_.clear();
    Start();
  }
}

PgCluster::~PgCluster() {
  if (running_) Stop();
}

bool PgCluster::Run(const std::string& what, const std::vector<std::string>& argv) {
  const std::string log = folder_ / (what + ".log");
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  uid_t uid = 0;
  gid_t gid = 0;
  const bool root = ::geteuid() == 0;
  if (root) {
    const passwd* user = ::getpwnam(kUnprivileged);
    if (user == nullptr) {
      error_ = std::string("no user ") + kUnprivileged;
      return false;
    }
    uid = user->pw_uid;
    gid = user->pw_gid;
  }
  const std::string folder = folder_.Path().string();
  const pid_t child = ::fork();
  if (child == 0) {
    // Only what may be done between fork and exec.
    if (root && (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0)) ::_exit(126);
    if (::chdir(folder.c_str()) != 0) ::_exit(126);
    const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (out >= 0) {
      ::dup2(out, 1);
      ::dup2(out, 2);
    }
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    error_ = what + " failed: " + common::testing::ReadFile(log);
    return false;
  }
  return true;
}

bool PgCluster::Start() {
  const std::string options = "-p " + std::to_string(port_) + " -k " + folder_.Path().string() +
                              " -c listen_addresses=127.0.0.1 -c fsync=off -c max_connections=40";
  running_ = Run("pg_ctl-start", {bin_ + "/pg_ctl", "-D", data_, "-l", folder_ / "server.log", "-w", "-t", "60", "-o",
                                  options, "start"});
  return running_;
}

bool PgCluster::Stop() {
  const bool stopped = Run("pg_ctl-stop", {bin_ + "/pg_ctl", "-D", data_, "-m", "fast", "-w", "-t", "60", "stop"});
  if (stopped) running_ = false;
  return stopped;
}

std::string PgCluster::Admin(const std::string& sql, const std::string& database) const {
  const std::string conninfo =
      "host=" + folder_.Path().string() + " port=" + std::to_string(port_) + " user=postgres dbname=" + database;
  PGconn* c = PQconnectdb(conninfo.c_str());
  std::string error;
  PQsetNoticeProcessor(c, IgnoreNotice, nullptr);
  if (PQstatus(c) != CONNECTION_OK) {
    error = PQerrorMessage(c);
  } else {
    PGresult* r = PQexec(c, sql.c_str());
    const ExecStatusType status = PQresultStatus(r);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) error = PQresultErrorMessage(r);
    PQclear(r);
  }
  PQfinish(c);
  return error;
}

std::string PgCluster::AddRole(const std::string& name, const std::string& password, const std::string& attributes) {
  const std::string error = Admin("CREATE ROLE " + name + " LOGIN " + attributes + " PASSWORD " + Quoted(password));
  std::ofstream(passfile_, std::ios::app) << "127.0.0.1:" << port_ << ":*:" << name << ":" << password << "\n";
  std::ofstream(wrongPassfile_, std::ios::app) << "127.0.0.1:" << port_ << ":*:" << name << ":not-" << password << "\n";
  ::chmod(passfile_.c_str(), 0600);
  ::chmod(wrongPassfile_.c_str(), 0600);
  return error;
}

std::string PgCluster::Conninfo(const std::string& user, const std::string& database) const {
  return "host=127.0.0.1 port=" + std::to_string(port_) + " user=" + user + " dbname=" + database +
         " passfile=" + passfile_;
}

std::string PgCluster::WrongPasswordConninfo(const std::string& user, const std::string& database) {
  return "host=127.0.0.1 port=" + std::to_string(port_) + " user=" + user + " dbname=" + database +
         " passfile=" + wrongPassfile_;
}

}  // namespace history_server::testing
