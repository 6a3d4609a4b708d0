#include "updater/cli/check_file.h"

#include <algorithm>
#include <string>
#include <vector>

#include "common/cli/output.h"
#include "common/exit_codes.h"
#include "updater/cli/program_name.h"
#include "updater/transport/file_checks.h"
#include "updater/transport/file_io.h"
#include "updater/transport/packets.h"
#include "updater/transport/tokens.h"

namespace updater::cli {
namespace {

// A line updater-cli adds of its own, after the system's texts.
void Say(std::FILE* err, const std::string& text) {
  std::fprintf(err, "%s\n", common::cli::OwnLine(kProgramName, text).c_str());
}

constexpr unsigned kBitsPerByte = 10;          // 8N1
constexpr std::uint32_t kUpdateBaud = 115200;  // the update's only rate
// Tokens around the update's records: the announcement and its ACK and NXT,
// the header's ACK and NXT, "2DIS3" and its ACK, the three stages, "2DIS3".
constexpr std::uint64_t kUpdateTokens = 3 + 2 + 2 + 3 + 1;
constexpr std::uint64_t kRecordTokens = 4;  // ACK and NXT after the announcement and after the record
// Tokens of a send: the model token, ACK, NXT, the header's ACK and NXT, the three stages.
constexpr std::uint64_t kSendTokens = 3 + 2 + 3;
constexpr std::uint64_t kBlockTokens = 2;  // ACK of the block header and of the data

double Seconds(std::uint64_t bytes, std::uint32_t baud) { return static_cast<double>(bytes) * kBitsPerByte / baud; }

std::string Hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

// The records of a software file as the update walks them.
struct RecordWalk {
  int records = 0;
  std::uint64_t payloads = 0;
  std::uint32_t largest = 0;
  std::size_t end = kWswHeaderSize;  // behind the last whole record
  std::uint64_t line = 0;            // bytes on the line
  std::string problem;               // why the update would fail on it; empty when it would not
};

bool HasSignature(const std::vector<std::uint8_t>& file) {
  return file.size() >= kWswHeaderSize && file[0] == kWswMagic0 && file[1] == kWswMagic1;
}

RecordWalk WalkRecords(const std::vector<std::uint8_t>& file) {
  RecordWalk walk;
  walk.line = kWswHeaderSize + kUpdateTokens * kTokenSize;
  std::size_t& at = walk.end;
  while (file.size() - at >= kRecordHeaderSize && file[at] == kRecordMagic && file[at + 1] == kRecordMagic) {
    const std::uint32_t payload = GetBe32(file.data() + at + kRecordLengthOffset);
    if (payload > kLargestPayload) {
      walk.problem = "record " + std::to_string(walk.records + 1) + " announces " + std::to_string(payload) +
                     " bytes, more than the " + std::to_string(kLargestPayload) + " a record can carry";
      break;
    }
    const std::size_t whole = kRecordHeaderSize + payload + kRecordTrailerSize;
    if (file.size() - at < whole) {
      walk.problem = "record " + std::to_string(walk.records + 1) + " is cut short by the end of the file";
      break;
    }
    ++walk.records;
    walk.payloads += payload;
    walk.largest = std::max(walk.largest, payload);
    walk.line += kRecordAnnounceSize + whole + kRecordTokens * kTokenSize;
    at += whole;
  }
  return walk;
}

std::string NoSignature(const std::string& path) { return path + ": no software file (it does not begin with 55 AA)"; }
std::string WouldFail(const std::string& path, const std::string& problem) {
  return path + ": " + problem + "; the update would fail there";
}

int CheckSoftware(const std::string& path, const std::vector<std::uint8_t>& file, std::FILE* out, std::FILE* err) {
  std::string report = "software file:   " + path + "\nsize:            " + std::to_string(file.size()) + " bytes\n";
  if (!HasSignature(file)) {
    std::fputs(report.c_str(), out);
    Say(err, NoSignature(path));
    return common::kExitRefused;
  }
  const std::uint16_t counted = GetBe16(file.data() + kWswRecordCountOffset);
  report += "signature:       55 AA\nrecords counted: " + std::to_string(counted) + "\n";
  const RecordWalk walk = WalkRecords(file);
  report += "records found:   " + std::to_string(walk.records) + " (" + std::to_string(walk.payloads) +
            " bytes of payload, the largest " + std::to_string(walk.largest) + ")\n";
  if (walk.problem.empty() && walk.end < file.size()) {
    report += "after them:      " + std::to_string(file.size() - walk.end) + " bytes that are no record: not sent\n";
  }
  if (walk.problem.empty() && walk.records != counted) {
    report += "note:            the header counts " + std::to_string(counted) +
              " records; the percentages shown follow that count\n";
  }
  char text[160];
  std::snprintf(text, sizeof text,
                "transfer time:   %.0f s at 115200 bit/s (%llu bytes on the line; the receiver's own time to write "
                "and check comes on top)\n",
                Seconds(walk.line, kUpdateBaud), static_cast<unsigned long long>(walk.line));
  report += text;
  std::fputs(report.c_str(), out);
  if (!walk.problem.empty()) {
    Say(err, WouldFail(path, walk.problem));
    return common::kExitRefused;
  }
  return common::kExitOk;
}

int CheckSettings(const std::string& path, const std::vector<std::uint8_t>& file, std::uint32_t baud, std::FILE* out,
                  std::FILE* err) {
  const std::uint64_t size = file.size();
  const std::uint64_t blocks = RoundUpToBlock(size) / kBlockSize;
  std::string report = "settings file:   " + path + "\nsize:            " + std::to_string(size) + " bytes\n" +
                       "blocks:          " + std::to_string(blocks) + " of " + std::to_string(kBlockSize) +
                       " bytes (the last filled with zeros)\n" + "base address:    " + Hex(BaseAddressFor(size)) +
                       (size > kLargeImageAbove ? " (a large image)\n" : "\n");
  const std::uint64_t line = kSettingsHeaderSize + kSendTokens * kTokenSize +
                             blocks * (kBlockHeaderSize + kBlockSize + kBlockTokens * kTokenSize);
  char text[160];
  std::snprintf(text, sizeof text,
                "transfer time:   %.0f s at %u bit/s (%llu bytes on the line; the receiver's own time to check the "
                "settings comes on top)\n",
                Seconds(line, baud), baud, static_cast<unsigned long long>(line));
  report += text;
  std::fputs(report.c_str(), out);
  if (size < kSmallestSettingsFile || blocks > kMaxSettingsBlocks) {
    Say(err, path + ": " + std::to_string(size) + " bytes; a settings file has " + std::to_string(kSmallestSettingsFile) +
                 " to " + std::to_string(std::uint64_t{kMaxSettingsBlocks} * kBlockSize));
    return common::kExitRefused;
  }
  if (file.size() >= 2 && file[0] == kWswMagic0 && file[1] == kWswMagic1) {
    Say(err, "Не тот Файл! " + path + ": begins with 55 AA, as a software file does (send takes it only with --force)");
    return common::kExitRefused;
  }
  return common::kExitOk;
}

}  // namespace

namespace {

// The whole file, or the reason it could not be read.
bool ReadWhole(const std::string& path, std::vector<std::uint8_t>& bytes, std::string& error) {
  InputFile input;
  std::uint64_t size = 0;
  std::size_t got = 0;
  if (input.Open(path) && input.Size(size)) {
    bytes.resize(static_cast<std::size_t>(size));
    if (input.Read(bytes.data(), bytes.size(), got)) bytes.resize(got);
  }
  error = input.Error();
  return error.empty();
}

}  // namespace

std::optional<Refusal> SoftwareFileRefusal(const std::string& path) {
  std::vector<std::uint8_t> bytes;
  std::string error;
  if (!ReadWhole(path, bytes, error)) return Refusal{common::kExitFile, error};
  if (!HasSignature(bytes)) return Refusal{common::kExitRefused, NoSignature(path)};
  const RecordWalk walk = WalkRecords(bytes);
  if (!walk.problem.empty()) return Refusal{common::kExitRefused, WouldFail(path, walk.problem)};
  return std::nullopt;
}

int CheckFile(const std::string& path, std::uint32_t baud, std::FILE* out, std::FILE* err) {
  const FileKind kind = ClassifyFileName(path);
  if (kind == FileKind::kNone) {
    Say(err, "Не тот Файл! " + path + ": the name contains neither .wsw nor .wdb (.WDB)");
    return common::kExitRefused;
  }
  std::vector<std::uint8_t> bytes;
  std::string error;
  if (!ReadWhole(path, bytes, error)) {
    Say(err, error);
    return common::kExitFile;
  }
  return kind == FileKind::kSoftware ? CheckSoftware(path, bytes, out, err) : CheckSettings(path, bytes, baud, out, err);
}

}  // namespace updater::cli
