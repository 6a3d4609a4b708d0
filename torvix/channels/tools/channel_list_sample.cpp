// channel-list-sample: writes a realistic channel list, made up from a seed,
// as a factory-data text or a database image, for the emulator's --database,
// the demo, screenshots and trying the editor.  A developer's tool: not
// installed with the packages.
//
//   channel-list-sample list.txt
//   channel-list-sample --layout kvrs --max --seed 7 --image list.img
//   channel-list-sample --satellites 4 --transponders 40 --services 300 list.txt
#include <cstdint>
#include <iostream>
#include <string>

#include <CLI/CLI.hpp>

#include "common/cli/output.h"
#include "common/exit_codes.h"
#include "common/replacing_file.h"
#include "torvix/channels/sample_lists.h"

int main(int argc, char** argv) {
  using torvix::channels::Layout;
  constexpr const char* kProgram = "channel-list-sample";
  CLI::App app{"Writes a realistic channel list made up from a seed, as a factory-data text or a database image."};
  std::string layout = "basic";
  torvix::channels::SampleOptions options;
  bool max = false;
  bool image = false;
  std::string output;
  app.add_option("--layout", layout, "basic or kvrs")->check(CLI::IsMember({"basic", "kvrs"}))->capture_default_str();
  app.add_option("--satellites", options.satellites, "number of satellites")->capture_default_str();
  app.add_option("--transponders", options.transponders, "number of transponders")->capture_default_str();
  app.add_option("--services", options.services, "number of services")->capture_default_str();
  app.add_option("--antennas", options.antennas, "number of antennas (KVRS only)")->capture_default_str();
  app.add_flag("--max", max, "every table at its room (overrides the numbers)");
  app.add_option("--seed", options.seed, "the same seed gives the same list")->capture_default_str();
  app.add_flag("--image", image, "write the 131072-byte database image instead of the text");
  app.add_option("FILE", output, "file to write (replaced only when complete)")->required();
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    return app.exit(error) == 0 ? common::kExitOk : common::kExitUsage;
  }

  options.layout = layout == "kvrs" ? Layout::kKvrs : Layout::kBasic;
  if (max) options = torvix::channels::MaximalSample(options.layout, options.seed);
  if (options.layout == Layout::kBasic && app.count("--antennas") == 0) options.antennas = 0;
  if (const std::string why = torvix::channels::CheckSampleOptions(options); !why.empty()) {
    std::cerr << common::cli::OwnLine(kProgram, why) << '\n';
    return common::kExitUsage;
  }
  const torvix::channels::ChannelList list = torvix::channels::MakeSampleList(options);
  std::string contents;
  if (image) {
    const torvix::DatabaseImage compiled = list.Compile();
    contents.assign(reinterpret_cast<const char*>(compiled.Data()), torvix::DatabaseImage::kSize);
  } else {
    contents = torvix::channels::WriteText(list);
  }
  std::string error;
  if (!common::ReplaceFile(output, contents, error)) {
    std::cerr << common::cli::OwnLine(kProgram, error) << '\n';
    return common::kExitFile;
  }
  return common::kExitOk;
}
