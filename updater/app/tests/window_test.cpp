// The Updater window against the emulated receiver over real
// pseudo-terminals: the receiver plays on a thread of its own, the window
// and its worker run as in the program.  Message boxes and the file chooser
// are answered by a BoxAnswerer; the timers run with a period of an hour and
// are ticked by the test, except in the one test of the real period.
#include <QAbstractButton>
#include <QAccessible>
#include <QActionGroup>
#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QTableView>
#include <QTimer>
#include <QtTest>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "common/build_version.h"
#include "common/device_map.h"
#include "common/pty.h"
#include "common/testing/test_support.h"
#include "emulator/token/served_token_session.h"
#include "emulator/token/token_receiver.h"
#include "common/qt/history_view.h"
#include "updater/app/device_dialog.h"
#include "updater/app/history_texts.h"
#include "updater/app/updater_window.h"

namespace updater::app {
namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

constexpr int kWaitMs = 20000;
const QString kBusyText = QStringLiteral("Идет загрузка...       \nДля отмены нажмите кнопку [Стоп] ");
const QString kError = QStringLiteral(".....................................Ошибка!");
const QStringList kPortLines = {QStringLiteral(" Скорость порта:115200"), QStringLiteral(" Биты данных    :8 "),
                                QStringLiteral(" Четность        :Нет"), QStringLiteral(" Стоповые биты  :1  "),
                                QStringLiteral(" Управление потоком:Нет")};

Bytes Pattern(std::size_t size, unsigned seed) {
  Bytes bytes(size);
  std::uint32_t x = seed * 2654435761u;
  for (auto& b : bytes) {
    x = x * 1103515245u + 12345u;
    b = static_cast<std::uint8_t>(x >> 16);
  }
  return bytes;
}

// The files of the transfers as the byte vectors the worker uses.
void WriteFile(const QString& path, const Bytes& bytes) {
  QVERIFY2(common::testing::WriteFile(path.toStdString(), std::string(bytes.begin(), bytes.end())), qPrintable(path));
}

Bytes ReadFile(const QString& path) {
  const std::string bytes = common::testing::ReadFile(path.toStdString());
  return Bytes(bytes.begin(), bytes.end());
}

// A software file: header, then `records` records of `length` payload bytes.
Bytes MakeWsw(int records, std::uint32_t length) {
  Bytes file = {0x55, 0xAA, 1, 2, 3, 4, 5, 6, 7, 8, 0, static_cast<std::uint8_t>(records), 0, 0, 0, 0};
  for (int i = 0; i < records; ++i) {
    const Bytes head = {0x5A, 0x5A, 0, static_cast<std::uint8_t>(i), 9, 9, 9, 9,
                        static_cast<std::uint8_t>(length >> 24), static_cast<std::uint8_t>(length >> 16),
                        static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length)};
    file.insert(file.end(), head.begin(), head.end());
    const Bytes payload = Pattern(length + 4, static_cast<unsigned>(i + 7));
    file.insert(file.end(), payload.begin(), payload.end());
  }
  return file;
}

// Answers every modal box and file chooser as it opens, from inside its own
// event loop, and records what it saw.
class BoxAnswerer : public QObject {
 public:
  struct Seen {
    QString caption, text, toolTip;
    QMessageBox::Icon icon;
    QMessageBox::StandardButtons buttons;
    bool hasIcon;  // an icon or icon picture is shown
  };

  BoxAnswerer() {
    timer_.setInterval(2);
    connect(&timer_, &QTimer::timeout, this, [this] { Look(); });
    timer_.start();
  }

  // Answers to Yes/No questions in order (No when none is left; NoButton
  // leaves the question open for the window to close, and answers No only
  // after 10 s).  OK boxes are accepted.  Paths for the file chooser in
  // order (cancel when none).
  std::deque<QMessageBox::StandardButton> answers;
  std::deque<QString> files;
  std::vector<Seen> seen;
  QStringList chooserFilters;
  bool heldTooLong = false;  // a question left open was never closed by the window

  QStringList Texts() const {
    QStringList texts;
    for (const Seen& s : seen) texts << s.text;
    return texts;
  }

 private:
  void Look() {
    QWidget* modal = QApplication::activeModalWidget();
    if (auto* box = qobject_cast<QMessageBox*>(modal); box != nullptr && box->isVisible()) {
      if (box != held_) {
        seen.push_back({box->windowTitle(), box->text(), box->toolTip(), box->icon(), box->standardButtons(),
                        !box->iconPixmap().isNull()});
      }
      if (!(box->standardButtons() & QMessageBox::Yes)) {
        box->buttons().constFirst()->click();
        return;
      }
      if (box != held_) {
        held_ = nullptr;
        const auto answer = answers.empty() ? QMessageBox::No : answers.front();
        if (!answers.empty()) answers.pop_front();
        if (answer == QMessageBox::NoButton) {
          held_ = box;
          heldSince_.start();
          return;
        }
        box->button(answer)->click();
      } else if (heldSince_.elapsed() > 10000) {
        heldTooLong = true;
        box->button(QMessageBox::No)->click();
      }
    } else if (auto* chooser = qobject_cast<QFileDialog*>(modal); chooser != nullptr && chooser->isVisible()) {
      chooserFilters = chooser->nameFilters();
      if (files.empty()) {
        chooser->reject();
        return;
      }
      chooser->selectFile(files.front());
      files.pop_front();
      static_cast<QDialog*>(chooser)->accept();  // QFileDialog checks the name first
    }
  }

  QPointer<QMessageBox> held_;
  QElapsedTimer heldSince_;
  QTimer timer_;
};

// Lets the receiver go on once the test has looked at the window.
class Gate {
 public:
  void Open() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      open_ = true;
    }
    changed_.notify_all();
  }
  void Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, 20s, [&] { return open_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool open_ = false;
};

