// The shared history database against a real PostgreSQL 15 cluster (one per
// test binary) and real local history files.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "common/cli/history_command.h"
#include "common/exit_codes.h"
#include "common/history/history.h"
#include "common/history_server/history_server.h"
#include "common/history_server/tests/pg_cluster.h"
#include "common/history_server/uploader.h"
#include "common/testing/test_support.h"

namespace history_server {
namespace {

using common::testing::TempFolder;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds kShortTimeout{700};

// The cluster the whole binary shares, made when a case first needs it: an
// owner role that owns the database "receivers" (and makes its schema), a
// station role that may only insert and select once the schema is there.
class Cluster : public ::testing::Environment {
 public:
  void TearDown() override { cluster_.reset(); }
  // "" once the cluster is up, else why not.
  static std::string Ready() {
    if (!cluster_) {
      cluster_ = std::make_unique<testing::PgCluster>();
      if (!cluster_->Ok()) return problem_ = cluster_->Error();
      problem_ = cluster_->AddRole("owner", "owner-secret");
      problem_ += cluster_->AddRole("station", "station-secret");
      problem_ += cluster_->Admin("CREATE DATABASE receivers OWNER owner");
      problem_ += cluster_->Admin(
          "REVOKE ALL ON DATABASE receivers FROM PUBLIC; "
          "GRANT CONNECT ON DATABASE receivers TO owner, station");
    }
    return problem_;
  }
  static testing::PgCluster& Get() { return *cluster_; }

 private:
  static inline std::unique_ptr<testing::PgCluster> cluster_;
  static inline std::string problem_;
};
[[maybe_unused]] const auto* const kCluster = ::testing::AddGlobalTestEnvironment(new Cluster);

Server Owner() { return {Cluster::Get().Conninfo("owner", "receivers"), kShortTimeout, "history-server-test"}; }
Server Station() { return {Cluster::Get().Conninfo("station", "receivers"), kShortTimeout, "history-server-test"}; }

// Each case starts from an empty table of the current schema that the
// station role may use.
class SharedHistory : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(Cluster::Ready(), "");
    ASSERT_EQ(Cluster::Get().Admin("DROP TABLE IF EXISTS history, schema_version", "receivers"), "");
    ASSERT_TRUE(folder_.Ok());
  }
  void GrantStation() {
    ASSERT_EQ(Cluster::Get().Admin("GRANT SELECT, INSERT ON history TO station", "receivers"), "");
  }

  // `n` finished operations recorded in the local file `name`.
  std::string Record(const std::string& name, int n, const std::string& unitPrefix = "U") {
    const std::string path = folder_ / name;
    history::Recorder recorder({true, path}, [](const std::string& line) { ADD_FAILURE() << line; });
    for (int i = 0; i < n; ++i) {
      history::Entry entry =
          recorder.Begin({"torvix-cli", "1.0.0", "connect", {}, "COM1", {}, {}, unitPrefix + std::to_string(i)});
      entry.Finish(history::kOk, 0);
    }
    return path;
  }

  static std::vector<history::Row> ServerRows() {
    history::Filter all;
    all.limit = 0;
    const history::QueryResult result = QueryServer(Owner(), all);
    EXPECT_TRUE(result.ok) << result.message;
    return result.rows;
  }

  TempFolder folder_{"rt-history-server"};
};

// The local file's rows under another station's name, as a second PC would
// have written them.
void RenameStation(const std::string& path, const std::string& station) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  const std::string sql = "UPDATE history SET station = '" + station + "'";
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
  sqlite3_close(db);
}

std::multiset<std::pair<std::string, std::string>> StationsAndUnits(const std::vector<history::Row>& rows) {
  std::multiset<std::pair<std::string, std::string>> keys;
  for (const history::Row& row : rows) keys.emplace(row.station, row.unit.value_or(""));
  return keys;
}

