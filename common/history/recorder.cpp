// Recording: where the file is, and one row per operation written when it
// starts and completed when it ends.
#include "common/history/history.h"

#include <pwd.h>
#include <sys/random.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <set>
#include <utility>

#include "common/history/store.h"
#include "common/sha256.h"

namespace history {
namespace fs = std::filesystem;
using sqlite::Connection;
using sqlite::Status;

namespace {

std::string LoginName() {
  passwd entry{};
  passwd* found = nullptr;
  char buffer[4096];
  if (::getpwuid_r(::geteuid(), &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr) return found->pw_name;
  return std::to_string(::geteuid());
}

std::string NewUuid() {
  unsigned char bytes[16] = {};
  std::size_t have = 0;
  while (have < sizeof bytes) {
    const ssize_t n = ::getrandom(bytes + have, sizeof bytes - have, 0);
    if (n > 0) have += static_cast<std::size_t>(n);
  }
  bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0f) | 0x40);
  bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3f) | 0x80);
  char text[64];
  std::snprintf(text, sizeof text, "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", bytes[0],
                bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7], bytes[8], bytes[9], bytes[10],
                bytes[11], bytes[12], bytes[13], bytes[14], bytes[15]);
  return text;
}

std::string Absolute(const std::string& path) {
  std::error_code error;
  const fs::path absolute = fs::absolute(path, error);
  return error ? path : absolute.lexically_normal().string();
}

// "usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0, serial A1B2C3" for a USB
// adapter behind `device`; nullopt for anything else.
std::optional<std::string> AdapterOf(const std::string& device, const common::DeviceRoots& roots) {
  std::error_code error;
  const fs::path target = fs::canonical(device, error);
  for (const common::SerialDevice& d : common::ListSerialPorts(roots).devices) {
    bool match = d.name == device || d.device == device;
    for (const std::string& link : d.byId) match = match || link == device;
    if (!match && !error) {
      std::error_code other;
      match = fs::canonical(d.device, other) == target && !other;
    }
    if (!match || d.usbVendor.empty()) continue;
    std::string text = d.byId.empty() ? fs::path(d.device).filename().string() : fs::path(d.byId.front()).filename().string();
    if (!d.serialNumber.empty()) text += ", serial " + d.serialNumber;
    return text;
  }
  return std::nullopt;
}

struct Digest {
  std::optional<std::int64_t> size;
  std::optional<std::string> sha256;
};
Digest DigestOf(const std::string& path) {
  Digest digest;
  if (auto file = common::HashFile(path)) {
    digest.size = file->size;
    digest.sha256 = file->sha256;
  }
  return digest;
}

std::optional<std::string> NonEmpty(std::string text) {
  if (text.empty()) return std::nullopt;
  return text;
}

}  // namespace

// What a Recorder and its Entries share: the connection (opened on the
// first Begin), and whether the run still records.  Guarded by `mutex`.
struct Store {
  Location location;
  Warning warning;
  Options options;
  store::Process self = store::ThisProcess();
  std::string operatorName = LoginName();

  std::mutex mutex;
  Connection connection;
  std::uint64_t inode = 0;  // of the file open
  bool failed = false;  // nothing more is recorded
  bool warned = false;  // the run's one line has been said
  std::function<void(const std::string&)> onFinished;

  // Under `mutex`.
  void Warn(const std::string& line) {
    if (warned) return;
    warned = true;
    if (warning) warning("history: " + location.path + ": " + line);
  }
  // Under `mutex`: stops recording, saying why once.
  void Fail(const std::string& reason) {
    connection.Close();
    failed = true;
    Warn(reason + "; this run is not recorded");
  }
  // Under `mutex`: true when there is a connection to write on.
  bool Ready() {
    if (failed || !location.enabled) return false;
    if (connection.IsOpen()) return true;
    store::Opened opened = store::Open(location.path, store::OpenMode::kCreate, options.busyTimeout, connection);
    if (!opened.status.Ok()) {
      Fail(opened.reason);
      return false;
    }
    if (opened.readOnly) {
      Fail("written by a newer program (schema " + std::to_string(opened.version) + "), opened read-only");
      return false;
    }
    inode = opened.inode;
    if (!opened.setAside.empty()) Warn("damaged, set aside as " + opened.setAside + "; a new file started");
    return true;
  }
  // Under `mutex`: after a write found the open file damaged inside, moves
  // it aside and opens a new one; false when that did not work.
  bool Renew() {
    connection.Close();
    const std::string aside = store::SetAsideDamaged(location.path, inode);
    if (!aside.empty()) Warn("damaged, set aside as " + aside + "; a new file started");
    return Ready();
  }
};

