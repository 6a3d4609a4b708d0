#include "updater/transport/file_checks.h"

#include <cstddef>
#include <cstdint>

#include "updater/transport/file_io.h"

namespace updater {

namespace {
constexpr std::uint8_t kSignature[2] = {0x55, 0xAA};
}

FileKind ClassifyFileName(const std::string& path) {
  if (path.find(".wsw") != std::string::npos) return FileKind::kSoftware;
  if (path.find(".wdb") != std::string::npos || path.find(".WDB") != std::string::npos) return FileKind::kSettings;
  return FileKind::kNone;
}

bool HasSoftwareSignature(const std::string& path) {
  InputFile file;
  if (!file.Open(path)) return false;
  std::uint8_t head[2] = {};
  std::size_t got = 0;
  return file.Read(head, sizeof head, got) && got == sizeof head && head[0] == kSignature[0] &&
         head[1] == kSignature[1];
}

}  // namespace updater
