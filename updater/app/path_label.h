// A static text for a file path: it keeps the whole path as its text (and so
// as its accessible name and tool tip) but draws it cut at the left when the
// window is narrower than the path, so that the file's own name stays seen.
// Window thread.
#pragma once

#include <QLabel>

namespace updater::app {

class PathLabel : public QLabel {
 public:
  explicit PathLabel(QWidget* parent = nullptr);
  // Sets the text and the tool tip.
  void SetPath(const QString& path);
  QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace updater::app
