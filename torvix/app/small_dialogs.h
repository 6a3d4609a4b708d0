// The small windows of TORVIX: the program icon, the about box, the port
// choice and the access code.  User-interface thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <QDialog>
#include <QIcon>

#include "common/serial_ports.h"

class QLabel;
class QLineEdit;
class QRadioButton;

namespace common::qt {
class DeviceCombo;
}  // namespace common::qt

namespace torvix::app {

// The program's icon (an SVG of its own, also installed for the desktop).
QIcon ProgramIcon();

// "About MeridLink": the icon, the version line and OK.
class AboutDialog : public QDialog {
  Q_OBJECT
 public:
  explicit AboutDialog(QWidget* parent);
};

// "Communication Setup": COM1 or COM2, and beside each the device it leads
// to (DeviceCombo), listed from the devices present under `deviceRoots`.
// Shows COM1 selected for port 1 and COM2 for any other number (0 included).
class CommSetupDialog : public QDialog {
  Q_OBJECT
 public:
  CommSetupDialog(QWidget* parent, std::uint32_t port, const common::DeviceRoots& deviceRoots = {});
  // After OK: 1 when COM1 is selected, 2 otherwise.
  std::uint32_t Port() const;
  // After OK: the COM numbers whose device the operator changed, with the
  // new device (empty: back to the default).
  std::vector<std::pair<int, QString>> ChangedDevices() const;

 private:
  QRadioButton* com1_;
  common::qt::DeviceCombo* devices_[2];
};

// "Communication Setup" with `port` selected, as TORVIX's windows offer it:
// after OK the chosen port is in `port` and the devices changed are stored;
// the port is stored after OK and after Cancel (a store that cannot be
// written keeps the choice for this run only).  True after OK.
bool ChooseAndStorePort(QWidget* parent, std::uint32_t& port, const common::DeviceRoots& deviceRoots);

// "Password Dialog": one masked line of at most 20 characters, empty each
// time it is shown.
class PasswordDialog : public QDialog {
  Q_OBJECT
 public:
  explicit PasswordDialog(QWidget* parent);
  // Shows the dialog; the text entered after OK, none after Cancel.
  static std::optional<std::string> Ask(QWidget* parent);

 private:
  QLineEdit* edit_;
};

}  // namespace torvix::app