struct Recorder::State {
  std::shared_ptr<Store> store;
};

struct Entry::State {
  std::shared_ptr<Store> store;
  std::int64_t id = 0;
  std::string uuid;  // with the id: the row is this entry's even after the file was renewed
  std::chrono::steady_clock::time_point begun;
  std::optional<std::string> hardware, software, file;
  bool finished = false;
};

std::string IsoTime(std::chrono::system_clock::time_point time) {
  const auto ms = std::chrono::floor<std::chrono::milliseconds>(time.time_since_epoch()).count();
  const auto seconds = static_cast<std::time_t>(ms >= 0 ? ms / 1000 : (ms - 999) / 1000);
  const int milli = static_cast<int>(ms - static_cast<std::int64_t>(seconds) * 1000);
  std::tm tm{};
  gmtime_r(&seconds, &tm);
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                tm.tm_hour, tm.tm_min, tm.tm_sec, milli);
  return text;
}

Location ResolveLocation(std::optional<std::string> flagPath, bool noHistory,
                         const std::function<const char*(const char*)>& getenv) {
  const auto env = [&](const char* name) -> std::string {
    const char* value = getenv ? getenv(name) : nullptr;
    return value != nullptr ? value : "";
  };
  if (noHistory) return {false, {}};
  if (flagPath && !flagPath->empty()) return {true, Absolute(*flagPath)};
  const std::string chosen = env("RT_HISTORY");
  if (chosen == "off") return {false, {}};
  if (!chosen.empty()) return {true, Absolute(chosen)};
  // Relative values of XDG_STATE_HOME are to be ignored.
  const std::string state = env("XDG_STATE_HOME");
  if (!state.empty() && state.front() == '/') return {true, (fs::path(state) / "KALMER/history.sqlite").string()};
  const std::string home = env("HOME");
  if (home.empty()) return {false, {}};
  return {true, (fs::path(home) / ".local/state/KALMER/history.sqlite").string()};
}

Entry::Entry(Entry&&) noexcept = default;
Entry& Entry::operator=(Entry&&) noexcept = default;
Entry::~Entry() = default;

void Entry::SetVersions(std::string hardware, std::string software) {
  if (!state_) return;
  state_->hardware = NonEmpty(std::move(hardware));
  state_->software = NonEmpty(std::move(software));
}

void Entry::SetFile(std::string path) {
  if (state_ && !path.empty()) state_->file = Absolute(path);
}

void Entry::Finish(std::string_view result, int exitCode, std::string message) {
  if (!state_ || state_->finished || state_->id == 0) return;
  state_->finished = true;
  const auto ended = std::chrono::system_clock::now();
  const auto duration =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - state_->begun).count();
  Digest digest;
  if (state_->file) digest = DigestOf(*state_->file);

  Store& store = *state_->store;
  std::function<void(const std::string&)> callback;
  bool updated = false;  // the row is still there (not in a file set aside since)
  {
    std::lock_guard lock(store.mutex);
    if (!store.Ready()) return;
    const Status status = store::Write(store.connection, store.options.busyTimeout, [&]() -> Status {
      Status s;
      sqlite::Statement update = store.connection.Prepare(
          "UPDATE history SET ended = ?1, duration_ms = ?2, result = ?3, exit_code = ?4, message = ?5, "
          "hardware = COALESCE(?6, hardware), software = COALESCE(?7, software), "
          "file = CASE WHEN ?8 IS NULL THEN file ELSE ?8 END, "
          "file_size = CASE WHEN ?8 IS NULL THEN file_size ELSE ?9 END, "
          "file_sha256 = CASE WHEN ?8 IS NULL THEN file_sha256 ELSE ?10 END "
          "WHERE id = ?11 AND uuid = ?12",
          s);
      if (!s.Ok()) return s;
      update.Bind(1, std::string_view(IsoTime(ended)));
      update.Bind(2, std::int64_t{duration});
      update.Bind(3, result);
      update.Bind(4, std::int64_t{exitCode});
      update.Bind(5, NonEmpty(std::move(message)));
      update.Bind(6, state_->hardware);
      update.Bind(7, state_->software);
      update.Bind(8, state_->file);
      update.Bind(9, digest.size);
      update.Bind(10, digest.sha256);
      update.Bind(11, state_->id);
      update.Bind(12, std::string_view(state_->uuid));
      s = update.Run();
      updated = s.Ok() && store.connection.Changes() == 1;
      return s;
    });
    if (!status.Ok()) {
      store.Fail(store::Reason(status, store.options.busyTimeout));
      return;
    }
    if (updated) callback = store.onFinished;
  }
  if (callback) callback(store.location.path);
}

