#include "updater/app/device_dialog.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QSettings>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

#include "updater/ops/window_texts.h"

namespace updater::app {
namespace {

constexpr int kAboutRole = Qt::UserRole + 1;  // what sysfs says of a listed device
constexpr int kShownCharacters = 56;          // the field's own width; the list is as wide as its lines

QString Text(const char* utf8) { return QString::fromUtf8(utf8); }
QString PathText(const std::string& path) { return QFile::decodeName(QByteArray::fromStdString(path)); }

// The list shows a device's path and what is known of it; the field takes
// only the path.
class DeviceItemDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    const QString about = index.data(kAboutRole).toString();
    if (!about.isEmpty()) option->text += QStringLiteral("  —  ") + about;
  }
};

}  // namespace

DeviceDialog::DeviceDialog(QWidget* parent, int portNumber, const common::DeviceRoots& deviceRoots)
    : QDialog(parent) {
  setWindowTitle(Text(kDeviceCaption));
  const common::DeviceMap map(common::kUpdaterSettings, common::SettingsFoldersFromEnvironment(), deviceRoots);
  const common::ComMapping now = map.Resolve(portNumber);
  auto* label = new QLabel(Text(kDeviceLabel).arg(portNumber), this);
  combo_ = new QComboBox(this);
  combo_->setObjectName(QStringLiteral("device"));
  combo_->setEditable(true);
  combo_->setInsertPolicy(QComboBox::NoInsert);
  combo_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  combo_->setMinimumContentsLength(kShownCharacters);
  combo_->setItemDelegate(new DeviceItemDelegate(combo_));
  label->setBuddy(combo_);
  for (const common::DeviceChoice& choice :
       common::DeviceChoices(common::ListSerialPorts(deviceRoots, map.Resolver()))) {
    const QString path = PathText(choice.path);
    const QString about = QString::fromStdString(choice.about);
    combo_->addItem(path);
    combo_->setItemData(combo_->count() - 1, about, kAboutRole);
    combo_->setItemData(combo_->count() - 1, about.isEmpty() ? path : path + "\n" + about, Qt::ToolTipRole);
  }
  combo_->view()->setMinimumWidth(combo_->view()->sizeHintForColumn(0) + 2 * combo_->view()->frameWidth());
  shown_ = PathText(now.path);
  const int listed = combo_->findText(shown_);
  if (listed >= 0) combo_->setCurrentIndex(listed);
  combo_->setEditText(shown_);
  combo_->lineEdit()->setCursorPosition(0);
  combo_->setToolTip(shown_);
  connect(combo_, &QComboBox::editTextChanged, combo_, [this](const QString& text) { combo_->setToolTip(text); });

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(label);
  layout->addWidget(combo_);
  if (now.source == common::ComSource::kEnvironment) {
    // The variable wins over any choice: nothing to choose here.
    combo_->setEnabled(false);
    layout->addWidget(new QLabel(Text(kDeviceFromEnvironment).arg(portNumber), this));
  }
  layout->addWidget(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  combo_->setFocus();
}

QString DeviceDialog::Device() const { return combo_->currentText().trimmed(); }

bool DeviceDialog::Changed() const { return combo_->isEnabled() && Device() != shown_; }

bool StoreDevice(int portNumber, const QString& device) {
  QSettings settings(QSettings::UserScope, QString::fromLatin1(common::kUpdaterSettings.organization),
                     QString::fromLatin1(common::kUpdaterSettings.application));
  if (!settings.isWritable()) return false;
  // Read without Qt by common::DeviceMap, for updater-cli too.
  settings.beginGroup(QString::fromLatin1(common::kDevicesGroup));
  const QString key = QStringLiteral("COM%1").arg(portNumber);
  if (device.isEmpty()) {
    settings.remove(key);
  } else {
    settings.setValue(key, device);
  }
  settings.endGroup();
  settings.sync();
  return settings.status() == QSettings::NoError;
}

}  // namespace updater::app