// The emulated receiver for one session on a thread of its own, at the
// device that port COMn names.
class Receiver {
 public:
  // Port 0: no variable; the line is found at DevicePath().
  Receiver(int port, emulator::TokenOptions options, bool paced = false)
      : served_(emulator::Line::Options{"", paced}, std::move(options)) {
    if (port > 0) ::setenv(("COM" + std::to_string(port)).c_str(), served_.DevicePath().c_str(), 1);
  }
  std::string DevicePath() const { return served_.DevicePath(); }
  const emulator::TokenSession& Finish(bool stop = false) { return served_.Finish(stop); }

 private:
  emulator::ServedTokenSession served_;
};

// A line with nobody at the other end, at the device that COMn names.
class SilentLine {
 public:
  explicit SilentLine(int port) { ::setenv(("COM" + std::to_string(port)).c_str(), pty_.SlavePath().c_str(), 1); }

 private:
  common::PseudoTerminal pty_;
};

WindowOptions TestOptions() {
  WindowOptions options;
  options.timerPeriod = std::chrono::hours(1);
  return options;
}

template <typename T>
T* Find(const UpdaterWindow& window, const char* name) {
  T* widget = window.findChild<T*>(QString::fromLatin1(name));
  if (widget == nullptr) qFatal("no %s", name);
  return widget;
}

QStringList Lines(const UpdaterWindow& window) {
  QStringList lines;
  const auto* list = Find<QListWidget>(window, "StatusList");
  for (int i = 0; i < list->count(); ++i) lines << list->item(i)->text();
  return lines;
}

// A tick of a running timer; false when the timer is stopped.
bool Tick(UpdaterWindow& window, TimerId id) {
  if (!Find<QTimer>(window, id == TimerId::SECONDS_TIMER ? "SECONDS_TIMER" : "COMPLETION_TIMER")->isActive()) {
    return false;
  }
  window.TimerTick(id);
  return true;
}

QString Seconds(const UpdaterWindow& window) { return Find<QLabel>(window, "secondsField")->text(); }
int Bar(const UpdaterWindow& window) { return Find<QProgressBar>(window, "progress")->value(); }

// Runs the event loop until `done` holds (false after `limitMs`).  Unlike
// QTest::qWaitFor, it wakes at once for every call the worker queues.
template <typename Predicate>
bool WaitFor(Predicate done, int limitMs = kWaitMs) {
  if (done()) return true;
  QEventLoop loop;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    if (done()) loop.quit();
  });
  poll.start(5);
  QTimer::singleShot(limitMs, &loop, &QEventLoop::quit);
  loop.exec();
  return done();
}

bool WaitForEnd(const UpdaterWindow& window) {
  return WaitFor([&] { return !window.WorkerRunning(); });
}

// Shown and active: the window's keys reach it.
bool ShowActive(UpdaterWindow& window) {
  window.show();
  window.activateWindow();
  return QTest::qWaitForWindowActive(&window);
}

QString StripAmpersand(QString text) { return text.remove(QLatin1Char('&')); }


// Answers the next "Устройство…" dialog with `act` once it is open.
void AnswerDeviceDialog(std::function<void(QDialog*)> act) {
  auto* timer = new QTimer;
  QObject::connect(timer, &QTimer::timeout, [timer, act] {
    auto* dialog = qobject_cast<DeviceDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr || !dialog->isVisible()) return;
    timer->stop();
    timer->deleteLater();
    act(dialog);
    // A check that failed left it open: the test goes on to report it.
    if (dialog->isVisible()) dialog->reject();
  });
  timer->start(2);
}

// Runs `act` on the next modal window that `match` takes, once it is open.
void AnswerModal(std::function<bool(QWidget*)> match, std::function<void(QWidget*)> act) {
  auto* timer = new QTimer;
  QObject::connect(timer, &QTimer::timeout, [timer, match, act] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || !modal->isVisible() || !match(modal)) return;
    timer->stop();
    timer->deleteLater();
    act(modal);
  });
  timer->start(2);
}

// The whole row's window: its unit into `units`, then closed.
void AnswerHistoryRow(QStringList& units) {
  AnswerModal([](QWidget* w) { return w->objectName() == QStringLiteral("historyRow"); },
              [&units](QWidget* w) {
                for (QLineEdit* value : w->findChildren<QLineEdit*>()) {
                  if (QAccessible::queryAccessibleInterface(value)->text(QAccessible::Name) ==
                      QStringLiteral("Номер ресивера")) {
                    units << value->text();
                  }
                }
                qobject_cast<QDialog*>(w)->reject();
              });
}

// The text of the history table's first row in the column headed `header`.
QString FirstRowCell(QTableView* table, const char* header) {
  const QAbstractItemModel* model = table->model();
  for (int c = 0; c < model->columnCount(); ++c) {
    if (model->headerData(c, Qt::Horizontal).toString() == QString::fromUtf8(header)) {
      return model->index(0, c).data().toString();
    }
  }
  return QStringLiteral("no column ") + QString::fromUtf8(header);
}

WindowOptions RecordingOptions(const QString& history) {
  WindowOptions options = TestOptions();
  options.history = {true, history.toStdString()};
  return options;
}

// Settings received from the receiver at COM1 into `file`; true when the
// receiver saw the reception to its end.
bool ReceiveSettingsInto(UpdaterWindow& window, const QString& file) {
  emulator::TokenOptions options;
  options.role = emulator::TokenRole::kServeSettings;
  options.image = Pattern(200000 + 512, 9);
  Receiver receiver(1, options);
  window.SelectMode(Mode::MODE_RECEIVE);
  window.TakeFile(file);
  window.StartOperation();
  return WaitForEnd(window) && receiver.Finish().completed;
}

}  // namespace

class WindowTest : public QObject {
  Q_OBJECT

 private slots:
  // The settings of this process, out of the user's.
  // The settings and the history of this process, out of the user's.
  void initTestCase() {
    qputenv("XDG_CONFIG_HOME", config_.path().toUtf8());
    qputenv("XDG_STATE_HOME", config_.filePath(QStringLiteral("state")).toUtf8());
    qunsetenv("RT_HISTORY");
  }
  void init() { dir_ = std::make_unique<QTemporaryDir>(); }
  void cleanup() { dir_.reset(); }

