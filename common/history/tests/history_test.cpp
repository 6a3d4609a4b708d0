#include "common/history/history.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <thread>
#include <map>
#include <set>

#include "common/history/sqlite.h"
#include "common/sha256.h"
#include "common/testing/test_support.h"

namespace {

namespace fs = std::filesystem;
using common::testing::ReadFile;
using common::testing::TempFolder;
using common::testing::WriteFile;

std::string Station() {
  char host[256] = {};
  gethostname(host, sizeof host - 1);
  return host;
}

// Runs SQL on the file directly, as another program would.
void Sql(const std::string& path, const std::string& sql) {
  history::sqlite::Connection db;
  ASSERT_TRUE(db.Open(path, history::sqlite::Connection::Mode::kCreate, std::chrono::seconds(5)).Ok());
  const auto status = db.Exec(sql);
  ASSERT_TRUE(status.Ok()) << status.message;
}

std::int64_t SqlInt(const std::string& path, const std::string& sql) {
  history::sqlite::Connection db;
  history::sqlite::Status status = db.Open(path, history::sqlite::Connection::Mode::kReadOnly, std::chrono::seconds(5));
  const auto value = db.QueryInt(sql, status);
  EXPECT_TRUE(status.Ok()) << status.message;
  return value.value_or(-1);
}

std::vector<history::Row> All(const std::string& path) {
  history::Filter all;
  all.limit = 0;
  const history::QueryResult result = history::Query(path, all);
  EXPECT_TRUE(result.ok) << result.message;
  return result.rows;
}

history::Start Started(std::string operation, std::string unit) {
  history::Start start;
  start.program = "torvix-cli";
  start.version = "1.0.0";
  start.operation = std::move(operation);
  start.unit = std::move(unit);
  return start;
}

TEST(HistoryLocation, ResolvesFlagEnvironmentAndDefaults) {
  struct Case {
    const char* name;
    std::optional<std::string> flag;
    bool off;
    std::map<std::string, std::string> env;
    bool enabled;
    std::string path;
  };
  const Case cases[] = {
      {"default under HOME", {}, false, {{"HOME", "/home/anna"}}, true, "/home/anna/.local/state/KALMER/history.sqlite"},
      {"XDG_STATE_HOME", {}, false, {{"HOME", "/h"}, {"XDG_STATE_HOME", "/var/st"}}, true, "/var/st/KALMER/history.sqlite"},
      {"relative XDG_STATE_HOME ignored", {}, false, {{"HOME", "/h"}, {"XDG_STATE_HOME", "st"}}, true,
       "/h/.local/state/KALMER/history.sqlite"},
      {"RT_HISTORY path", {}, false, {{"HOME", "/h"}, {"RT_HISTORY", "/data/h.sqlite"}}, true, "/data/h.sqlite"},
      {"RT_HISTORY=off", {}, false, {{"HOME", "/h"}, {"RT_HISTORY", "off"}}, false, ""},
      {"flag beats RT_HISTORY", "/f/h.sqlite", false, {{"RT_HISTORY", "/data/h.sqlite"}}, true, "/f/h.sqlite"},
      {"flag beats RT_HISTORY=off", "/f/h.sqlite", false, {{"RT_HISTORY", "off"}}, true, "/f/h.sqlite"},
      {"--no-history beats everything", "/f/h.sqlite", true, {{"RT_HISTORY", "/d"}, {"HOME", "/h"}}, false, ""},
      {"relative flag made absolute", "rel/h.sqlite", false, {}, true, (fs::current_path() / "rel/h.sqlite").string()},
      {"no home at all", {}, false, {}, false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto location = history::ResolveLocation(c.flag, c.off, [&](const char* name) -> const char* {
      const auto it = c.env.find(name);
      return it == c.env.end() ? nullptr : it->second.c_str();
    });
    EXPECT_EQ(location.enabled, c.enabled);
    if (c.enabled) {
      EXPECT_EQ(location.path, c.path);
    }
  }
}

TEST(HistoryRecorder, StartAndFinishKeepEveryColumn) {
  TempFolder folder;
  const std::string path = folder / "state/KALMER/history.sqlite";  // folders made on the way
  ASSERT_TRUE(WriteFile(folder / "sw.bin", "abc"));
  ASSERT_TRUE(WriteFile(folder / "com1", ""));
  ASSERT_TRUE(WriteFile(folder / "dump.bin", std::string(1000, 'x')));
  history::Options options;
  options.roots = {(folder.Path() / "tree/sys").string(), (folder.Path() / "tree/dev").string()};
  const std::string byId = common::testing::PlugUsbAdapter(folder.Path() / "tree", folder / "com1");

  std::vector<std::string> warnings, finished;
  history::Recorder recorder({true, path}, [&](const std::string& w) { warnings.push_back(w); }, options);
  recorder.OnFinished([&](const std::string& p) { finished.push_back(p); });

  history::Start start = Started("upgrade", "SN-0042");
  start.mode = "all";
  start.port = "COM1";
  start.device = byId;
  start.file = folder / "state/../sw.bin";
  const auto before = history::IsoTime(std::chrono::system_clock::now());
  history::Entry entry = recorder.Begin(start);
  {
    const auto open = All(path);
    ASSERT_EQ(open.size(), 1u);
    EXPECT_FALSE(open[0].result);  // written at the start, still running
    EXPECT_FALSE(open[0].ended);
  }
  entry.SetVersions("HW 2.1", "SW 5.0");
  entry.Finish(history::kFailed, 3, "the line went quiet");
  entry.Finish(history::kOk, 0);  // once only

  history::Entry download = recorder.Begin(Started("read-user-data", "SN-0043"));
  download.SetFile(folder / "dump.bin");
  download.Finish(history::kOk, 0);

  EXPECT_TRUE(warnings.empty());
  EXPECT_EQ(finished, (std::vector<std::string>{path, path}));
  const auto rows = All(path);
  ASSERT_EQ(rows.size(), 2u);
  const history::Row& row = rows[1];  // newest first
  EXPECT_GT(row.id, 0);
  EXPECT_GE(row.started, before);
  EXPECT_EQ(row.started.size(), 24u);
  ASSERT_TRUE(row.ended);
  EXPECT_GE(*row.ended, row.started);
  EXPECT_GE(row.duration_ms.value_or(-1), 0);
  EXPECT_EQ(row.program, "torvix-cli");
  EXPECT_EQ(row.version, "1.0.0");
  EXPECT_EQ(row.operation, "upgrade");
  EXPECT_EQ(row.mode, "all");
  EXPECT_EQ(row.port, "COM1");
  EXPECT_EQ(row.device, byId);
  EXPECT_EQ(row.adapter, "usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0, serial A1B2C3");
  EXPECT_EQ(row.hardware, "HW 2.1");
  EXPECT_EQ(row.software, "SW 5.0");
  EXPECT_EQ(row.file, (folder.Path() / "sw.bin").string());
  EXPECT_EQ(row.file_size, 3);
  EXPECT_EQ(row.file_sha256, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(row.result, "failed");
  EXPECT_EQ(row.exit_code, 3);
  EXPECT_EQ(row.message, "the line went quiet");
  EXPECT_FALSE(row.operator_name.empty());
  EXPECT_EQ(row.station, Station());
  EXPECT_EQ(row.unit, "SN-0042");

  const history::Row& later = rows[0];
  EXPECT_EQ(later.file, folder / "dump.bin");
  EXPECT_EQ(later.file_size, 1000);
  EXPECT_EQ(later.file_sha256, common::Sha256Hex(std::string(1000, 'x')));
  EXPECT_FALSE(later.message);
  EXPECT_FALSE(later.adapter);
  EXPECT_FALSE(later.mode);

  // Turned off: no file, no warning.
  history::Recorder off({false, folder / "off.sqlite"}, [&](const std::string& w) { warnings.push_back(w); });
  off.Begin(Started("connect", "X")).Finish(history::kOk, 0);
  EXPECT_FALSE(fs::exists(folder / "off.sqlite"));
  EXPECT_TRUE(warnings.empty());
}

TEST(HistoryRecorder, EightWriterProcessesLoseAndDuplicateNothing) {
  TempFolder folder;
  const std::string path = folder / "history.sqlite";
  constexpr int kWriters = 8, kRows = 40;
  std::vector<pid_t> children;
  for (int w = 0; w < kWriters; ++w) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      bool warned = false;
      {
        // A loaded machine may keep a lock holder off the processor for a
        // while; what is tested here is that waiting writers lose nothing.
        history::Options patient;
        patient.busyTimeout = std::chrono::seconds(30);
        history::Recorder recorder(
            {true, path},
            [&](const std::string& line) {
              warned = true;
              std::fprintf(stderr, "%s\n", line.c_str());
            },
            patient);
        for (int i = 0; i < kRows; ++i) {
          history::Entry entry = recorder.Begin(Started("connect", std::to_string(w) + "-" + std::to_string(i)));
          entry.Finish(history::kOk, 0);
        }
      }
      _exit(warned ? 1 : 0);
    }
    children.push_back(child);
  }
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a writer warned or died";
  }
  std::multiset<std::string> units;
  for (const auto& row : All(path)) {
    units.insert(row.unit.value_or(""));
    EXPECT_EQ(row.result, "ok");
  }
  EXPECT_EQ(units.size(), std::size_t{kWriters * kRows});
  for (int w = 0; w < kWriters; ++w) {
    for (int i = 0; i < kRows; ++i) EXPECT_EQ(units.count(std::to_string(w) + "-" + std::to_string(i)), 1u);
  }
}

