#include "common/trace_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace common {
namespace {

// Records queued before the writer is woken; below that it looks every
// kWriterPeriod, so that a trace on disk is never far behind the line.
constexpr std::size_t kBatch = 256;
constexpr auto kWriterPeriod = std::chrono::milliseconds(200);

}  // namespace

TraceFile::~TraceFile() { Close(); }

bool TraceFile::Open(const std::string& path, const std::string& heading) {
  Close();
  path_ = path;
  error_.clear();
  writeFailed_ = false;
  file_ = std::fopen(path.c_str(), "we");
  if (file_ == nullptr) {
    error_ = path + ": " + std::strerror(errno);
    return false;
  }
  std::fprintf(file_, "# %s\n", heading.c_str());
  closing_ = false;
  writer_ = std::thread([this] { WriterLoop(); });
  return true;
}

void TraceFile::Record(std::chrono::steady_clock::time_point at, WireDirection direction, std::string_view name,
                       std::size_t length, const std::uint8_t* bytes, std::size_t n) {
  Entry entry;
  entry.nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(at.time_since_epoch()).count();
  entry.direction = direction;
  const std::size_t nameLength = std::min(name.size(), sizeof entry.name - 1);
  std::memcpy(entry.name, name.data(), nameLength);
  entry.name[nameLength] = '\0';
  entry.length = static_cast<std::uint32_t>(length);
  entry.shown = static_cast<std::uint8_t>(std::min(n, kExcerpt));
  entry.more = n > kExcerpt;
  if (entry.shown != 0) std::memcpy(entry.bytes, bytes, entry.shown);
  bool wake = false;
  {
    std::lock_guard lock(mutex_);
    if (file_ == nullptr) return;
    queue_.push_back(entry);
    wake = queue_.size() == kBatch;
  }
  if (wake) wake_.notify_one();
}

void TraceFile::WriterLoop() {
  std::vector<Entry> taken;
  for (;;) {
    bool last = false;
    {
      std::unique_lock lock(mutex_);
      wake_.wait_for(lock, kWriterPeriod, [this] { return closing_ || queue_.size() >= kBatch; });
      taken.swap(queue_);
      last = closing_;
    }
    WriteEntries(taken);
    taken.clear();
    if (last) return;
  }
}

void TraceFile::WriteEntries(const std::vector<Entry>& entries) {
  if (entries.empty()) return;
  static constexpr char kHex[] = "0123456789abcdef";
  for (const Entry& e : entries) {
    char line[160];
    int used = std::snprintf(line, sizeof line, "%lld.%06lld %s %-16s %6u ",
                             static_cast<long long>(e.nanoseconds / 1000000000),
                             static_cast<long long>(e.nanoseconds % 1000000000 / 1000),
                             e.direction == WireDirection::kSent ? "->" : "<-", e.name, e.length);
    std::size_t at = static_cast<std::size_t>(std::max(used, 0));
    for (std::size_t i = 0; i < e.shown && at + 4 < sizeof line; ++i) {
      line[at++] = ' ';
      line[at++] = kHex[e.bytes[i] >> 4];
      line[at++] = kHex[e.bytes[i] & 0x0F];
    }
    if (e.more && at + 5 < sizeof line) {
      std::memcpy(line + at, " ...", 4);
      at += 4;
    }
    line[at++] = '\n';
    if (std::fwrite(line, 1, at, file_) != at) writeFailed_ = true;
  }
  if (std::fflush(file_) != 0) writeFailed_ = true;
}

bool TraceFile::Close() {
  if (file_ == nullptr) return error_.empty();
  {
    std::lock_guard lock(mutex_);
    closing_ = true;
  }
  wake_.notify_one();
  if (writer_.joinable()) writer_.join();
  std::FILE* file = nullptr;
  {
    std::lock_guard lock(mutex_);
    file = file_;
    file_ = nullptr;
    queue_.clear();
  }
  const bool closed = std::fclose(file) == 0;
  if ((writeFailed_ || !closed) && error_.empty()) error_ = path_ + ": " + std::strerror(errno);
  return error_.empty();
}

}  // namespace common
