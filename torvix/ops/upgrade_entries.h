// The four upgrade entries, Upgrade 1 to Upgrade 4: what each one checks,
// asks and sends.  The one table that the entries themselves, the preflight
// of an image and torvix-cli's check-rom all read.
//
// Two numbers are kept apart here: the entry the operator picks (1 to 4: the
// window's buttons, torvix-cli's --mode) and the upgradeMode it sets (0, 1 or
// 2), whose marker (UpgradeMarker) replaces the image's flag byte on the wire.
// Constant data; any thread.
#pragma once

#include <array>

namespace torvix {

struct UpgradeEntry {
  int number;              // Upgrade 1 to 4
  bool needsAccessCode;    // the factory access code, asked once per run
  bool asksWholeUpgrade;   // asks first when the image allows only a whole upgrade (flag byte 0)
  bool checksHardware;     // compares the image's hardware number with the receiver's
  bool connectsFirst;      // connects first while no connect was attempted in this run
  int upgradeMode;         // set before the file is chosen; 0 once a whole upgrade was accepted
};

inline constexpr int kWholeUpgradeMode = 0;  // the upgradeMode of a whole upgrade

inline constexpr std::array<UpgradeEntry, 4> kUpgradeEntries = {{
    // number, access code, whole-upgrade question, hardware check, connect first, upgradeMode
    {1, false, true, true, true, 1},                  // software, keeping the channel list
    {2, false, true, true, true, 2},                  // software and satellite information
    {3, true, false, true, true, kWholeUpgradeMode},  // software, satellite information and loader
    {4, true, false, false, false, kWholeUpgradeMode},  // a receiver whose software is broken
}};

// The entry numbered `number`; null outside 1 to 4.
constexpr const UpgradeEntry* FindUpgradeEntry(int number) {
  for (const UpgradeEntry& entry : kUpgradeEntries) {
    if (entry.number == number) return &entry;
  }
  return nullptr;
}

// The upgradeMode an entry sends with: its own, or the whole upgrade's once
// the operator accepted that for an image that allows nothing else.
constexpr int UpgradeModeOf(const UpgradeEntry& entry, bool wholeUpgradeAccepted) {
  return wholeUpgradeAccepted ? kWholeUpgradeMode : entry.upgradeMode;
}

}  // namespace torvix