  void fileChoice_data();
  void fileChoice();
  void startWithoutFileAsksForOne();
  void modeFollowsTheCheckedRadioWithoutAClick();
  void menusKeysAndAccessibleNames();
  void nothingClippedAtEitherScale_data();
  void nothingClippedAtEitherScale();
  void sendFromWindowWithCompletionTicks();
  void stopAnsweredNoThenYesDuringSend();
  void realSecondsTimerAndCloseWhileStopping();
  void workerEndingWhileAskedClosesTheQuestion();
  void receiveFromWindow();
  void updateFromWindowBeforeAnySend();
  void stopCutsShortUpdateWaitAndWindowOutlivesNoWorker();
  void deviceChosenInTheWindowIsKeptAndOpened();
  void operationRecordedShownAndExported();
  void unwritableHistoryWarnsOnceAndOperationsGoOn();

 private:
  QString Path(const QString& name) const { return dir_->filePath(name); }
  std::unique_ptr<QTemporaryDir> dir_;
  QTemporaryDir config_;
};

void WindowTest::fileChoice_data() {
  QTest::addColumn<int>("modeBefore");
  QTest::addColumn<QString>("name");
  QTest::addColumn<QByteArray>("content");  // empty: no such file
  QTest::addColumn<bool>("taken");
  QTest::addColumn<int>("modeAfter");
  QTest::addColumn<QString>("model");

  const int send = static_cast<int>(Mode::MODE_SEND);
  const int receive = static_cast<int>(Mode::MODE_RECEIVE);
  const int update = static_cast<int>(Mode::MODE_UPDATE);
  QTest::newRow("software image behind a further extension") << send << "a.wsw.bak" << QByteArray("\x55\xAA\x01", 3) << true << update << " Available";
  QTest::newRow("mixed-case extension refused") << update << "a.WdB" << QByteArray("x") << false << update << "";
  QTest::newRow("settings file in update mode") << update << "a.wdb" << QByteArray("x") << true << send << "";
  QTest::newRow("capital settings file") << update << "A.WDB" << QByteArray("x") << true << send << "";
  QTest::newRow("new settings file in receive mode") << receive << "new.wdb" << QByteArray() << true << receive << "";
  QTest::newRow("AA 55 switches nothing") << send << "b.wsw" << QByteArray("\xAA\x55", 2) << true << send << "";
  QTest::newRow("one byte fails the signature") << send << "c.wsw" << QByteArray("\x55", 1) << true << send << "";
}

void WindowTest::fileChoice() {
  QFETCH(int, modeBefore);
  QFETCH(QString, name);
  QFETCH(QByteArray, content);
  QFETCH(bool, taken);
  QFETCH(int, modeAfter);
  QFETCH(QString, model);
  const QString path = Path(name);
  if (!content.isEmpty()) WriteFile(path, Bytes(content.begin(), content.end()));

  BoxAnswerer answerer;
  UpdaterWindow window(TestOptions());
  window.SelectMode(static_cast<Mode>(modeBefore));
  Find<QListWidget>(window, "StatusList")->addItem(QStringLiteral("before"));
  window.TakeFile(path);

  QCOMPARE(window.FileName(), taken ? path : QString());
  QCOMPARE(Find<QLabel>(window, "fileField")->text(), taken ? path : QString());
  QCOMPARE(answerer.Texts(), taken ? QStringList() : QStringList{QStringLiteral("Не тот Файл!")});
  QCOMPARE(static_cast<int>(window.CurrentMode()), modeAfter);
  QCOMPARE(Find<QComboBox>(window, "modelList")->currentText(), model);
  QVERIFY(!Find<QComboBox>(window, "modelList")->isEnabled());
  // A mode switch, also to the mode already chosen, starts the list afresh.
  const bool switched = taken && (modeAfter != modeBefore || modeAfter == static_cast<int>(Mode::MODE_RECEIVE));
  QCOMPARE(Lines(window), switched ? kPortLines : kPortLines + QStringList{QStringLiteral("before")});
  QCOMPARE(Find<QPushButton>(window, "startButton")->text(),
           modeAfter == static_cast<int>(Mode::MODE_RECEIVE) ? QStringLiteral("Получить") : QStringLiteral("Запись"));
}

void WindowTest::startWithoutFileAsksForOne() {
  WriteFile(Path("s.wdb"), {1});
  BoxAnswerer answerer;
  answerer.files.push_back(Path("s.wdb"));
  UpdaterWindow window(TestOptions());
  QCOMPARE(Find<QLabel>(window, "modeLabel")->text(), QStringLiteral(">> Оюновление ПО "));
  Find<QPushButton>(window, "startButton")->click();

  QCOMPARE(answerer.Texts(), QStringList{QStringLiteral("Выберите Файл.")});
  QCOMPARE(answerer.seen.front().caption, QStringLiteral("Updater"));
  // The file chooser shows its filters with single blanks.
  QVERIFY2(answerer.chooserFilters.constFirst().startsWith(QStringLiteral("wsw Файл(*.wsw) : Обновление ПО")),
           qPrintable(answerer.chooserFilters.join(QLatin1Char('|'))));
  QCOMPARE(window.FileName(), Path("s.wdb"));
  QCOMPARE(window.CurrentMode(), Mode::MODE_SEND);
  // No model has been chosen yet: the send mode is not named.
  QCOMPARE(Find<QLabel>(window, "modeLabel")->text(), QString());
  QVERIFY(!window.WorkerRunning());
  QVERIFY(window.Idle() && !window.Busy());
}