TEST_F(SharedHistory, SchemaIsMadeOnFirstContactByTheOwnerOnly) {
  const std::string path = Record("a.sqlite", 2);
  // The station role may not make the schema: it says whom to ask, the rows wait.
  const UploadResult refused = Upload(Station(), path);
  EXPECT_FALSE(refused.reached);
  EXPECT_NE(refused.message.find("owner"), std::string::npos) << refused.message;
  EXPECT_EQ(refused.waiting, 2u);

  const UploadResult made = Upload(Owner(), path);
  ASSERT_TRUE(made.reached) << made.message;
  EXPECT_EQ(made.uploaded, 2u);
  EXPECT_EQ(made.waiting, 0u);
  EXPECT_EQ(Cluster::Get().Admin("DO $$ BEGIN IF (SELECT max(version) FROM schema_version) <> " +
                                     std::to_string(kSchemaVersion) + " THEN RAISE 'wrong version'; END IF; END $$",
                                 "receivers"),
            "");
  // With its two grants the station role uploads and reads, and asks nothing more.
  GrantStation();
  const std::string more = Record("b.sqlite", 1);
  const UploadResult station = Upload(Station(), more);
  EXPECT_TRUE(station.reached) << station.message;
  history::Filter all;
  EXPECT_EQ(QueryServer(Station(), all).rows.size(), 3u);
}

TEST_F(SharedHistory, TwoStationsRecordingAtOnceArriveOnceEach) {
  ASSERT_TRUE(Upload(Owner(), Record("prime.sqlite", 0)).reached);
  GrantStation();
  constexpr int kRows = 20;
  std::vector<std::string> paths = {folder_ / "a.sqlite", folder_ / "b.sqlite"};
  std::atomic<int> warnings = 0;
  const auto station = [&](const std::string& path) {
    history::Recorder recorder({true, path}, [](const std::string& line) { ADD_FAILURE() << line; });
    Uploader uploader(Station(), path, [&](const std::string&) { ++warnings; });
    recorder.OnFinished(uploader.Cue());
    for (int i = 0; i < kRows; ++i) {
      recorder.Begin({"updater-cli", "1.0.0", "update-software", {}, "COM2", {}, {}, path + "#" + std::to_string(i)})
          .Finish(history::kOk, 0);
    }
  };
  std::thread a(station, paths[0]);
  std::thread b(station, paths[1]);
  a.join();
  b.join();
  EXPECT_EQ(warnings, 0);
  // Rows finished while an upload ran wait for the next start: that one.
  for (const std::string& path : paths) ASSERT_TRUE(Upload(Station(), path).reached);
  std::multiset<std::string> expected;
  for (const std::string& path : paths) {
    for (int i = 0; i < kRows; ++i) expected.insert(path + "#" + std::to_string(i));
  }
  std::multiset<std::string> units;
  for (const history::Row& row : ServerRows()) units.insert(row.unit.value_or(""));
  EXPECT_EQ(units, expected);
}

TEST_F(SharedHistory, ServerListsEachStationsRowsWithFiltersAndStation) {
  const std::string a = Record("a.sqlite", 3, "A");
  const std::string b = Record("b.sqlite", 2, "B");
  RenameStation(a, "station-a");
  RenameStation(b, "station-b");
  const history::QueryResult local = history::Query(a, {});
  for (const std::string& path : {a, b}) ASSERT_EQ(Upload(Owner(), path).uploaded, path == a ? 3u : 2u);
  EXPECT_EQ(
      StationsAndUnits(ServerRows()),
      (std::multiset<std::pair<std::string, std::string>>{
          {"station-a", "A0"}, {"station-a", "A1"}, {"station-a", "A2"}, {"station-b", "B0"}, {"station-b", "B1"}}));
  struct Case {
    history::Filter filter;
    std::size_t rows;
  };
  history::Filter unit;
  unit.unit = "B1";
  history::Filter limit;
  limit.limit = 4;
  history::Filter future;
  future.since = "2999-01-01";
  history::Filter today;
  today.since = history::IsoTime(std::chrono::system_clock::now()).substr(0, 10);
  today.until = today.since;
  history::Filter failed;
  failed.result = "failed";
  // A time without seconds is its whole minute, as in the local history:
  // the minute of the first row finds what the two files find in it.
  history::Filter minute;
  minute.until = local.rows.back().started.substr(0, 16);
  minute.since = minute.until;
  const std::size_t inMinute = history::Query(a, minute).rows.size() + history::Query(b, minute).rows.size();
  ASSERT_GE(inMinute, 1u);
  for (const auto& [filter, rows] :
       std::vector<Case>{{unit, 1}, {limit, 4}, {future, 0}, {today, 5}, {failed, 0}, {minute, inMinute}}) {
    ASSERT_EQ(history::CheckFilter(filter), "");
    const history::QueryResult result = QueryServer(Owner(), filter);
    EXPECT_TRUE(result.ok) << result.message;
    EXPECT_EQ(result.rows.size(), rows) << filter.since.value_or("") << " " << filter.until.value_or("");
  }
  // The server gives the rows back as the local file has them.
  history::Filter ofA;
  ofA.unit = "A1";
  const std::vector<history::Row> remote = QueryServer(Owner(), ofA).rows;
  ASSERT_EQ(remote.size(), 1u);
  const auto same =
      std::find_if(local.rows.begin(), local.rows.end(), [](const history::Row& r) { return r.unit == "A1"; });
  ASSERT_NE(same, local.rows.end());
  EXPECT_EQ(history::FormatJson(remote), history::FormatJson({*same}));
}

