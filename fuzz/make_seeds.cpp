// Writes the seed corpora of the fuzz targets into fuzz/corpus/NAME from the
// test data: the factory-data texts of the database tests, the images they
// compile to, the emulator's sample database, and packets and frames as the
// tools and the receivers make them.  Run once after changing the test data:
//   build/fuzz/fuzz/make_seeds fuzz/corpus
#include <array>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "emulator/link/sample_database.h"
#include "torvix/database/records.h"
#include "torvix/database/tests/sample_texts.h"
#include "torvix/link/link_frame.h"
#include "torvix/link/rom_image.h"
#include "updater/transport/packets.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
std::string g_root;

void Write(const std::string& target, const std::string& name, const Bytes& bytes) {
  const std::string path = g_root + "/" + target + "/" + name;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) std::cerr << "cannot write " << path << '\n';
}

Bytes Of(const std::string& text) { return Bytes(text.begin(), text.end()); }
Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
template <std::size_t N>
Bytes Of(const std::array<std::uint8_t, N>& a) {
  return Bytes(a.begin(), a.end());
}

// An image without its zero tail: the fuzz target fills the rest with zeros.
Bytes Trimmed(const std::uint8_t* data, std::size_t size) {
  while (size > 0 && data[size - 1] == 0) --size;
  return Bytes(data, data + size);
}

Bytes LinkStream() {
  Bytes s;
  for (const std::uint16_t code : {torvix::CODE_ACK, torvix::CODE_IDENTIFY_END, torvix::CODE_READY}) {
    s = s + Of(torvix::BuildCommandFrame(code));
  }
  const std::string abc = "abc";
  s = s + torvix::BuildDataFrame(reinterpret_cast<const std::uint8_t*>(abc.data()), abc.size());
  s = s + torvix::BuildDataFrame(nullptr, 0);
  Bytes damaged = torvix::BuildDataFrame(reinterpret_cast<const std::uint8_t*>(abc.data()), abc.size());
  damaged.back() ^= 0x5A;
  s = s + damaged;
  const Bytes big(torvix::kMaxPayload, 0x42);
  return s + torvix::BuildDataFrame(big.data(), big.size()) + Of("TwinOwLX\0\x30\0\x04");
}

Bytes Wsw() {
  Bytes file = {0x55, 0xAA, 1, 2, 3, 4, 5, 6, 7, 8, 0x00, 0x02, 0, 0, 0, 0};
  for (const std::uint32_t length : {0u, 5u}) {
    Bytes record = {0x5A, 0x5A, 0, static_cast<std::uint8_t>(length), 0, 0, 0, 0, 0, 0, 0, 0};
    updater::PutBe32(&record[8], length);
    record.resize(record.size() + length + 4, 0x33);
    file = file + record;
  }
  return file;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: make_seeds CORPUS_ROOT\n";
    return 2;
  }
  g_root = argv[1];
  using namespace torvix;

  const std::string basic = testing::FullBasicText();
  const std::string kvrs = testing::FullKvrsText();
  Write("factory_text_reader", "basic", Bytes{0} + Of(basic));
  Write("factory_text_reader", "kvrs", Bytes{0} + Of(kvrs));
  const char* lines[] = {
      "a 1 universal 9750 10600 d a 22 12 18",
      "s \"ASTRA DEF\" 9750 10600 universal 19.2 east a n n n",
      "s \"ASTRA DEF\" 9750 10600 universal 19.2 east y 12",
      "t 12663 22000 hor 0 14 0 3/4",
      "t 12663 22000 hor 0 14 0 3/4 7 0101 2300",
      "v \"ZDF On-line\" 1 1 2048 4096 4097 4096 4000 0 1 0",
      "v \"ZDF On-line\" 1 1 1 2048 4096 4097 4096 4000 0 1 0",
  };
  for (std::uint8_t k = 0; k < 7; ++k) Write("factory_text_reader", "line" + std::to_string(k), Bytes{static_cast<std::uint8_t>(0x80 + k)} + Of(lines[k]));

  Write("factory_round_trip", "basic", Of(basic));
  Write("factory_round_trip", "kvrs", Of(kvrs));

  for (const auto& [name, text] : {std::pair{"basic", basic}, std::pair{"kvrs", kvrs}}) {
    auto image = std::make_unique<DatabaseImage>();
    testing::Compile(text, *image);
    Write("database_writer", name, Trimmed(image->Data(), DatabaseImage::kSize));
  }
  const Bytes sample = emulator::SampleDatabaseImage();
  Write("database_writer", "emulator-sample", Trimmed(sample.data(), sample.size()));

  const Bytes link = LinkStream();
  Write("link_frame", "stream", link);
  Write("emulator_input", "link-stream", Bytes{0} + link);

  const Bytes magicA = Of(std::string(kRomMagicA)) + Bytes{0, 0};
  const Bytes magicT = Of(std::string(kRomMagicT)) + Bytes{0, 0};
  Bytes tail(0x40, 0);
  tail[kHardwareCodeOffset - 0x1F0028] = kHardwareCodeExplicit;
  tail[kHardwareNumberOffset - 0x1F0028] = 0xF7;
  tail[kHardwareNumberOffset - 0x1F0028 + 1] = 0x01;
  tail[kUpgradeFlagOffset - 0x1F0028] = 1;
  Write("rom_image", "a-explicit-hardware", Bytes{1, 0x50} + magicA + tail);
  Write("rom_image", "t-short", Bytes{0, 0} + magicT + Bytes{1, 2, 3});
  Write("rom_image", "t-largest", Bytes{2, 1} + magicT + tail);

  Write("updater_files", "wsw", Wsw());
  Write("updater_files", "settings-header", Of(updater::EncodeSettingsHeader({782, 200192})));
  Write("updater_files", "block-header", Of(updater::EncodeBlockHeader({3, 0x7FFB0300, 256, 0x12345678})));
  Write("updater_files", "record-announce", Of(updater::EncodeRecordAnnounce(4000)));

  Write("token_scanner", "announcement", Bytes{1, 5} + Of("UP2SW") + Bytes{3} + Of("DSW") + Bytes{6, 5} + Of("LODSW"));
  Write("token_scanner", "ack", Bytes{0, 2} + Of("2A") + Bytes{5} + Of("2ACK3"));

  Bytes settings = Bytes{3} + Bytes(16, 0x01) + Of(updater::EncodeSettingsHeader({2, 300}));
  const Bytes block(256, 0x77);
  settings = settings + Of(updater::EncodeBlockHeader({0, 0x7FFB0000, 256, updater::Crc32(block.data(), 256)})) + block;
  Write("emulator_input", "settings", settings);
  Bytes software = Bytes{1} + Of(updater::EncodeRecordAnnounce(5));
  software = software + Bytes{0x5A, 0x5A, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5} + Bytes(9, 0x44);
  Write("emulator_input", "software", software);
  // A record longer than any tool's record buffer: refused, not read.
  Write("emulator_input", "software-oversized", Bytes{1} + Of(updater::EncodeRecordAnnounce(65521)));
  return 0;
}