// A radio checked other than by a click (a program, an accessibility tool's
// toggle) selects its mode as a click does.
void WindowTest::modeFollowsTheCheckedRadioWithoutAClick() {
  WriteFile(Path("s.wdb"), {1});
  BoxAnswerer answerer;
  UpdaterWindow window(TestOptions());
  const auto radio = [&](const char* text) {
    for (QRadioButton* r : window.findChildren<QRadioButton*>()) {
      if (r->text() == QString::fromUtf8(text)) return r;
    }
    qFatal("no radio %s", text);
  };
  const auto toggle = [](QRadioButton* r) {
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(r);
    QVERIFY(face->actionInterface()->actionNames().contains(QAccessibleActionInterface::toggleAction()));
    face->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
  };
  struct Step {
    const char* radio;
    bool accessible;  // the accessibility toggle, else setChecked
    Mode mode;
    const char* startText;
    const char* label;
  };
  const Step steps[] = {{"Получить настройки", false, Mode::MODE_RECEIVE, "Получить", ""},
                        {"Обновление ПО", true, Mode::MODE_UPDATE, "Запись", ">> Оюновление ПО "},
                        {"Получить настройки", true, Mode::MODE_RECEIVE, "Получить", ""},
                        {"Отправить настройки", false, Mode::MODE_SEND, "Запись", ""}};
  for (const Step& step : steps) {
    Find<QListWidget>(window, "StatusList")->addItem(QStringLiteral("before"));
    if (step.accessible) {
      toggle(radio(step.radio));
    } else {
      radio(step.radio)->setChecked(true);
    }
    QCOMPARE(window.CurrentMode(), step.mode);
    QCOMPARE(Find<QPushButton>(window, "startButton")->text(), QString::fromUtf8(step.startText));
    QCOMPARE(Find<QLabel>(window, "modeLabel")->text(), QString::fromUtf8(step.label));
    QCOMPARE(Lines(window), kPortLines);
  }
  // The file check follows the mode too: a settings file keeps a reception
  // and turns any other mode into a send.
  toggle(radio("Получить настройки"));
  window.TakeFile(Path("s.wdb"));
  QCOMPARE(window.CurrentMode(), Mode::MODE_RECEIVE);
  QVERIFY(answerer.Texts().isEmpty());
}

void WindowTest::menusKeysAndAccessibleNames() {
  BoxAnswerer answerer;
  UpdaterWindow window(TestOptions());
  QVERIFY(ShowActive(window));

  // Screen readers find every control and menu item by its visible text.
  for (QAbstractButton* button : window.findChildren<QAbstractButton*>()) {
    QCOMPARE(QAccessible::queryAccessibleInterface(button)->text(QAccessible::Name), StripAmpersand(button->text()));
  }
  for (QGroupBox* group : window.findChildren<QGroupBox*>()) {
    QCOMPARE(QAccessible::queryAccessibleInterface(group)->text(QAccessible::Name), group->title());
  }
  QStringList menuItems;
  for (QMenu* menu : window.menuBar()->findChildren<QMenu*>()) {
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(menu);
    for (int i = 0; i < face->childCount(); ++i) {
      const QString name = face->child(i)->text(QAccessible::Name);
      if (!name.isEmpty()) menuItems << name;
    }
  }
  for (const char* item : {"Открыть", "Журнал…", "Закрыть", "COM Порт", "COM1", "COM4", "Скорость порта", "128000", "О Программе "}) {
    QVERIFY2(menuItems.contains(QString::fromUtf8(item)), item);
  }

  // The port menu: one check mark, the field follows.
  QAction* com3 = nullptr;
  QAction* rate115200 = nullptr;
  for (QAction* action : window.findChildren<QAction*>()) {
    if (action->text() == QStringLiteral("COM3")) com3 = action;
    if (action->text() == QStringLiteral("115200")) rate115200 = action;
  }
  QVERIFY(com3 != nullptr && rate115200 != nullptr);
  QVERIFY(rate115200->isChecked());
  QVERIFY(!rate115200->isEnabled() || !qobject_cast<QMenu*>(rate115200->parent())->isEnabled());
  com3->trigger();
  QCOMPARE(window.PortName(), QStringLiteral("COM3"));
  QCOMPARE(Find<QLabel>(window, "portField")->text(), QStringLiteral("COM3"));
  int checked = 0;
  for (QAction* action : com3->actionGroup()->actions()) checked += action->isChecked() ? 1 : 0;
  QCOMPARE(checked, 1);

  // Esc never closes the window; Enter without a file asks for one.
  QTest::keyClick(&window, Qt::Key_Escape);
  QVERIFY(window.isVisible());
  QTest::keyClick(&window, Qt::Key_Return);
  QCOMPARE(answerer.Texts(), QStringList{QStringLiteral("Выберите Файл.")});

  // F1 opens our own help; the context menu's "Updater Info." the About box.
  QVERIFY(ShowActive(window));  // the closed file chooser took the focus along
  QTest::keyClick(&window, Qt::Key_F1);
  QWidget* help = nullptr;
  for (QWidget* top : QApplication::topLevelWidgets()) {
    if (top->isVisible() && top->windowTitle().startsWith(QStringLiteral("Помощь"))) help = top;
  }
  QVERIFY(help != nullptr);
  QCOMPARE(window.centralWidget()->actions().constFirst()->text(), QStringLiteral("Updater Info."));
  window.centralWidget()->actions().constFirst()->trigger();
  const BoxAnswerer::Seen about = answerer.seen.back();
  QCOMPARE(about.caption, QStringLiteral("О Программе"));
  QCOMPARE(about.text, QStringLiteral("Q5100 Updater v1.00"));
  QCOMPARE(about.toolTip, QStringLiteral("Сборка %1").arg(common::kBuildVersion));
  QVERIFY2(about.hasIcon, "the SVG icon did not render");
}

void WindowTest::nothingClippedAtEitherScale_data() {
  QTest::addColumn<int>("factor");
  QTest::newRow("100 %") << 1;
  QTest::newRow("200 %") << 2;
}