TEST_F(SharedHistory, ServerAwayInTheMiddleLosesAndDoublesNothing) {
  const std::string path = Record("a.sqlite", 5, "first");
  ASSERT_EQ(Upload(Owner(), path).uploaded, 5u);
  ASSERT_TRUE(Cluster::Get().Stop()) << Cluster::Get().Error();
  {
    history::Recorder recorder({true, path}, {});
    for (int i = 0; i < 5; ++i) {
      recorder.Begin({"torvix-cli", "1.0.0", "upgrade", "all", "COM1", {}, {}, "second" + std::to_string(i)})
          .Finish(history::kOk, 0);
    }
  }
  const UploadResult away = Upload(Owner(), path);
  ASSERT_TRUE(Cluster::Get().Start()) << Cluster::Get().Error();
  EXPECT_FALSE(away.reached);
  EXPECT_EQ(away.waiting, 5u);
  // An answer lost after the commit: the same rows sent again add nothing.
  const std::vector<WaitingRow> waiting = history::Pending(path, 0);
  ASSERT_EQ(waiting.size(), 5u);
  const SendResult sent = SendRows(Owner(), waiting);
  ASSERT_TRUE(sent.ok) << sent.message;
  EXPECT_EQ(sent.inserted, 5u);
  const UploadResult again = Upload(Owner(), path);
  ASSERT_TRUE(again.reached) << again.message;
  EXPECT_EQ(again.uploaded, 5u);
  EXPECT_EQ(again.waiting, 0u);
  std::set<std::string> units;
  const std::vector<history::Row> rows = ServerRows();
  for (const history::Row& row : rows) units.insert(row.unit.value_or(""));
  EXPECT_EQ(rows.size(), 10u);
  EXPECT_EQ(units.size(), 10u);
}

// A port that takes connections and never answers: a server that hangs.
class SilentServer {
 public:
  SilentServer() {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && ::listen(fd_, 16) == 0 &&
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
      port_ = ntohs(address.sin_port);
    }
  }
  ~SilentServer() { ::close(fd_); }
  int Port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = 0;
};

TEST_F(SharedHistory, UnreachableOrRefusingServerWarnsOnceAndKeepsTheRows) {
  SilentServer silent;
  ASSERT_NE(silent.Port(), 0);
  const int closedPort = [] {
    SilentServer gone;
    return gone.Port();
  }();
  struct Case {
    const char* what;
    std::string conninfo;
    const char* said;  // part of the warning
  };
  const std::vector<Case> cases = {
      {"wrong password", Cluster::Get().WrongPasswordConninfo("owner", "receivers"), "password"},
      {"nothing listening", "host=127.0.0.1 port=" + std::to_string(closedPort) + " dbname=receivers", "refused"},
      {"no answer", "host=127.0.0.1 port=" + std::to_string(silent.Port()) + " dbname=receivers", "time limit"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = folder_ / (std::string(c.what) + ".sqlite");
    std::mutex mutex;
    std::vector<std::string> warnings;
    auto uploader =
        std::make_unique<Uploader>(Server{c.conninfo, kShortTimeout, "test"}, path, [&](const std::string& line) {
          std::lock_guard lock(mutex);
          warnings.push_back(line);
        });
    history::Recorder recorder({true, path}, {});
    recorder.OnFinished(uploader->Cue());
    for (int i = 0; i < 3; ++i) {
      const auto start = Clock::now();
      recorder.Begin({"updater-cli", "1.0.0", "send-settings", {}, "COM1", {}, {}, {}}).Finish(history::kFailed, 4);
      // The operation does not wait for the server (the local file's two
      // transactions take a few milliseconds).
      EXPECT_LT(Clock::now() - start, kShortTimeout / 2);
    }
    const auto closing = Clock::now();
    uploader.reset();
    // At most the attempt under way: none after a failed one.
    EXPECT_LT(Clock::now() - closing, kShortTimeout + milliseconds(500));
    std::lock_guard lock(mutex);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find(c.said), std::string::npos) << warnings[0];
    EXPECT_EQ(history::Pending(path, 0).size(), 3u);
  }
}

