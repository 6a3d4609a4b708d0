#include "updater/app/device_dialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QVBoxLayout>

#include "common/device_map.h"
#include "common/qt/device_combo.h"
#include "updater/ops/window_texts.h"

namespace updater::app {
namespace {

constexpr int kShownCharacters = 56;  // the field's own width; the list is as wide as its lines

QString Text(const char* utf8) { return QString::fromUtf8(utf8); }

}  // namespace

DeviceDialog::DeviceDialog(QWidget* parent, int portNumber, const common::DeviceRoots& deviceRoots)
    : QDialog(parent) {
  setWindowTitle(Text(kDeviceCaption));
  const common::DeviceMap map(common::kUpdaterSettings, common::SettingsFoldersFromEnvironment(), deviceRoots);
  const common::ComMapping now = map.Resolve(portNumber);
  auto* label = new QLabel(Text(kDeviceLabel).arg(portNumber), this);
  combo_ = new common::qt::DeviceCombo(
      this, now, common::DeviceChoices(common::ListSerialPorts(deviceRoots, map.Resolver())), kShownCharacters);
  combo_->setObjectName(QStringLiteral("device"));
  label->setBuddy(combo_);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(label);
  layout->addWidget(combo_);
  if (now.source == common::ComSource::kEnvironment) {
    layout->addWidget(new QLabel(Text(kDeviceFromEnvironment).arg(portNumber), this));
  }
  layout->addWidget(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  combo_->setFocus();
}

QString DeviceDialog::Device() const { return combo_->Device(); }

bool DeviceDialog::Changed() const { return combo_->Changed(); }

}  // namespace updater::app