// At twice the font every text still fits its control (the path field alone
// may cut a long path short, on purpose).
void WindowTest::nothingClippedAtEitherScale() {
  QFETCH(int, factor);
  const QFont original = QApplication::font();
  QFont font = original;
  font.setPointSizeF(original.pointSizeF() * factor);
  QApplication::setFont(font);
  const auto restore = qScopeGuard([&] { QApplication::setFont(original); });
  UpdaterWindow window(TestOptions());
  QVERIFY(ShowActive(window));
  for (QWidget* child : window.findChildren<QWidget*>()) {
    const bool texted = qobject_cast<QAbstractButton*>(child) != nullptr || qobject_cast<QLabel*>(child) != nullptr ||
                        qobject_cast<QGroupBox*>(child) != nullptr;
    if (!texted || !child->isVisible() || child->objectName() == QStringLiteral("fileField")) continue;
    const QString what = child->property("text").toString() + child->property("title").toString();
    QVERIFY2(child->width() >= child->sizeHint().width(), qPrintable(what));
    QVERIFY2(child->height() >= child->sizeHint().height(), qPrintable(what));
    QVERIFY2(window.rect().contains(child->mapTo(&window, QPoint(child->width() - 1, child->height() - 1))),
             qPrintable(what));
  }
}

void WindowTest::sendFromWindowWithCompletionTicks() {
  const Bytes file = Pattern(200000 + 100, 3);
  WriteFile(Path("s.wdb"), file);
  Gate gate;
  emulator::TokenOptions options;
  options.role = emulator::TokenRole::kAcceptSettings;
  options.beforeStage = [&](int stage) {
    if (stage == 0) gate.Wait();
  };
  Receiver receiver(2, options);
  BoxAnswerer answerer;
  UpdaterWindow window(TestOptions());
  QVERIFY(ShowActive(window));
  window.SelectPort(2);
  window.TakeFile(Path("s.wdb"));
  Find<QPushButton>(window, "startButton")->click();
  QVERIFY(window.Busy() && !window.Idle() && Find<QPushButton>(window, "stopButton")->isEnabled());

  // Held before the receiver's first completion token: the bar is the
  // completion timer's alone (the tool waits 5 s for the token).
  QVERIFY(WaitFor([&] { return Find<QTimer>(window, "COMPLETION_TIMER")->isActive(); }));
  QCOMPARE(Find<QLabel>(window, "modeLabel")->text(), QStringLiteral(">> Отправка настроек "));
  for (int tick = 1; tick <= 5; ++tick) QVERIFY(Tick(window, TimerId::COMPLETION_TIMER));
  QCOMPARE(Bar(window), 95);
  QVERIFY(Tick(window, TimerId::COMPLETION_TIMER));
  QCOMPARE(Bar(window), 100);
  QCOMPARE(Seconds(window), QStringLiteral("6 Сек."));
  for (int tick = 7; tick <= 10; ++tick) QVERIFY(Tick(window, TimerId::COMPLETION_TIMER));
  QVERIFY(!Tick(window, TimerId::COMPLETION_TIMER));
  QCOMPARE(Seconds(window), QStringLiteral("10 Сек."));

  // While it runs: Enter refuses a second start, the mode stays, no close.
  QTest::keyClick(&window, Qt::Key_Return);
  QCOMPARE(answerer.Texts(), QStringList{kBusyText});
  window.SelectMode(Mode::MODE_UPDATE);
  QCOMPARE(window.CurrentMode(), Mode::MODE_SEND);
  // Checked without a click, the radio is set back as well.
  for (QRadioButton* radio : window.findChildren<QRadioButton*>()) {
    if (radio->text() == QStringLiteral("Получить настройки")) radio->setChecked(true);
  }
  QCOMPARE(window.CurrentMode(), Mode::MODE_SEND);
  for (QRadioButton* radio : window.findChildren<QRadioButton*>()) {
    QCOMPARE(radio->isChecked(), radio->text() == QStringLiteral("Отправить настройки"));
  }
  QVERIFY(!window.close());
  gate.Open();

  QVERIFY(WaitForEnd(window));
  const auto& session = receiver.Finish();
  QVERIFY2(session.completed, session.error.c_str());
  Bytes padded = file;
  padded.resize(782 * 256, 0);
  QVERIFY(session.received == padded);
  QCOMPARE(answerer.Texts(), (QStringList{kBusyText, QStringLiteral("Удачная загрузка! ")}));
  QCOMPARE(Lines(window).constLast(), QStringLiteral("Удачная загрузка! "));
  QVERIFY(window.Idle() && !window.Busy() && !Find<QPushButton>(window, "stopButton")->isEnabled());
  QCOMPARE(Seconds(window), QString());
  QCOMPARE(window.Flags().progressStep.load(), 19);
}

void WindowTest::stopAnsweredNoThenYesDuringSend() {
  WriteFile(Path("s.wdb"), Pattern(200000, 5));
  emulator::TokenOptions options;
  options.role = emulator::TokenRole::kAcceptSettings;
  // Paced at the line's rate: the blocks take seconds, time enough to ask.
  Receiver receiver(1, options, /*paced=*/true);
  BoxAnswerer answerer;
  UpdaterWindow window(TestOptions());
  QVERIFY(ShowActive(window));
  window.TakeFile(Path("s.wdb"));
  window.StartOperation();
  QVERIFY(WaitFor([&] { return Seconds(window).endsWith(QLatin1Char('%')); }));

  answerer.answers = {QMessageBox::No};
  QPushButton* stop = Find<QPushButton>(window, "stopButton");
  stop->click();
  const BoxAnswerer::Seen asked = answerer.seen.back();
  QCOMPARE(asked.caption, QStringLiteral("  ПРЕРВАТЬ Отправку"));
  QCOMPARE(asked.text, QStringLiteral("Вы хотите отменить загрузку?       "));
  QCOMPARE(asked.icon, QMessageBox::Question);
  QCOMPARE(asked.buttons, QMessageBox::Yes | QMessageBox::No);
  QVERIFY(window.Busy() && stop->isEnabled() && !window.Flags().cancelRequested.load());
  const QString progressAfterNo = Seconds(window);
  QVERIFY(WaitFor([&] { return Seconds(window) != progressAfterNo; }));

  answerer.answers = {QMessageBox::Yes};
  QVERIFY(ShowActive(window));
  QTest::keyClick(&window, Qt::Key_Escape);
  QCOMPARE(answerer.seen.size(), std::size_t{2});
  QVERIFY(WaitForEnd(window));
  const QStringList lines = Lines(window);
  const auto waitLine = lines.indexOf(QStringLiteral("Подождите ............."));
  QVERIFY(waitLine > 0);
  QCOMPARE(lines.mid(lines.size() - 3), (QStringList{QStringLiteral("Стоп!........"), kError, QStringLiteral("Отменено!")}));
  QVERIFY(waitLine < lines.size() - 3);
  QVERIFY(receiver.Finish().aborted);  // the receiver got "2DER3"
  QVERIFY(!window.Flags().cancelRequested.load());
}

