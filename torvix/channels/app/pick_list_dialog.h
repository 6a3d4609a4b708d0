// A dialog that lists lines with a check box each (the duplicates of a list,
// the differences to another) and one button that acts on the checked ones.
// User-interface thread.
#pragma once

#include <vector>

#include <QDialog>
#include <QStringList>

class QListWidget;

namespace torvix::channels::app {

class PickListDialog : public QDialog {
  Q_OBJECT
 public:
  // `listName` is the list's accessible name; `checked` how every line starts.
  PickListDialog(QWidget* parent, const QString& caption, const QString& text, const QString& listName,
                 const QStringList& lines, bool checked, const QString& actionText);
  // After the action button: the positions of the checked lines, in order.
  std::vector<int> Checked() const;
  QListWidget* list() const { return list_; }

 private:
  QListWidget* list_;
};

}  // namespace torvix::channels::app
