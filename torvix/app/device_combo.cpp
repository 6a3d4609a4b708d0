#include "torvix/app/device_combo.h"

#include <QAbstractItemView>
#include <QFile>
#include <QLineEdit>
#include <QStandardItemModel>
#include <QStyledItemDelegate>

#include "torvix/app/window_texts.h"

namespace torvix::app {
namespace {

constexpr int kAboutRole = Qt::UserRole + 1;  // what sysfs says of a listed device
constexpr int kShownCharacters = 24;          // the field's own width; the list is as wide as its lines

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

DeviceCombo::DeviceCombo(QWidget* parent, const common::ComMapping& now,
                         const std::vector<common::DeviceChoice>& choices)
    : QComboBox(parent) {
  setEditable(true);
  setInsertPolicy(QComboBox::NoInsert);
  setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  setMinimumContentsLength(kShownCharacters);
  setItemDelegate(new DeviceItemDelegate(this));
  for (const common::DeviceChoice& choice : choices) {
    addItem(PathText(choice.path));
    const QString about = QString::fromStdString(choice.about);
    setItemData(count() - 1, about, kAboutRole);
    setItemData(count() - 1, about.isEmpty() ? PathText(choice.path) : PathText(choice.path) + "\n" + about,
                Qt::ToolTipRole);
  }
  view()->setMinimumWidth(view()->sizeHintForColumn(0) + 2 * view()->frameWidth());
  shown_ = PathText(now.path);
  const int listed = findText(shown_);
  if (listed >= 0) setCurrentIndex(listed);
  setEditText(shown_);
  lineEdit()->setCursorPosition(0);
  if (now.source == common::ComSource::kEnvironment) {
    setEnabled(false);
    setToolTip(QString(kDeviceFromEnvironment).arg(QString::fromStdString(now.name)));
  } else {
    setToolTip(shown_);
    connect(this, &QComboBox::editTextChanged, this, [this](const QString& text) { setToolTip(text); });
  }
}

QString DeviceCombo::Device() const { return currentText().trimmed(); }

bool DeviceCombo::Changed() const { return isEnabled() && Device() != shown_; }

std::string OpenFailureNote(const PortChoice& port, const common::DeviceRoots& roots) {
  if (!port.devicePath.empty() || port.portNumber < 1) return {};
  const std::string name = "COM" + std::to_string(port.portNumber);
  // The device the port opened, and by whose word.
  const std::string tried = common::ResolvePortName(name, common::kTorvixSettings);
  if (!common::OtherSerialDevicesPresent(tried, roots)) return {};
  const bool fromEnvironment =
      common::DeviceMap(common::kTorvixSettings).Resolve(port.portNumber).source == common::ComSource::kEnvironment;
  return QString(fromEnvironment ? kOpenFailureNoteEnvironment : kOpenFailureNote)
      .arg(QString::fromStdString(name), PathText(tried))
      .toStdString();
}

}  // namespace torvix::app