TEST(HistoryRecorder, ThreadsShareOneRecorder) {
  TempFolder folder;
  const std::string path = folder / "history.sqlite";
  std::atomic<int> warnings{0}, finished{0};
  {
    history::Recorder recorder({true, path}, [&](const std::string&) { ++warnings; });
    recorder.OnFinished([&](const std::string&) { ++finished; });
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
      threads.emplace_back([&, t] {
        for (int i = 0; i < 20; ++i) {
          history::Entry entry = recorder.Begin(Started("connect", std::to_string(t)));
          entry.SetVersions("HW", "SW");
          entry.Finish(history::kOk, 0);
        }
      });
    }
    for (auto& thread : threads) thread.join();
  }
  EXPECT_EQ(warnings, 0);
  EXPECT_EQ(finished, 80);
  EXPECT_EQ(All(path).size(), 80u);
}

TEST(HistoryRecorder, RowOfAKilledWriterReadsInterrupted) {
  TempFolder folder;
  const std::string path = folder / "history.sqlite";
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(ready[0]);
    history::Recorder recorder({true, path}, {});
    history::Start start = Started("update-software", "SN-7");
    start.port = "COM2";
    history::Entry entry = recorder.Begin(start);
    entry.SetVersions("HW", "SW");  // learned, but never written
    const char byte = 'r';
    (void)!write(ready[1], &byte, 1);
    for (;;) pause();
  }
  close(ready[1]);
  char byte = 0;
  ASSERT_EQ(read(ready[0], &byte, 1), 1);
  close(ready[0]);
  auto rows = All(path);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_FALSE(rows[0].result) << "a running operation is not interrupted";

  kill(child, SIGKILL);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  rows = All(path);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].result, "interrupted");
  EXPECT_EQ(rows[0].unit, "SN-7");
  EXPECT_EQ(rows[0].port, "COM2");
  EXPECT_FALSE(rows[0].ended);
  EXPECT_EQ(SqlInt(path, "SELECT COUNT(*) FROM history WHERE result = 'interrupted'"), 1) << "the file says so too";
}