void WindowTest::realSecondsTimerAndCloseWhileStopping() {
  // The production period; the line's read limit shortened to 1.5 s per
  // token, so a silent receiver costs two such waits.
  WindowOptions options;
  options.portTimings.transfer.read = {300, 300, 0};
  SilentLine line(1);
  BoxAnswerer answerer;
  UpdaterWindow window(options);
  QCOMPARE(Find<QTimer>(window, "SECONDS_TIMER")->interval(), 1000);
  QCOMPARE(Find<QTimer>(window, "COMPLETION_TIMER")->interval(), 1000);
  window.show();
  window.SelectMode(Mode::MODE_RECEIVE);
  window.TakeFile(Path("r.wdb"));
  QElapsedTimer clock;
  clock.start();
  window.StartOperation();
  QVERIFY(WaitFor([&] { return Seconds(window) == QStringLiteral("1 Сек."); }));
  QVERIFY2(clock.elapsed() >= 990, qPrintable(QString::number(clock.elapsed())));

  answerer.answers = {QMessageBox::Yes};
  window.StopOperation();
  QCOMPARE(answerer.seen.back().caption, QStringLiteral("ПРЕРВАТЬ Получение!  "));
  QCOMPARE(answerer.seen.back().text, QStringLiteral("Вы хотите отменить Получение?        "));
  // Idle at once, but the worker still waits for the receiver: no second
  // worker on the port, and a close waits for the first one's end.
  QVERIFY(window.Idle() && !window.Busy() && !Find<QPushButton>(window, "stopButton")->isEnabled());
  QVERIFY(window.WorkerRunning());
  window.StartOperation();
  QCOMPARE(answerer.Texts().constLast(), kBusyText);
  QVERIFY(!window.close());
  QVERIFY(window.isVisible());
  QVERIFY(WaitFor([&] { return !window.isVisible(); }));
  QVERIFY(!window.WorkerRunning());
  QCOMPARE(Lines(window).mid(Lines(window).size() - 3),
           (QStringList{QStringLiteral("Подождите ............."), kError, QStringLiteral("Отменено!")}));
  QVERIFY(!QFile::exists(Path("r.wdb")));
}

void WindowTest::workerEndingWhileAskedClosesTheQuestion() {
  WriteFile(Path("s.wdb"), Pattern(200000, 2));
  WindowOptions options = TestOptions();
  options.portTimings.transfer.read = {100, 100, 0};  // 0.5 s for the model token
  SilentLine line(1);
  BoxAnswerer answerer;
  answerer.answers = {QMessageBox::NoButton};
  UpdaterWindow window(options);
  window.TakeFile(Path("s.wdb"));
  window.StartOperation();
  // Returns when the question is closed: by the window, at the worker's end.
  window.StopOperation();
  QVERIFY(!answerer.heldTooLong);
  QVERIFY(WaitForEnd(window));
  QVERIFY(window.Idle() && !window.Busy() && !Find<QPushButton>(window, "stopButton")->isEnabled());
  QVERIFY(!window.Flags().cancelRequested.load());
  QVERIFY(!Lines(window).contains(QStringLiteral("Подождите .............")));
  QCOMPARE(Lines(window).constLast(), kError);
}

void WindowTest::receiveFromWindow() {
  emulator::TokenOptions options;
  options.role = emulator::TokenRole::kServeSettings;
  options.image = Pattern(200000 + 512, 9);
  Receiver receiver(1, options);
  BoxAnswerer answerer;
  UpdaterWindow window(TestOptions());
  window.SelectMode(Mode::MODE_RECEIVE);
  window.TakeFile(Path("r.wdb"));
  window.StartOperation();
  QVERIFY(WaitForEnd(window));
  QVERIFY(receiver.Finish().completed);
  QCOMPARE(answerer.Texts(), QStringList{QStringLiteral("Получено удачно! ")});
  QVERIFY(ReadFile(Path("r.wdb")) == options.image);
  QCOMPARE(Lines(window).constLast(), QStringLiteral("Получено удачно! "));
  QCOMPARE(Find<QLabel>(window, "modeLabel")->text(), QStringLiteral(">> Получение настроек"));
}

void WindowTest::updateFromWindowBeforeAnySend() {
  const Bytes file = MakeWsw(3, 1000);
  WriteFile(Path("u.wsw"), file);
  Gate gate;
  emulator::TokenOptions options;
  options.role = emulator::TokenRole::kAcceptSoftware;
  options.beforeStage = [&](int stage) {
    if (stage == 0) gate.Wait();
  };
  Receiver receiver(1, options);
  BoxAnswerer answerer;
  UpdaterWindow window(TestOptions());
  window.SelectMode(Mode::MODE_SEND);
  window.TakeFile(Path("u.wsw"));
  QCOMPARE(window.CurrentMode(), Mode::MODE_UPDATE);
  window.StartOperation();

  // No settings send in this run: the completion ticks leave the bar at 0.
  QVERIFY(WaitFor([&] { return Find<QTimer>(window, "COMPLETION_TIMER")->isActive(); }));
  QCOMPARE(Seconds(window), QStringLiteral("100%"));
  for (int tick = 0; tick < 7; ++tick) QVERIFY(Tick(window, TimerId::COMPLETION_TIMER));
  QCOMPARE(Bar(window), 0);
  QCOMPARE(Seconds(window), QStringLiteral("7 Сек."));
  gate.Open();

  QVERIFY(WaitForEnd(window));
  const auto& session = receiver.Finish();
  QVERIFY2(session.completed, session.error.c_str());
  QVERIFY(session.received == file);
  QCOMPARE(answerer.Texts(), QStringList{QStringLiteral("Обновление ПО завершено. ")});
  QCOMPARE(Lines(window).constLast(), QStringLiteral(" OK! >> Обновление ПО завершено."));
}