Recorder::Recorder(Location location, Warning warning) : Recorder(std::move(location), std::move(warning), Options{}) {}

Recorder::Recorder(Location location, Warning warning, Options options) : state_(std::make_shared<State>()) {
  state_->store = std::make_shared<Store>();
  state_->store->location = std::move(location);
  state_->store->warning = std::move(warning);
  state_->store->options = std::move(options);
}

Recorder::~Recorder() = default;

void Recorder::OnFinished(std::function<void(const std::string& path)> callback) {
  std::lock_guard lock(state_->store->mutex);
  state_->store->onFinished = std::move(callback);
}

Entry Recorder::Begin(const Start& start) {
  Entry entry;
  Store& store = *state_->store;
  if (!store.location.enabled) return entry;
  {
    std::lock_guard lock(store.mutex);
    if (store.failed) return entry;
  }
  auto state = std::make_unique<Entry::State>();
  state->store = state_->store;
  state->begun = std::chrono::steady_clock::now();
  state->uuid = NewUuid();
  const std::string started = IsoTime(std::chrono::system_clock::now());
  std::optional<std::string> file;
  Digest digest;
  if (start.file && !start.file->empty()) {
    file = Absolute(*start.file);
    digest = DigestOf(*file);
  }
  std::optional<std::string> adapter;
  if (start.device && !start.device->empty()) adapter = AdapterOf(*start.device, store.options.roots);

  std::lock_guard lock(store.mutex);
  if (!store.Ready()) return entry;
  const auto insertRow = [&]() -> Status {
    Status s;
    // The rows of processes that died are closed on the way.
    const std::set<std::int64_t> dead = store::DeadRows(store.connection, store.self, s);
    if (s.Ok()) s = store::MarkInterrupted(store.connection, dead);
    if (!s.Ok()) return s;
    sqlite::Statement insert = store.connection.Prepare(
        "INSERT INTO history (started, program, version, operation, mode, port, device, adapter, file, file_size, "
        "file_sha256, operator, station, unit, pid, boot_id, process_start, uuid) "
        "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16, ?17, ?18)",
        s);
    if (!s.Ok()) return s;
    insert.Bind(1, std::string_view(started));
    insert.Bind(2, std::string_view(start.program));
    insert.Bind(3, std::string_view(start.version));
    insert.Bind(4, std::string_view(start.operation));
    insert.Bind(5, start.mode);
    insert.Bind(6, start.port);
    insert.Bind(7, start.device);
    insert.Bind(8, adapter);
    insert.Bind(9, file);
    insert.Bind(10, digest.size);
    insert.Bind(11, digest.sha256);
    insert.Bind(12, std::string_view(store.operatorName));
    insert.Bind(13, std::string_view(store.self.station));
    insert.Bind(14, start.unit);
    insert.Bind(15, store.self.pid);
    insert.Bind(16, std::string_view(store.self.bootId));
    insert.Bind(17, std::string_view(store.self.processStart));
    insert.Bind(18, std::string_view(state->uuid));
    s = insert.Run();
    if (s.Ok()) state->id = store.connection.LastInsertId();
    return s;
  };
  Status status = store::Write(store.connection, store.options.busyTimeout, insertRow);
  if (status.Corrupt() && store.Renew()) status = store::Write(store.connection, store.options.busyTimeout, insertRow);
  if (!status.Ok()) {
    store.Fail(store::Reason(status, store.options.busyTimeout));
    return entry;
  }
  entry.state_ = std::move(state);
  return entry;
}

}  // namespace history
