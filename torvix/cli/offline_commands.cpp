#include "torvix/cli/offline_commands.h"

#include <memory>
#include <string>

#include "common/cli/output.h"
#include "common/cli/port_report.h"
#include "common/device_map.h"
#include "common/exit_codes.h"
#include "torvix/cli/program_name.h"
#include "torvix/link/link_jobs.h"
#include "torvix/ops/operations.h"
#include "torvix/ops/rom_preflight.h"
#include "torvix/ops/upgrade_entries.h"

namespace torvix::cli {
namespace {

struct CheckOptions {
  std::string rom;
  int mode = 0;  // the entry --mode names; 0: every entry
  bool yes = false;
};

// What torvix-cli says of its own, after the system's texts: "torvix-cli: FILE: reason".
void SayOwn(std::FILE* err, const std::string& text) {
  std::fprintf(err, "%s\n", common::cli::OwnLine(kProgramName, text).c_str());
}

std::string Hex(unsigned value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%0*X", digits, value);
  return text;
}

// What `entry` does with the image, and its exit code when it refuses
// before a receiver is asked (0 when it goes on).
int EntryLine(const RomPreflight& p, const UpgradeEntry& entry, bool yes, std::string& line) {
  const bool asksWhole = entry.asksWholeUpgrade && p.check.upgradeFlagByte == 0;
  const std::string marker = Hex(UpgradeMarker(UpgradeModeOf(entry, asksWhole)), 2);
  line = "Upgrade " + std::to_string(entry.number) + ": ";
  if (entry.needsAccessCode) line += "needs the access code; ";
  int code = common::kExitOk;
  if (asksWhole) {
    line += "asks the whole-upgrade question first (--yes accepts it; the channel list and satellite information "
            "then alter); ";
    if (!yes) code = common::kExitDeclined;
  }
  if (entry.checksHardware && !p.check.expectedHardware) {
    line += "refused: \"" + std::string(kHardwareVersionError) + "\" whatever the receiver reports";
    return code == common::kExitOk ? common::kExitRefused : code;
  }
  line += "sends the image with marker " + marker + " in place of the flag byte";
  if (entry.checksHardware) {
    line += " once the receiver reports hardware " + std::to_string(*p.check.expectedHardware);
  } else {
    line += entry.connectsFirst ? ", without hardware check" : ", without connect or hardware check";
  }
  return code;
}

int CheckRom(const CheckOptions& options, std::FILE* out, std::FILE* err) {
  const RomPreflight p = PreflightRom(options.rom);
  if (!p.fileError.empty()) {
    SayOwn(err, p.fileError);
    return common::kExitFile;
  }
  std::string report = "ROM image:        " + options.rom + "\nsize:             " + std::to_string(p.size) + " bytes\n";
  if (!p.check.Sendable()) {
    std::fputs(report.c_str(), out);
    std::fflush(out);
    std::fprintf(err, "[TORVIX]%s\n", kWrongRomImage);
    SayOwn(err, options.rom + ": " + RomRefusalText(p.check, p.size));
    return common::kExitRefused;
  }
  const bool t = p.check.variant == RomVariant::T;
  report += "variant:          " + std::string(t ? "T" : "A") + " \"" + std::string(t ? kRomMagicT : kRomMagicA) + "\"\n";
  report += "hardware code:    " + std::to_string(p.check.hardwareCode) + "\n";
  report += "hardware number:  " + (p.check.expectedHardware ? std::to_string(*p.check.expectedHardware)
                                                             : std::string("none: Upgrade 1 to 3 refuse the image")) +
            "\n";
  report += "flag byte:        " + Hex(p.check.upgradeFlagByte, 2) +
            (p.check.upgradeFlagByte == 0 ? ": whole upgrade only; Upgrade 1 and 2 ask before they alter the channel "
                                            "list and satellite information\n"
                                          : ": Upgrade 1 keeps the channel list, Upgrade 2 replaces satellite "
                                            "information\n");
  char line[256];
  std::snprintf(line, sizeof line,
                "blocks:           %d, as the upgrade's progress counts them (\"block N/%d\")\n"
                "data frames:      %d of %zu bytes (the first with the 4-byte size in front), %llu bytes sent after "
                "the 42-byte header\n",
                p.progressTotal, p.progressTotal, p.frames, kSoftwareBlockSize,
                static_cast<unsigned long long>(p.size - kRomImageHeaderSize));
  report += line;
  std::snprintf(line, sizeof line,
                "transfer time:    %.0f s at 115200 bit/s (%llu bytes on the line; the receiver's own pauses come on "
                "top)\n",
                LineSeconds(p.lineBytes, SerialPort::kDefaultBaud), static_cast<unsigned long long>(p.lineBytes));
  report += line;
  int code = common::kExitOk;
  for (const UpgradeEntry& entry : kUpgradeEntries) {
    if (options.mode != 0 && entry.number != options.mode) continue;
    std::string text;
    const int entryCode = EntryLine(p, entry, options.yes, text);
    if (options.mode != 0) code = entryCode;
    report += text + "\n";
  }
  std::fputs(report.c_str(), out);
  return std::fflush(out) == 0 ? code : common::kExitFile;
}

}  // namespace

void AddOfflineCommands(CLI::App& app, int& exitCode, const OfflineCommandSettings& settings) {
  auto json = std::make_shared<bool>(false);
  CLI::App* ports = app.add_subcommand("ports", "List the serial devices present and the COM names that lead to them");
  ports->add_flag("--json", *json, "Print the list as JSON");
  ports->callback([&exitCode, settings, json] {
    const common::DeviceMap map(common::kTorvixSettings, common::SettingsFoldersFromEnvironment(), settings.roots);
    const common::PortListing listing = common::ListSerialPorts(settings.roots, map.Resolver());
    const std::string text = *json ? common::cli::PortListingJson(listing) : common::cli::PortListingText(listing);
    std::fputs(text.c_str(), settings.out);
    exitCode = std::fflush(settings.out) == 0 ? common::kExitOk : common::kExitFile;
  });

  auto check = std::make_shared<CheckOptions>();
  CLI::App* rom = app.add_subcommand(
      "check-rom", "Check a ROM image as an upgrade does before it needs a receiver, and say what it holds and how "
                   "long it takes; exits as upgrade --mode N would refuse it");
  rom->add_option("rom", check->rom, "ROM image file")->required();
  rom->add_option("--mode", check->mode, "Upgrade 1 to 4 (default: say what each does)")->check(CLI::Range(1, 4));
  rom->add_flag("--yes", check->yes, "The whole-upgrade question of modes 1 and 2 would be accepted");
  rom->callback([&exitCode, settings, check] { exitCode = CheckRom(*check, settings.out, settings.err); });
}

}  // namespace torvix::cli