void WindowTest::stopCutsShortUpdateWaitAndWindowOutlivesNoWorker() {
  WriteFile(Path("u.wsw"), MakeWsw(1, 8));
  SilentLine line(1);
  BoxAnswerer answerer;
  {
    // Waiting for the receiver's announcement, which has no time limit.
    UpdaterWindow window(TestOptions());
    window.TakeFile(Path("u.wsw"));
    window.StartOperation();
    QVERIFY(WaitFor([&] { return Lines(window).contains(QStringLiteral("Подключение..")); }));
    answerer.answers = {QMessageBox::Yes};
    window.StopOperation();
    QCOMPARE(answerer.seen.back().caption, QStringLiteral("  ПРЕРВАТЬ Обновление  "));
    QVERIFY(WaitForEnd(window));
    QCOMPARE(Lines(window), (QStringList{QStringLiteral("Подключение.."), QStringLiteral("Подождите ............."),
                                         QStringLiteral("Ошибка!>>Подключение.")}));
  }
  // A window destroyed without being closed takes its worker with it.
  auto window = std::make_unique<UpdaterWindow>(TestOptions());
  window->TakeFile(Path("u.wsw"));
  window->StartOperation();
  QVERIFY(WaitFor([&] { return Lines(*window).contains(QStringLiteral("Подключение..")); }));
  window.reset();
}

void WindowTest::deviceChosenInTheWindowIsKeptAndOpened() {
  namespace fs = std::filesystem;
  ::unsetenv("COM4");
  const common::DeviceRoots roots{Path("sys").toStdString(), Path("dev").toStdString()};
  emulator::TokenOptions options;
  options.role = emulator::TokenRole::kServeSettings;
  options.image = Pattern(200000 + 512, 4);
  Receiver receiver(0, options);  // COM4 leads where the window says
  const QString byId =
      QString::fromStdString(common::testing::PlugUsbAdapter(dir_->path().toStdString(), receiver.DevicePath()));
  const QString kernelName = QString::fromStdString(fs::canonical(receiver.DevicePath()).filename().string());
  const QString missing = QStringLiteral("/nowhere/ttyUSB7");
  WindowOptions windowOptions = TestOptions();
  windowOptions.deviceRoots = roots;
  const auto stored = [] { return common::DeviceMap(common::kUpdaterSettings).Resolve(4); };
  const auto toolTip = [](const UpdaterWindow& w) { return Find<QLabel>(w, "portField")->toolTip(); };
  const auto deviceItem = [](const UpdaterWindow& w) {
    for (QAction* action : w.findChildren<QAction*>()) {
      if (action->text() == QStringLiteral("&Устройство…")) return action;
    }
    qFatal("no device item");
  };
  // The dialog for COM4 shows `shown`, lists the adapter with what sysfs
  // says, and is answered with `choose` and OK or Cancel.
  const auto answer = [&](const QString& shown, std::function<void(QComboBox*)> choose, bool ok) {
    AnswerDeviceDialog([=](QDialog* dialog) {
      QCOMPARE(dialog->windowTitle(), QStringLiteral("Устройство"));
      QVERIFY(dialog->findChild<QLabel*>()->text() == QStringLiteral("Устройство для COM4:"));
      auto* combo = dialog->findChild<QComboBox*>(QStringLiteral("device"));
      QCOMPARE(combo->currentText(), shown);
      QCOMPARE(combo->count(), 1);
      QCOMPARE(combo->itemText(0), byId);
      QCOMPARE(combo->itemData(0, Qt::ToolTipRole).toString(),
               byId + "\n" + kernelName + ": FTDI FT232R USB UART A1B2C3 (ftdi_sio, 0403:6001)");
      choose(combo);
      dialog->findChild<QDialogButtonBox*>()->button(ok ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel)->click();
    });
  };

  BoxAnswerer answerer;
  {
    UpdaterWindow window(windowOptions);
    window.SelectPort(4);
    QCOMPARE(toolTip(window), QStringLiteral("Устройство: ") + Path("dev/ttyS3"));
    // The adapter from the list: kept, and the field names it.
    answer(Path("dev/ttyS3"), [](QComboBox* c) { c->setCurrentIndex(0); }, true);
    deviceItem(window)->trigger();
    QCOMPARE(QString::fromStdString(stored().path), byId);
    QCOMPARE(toolTip(window), QStringLiteral("Устройство: ") + byId);
    // Cancel keeps it.
    answer(byId, [&](QComboBox* c) { c->setEditText(missing); }, false);
    deviceItem(window)->trigger();
    QCOMPARE(QString::fromStdString(stored().path), byId);
    // A variable of the environment wins, and the field says so.
    ::setenv("COM4", "/dev/ttyACM3", 1);
    window.SelectPort(4);
    QCOMPARE(toolTip(window), QStringLiteral("Устройство: /dev/ttyACM3 (переменная окружения COM4)"));
    ::unsetenv("COM4");
  }

  // The next start opens it.
  UpdaterWindow window(windowOptions);
  window.SelectPort(4);
  QCOMPARE(toolTip(window), QStringLiteral("Устройство: ") + byId);
  window.SelectMode(Mode::MODE_RECEIVE);
  window.TakeFile(Path("r.wdb"));
  window.StartOperation();
  QVERIFY(WaitForEnd(window));
  QVERIFY(receiver.Finish().completed);
  QVERIFY(ReadFile(Path("r.wdb")) == options.image);

  // A device that is not there, with the adapter present: after the status
  // lines a box names the device tried and where to choose another.
  answer(byId, [&](QComboBox* c) { c->setEditText(missing); }, true);
  deviceItem(window)->trigger();
  answerer.seen.clear();
  window.StartOperation();
  QVERIFY(WaitForEnd(window));
  QVERIFY(Lines(window).contains(QStringLiteral("Проверьте не занят ли COM Порт ")));
  QCOMPARE(answerer.Texts(),
           QStringList{QStringLiteral("COM4 (/nowhere/ttyUSB7): No such file or directory\n\nЕсть другие "
                                      "последовательные устройства: выберите одно для COM4 в меню «Последовательный "
                                      "порт» > «COM Порт» > «Устройство…».")});
  QCOMPARE(answerer.seen.back().caption, QStringLiteral("Updater"));
  QCOMPARE(answerer.seen.back().icon, QMessageBox::Warning);
}

