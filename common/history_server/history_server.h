// The shared history database: a station's finished rows uploaded from its
// local history file to a PostgreSQL server that many stations share, and
// the rows of all of them read back.  The local file stays the place every
// row is written first and the outbox for the server; nothing here changes
// or delays an operation.
//
// The server is named by a libpq connection string or URI: RT_HISTORY_SERVER,
// else the program's settings (group "History", key "Server").  Passwords
// come from libpq's own means (~/.pgpass, PGPASSFILE, passfile=, service
// files); one written into the string is not used.  TLS as libpq offers it
// (sslmode=, sslrootcert=, ... in the string).
//
// The server's schema is created and migrated by the program on first
// contact (table schema_version), when its role may; a least-privilege role
// (INSERT and SELECT on table history) uploads and reads once an owner made
// it.  Rows are keyed by (station, uuid): uploading again inserts nothing twice.
//
// No Qt; standard library, POSIX and libpq.  Any thread; each call blocks as
// said, never longer than the connection timeout plus the statements' limit.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "common/device_map.h"
#include "common/history/history.h"

namespace history_server {

inline constexpr std::chrono::milliseconds kDefaultTimeout{3000};
// The settings' group and key of the server's connection string.
inline constexpr const char* kSettingsKey = "History/Server";
// The version of the server's schema this program makes and writes.
inline constexpr int kSchemaVersion = 1;

// Where the shared database is and how long to wait for it.
struct Server {
  std::string conninfo;  // a libpq keyword string or URI
  // For connecting (all hosts the string names together), and again for
  // each statement after that.
  std::chrono::milliseconds timeout = kDefaultTimeout;
  std::string applicationName;  // what the server shows of the client (the program's name)
};

struct ServerSetting {
  std::optional<Server> server;  // none: no shared database for this run
  std::string problem;           // a line to show once ("" when all is well): a bad timeout, a password not used
};

// The server of a run: RT_HISTORY_SERVER when set ("" or "off": none), else
// the text stored under kSettingsKey in `program`'s settings files below
// `folders` (the user's application file, the user's organization file,
// then the system's, as Qt reads them).  The timeout: RT_HISTORY_SERVER_TIMEOUT
// (seconds, fractions allowed, up to 600), else connect_timeout in the string,
// else kDefaultTimeout.  `getenv` is injectable for tests.  Reads the
// settings files (blocks on the file system only).
ServerSetting ResolveServer(const common::SettingsName& program, const common::SettingsFolders& folders,
                            const std::function<const char*(const char*)>& getenv, std::string applicationName);

// The same with the settings folders as Qt finds them through `getenv`
// ($XDG_CONFIG_HOME when absolute, else $HOME/.config; and /etc/xdg).
ServerSetting ResolveServer(const common::SettingsName& program, const std::function<const char*(const char*)>& getenv,
                            std::string applicationName);

// One finished local row and its station-unique key.
using WaitingRow = history::PendingRow;

struct SendResult {
  bool ok = false;
  std::string message;       // why not ("" when ok): the server's or libpq's words
  std::size_t inserted = 0;  // rows new to the server (the others it had already)
};

// Sends `rows` to the server in one transaction, creating or migrating its
// schema first when needed; rows the server has already (same station and
// uuid) are left as they are.  Blocks for one connection (at most the
// timeout) and the statements (each at most the timeout); returns early with
// ok false when `stop` is asked.
SendResult SendRows(const Server& server, const std::vector<WaitingRow>& rows, std::stop_token stop = {});

struct UploadResult {
  bool reached = false;      // the server was reached and took the rows
  std::string message;       // why not, when not
  std::size_t uploaded = 0;  // local rows sent and marked uploaded by this call
  std::size_t waiting = 0;   // finished local rows not uploaded after it
};

// Uploads the finished, not yet uploaded rows of the local history file at
// `historyPath`, then marks them uploaded there.  Open rows (result null)
// wait until they are finished or read as interrupted.  Connects also when
// nothing waits (making the schema when needed).  Blocks as SendRows, plus
// the local file's busy timeout.
UploadResult Upload(const Server& server, const std::string& historyPath, std::stop_token stop = {});

// The shared database's rows, newest first, with the same filters as the
// local history (`filter` already checked with history::CheckFilter);
// `station` tells the stations apart, `id` is the station's own.  Not ok
// (exit 10) when the server could not be reached or read; a database without
// the schema yet has no rows.  Blocks for one connection and one statement.
history::QueryResult QueryServer(const Server& server, const history::Filter& filter);

// history::FormatTable's table with the station in front of each row, for
// the rows of several stations.  Pure.
std::string FormatServerTable(const std::vector<history::Row>& rows);

}  // namespace history_server
