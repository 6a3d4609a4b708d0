// What the window tests share: the process's folder, and an answerer for the
// modal windows (boxes, file dialogs, the small dialogs) that the windows
// under test open.
#pragma once

#include <deque>
#include <functional>
#include <ostream>
#include <string>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include "torvix/app/progress_dialog.h"

// Readable texts in the tests' messages.
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }
inline void PrintTo(const QStringList& texts, std::ostream* out) {
  *out << '{';
  for (const QString& text : texts) *out << " \"" << text.toStdString() << '"';
  *out << " }";
}

namespace torvix::app::testing {

// The folder of this test process: settings in config/, COM1 at com1 (by the
// environment), COM2 stored as com2 (never made: a port that does not open).
const std::string& TestFolder();

// The button of `root` whose text is `text` (mnemonic marks included).
inline QAbstractButton* ButtonByText(QWidget* root, const QString& text) {
  for (QAbstractButton* button : root->findChildren<QAbstractButton*>()) {
    if (button->text() == text) return button;
  }
  return nullptr;
}

// A message box as the tests compare it: "caption|text|icon|buttons".
inline QString Describe(QMessageBox* box) {
  return box->windowTitle() + "|" + box->text() + "|" + QString::number(box->icon()) + "|" +
         QString::number(box->standardButtons().toInt());
}
inline QString BoxOf(const char* caption, const std::string& text, QMessageBox::Icon icon,
                     QMessageBox::StandardButtons buttons = QMessageBox::Ok) {
  return QString(caption) + "|" + QString::fromStdString(text) + "|" + QString::number(icon) + "|" +
         QString::number(buttons.toInt());
}

// Answers modal windows one step at a time.  A timer looks at the active
// modal window; when the next step matches it, the step runs from the event
// loop (so that windows it opens in turn are answered too).  A box or dialog
// that no step expects is recorded in `unexpected` and dismissed, so that a
// test fails instead of hanging.  The window under test's progress window is
// left alone unless a step asks for it.
class ModalScript : public QObject {
 public:
  using Match = std::function<bool(QWidget*)>;
  using Act = std::function<void(QWidget*)>;

  ModalScript() {
    connect(&timer_, &QTimer::timeout, this, &ModalScript::Look);
    timer_.start(5);
  }

  void Expect(Match match, Act act) { steps_.push_back({std::move(match), std::move(act)}); }
  // A message box described as BoxOf() does, answered with `press`.
  void ExpectBox(const QString& described, QMessageBox::StandardButton press = QMessageBox::Ok) {
    Expect([described](QWidget* w) { auto* box = qobject_cast<QMessageBox*>(w); return box && Describe(box) == described; },
           [press](QWidget* w) { qobject_cast<QMessageBox*>(w)->button(press)->click(); });
  }
  bool Done() const { return steps_.empty(); }

  QStringList unexpected;

 private:
  struct Step {
    Match match;
    Act act;
  };

  void Look() {
    QWidget* active = QApplication::activeModalWidget();
    if (active == nullptr || active->property("answered").toBool()) return;
    // The progress window stays while its job runs: a step may act on it again.
    const bool progress = qobject_cast<ProgressDialog*>(active) != nullptr;
    if (!steps_.empty() && steps_.front().match(active)) {
      Act act = std::move(steps_.front().act);
      steps_.pop_front();
      if (!progress) active->setProperty("answered", true);
      QPointer<QWidget> target(active);
      QTimer::singleShot(0, this, [target, act] {
        if (target) act(target);
      });
      return;
    }
    if (progress) return;
    if (auto* dialog = qobject_cast<QDialog*>(active)) {
      auto* box = qobject_cast<QMessageBox*>(active);
      unexpected << (box ? Describe(box) : QString(active->metaObject()->className()) + "|" + active->windowTitle());
      dialog->setProperty("answered", true);
      QTimer::singleShot(0, dialog, &QDialog::reject);
    }
  }

  QTimer timer_;
  std::deque<Step> steps_;
};

}  // namespace torvix::app::testing
