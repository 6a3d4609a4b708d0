#include "torvix/channels/app/pick_list_dialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace torvix::channels::app {

PickListDialog::PickListDialog(QWidget* parent, const QString& caption, const QString& text, const QString& listName,
                               const QStringList& lines, bool checked, const QString& actionText)
    : QDialog(parent) {
  setWindowTitle(caption);
  auto* label = new QLabel(text, this);
  label->setTextFormat(Qt::PlainText);
  label->setWordWrap(true);
  list_ = new QListWidget(this);
  list_->setAccessibleName(listName);
  list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  for (const QString& line : lines) {
    auto* item = new QListWidgetItem(line, list_);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    item->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
  }
  list_->setCurrentRow(0);
  label->setBuddy(list_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  QPushButton* action = buttons->addButton(actionText, QDialogButtonBox::AcceptRole);
  action->setEnabled(!lines.isEmpty());
  action->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(label);
  layout->addWidget(list_);
  layout->addWidget(buttons);
  resize(640, 420);
  list_->setFocus();
}

std::vector<int> PickListDialog::Checked() const {
  std::vector<int> rows;
  for (int row = 0; row < list_->count(); ++row) {
    if (list_->item(row)->checkState() == Qt::Checked) rows.push_back(row);
  }
  return rows;
}

}  // namespace torvix::channels::app