TEST(HistoryRecorder, UnusableFileWarnsOnceAndOperationsGoOn) {
  struct Case {
    const char* name;
    std::function<std::string(TempFolder&)> prepare;  // the history path
    const char* warning;                               // part of the one line
    bool recordsAfterAll;                               // a damaged file: set aside, the run recorded anew
  };
  const Case cases[] = {
      {"folder is a file",
       [](TempFolder& f) {
         WriteFile(f / "plain", "x");
         return f / "plain/history.sqlite";
       },
       "cannot be opened: Not a directory; this run is not recorded", false},
      {"read-only folder",
       [](TempFolder& f) {
         fs::create_directory(f.Path() / "ro");
         chmod((f / "ro").c_str(), 0555);
         return f / "ro/history.sqlite";
       },
       "this run is not recorded", false},
      {"locked beyond the timeout",
       [](TempFolder& f) {
         const std::string path = f / "history.sqlite";
         history::Recorder({true, path}, {}).Begin(Started("connect", "first")).Finish(history::kOk, 0);
         return path;
       },
       "locked", false},
      {"newer schema",
       [](TempFolder& f) {
         const std::string path = f / "history.sqlite";
         Sql(path, "CREATE TABLE future(x); PRAGMA user_version = 99;");
         return path;
       },
       "newer program", false},
      {"damaged file",
       [](TempFolder& f) {
         WriteFile(f / "history.sqlite", std::string(8192, 'z'));
         return f / "history.sqlite";
       },
       "set aside as", true},
      {"damaged inside",
       [](TempFolder& f) {
         const std::string path = f / "history.sqlite";
         history::Recorder({true, path}, {}).Begin(Started("connect", "first")).Finish(history::kOk, 0);
         std::string bytes = ReadFile(path);
         std::fill(bytes.begin() + 4096, bytes.end(), 'z');  // all but the first page
         WriteFile(path, bytes);
         return path;
       },
       "set aside as", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (std::string(c.name) == "read-only folder" && geteuid() == 0) continue;  // root writes anyway
    TempFolder folder;
    const std::string path = c.prepare(folder);
    // A second connection holding the write lock for the whole case.
    history::sqlite::Connection holder;
    if (std::string(c.name) == "locked beyond the timeout") {
      ASSERT_TRUE(holder.Open(path, history::sqlite::Connection::Mode::kReadWrite, std::chrono::seconds(1)).Ok());
      ASSERT_TRUE(holder.Exec("BEGIN IMMEDIATE").Ok());
    }
    const std::string before = ReadFile(path);
    std::vector<std::string> warnings;
    history::Options options;
    options.busyTimeout = std::chrono::milliseconds(50);
    history::Recorder recorder({true, path}, [&](const std::string& w) { warnings.push_back(w); }, options);
    for (int i = 0; i < 3; ++i) {
      history::Entry entry = recorder.Begin(Started("connect", "u" + std::to_string(i)));
      entry.SetVersions("HW", "SW");
      entry.Finish(history::kOk, 0);
    }
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0].rfind("history: " + path + ": ", 0), 0u) << warnings[0];
    EXPECT_NE(warnings[0].find(c.warning), std::string::npos) << warnings[0];
    EXPECT_EQ(warnings[0].find('\n'), std::string::npos);
    holder.Close();
    if (c.recordsAfterAll) {
      std::vector<fs::path> aside;
      for (const auto& e : fs::directory_iterator(folder.Path())) {
        if (e.path().filename().string().rfind("history.sqlite.corrupt-", 0) == 0) aside.push_back(e.path());
      }
      ASSERT_EQ(aside.size(), 1u);
      EXPECT_EQ(ReadFile(aside[0]), before) << "kept as it was";
      EXPECT_NE(warnings[0].find(aside[0].string()), std::string::npos);
      EXPECT_EQ(All(path).size(), 3u);
    } else {
      EXPECT_EQ(ReadFile(path), before) << "left as it was";
      if (!before.empty() && std::string(c.name) == "locked beyond the timeout") {
        EXPECT_EQ(SqlInt(path, "SELECT COUNT(*) FROM history WHERE unit LIKE 'u%'"), 0);
      }
    }
  }
}

