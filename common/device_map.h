// Where a port name leads: the map from COM1, COM2, ... to a device that each
// program keeps in its settings, so that a USB adapter chosen once in a
// window is found again by the window, the command line and the next start.
//
// Precedence for COMn: the environment variable COMn (when set and not
// empty), then the device stored for the program (group "Devices", key
// "COMn" of its settings file), then /dev/ttyS(n-1).
//
// The windows write the settings file with Qt (an INI file), which
// common/ini_file.h reads as Qt does; the map adds Qt's fall-back from the
// user's files to the system's.  Standard library and POSIX only.  Any
// thread; blocks only on the file system.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/ini_file.h"
#include "common/serial_ports.h"

namespace common {

// Whose settings: the organization and application names under which a
// program's window keeps them.
struct SettingsName {
  const char* organization;
  const char* application;
};
inline constexpr SettingsName kTorvixSettings{"KALMER", "TORVIX"};
inline constexpr SettingsName kUpdaterSettings{"KALMER", "Updater"};

// The group of the map in a settings file; its keys are "COM1", "COM2", ...
inline constexpr const char* kDevicesGroup = "Devices";

// Where settings files are looked for.
struct SettingsFolders {
  std::string user;                 // the user's folder, the one the windows write
  std::vector<std::string> system;  // read for what the user's files do not have
};

// The folders Qt uses on this system: $XDG_CONFIG_HOME (when absolute), else
// $HOME/.config; and /etc/xdg.  Reads the environment.
SettingsFolders SettingsFoldersFromEnvironment();

// The file a window writes its settings to: <user>/<organization>/<application>.conf.
std::string UserSettingsFile(const SettingsName& program, const SettingsFolders& folders);

// The files a user-scope setting is read from, in Qt's order: the user's
// application file, the user's organization file, then the same two of each
// system folder.  The first file that has a key decides.
std::vector<std::string> SettingsFiles(const SettingsName& program, const SettingsFolders& folders);

// "COMn" (any case, n from 1 to 999 without leading zeros): n; else none.
std::optional<int> ComPortNumber(std::string_view name);

// One program's map, read once when constructed.
class DeviceMap {
 public:
  // Reads the stored devices of `program` from the user's files in
  // `folders`, then (for keys the user's files do not have) the system's,
  // each time the application's file before the organization's, as Qt does.
  // The default devices lie under `roots.dev`.
  explicit DeviceMap(const SettingsName& program, const SettingsFolders& folders = SettingsFoldersFromEnvironment(),
                     DeviceRoots roots = {});

  // Where COMn (n >= 1) leads now, and by whose word.  Reads the environment.
  ComMapping Resolve(int n) const;
  // Resolve() as the port listing takes it; the map must outlive the resolver.
  ComResolver Resolver() const {
    return [this](int n) { return Resolve(n); };
  }
  // The device stored for COMn, none when nothing (or an empty text) is stored.
  std::optional<std::string> Stored(int n) const;

 private:
  DeviceRoots roots_;
  std::map<int, std::string> stored_;
};

// The device `name` opens for `program`: a COM name as DeviceMap resolves it
// (reading the settings files and the environment at this call), any other
// name taken as a path and returned unchanged.
std::string ResolvePortName(const std::string& name, const SettingsName& program);

// After a COM port did not open: whether serial devices other than the one
// tried (`triedPath`) are present under `roots`, so that the person at the
// window can be sent to choose one.
bool OtherSerialDevicesPresent(const std::string& triedPath, const DeviceRoots& roots);

// One line of a device drop-down: what to open, and what sysfs says of it
// ("ttyUSB0: FTDI FT232R USB UART A1B2C3 (ftdi_sio, 0403:6001)"; the kernel
// name only where the path does not end in it).
struct DeviceChoice {
  std::string path;
  std::string about;
};
std::vector<DeviceChoice> DeviceChoices(const PortListing& listing);

}  // namespace common