// `torvix-cli history ARGS...` with this environment: exit code, standard output, standard error.
struct Ran {
  int code = -1;
  std::string out, err;
};
Ran History(std::vector<std::string> args, const std::map<std::string, std::string>& env) {
  Ran ran;
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  CLI::App app;
  common::cli::AddHistoryCommand(app, ran.code,
                                 {"torvix-cli",
                                  [&](const char* name) -> const char* {
                                    const auto found = env.find(name);
                                    return found == env.end() ? nullptr : found->second.c_str();
                                  },
                                  out, err});
  args.insert(args.begin(), "history");
  std::reverse(args.begin(), args.end());
  app.parse(args);
  for (auto [file, text] : {std::pair{out, &ran.out}, std::pair{err, &ran.err}}) {
    std::fflush(file);
    std::rewind(file);
    for (int c; (c = std::fgetc(file)) != EOF;) *text += static_cast<char>(c);
    std::fclose(file);
  }
  return ran;
}

TEST_F(SharedHistory, CommandLineUploadsAndListsBothStationsOnce) {
  const std::string a = Record("a.sqlite", 3, "A");
  const std::string b = Record("b.sqlite", 2, "B");
  RenameStation(a, "station-a");
  RenameStation(b, "station-b");
  const std::map<std::string, std::string> server = {{"RT_HISTORY_SERVER", Owner().conninfo}};
  const std::map<std::string, std::string> away = {{"RT_HISTORY_SERVER", "host=127.0.0.1 port=1 dbname=receivers"},
                                                   {"RT_HISTORY_SERVER_TIMEOUT", "0.5"}};
  struct Step {
    std::vector<std::string> args;
    std::map<std::string, std::string> env;
    int code;
    std::string out;  // all of it, or for JSON a part
  };
  const std::vector<Step> steps = {
      {{"--upload", "--history", a}, away, common::kExitFile, "0 rows uploaded, 3 waiting\n"},
      {{"--upload", "--history", a}, server, common::kExitOk, "3 rows uploaded, 0 waiting\n"},
      {{"--upload", "--history", a}, server, common::kExitOk, "0 rows uploaded, 0 waiting\n"},
      {{"--upload", "--history", b, "--json"}, server, common::kExitOk, "{\"uploaded\":2,\"waiting\":0}\n"},
      {{"--server", "--json"}, away, common::kExitFile, ""},
      {{"--server", "--unit", "x"}, {}, common::kExitFile, ""},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.args[0] + " " + step.args.back());
    const Ran ran = History(step.args, step.env);
    EXPECT_EQ(ran.code, step.code) << ran.err;
    EXPECT_EQ(ran.out, step.out);
    EXPECT_EQ(ran.err.empty(), step.code == common::kExitOk) << ran.err;
  }
  const Ran listed = History({"--server", "--json", "--limit", "0"}, server);
  ASSERT_EQ(listed.code, common::kExitOk) << listed.err;
  std::multiset<std::pair<std::string, std::string>> keys;
  for (const auto& row : nlohmann::json::parse(listed.out)) keys.emplace(row.at("station"), row.at("unit"));
  EXPECT_EQ(
      keys,
      (std::multiset<std::pair<std::string, std::string>>{
          {"station-a", "A0"}, {"station-a", "A1"}, {"station-a", "A2"}, {"station-b", "B0"}, {"station-b", "B1"}}));
  // The table says whose each row is, in front.
  const Ran table = History({"--server", "--unit", "B1"}, server);
  ASSERT_EQ(table.code, common::kExitOk) << table.err;
  EXPECT_EQ(table.out.substr(0, 11), "STATION    ");
  EXPECT_NE(table.out.find("\nstation-b  2 "), std::string::npos) << table.out;
  EXPECT_EQ(std::count(table.out.begin(), table.out.end(), '\n'), 2);
}