// The file stops taking writes in the middle of an operation (the disk
// full, for the process): its end is not written, the run goes on without
// the history, and once the process is gone the row reads interrupted.
TEST(HistoryRecorder, WritesFailingMidRunWarnOnceAndTheRowEndsInterrupted) {
  TempFolder folder;
  const std::string path = folder / "history.sqlite";
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::vector<std::string> warnings;
    history::Recorder recorder({true, path}, [&](const std::string& w) { warnings.push_back(w); });
    history::Entry entry = recorder.Begin(Started("upgrade", "SN-FULL"));
    // No file may grow from here on.
    struct stat wal {};
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{static_cast<rlim_t>(stat((path + "-wal").c_str(), &wal) == 0 ? wal.st_size : 0),
                       RLIM_INFINITY};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(10);
    entry.Finish(history::kOk, 0);
    recorder.Begin(Started("upgrade", "SN-NEXT")).Finish(history::kOk, 0);
    const bool one = warnings.size() == 1 && warnings[0].find(": cannot be written") != std::string::npos &&
                     warnings[0].find("; this run is not recorded") != std::string::npos;
    if (!one) std::fprintf(stderr, "%zu warnings: %s\n", warnings.size(), warnings.empty() ? "" : warnings[0].c_str());
    _exit(one ? 0 : 11);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0);
  const auto rows = All(path);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].unit, "SN-FULL");
  EXPECT_EQ(rows[0].result, "interrupted");
}

