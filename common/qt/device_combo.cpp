#include "common/qt/device_combo.h"

#include <QAbstractItemView>
#include <QFile>
#include <QLineEdit>
#include <QSettings>
#include <QStyledItemDelegate>

namespace common::qt {
namespace {

constexpr int kAboutRole = Qt::UserRole + 1;  // what sysfs says of a listed device

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

DeviceCombo::DeviceCombo(QWidget* parent, const ComMapping& now, const std::vector<DeviceChoice>& choices,
                         int shownCharacters, const QString& environmentToolTip)
    : QComboBox(parent) {
  setEditable(true);
  setInsertPolicy(QComboBox::NoInsert);
  setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  setMinimumContentsLength(shownCharacters);
  setItemDelegate(new DeviceItemDelegate(this));
  for (const DeviceChoice& choice : choices) {
    const QString path = PathText(choice.path);
    const QString about = QString::fromStdString(choice.about);
    addItem(path);
    setItemData(count() - 1, about, kAboutRole);
    setItemData(count() - 1, about.isEmpty() ? path : path + "\n" + about, Qt::ToolTipRole);
  }
  view()->setMinimumWidth(view()->sizeHintForColumn(0) + 2 * view()->frameWidth());
  shown_ = PathText(now.path);
  const int listed = findText(shown_);
  if (listed >= 0) setCurrentIndex(listed);
  setEditText(shown_);
  lineEdit()->setCursorPosition(0);
  setToolTip(shown_);
  if (now.source == ComSource::kEnvironment) {
    // The variable wins over any choice: nothing to choose here.
    setEnabled(false);
    if (!environmentToolTip.isEmpty()) setToolTip(environmentToolTip);
  } else {
    connect(this, &QComboBox::editTextChanged, this, [this](const QString& text) { setToolTip(text); });
  }
}

QString DeviceCombo::Device() const { return currentText().trimmed(); }

bool DeviceCombo::Changed() const { return isEnabled() && Device() != shown_; }

bool StoreDevice(const SettingsName& program, int n, const QString& device) {
  QSettings settings(QSettings::UserScope, QString::fromLatin1(program.organization),
                     QString::fromLatin1(program.application));
  if (!settings.isWritable()) return false;
  // Read without Qt by common::DeviceMap.
  settings.beginGroup(QString::fromLatin1(kDevicesGroup));
  const QString key = QStringLiteral("COM%1").arg(n);
  if (device.isEmpty()) {
    settings.remove(key);
  } else {
    settings.setValue(key, device);
  }
  settings.endGroup();
  settings.sync();
  return settings.status() == QSettings::NoError;
}

}  // namespace common::qt