// A reception recorded with the unit typed beside the file, found in the
// history view, shown whole and exported.
void WindowTest::operationRecordedShownAndExported() {
  BoxAnswerer answerer;
  UpdaterWindow window(RecordingOptions(Path("history.sqlite")));
  auto* unit = Find<QLineEdit>(window, "unitField");
  QCOMPARE(QAccessible::queryAccessibleInterface(unit)->text(QAccessible::Name), QStringLiteral("Номер ресивера:"));
  QTest::keyClicks(unit, QStringLiteral("RX-0042"));
  QVERIFY(ReceiveSettingsInto(window, Path("r.wdb")));

  answerer.files.push_back(Path("exported.csv"));
  QStringList units;  // the whole row's, by double click and by Enter
  bool viewChecked = false;
  AnswerModal([](QWidget* w) { return qobject_cast<common::qt::HistoryView*>(w) != nullptr; }, [&](QWidget* w) {
    const auto close = qScopeGuard([w] { qobject_cast<QDialog*>(w)->reject(); });  // also after a failed check
    QCOMPARE(w->windowTitle(), QStringLiteral("Журнал"));
    auto* table = w->findChild<QTableView*>(QStringLiteral("historyTable"));
    QCOMPARE(table->model()->rowCount(), 1);
    QCOMPARE(FirstRowCell(table, "Программа"), QStringLiteral("updater"));
    QCOMPARE(FirstRowCell(table, "Операция"), QStringLiteral("receive-settings"));
    QCOMPARE(FirstRowCell(table, "Результат"), QStringLiteral("ok (успешно)"));
    QCOMPARE(FirstRowCell(table, "Номер ресивера"), QStringLiteral("RX-0042"));
    auto* filter = w->findChild<QLineEdit*>(QStringLiteral("historyFilter"));
    QCOMPARE(QAccessible::queryAccessibleInterface(filter)->text(QAccessible::Name), QStringLiteral("Фильтр:"));
    filter->setText(QStringLiteral("rx-00"));
    QCOMPARE(table->model()->rowCount(), 1);
    filter->setText(QStringLiteral("нет такого"));
    QCOMPARE(table->model()->rowCount(), 0);
    filter->clear();

    const QPoint onRow = table->visualRect(table->model()->index(0, table->horizontalHeader()->logicalIndex(0))).center();
    AnswerHistoryRow(units);
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, onRow);
    QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, onRow);
    QCOMPARE(units.size(), 1);
    AnswerHistoryRow(units);
    table->setFocus();
    QTest::keyClick(table, Qt::Key_Return);
    QCOMPARE(units.size(), 2);

    for (QPushButton* button : w->findChildren<QPushButton*>()) {
      if (button->text() == QString::fromUtf8(kHistoryTexts.exportButton)) button->click();
    }
    QVERIFY(w->findChild<QLabel*>(QStringLiteral("historyNote"))->text().startsWith(QStringLiteral("Записано строк: 1,")));
    viewChecked = true;
  });
  QAction* item = nullptr;
  for (QAction* action : window.menuBar()->findChildren<QAction*>()) {
    if (action->text() == QString::fromUtf8(kHistoryItem)) item = action;
  }
  QVERIFY(item != nullptr);
  item->trigger();
  QVERIFY(viewChecked);
  QCOMPARE(units, QStringList({QStringLiteral("RX-0042"), QStringLiteral("RX-0042")}));

  const auto records = common::testing::ParseCsv(common::testing::ReadFile(Path("exported.csv").toStdString()));
  QCOMPARE(records.size(), 2u);
  std::map<std::string, std::string> row;
  for (std::size_t i = 0; i < records[0].size() && i < records[1].size(); ++i) row[records[0][i]] = records[1][i];
  QCOMPARE(row["program"], "updater");
  QCOMPARE(row["operation"], "receive-settings");
  QCOMPARE(row["result"], "ok");
  QCOMPARE(row["unit"], "RX-0042");
  QCOMPARE(row["file"], Path("r.wdb").toStdString());
}

// A history that cannot be written (its folder is a file) is one status
// line in the run, and every operation goes on as without it.
void WindowTest::unwritableHistoryWarnsOnceAndOperationsGoOn() {
  WriteFile(Path("plain"), {1});
  BoxAnswerer answerer;
  UpdaterWindow window(RecordingOptions(Path("plain/history.sqlite")));
  const auto warnings = [&] {
    return Lines(window).filter(QStringLiteral("Журнал не записывается, операции идут без него: "));
  };
  QVERIFY(ReceiveSettingsInto(window, Path("r.wdb")));
  QVERIFY(WaitFor([&] { return !warnings().isEmpty(); }));
  QCOMPARE(warnings().size(), 1);
  QCOMPARE(Lines(window).constLast(), QStringLiteral("Получено удачно! "));
  QVERIFY(ReceiveSettingsInto(window, Path("r2.wdb")));
  QCoreApplication::processEvents();
  QCOMPARE(warnings().size(), 0);  // the list starts afresh with each operation; the line came once
  QCOMPARE(answerer.Texts(), QStringList({QStringLiteral("Получено удачно! "), QStringLiteral("Получено удачно! ")}));
}

}  // namespace updater::app

QTEST_MAIN(updater::app::WindowTest)
#include "window_test.moc"