TEST(HistoryQuery, NewerSchemaIsReadReadOnlyWithAWarning) {
  TempFolder folder;
  const std::string path = folder / "history.sqlite";
  history::Recorder({true, path}, {}).Begin(Started("connect", "A")).Finish(history::kOk, 0);
  Sql(path, "ALTER TABLE history ADD COLUMN colour TEXT; PRAGMA user_version = 3;");
  history::Filter filter;
  const auto result = history::Query(path, filter);
  ASSERT_TRUE(result.ok) << result.message;
  ASSERT_EQ(result.rows.size(), 1u);
  EXPECT_NE(result.warning.find("newer program"), std::string::npos);
  EXPECT_EQ(SqlInt(path, "PRAGMA user_version"), 3);
}

TEST(HistoryMigration, VersionOneFileIsMigratedInPlace) {
  TempFolder folder;
  const std::string path = folder / "history.sqlite";
  std::string sql = ReadFile(std::string(HISTORY_TEST_DATA) + "/history-v1.sql");
  ASSERT_FALSE(sql.empty());
  for (std::size_t at; (at = sql.find("@STATION@")) != std::string::npos;) sql.replace(at, 9, Station());
  Sql(path, sql);

  history::Recorder recorder({true, path}, [](const std::string& w) { ADD_FAILURE() << w; });
  recorder.Begin(Started("connect", "SN-NEW")).Finish(history::kOk, 0);
  EXPECT_EQ(SqlInt(path, "PRAGMA user_version"), history::kSchemaVersion);

  const auto rows = All(path);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].unit, "SN-NEW");
  const history::Row& old = rows[1].id == 2 ? rows[1] : rows[2];
  EXPECT_EQ(old.result, "interrupted") << "open since an earlier boot";
  const history::Row& first = rows[2].id == 1 ? rows[2] : rows[1];
  EXPECT_EQ(first.started, "2026-11-02T09:15:00.250Z");
  EXPECT_EQ(first.software, "SW 3.4");
  EXPECT_EQ(first.file_size, 1048576);
  EXPECT_FALSE(first.unit);

  // Every row, old ones too, has its own key for the uploader.
  const auto pending = history::Pending(path, 0);
  ASSERT_EQ(pending.size(), 3u);
  std::set<std::string> keys;
  for (const auto& p : pending) keys.insert(p.uuid);
  EXPECT_EQ(keys.size(), 3u);
  for (const auto& key : keys) EXPECT_EQ(key.size(), 36u) << key;
}

