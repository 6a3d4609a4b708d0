#include "torvix/app/small_dialogs.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "common/build_version.h"
#include "common/device_map.h"
#include "common/qt/device_combo.h"
#include "torvix/app/dialog_units.h"
#include "torvix/app/port_store.h"
#include "torvix/app/window_texts.h"

namespace torvix::app {
namespace {

constexpr int kIconSize = 32;  // the size of the home platform's large icons

QLabel* IconLabel(QWidget* parent) {
  auto* label = new QLabel(parent);
  label->setPixmap(ProgramIcon().pixmap(kIconSize, kIconSize));
  label->setAccessibleName(kProgramName);
  return label;
}

// A dialog that closes only through its buttons, Escape and the close box.
void MakeFixedDialog(QDialog* dialog, const char* caption) {
  dialog->setWindowTitle(caption);
  dialog->setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
}

}  // namespace

QIcon ProgramIcon() { return QIcon(QStringLiteral(":/torvix/torvix.svg")); }

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
  MakeFixedDialog(this, kAboutCaption);
  auto* layout = new QGridLayout(this);
  layout->addWidget(IconLabel(this), 0, 0, Qt::AlignTop);
  auto* texts = new QVBoxLayout;
  texts->addWidget(new QLabel(kAboutVersion, this));
  texts->addWidget(new QLabel(QString(kAboutBuild).arg(common::kBuildVersion), this));
  layout->addLayout(texts, 0, 1, Qt::AlignVCenter);
  auto* ok = new QPushButton(tr("OK"), this);
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  layout->addWidget(ok, 0, 2, Qt::AlignTop);
  layout->setColumnStretch(1, 1);
  layout->setHorizontalSpacing(16);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

CommSetupDialog::CommSetupDialog(QWidget* parent, std::uint32_t port, const common::DeviceRoots& deviceRoots)
    : QDialog(parent) {
  MakeFixedDialog(this, kCommSetupCaption);
  auto* group = new QGroupBox(kSelectAPort, this);
  com1_ = new QRadioButton(kCom1, this);
  auto* com2 = new QRadioButton(kCom2, this);
  (port == 1 ? com1_ : com2)->setChecked(true);
  // Where each name leads now, and the devices present to choose from.
  const common::DeviceMap map(common::kTorvixSettings, common::SettingsFoldersFromEnvironment(), deviceRoots);
  const std::vector<common::DeviceChoice> choices =
      common::DeviceChoices(common::ListSerialPorts(deviceRoots, map.Resolver()));
  for (int n = 1; n <= 2; ++n) {
    const common::ComMapping now = map.Resolve(n);
    devices_[n - 1] = new common::qt::DeviceCombo(this, now, choices, kDeviceShownCharacters,
                                                  QString(kDeviceFromEnvironment).arg(QString::fromStdString(now.name)));
    devices_[n - 1]->setObjectName(QStringLiteral("deviceCOM%1").arg(n));
  }
  QLabel* icon = IconLabel(this);
  auto* ok = new QPushButton(tr("OK"), this);
  auto* cancel = new QPushButton(tr("Cancel"), this);
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  // Choosing a device chooses its port.
  connect(devices_[0], &QComboBox::activated, com1_, [this] { com1_->setChecked(true); });
  connect(devices_[1], &QComboBox::activated, com2, [com2] { com2->setChecked(true); });
  constexpr int kIconUnits = 20;  // the icon's box: 32 pixels in the template's font
  // The template's arrangement, widened for the device fields beside the buttons.
  PlaceInDialogUnits(this, {330, 83},
                     {{group, {7, 7, 316, 49}},
                      {com1_, {16, 20, 49, 10}},
                      {com2, {16, 39, 42, 10}},
                      {devices_[0], {68, 18, 214, 13}},
                      {devices_[1], {68, 37, 214, 13}},
                      {icon, {293, 22, kIconUnits, kIconUnits}},
                      {ok, {106, 62, 50, 14}},
                      {cancel, {174, 62, 50, 14}}});
  ok->setFocus();
}

std::uint32_t CommSetupDialog::Port() const { return com1_->isChecked() ? 1 : 2; }

std::vector<std::pair<int, QString>> CommSetupDialog::ChangedDevices() const {
  std::vector<std::pair<int, QString>> changed;
  for (int n = 1; n <= 2; ++n) {
    if (devices_[n - 1]->Changed()) changed.emplace_back(n, devices_[n - 1]->Device());
  }
  return changed;
}

bool ChooseAndStorePort(QWidget* parent, std::uint32_t& port, const common::DeviceRoots& deviceRoots) {
  CommSetupDialog dialog(parent, port, deviceRoots);
  const bool chosen = dialog.exec() == QDialog::Accepted;
  if (chosen) {
    port = dialog.Port();
    // As the port: a store that cannot be written keeps nothing.
    for (const auto& [n, device] : dialog.ChangedDevices()) WriteStoredDevice(n, device);
  }
  WriteStoredPort(port);
  return chosen;
}

PasswordDialog::PasswordDialog(QWidget* parent) : QDialog(parent) {
  MakeFixedDialog(this, kPasswordCaption);
  auto* label = new QLabel(kPasswordLabel, this);
  edit_ = new QLineEdit(this);
  edit_->setEchoMode(QLineEdit::Password);
  edit_->setMaxLength(kPasswordMaxLength);
  edit_->setAccessibleName(kPasswordLabel);
  label->setBuddy(edit_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(label);
  layout->addWidget(edit_);
  layout->addWidget(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  edit_->setFocus();
}

std::optional<std::string> PasswordDialog::Ask(QWidget* parent) {
  PasswordDialog dialog(parent);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.edit_->text().toStdString();
}

}  // namespace torvix::app