TEST_F(SharedHistory, CommandLineRunUploadsWhatItRecordedByItsEnd) {
  ASSERT_TRUE(Upload(Owner(), Record("prime.sqlite", 0)).reached);
  GrantStation();
  const std::map<std::string, std::string> env = {{"RT_HISTORY_SERVER", Station().conninfo}};
  std::FILE* err = std::tmpfile();
  {
    common::cli::HistoryOptions options;
    options.path = folder_ / "run.sqlite";
    options.units = {"RUN-1"};
    const common::cli::RunHistory run(options, "updater-cli", [&](const char* name) -> const char* {
      const auto found = env.find(name);
      return found == env.end() ? nullptr : found->second.c_str();
    }, err);
    const common::OperationHistory history = run.For(0);
    ASSERT_NE(history.recorder, nullptr);
    history.recorder->Begin({history.program, history.version, "send-settings", {}, "COM1", {}, {}, history.unit})
        .Finish(history::kOk, 0);
  }
  EXPECT_EQ(std::ftell(err), 0) << "nothing to say";
  std::fclose(err);
  const std::vector<history::Row> rows = ServerRows();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].unit, "RUN-1");
  EXPECT_EQ(rows[0].program, "updater-cli");
}

TEST(ResolveServer, EnvironmentThenSettingsAndTheTimeout) {
  TempFolder folder("rt-history-server-settings");
  ASSERT_TRUE(
      common::testing::WriteFile(folder.Path() / "KALMER" / "TORVIX.conf",
                                 "[History]\nServer=postgresql://history@factory-db/receivers?sslmode=require\n"));
  ASSERT_TRUE(common::testing::WriteFile(folder.Path() / "KALMER" / "Updater.conf",
                                         "[History]\nServer=\"host=db password=secret\"\n"));
  const common::SettingsFolders folders{folder.Path().string(), {}};
  struct Case {
    common::SettingsName program;
    std::map<std::string, std::string> env;
    std::optional<std::string> conninfo;
    milliseconds timeout;
    bool problem;
  };
  const std::vector<Case> cases = {
      {common::kTorvixSettings,
       {},
       "postgresql://history@factory-db/receivers?sslmode=require",
       kDefaultTimeout,
       false},
      {common::kTorvixSettings, {{"RT_HISTORY_SERVER", "host=other"}}, "host=other", kDefaultTimeout, false},
      {common::kTorvixSettings, {{"RT_HISTORY_SERVER", "off"}}, std::nullopt, kDefaultTimeout, false},
      {common::kTorvixSettings,
       {{"RT_HISTORY_SERVER", "host=db connect_timeout=7"}},
       "host=db connect_timeout=7",
       milliseconds(7000),
       false},
      {common::kTorvixSettings,
       {{"RT_HISTORY_SERVER_TIMEOUT", "0.25"}},
       "postgresql://history@factory-db/receivers?sslmode=require",
       milliseconds(250),
       false},
      {common::kTorvixSettings,
       {{"RT_HISTORY_SERVER_TIMEOUT", "soon"}},
       "postgresql://history@factory-db/receivers?sslmode=require",
       kDefaultTimeout,
       true},
      {common::kUpdaterSettings, {}, "host=db password=secret", kDefaultTimeout, true},
      {common::kUpdaterSettings, {{"RT_HISTORY_SERVER", "host='unclosed"}}, std::nullopt, kDefaultTimeout, true},
      {{"KALMER", "Nobody"}, {}, std::nullopt, kDefaultTimeout, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.program.application) + " " + (c.env.empty() ? "" : c.env.begin()->second));
    const ServerSetting setting = ResolveServer(
        c.program, folders,
        [&](const char* name) -> const char* {
          const auto found = c.env.find(name);
          return found == c.env.end() ? nullptr : found->second.c_str();
        },
        "torvix-cli");
    EXPECT_EQ(setting.server.has_value(), c.conninfo.has_value());
    if (setting.server) {
      EXPECT_EQ(setting.server->conninfo, *c.conninfo);
      EXPECT_EQ(setting.server->timeout, c.timeout);
    }
    EXPECT_EQ(!setting.problem.empty(), c.problem) << setting.problem;
  }
}

}  // namespace
}  // namespace history_server