TEST(HistoryUpload, PendingRowsUntilMarkedUploaded) {
  TempFolder folder;
  const std::string path = folder / "history.sqlite";
  history::Recorder recorder({true, path}, {});
  recorder.Begin(Started("connect", "A")).Finish(history::kOk, 0);
  recorder.Begin(Started("connect", "B")).Finish(history::kRefused, 4);
  history::Entry running = recorder.Begin(Started("connect", "C"));

  std::string error;
  auto pending = history::Pending(path, 0, &error);
  ASSERT_EQ(pending.size(), 2u) << error;  // the running one is not finished
  EXPECT_EQ(pending[0].row.unit, "A");
  EXPECT_EQ(pending[1].row.result, "refused");
  EXPECT_EQ(history::Pending(path, 1).size(), 1u);

  const auto time = std::chrono::system_clock::now();
  ASSERT_TRUE(history::MarkUploaded(path, {pending[0].uuid}, time, &error)) << error;
  ASSERT_TRUE(history::MarkUploaded(path, {pending[0].uuid}, time + std::chrono::hours(1)));
  EXPECT_EQ(SqlInt(path, "SELECT COUNT(*) FROM history WHERE uploaded = '" + history::IsoTime(time) + "'"), 1)
      << "the first upload's time stays";
  running.Finish(history::kOk, 0);
  pending = history::Pending(path, 0);
  ASSERT_EQ(pending.size(), 2u);
  EXPECT_EQ(pending[0].row.unit, "B");
  EXPECT_EQ(pending[1].row.unit, "C");

  EXPECT_TRUE(history::Pending(folder / "missing.sqlite", 0, &error).empty());
  EXPECT_FALSE(history::MarkUploaded(folder / "missing.sqlite", {"x"}, time, &error));
  EXPECT_NE(error.find("missing.sqlite"), std::string::npos);
}

TEST(HistoryQuery, FiltersNewestFirst) {
  TempFolder folder;
  const std::string path = folder / "history.sqlite";
  struct Made {
    const char* started;
    const char* operation;
    const char* unit;
    const char* port;
    std::string_view result;
  };
  const Made made[] = {
      {"2026-12-08T10:00:00.000Z", "connect", "A", "COM1", history::kOk},
      {"2026-12-09T23:59:59.999Z", "upgrade", "B", "COM2", history::kFailed},
      {"2026-12-10T00:00:00.000Z", "upgrade", "A", "COM1", history::kOk},
      {"2026-12-10T13:45:30.500Z", "send-settings", "C", "COM3", history::kStopped},
      {"2026-12-11T08:00:00.000Z", "upgrade", "A", "COM12", history::kRefused},
  };
  {
    history::Recorder recorder({true, path}, {});
    for (const Made& m : made) {
      history::Start start = Started(m.operation, m.unit);
      start.port = m.port;
      recorder.Begin(start).Finish(m.result, 0);
    }
  }
  for (std::size_t i = 0; i < std::size(made); ++i) {
    Sql(path, "UPDATE history SET started = '" + std::string(made[i].started) + "' WHERE id = " + std::to_string(i + 1));
  }
  struct Case {
    const char* name;
    history::Filter filter;
    std::vector<std::int64_t> ids;
  };
  const auto filter = [](auto set) {
    history::Filter f;
    set(f);
    return f;
  };
  const Case cases[] = {
      {"all", {}, {5, 4, 3, 2, 1}},
      {"limit", filter([](auto& f) { f.limit = 2; }), {5, 4}},
      {"since date", filter([](auto& f) { f.since = "2026-12-10"; }), {5, 4, 3}},
      {"until date takes the whole day", filter([](auto& f) { f.until = "2026-12-09"; }), {2, 1}},
      {"since and until a day", filter([](auto& f) { f.since = f.until = "2026-12-10"; }), {4, 3}},
      {"since a time", filter([](auto& f) { f.since = "2026-12-10T13:45:30.500Z"; }), {5, 4}},
      {"until a minute takes all of it", filter([](auto& f) { f.until = "2026-12-10T13:45"; }), {4, 3, 2, 1}},
      {"until a second before", filter([](auto& f) { f.until = "2026-12-10T13:45:29"; }), {3, 2, 1}},
      {"unit", filter([](auto& f) { f.unit = "A"; }), {5, 3, 1}},
      {"result", filter([](auto& f) { f.result = "ok"; }), {3, 1}},
      {"operation", filter([](auto& f) { f.operation = "upgrade"; }), {5, 3, 2}},
      {"port", filter([](auto& f) { f.port = "COM1"; }), {3, 1}},
      {"combined", filter([](auto& f) { f.unit = "A", f.operation = "upgrade", f.limit = 1; }), {5}},
      {"nothing", filter([](auto& f) { f.unit = "Z"; }), {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto result = history::Query(path, c.filter);
    ASSERT_TRUE(result.ok) << result.message;
    std::vector<std::int64_t> ids;
    for (const auto& row : result.rows) ids.push_back(row.id);
    EXPECT_EQ(ids, c.ids);
  }
  const auto missing = history::Query(folder / "none.sqlite", {});
  EXPECT_TRUE(missing.ok && missing.rows.empty()) << "no file yet is an empty history";
  WriteFile(folder / "junk.sqlite", std::string(4096, 'j'));
  const auto junk = history::Query(folder / "junk.sqlite", {});
  EXPECT_FALSE(junk.ok);
  EXPECT_NE(junk.message.find("junk.sqlite"), std::string::npos);
}

TEST(HistoryQuery, CheckFilterNamesTheWrongValue) {
  struct Case {
    std::function<void(history::Filter&)> set;
    const char* message;  // "" when valid
  };
  const Case cases[] = {
      {[](auto&) {}, ""},
      {[](auto& f) { f.since = "2026-02-29"; }, "--since: \"2026-02-29\" is not a date"},
      {[](auto& f) { f.since = "2028-02-29"; }, ""},
      {[](auto& f) { f.since = "2026-12-10T24:00"; }, "--since"},
      {[](auto& f) { f.since = "2026-12-10 13:45:00.123Z"; }, ""},
      {[](auto& f) { f.until = "10.12.2026"; }, "--until: \"10.12.2026\""},
      {[](auto& f) { f.until = "2026-12-10T13:4"; }, "--until"},
      {[](auto& f) { f.since = "2026-12-11", f.until = "2026-12-10"; }, "--since 2026-12-11 is after --until 2026-12-10"},
      {[](auto& f) { f.result = "interrupted"; }, ""},
      {[](auto& f) { f.result = "OK"; }, "--result: \"OK\" is not one of ok, failed, refused, declined, stopped, interrupted"},
      {[](auto& f) { f.operation = "flash"; }, "--operation: \"flash\""},
      {[](auto& f) { f.port = "COM256"; }, ""},
      {[](auto& f) { f.port = "COM0"; }, "--port"},
      {[](auto& f) { f.port = "COM257"; }, "--port"},
      {[](auto& f) { f.port = "/dev/ttyS0"; }, "--port"},
      {[](auto& f) { f.unit = ""; }, "--unit"},
      {[](auto& f) { f.limit = 0; }, ""},
      {[](auto& f) { f.limit = -1; }, "--limit"},
  };
  for (const Case& c : cases) {
    history::Filter filter;
    c.set(filter);
    const std::string message = history::CheckFilter(filter);
    SCOPED_TRACE(message);
    if (*c.message == '\0') {
      EXPECT_EQ(message, "");
    } else {
      EXPECT_EQ(message.rfind(c.message, 0), 0u);
      EXPECT_FALSE(history::Query("/nonexistent/h.sqlite", filter).ok);
    }
  }
}

}  // namespace
