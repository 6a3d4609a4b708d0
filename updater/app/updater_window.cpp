#include "updater/app/updater_window.h"

#include <algorithm>

#include <QAction>
#include <QActionGroup>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QTimer>
#include <QVBoxLayout>

#include "common/build_version.h"
#include "common/device_map.h"
#include "updater/app/device_dialog.h"
#include "updater/app/help_window.h"
#include "updater/app/path_label.h"
#include "updater/transport/file_checks.h"
#include "updater/transport/stop_question.h"
#include "updater/transport/workers.h"

namespace updater::app {
namespace {

const char* const kCaption = "Q5100 Updater 1.00";
// Caption of the window's own message boxes: the program's name.
const char* const kBoxCaption = "Updater";
const char* const kBusyText = "Идет загрузка...       \nДля отмены нажмите кнопку [Стоп] ";
const char* const kChooseFileText = "Выберите Файл.";
const char* const kWrongFileText = "Не тот Файл!";
const char* const kWaitLine = "Подождите .............";
const char* const kModelToken = "DB4EU";

const char* const kSettingsFilter = "wdb Файл(*.wdb)  :Настройки ";
const char* const kSoftwareFilter = "wsw Файл(*.wsw)    : Обновление ПО ";
const char* const kAllFilesSettings = "Все файлы     ";
const char* const kAllFilesSoftware = "Все файлы    ";

// Status list and model list text: blue.
const QColor kListText(0, 0, 225);

constexpr int kModelEntries = 11;
constexpr std::uint32_t kPortBaudRate = 115200;

QString Text(const char* utf8) { return QString::fromUtf8(utf8); }

// The five lines that every mode selection puts in the status list.
const char* const kPortLines[] = {" Скорость порта:115200", " Биты данных    :8 ", " Четность        :Нет",
                                  " Стоповые биты  :1  ", " Управление потоком:Нет"};

// The fixed texts of the port group: name and value.
const char* const kLineSettings[][2] = {{"Скорость порта", " 115200"},
                                        {"Биты данных", " 8"},
                                        {"Четность", " Нет"},
                                        {"Стоповые биты", " 1"},
                                        {"Управление потоком", " Нет"}};

const char* StartText(Mode mode) { return mode == Mode::MODE_RECEIVE ? "Получить" : "Запись"; }

// A path as the system names the file.
std::string SystemPath(const QString& path) { return QFile::encodeName(path).toStdString(); }

}  // namespace

UpdaterWindow::UpdaterWindow(WindowOptions options, QWidget* parent)
    : QMainWindow(parent), options_(options), bridge_(new UiBridge(this)) {
  setWindowTitle(Text(kCaption));
  setWindowIcon(QIcon(QStringLiteral(":/updater/updater.svg")));
  BuildControls();
  BuildMenus();
  BuildKeys();

  secondsTimer_ = new QTimer(this);
  secondsTimer_->setObjectName(QStringLiteral("SECONDS_TIMER"));
  completionTimer_ = new QTimer(this);
  completionTimer_->setObjectName(QStringLiteral("COMPLETION_TIMER"));
  for (QTimer* timer : {secondsTimer_, completionTimer_}) {
    timer->setInterval(options_.timerPeriod);
    timer->setTimerType(Qt::PreciseTimer);
  }
  connect(secondsTimer_, &QTimer::timeout, this, [this] { TimerTick(TimerId::SECONDS_TIMER); });
  connect(completionTimer_, &QTimer::timeout, this, [this] { TimerTick(TimerId::COMPLETION_TIMER); });

  SelectMode(Mode::MODE_UPDATE);
  SelectPort(1);
  startButton_->setEnabled(true);
}

UpdaterWindow::~UpdaterWindow() {
  // Only reached with a worker when the window goes without being closed:
  // the worker is told to stop, finds the window gone, and is waited for.
  bridge_->Close();
  if (operation_) {
    flags_.cancelRequested.store(true);
    // A completion stage waits for the counter; it never moves again.
    flags_.secondsCounter.store(kUpdateCompletionTicks + 1);
    operation_->port.Interrupt();
    operation_->thread.join();
  }
}

void UpdaterWindow::BuildControls() {
  auto* central = new QWidget(this);
  setCentralWidget(central);

  // Software: the update mode and the (always disabled) model list.
  auto* softwareGroup = new QGroupBox(Text(" Программное обеспечение "), central);
  updateRadio_ = new QRadioButton(Text("Обновление ПО"), softwareGroup);
  updateRadio_->setToolTip(Text("Обновить ПО Ресивера (*.wsw)"));
  modelList_ = new QComboBox(softwareGroup);
  modelList_->setObjectName(QStringLiteral("modelList"));
  modelList_->addItem(Text(" Available"));
  modelList_->addItem(Text(" Wrong Model"));
  for (int i = 2; i < kModelEntries; ++i) modelList_->addItem(Text("  -------"));
  modelList_->setCurrentIndex(-1);
  modelList_->setEnabled(false);
  modelList_->setToolTip(Text("Выбрать Ресивер"));
  {
    QPalette palette = modelList_->view()->palette();
    palette.setColor(QPalette::Text, kListText);
    modelList_->view()->setPalette(palette);
  }
  auto* softwareLayout = new QVBoxLayout(softwareGroup);
  softwareLayout->addWidget(updateRadio_);
  softwareLayout->addWidget(modelList_);

  // Channel settings: send and receive.
  auto* settingsGroup = new QGroupBox(Text("  Настройки каналов"), central);
  sendRadio_ = new QRadioButton(Text("Отправить настройки"), settingsGroup);
  sendRadio_->setToolTip(Text("Отправить настройки на Ресивер "));
  receiveRadio_ = new QRadioButton(Text("Получить настройки"), settingsGroup);
  receiveRadio_->setToolTip(Text("Получить настройки от Ресивера "));
  auto* settingsLayout = new QVBoxLayout(settingsGroup);
  settingsLayout->addWidget(sendRadio_);
  settingsLayout->addWidget(receiveRadio_);

  modeButtons_ = new QButtonGroup(this);
  modeButtons_->addButton(updateRadio_, static_cast<int>(Mode::MODE_UPDATE));
  modeButtons_->addButton(sendRadio_, static_cast<int>(Mode::MODE_SEND));
  modeButtons_->addButton(receiveRadio_, static_cast<int>(Mode::MODE_RECEIVE));
  // The window follows the checked radio however it got checked (a click,
  // the keyboard, an accessibility tool's toggle).  A click on the radio
  // already checked toggles nothing and still selects its mode afresh.
  connect(modeButtons_, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
    if (checked && static_cast<Mode>(id) != mode_) SelectMode(static_cast<Mode>(id));
  });
  connect(modeButtons_, &QButtonGroup::idClicked, this, [this](int id) {
    if (static_cast<Mode>(id) == mode_) SelectMode(mode_);
  });

  // The port and its fixed line settings.
  auto* portGroup = new QGroupBox(Text("COM Порт"), central);
  auto* portLayout = new QGridLayout(portGroup);
  portLayout->addWidget(new QLabel(Text("COM Порт"), portGroup), 0, 0);
  portField_ = new QLabel(portGroup);
  portField_->setObjectName(QStringLiteral("portField"));
  portLayout->addWidget(portField_, 0, 1);
  int row = 1;
  for (const auto& setting : kLineSettings) {
    portLayout->addWidget(new QLabel(Text(setting[0]), portGroup), row, 0);
    portLayout->addWidget(new QLabel(Text(setting[1]), portGroup), row, 1);
    ++row;
  }
  portLayout->setColumnStretch(1, 1);

  // The file.
  auto* fileGroup = new QGroupBox(Text("Имя файла"), central);
  fileField_ = new PathLabel(fileGroup);
  fileField_->setObjectName(QStringLiteral("fileField"));
  auto* fileLayout = new QVBoxLayout(fileGroup);
  fileLayout->addWidget(fileField_);

  statusList_ = new QListWidget(central);
  statusList_->setObjectName(QStringLiteral("StatusList"));
  statusList_->setSortingEnabled(false);
  statusList_->setToolTip(Text("Показать состояние Ресивера."));
  statusList_->setUniformItemSizes(true);
  {
    QPalette palette = statusList_->palette();
    palette.setColor(QPalette::Text, kListText);
    statusList_->setPalette(palette);
  }
  const int em = fontMetrics().horizontalAdvance(QLatin1Char('M'));
  statusList_->setMinimumSize(em * 26, fontMetrics().lineSpacing() * 14);

  progress_ = new QProgressBar(central);
  progress_->setObjectName(QStringLiteral("progress"));
  progress_->setTextVisible(false);
  progress_->setRange(0, 100);
  progress_->setValue(0);
  modeLabel_ = new QLabel(central);
  modeLabel_->setObjectName(QStringLiteral("modeLabel"));
  secondsField_ = new QLabel(central);
  secondsField_->setObjectName(QStringLiteral("secondsField"));
  secondsField_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  secondsField_->setMinimumWidth(fontMetrics().horizontalAdvance(Text("100 Сек.")) + em);

  startButton_ = new QPushButton(Text("&Отправить"), central);
  startButton_->setObjectName(QStringLiteral("startButton"));
  startButton_->setEnabled(false);
  connect(startButton_, &QPushButton::clicked, this, [this] { StartOperation(); });
  stopButton_ = new QPushButton(Text("С&топ"), central);
  stopButton_->setObjectName(QStringLiteral("stopButton"));
  stopButton_->setEnabled(false);
  connect(stopButton_, &QPushButton::clicked, this, [this] { StopOperation(); });
  // The start button's text changes with the mode: room for the longest.
  const int buttonWidth = std::max({startButton_->sizeHint().width(),
                                    fontMetrics().horizontalAdvance(Text("Получить")) + 2 * em});
  startButton_->setMinimumWidth(buttonWidth);
  stopButton_->setMinimumWidth(buttonWidth);

  // Left: what to do and where; right: the file, the status and the buttons.
  auto* left = new QVBoxLayout;
  left->addWidget(softwareGroup);
  left->addWidget(settingsGroup);
  left->addWidget(portGroup);
  left->addStretch(1);

  auto* statusRow = new QHBoxLayout;
  statusRow->addWidget(modeLabel_, 1);
  statusRow->addWidget(secondsField_);
  auto* buttonRow = new QHBoxLayout;
  buttonRow->addStretch(1);
  buttonRow->addWidget(startButton_);
  buttonRow->addWidget(stopButton_);

  auto* right = new QVBoxLayout;
  right->addWidget(fileGroup);
  right->addWidget(statusList_, 1);
  right->addWidget(progress_);
  right->addLayout(statusRow);
  right->addLayout(buttonRow);

  auto* columns = new QHBoxLayout(central);
  columns->addLayout(left);
  columns->addLayout(right, 1);

  // The system menu's "Updater Info." has no counterpart on every desktop:
  // the window's context menu offers it.
  auto* info = new QAction(Text("Updater Info."), this);
  connect(info, &QAction::triggered, this, [this] { ShowAbout(); });
  central->setContextMenuPolicy(Qt::ActionsContextMenu);
  central->addAction(info);
}

void UpdaterWindow::BuildMenus() {
  QMenu* file = menuBar()->addMenu(Text("&Файл"));
  connect(file->addAction(Text("&Открыть")), &QAction::triggered, this, [this] { ChooseFile(); });
  file->addSeparator();
  connect(file->addAction(Text("&Закрыть")), &QAction::triggered, this, [this] { close(); });

  QMenu* serial = menuBar()->addMenu(Text("&Последовательный порт"));
  QMenu* ports = serial->addMenu(Text("COM &Порт"));
  auto* portGroup = new QActionGroup(this);
  for (int n = 1; n <= 4; ++n) {
    QAction* action = ports->addAction(QStringLiteral("COM%1").arg(n));
    action->setCheckable(true);
    portGroup->addAction(action);
    connect(action, &QAction::triggered, this, [this, n] { SelectPort(n); });
    portActions_[n - 1] = action;
  }
  ports->addSeparator();
  connect(ports->addAction(Text("&Устройство…")), &QAction::triggered, this, [this] { ChooseDevice(); });
  serial->addSeparator();
  // The rate is fixed: the submenu only shows it.
  QMenu* rates = serial->addMenu(Text("&Скорость порта"));
  auto* rateGroup = new QActionGroup(this);
  for (const std::uint32_t rate : kTransferBaudRates) {
    QAction* action = rates->addAction(QString::number(rate));
    action->setCheckable(true);
    action->setChecked(rate == kPortBaudRate);
    rateGroup->addAction(action);
  }
  rates->setEnabled(false);

  QMenu* help = menuBar()->addMenu(Text("&Помощь"));
  connect(help->addAction(Text("&О Программе ")), &QAction::triggered, this, [this] { ShowAbout(); });
}

void UpdaterWindow::BuildKeys() {
  // Window shortcuts come before any control sees the key.
  auto* enter = new QShortcut(QKeySequence(Qt::Key_Return), this);
  auto* keypadEnter = new QShortcut(QKeySequence(Qt::Key_Enter), this);
  for (QShortcut* key : {enter, keypadEnter}) {
    connect(key, &QShortcut::activated, this, [this] { StartOperation(); });
  }
  // Esc stops a running operation and never closes the window.
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  connect(escape, &QShortcut::activated, this, [this] {
    if (busy_) StopOperation();
  });
  auto* f1 = new QShortcut(QKeySequence(Qt::Key_F1), this);
  connect(f1, &QShortcut::activated, this, [this] { ShowHelp(); });
}

// ---- Modes, port, model list, file -----------------------------------------

void UpdaterWindow::CheckModeRadio(Mode mode) {
  updateRadio_->setChecked(mode == Mode::MODE_UPDATE);
  sendRadio_->setChecked(mode == Mode::MODE_SEND);
  receiveRadio_->setChecked(mode == Mode::MODE_RECEIVE);
}

void UpdaterWindow::ShowModeLabel() {
  switch (mode_) {
    case Mode::MODE_SEND:
    case Mode::MODE_RECEIVE:
      // The settings modes are named once a model is chosen.  Until then the
      // label is empty rather than still naming the mode left behind.
      if (!modelChosen_) {
        modeLabel_->clear();
      } else {
        modeLabel_->setText(Text(mode_ == Mode::MODE_SEND ? ">> Отправка настроек " : ">> Получение настроек"));
      }
      break;
    case Mode::MODE_UPDATE:
      modeLabel_->setText(Text(">> Оюновление ПО "));
      break;
  }
}

void UpdaterWindow::SelectMode(Mode mode) {
  if (busy_) {
    CheckModeRadio(mode_);
    return;
  }
  mode_ = mode;
  ShowModeLabel();
  SetProgressPosition(0);
  statusList_->clear();
  startButton_->setText(Text(StartText(mode)));
  CheckModeRadio(mode);
  modelList_->setEnabled(false);
  for (const char* line : kPortLines) AddStatusLine(Text(line));
}

void UpdaterWindow::SelectPort(int number) {
  portActions_[number - 1]->setChecked(true);
  portName_ = QStringLiteral("COM%1").arg(number);
  portField_->setText(portName_);
  ShowPortDevice();
}

int UpdaterWindow::PortNumber() const { return common::ComPortNumber(portName_.toStdString()).value_or(1); }

void UpdaterWindow::ShowPortDevice() {
  portField_->setToolTip(DeviceToolTip(CurrentDevice(PortNumber(), options_.deviceRoots)));
}

void UpdaterWindow::ChooseDevice() {
  // Also while an operation runs: as the port, the device counts from the next start.
  const int number = PortNumber();
  DeviceDialog dialog(this, number, options_.deviceRoots);
  if (dialog.exec() == QDialog::Accepted && dialog.Changed()) StoreDevice(number, dialog.Device());
  ShowPortDevice();
}

void UpdaterWindow::ApplyModel() {
  // The token is always the same: every entry of the list has one effect.
  modelChosen_ = true;
  if (mode_ != Mode::MODE_UPDATE) ShowModeLabel();
}

void UpdaterWindow::ChooseFile() {
  if (busy_) {
    ShowBox(Text(kBusyText));
    return;
  }
  const bool software = mode_ == Mode::MODE_UPDATE;
  QFileDialog dialog(this, Text("Открыть"));
  // An open dialog that also takes a new name: a reception creates the file.
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setOption(QFileDialog::HideNameFilterDetails);
  dialog.setNameFilters({software ? Text(kSoftwareFilter) + QStringLiteral("(*.wsw)")
                                  : Text(kSettingsFilter) + QStringLiteral("(*.wdb *.WDB)"),
                         Text(software ? kAllFilesSoftware : kAllFilesSettings) + QStringLiteral("(*)")});
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  TakeFile(dialog.selectedFiles().constFirst());
}

void UpdaterWindow::TakeFile(const QString& path) {
  if (busy_) {
    ShowBox(Text(kBusyText));
    return;
  }
  const std::string systemPath = SystemPath(path);
  switch (ClassifyFileName(systemPath)) {
    case FileKind::kNone:
      ShowBox(Text(kWrongFileText));
      return;
    case FileKind::kSoftware:
      fileName_ = path;
      // A software image switches to the update; any other file is taken
      // silently and the update refuses it later.
      if (HasSoftwareSignature(systemPath)) {
        modelList_->setCurrentIndex(0);
        ApplyModel();
        SelectMode(Mode::MODE_UPDATE);
      }
      break;
    case FileKind::kSettings:
      fileName_ = path;
      SelectMode(mode_ == Mode::MODE_RECEIVE ? Mode::MODE_RECEIVE : Mode::MODE_SEND);
      break;
  }
  fileField_->SetPath(fileName_);
}

// ---- Start, stop, the worker's end ---------------------------------------------

void UpdaterWindow::StartOperation() {
  // A stopping worker still holds the port: no second one beside it.
  if (!idle_ || operation_) {
    ShowBox(Text(kBusyText));
    return;
  }
  if (fileName_.isEmpty()) {
    ShowBox(Text(kChooseFileText));
    ChooseFile();
    return;
  }
  busy_ = true;
  ApplyModel();
  idle_ = false;
  stopButton_->setEnabled(true);
  statusList_->clear();
  StartWorker();
}

void UpdaterWindow::StartWorker() {
  operation_ = std::make_unique<Operation>(flags_, *bridge_, *this, mode_, options_.portTimings);
  Operation* op = operation_.get();
  op->port.SetModelToken(kModelToken);
  // What the worker reads from the window when it starts.
  const Job job{SystemPath(fileName_), portName_.toStdString(), kPortBaudRate};
  // The device as the worker is about to find it, for the field and for a
  // box should it not open.
  op->device = CurrentDevice(PortNumber(), options_.deviceRoots);
  ShowPortDevice();
  UiBridge* bridge = bridge_;
  op->thread = std::thread([this, op, job, bridge] {
    switch (op->host.OperationMode()) {
      case Mode::MODE_SEND: SendSettings(job, op->port, op->host); break;
      case Mode::MODE_RECEIVE: ReceiveSettings(job, op->port, op->host); break;
      case Mode::MODE_UPDATE: UpdateSoftware(job, op->port, op->host); break;
    }
    bridge->Post([this] { WorkerFinished(); });
  });
}

void UpdaterWindow::StopOperation() {
  if (!busy_ || !operation_ || question_) return;
  Operation* const asked = operation_.get();
  // The worker goes on while the question is open: pausing a thread at an
  // arbitrary point could leave it holding a lock this thread needs.
  const StopQuestion text = StopQuestionFor(mode_);
  QMessageBox box(QMessageBox::Question, Text(text.caption), Text(text.question),
                  QMessageBox::Yes | QMessageBox::No, this);
  box.setTextFormat(Qt::PlainText);
  question_ = &box;
  const int answer = box.exec();
  question_ = nullptr;
  // The operation ended while the question was open: nothing to answer.
  if (operation_.get() != asked || asked->ended) return;
  if (answer == QMessageBox::Yes) {
    idle_ = true;
    flags_.cancelRequested.store(true);
    busy_ = false;
    AddStatusLine(Text(kWaitLine));
    stopButton_->setEnabled(false);
    // Cuts short a wait for the receiver that has no end of its own.
    asked->port.Interrupt();
  } else {
    flags_.cancelRequested.store(false);
    busy_ = true;
  }
}

void UpdaterWindow::WorkerEnded() {
  stopButton_->setEnabled(false);
  busy_ = false;
  idle_ = true;
  if (operation_) operation_->ended = true;
  // A stop question about an operation that has ended asks nothing.
  if (question_) question_->done(QMessageBox::No);
}

void UpdaterWindow::WorkerFinished() {
  if (!operation_) return;
  // The worker's last act was to post this: it is at its end.
  operation_->thread.join();
  const common::ComMapping device = operation_->device;
  const QString portFailure = operation_->portFailure;
  operation_.reset();
  if (closeWhenStopped_) {
    close();
    return;
  }
  // The status lines name the port's settings; when the device may be the
  // wrong one and others are there, say so and where another is chosen.
  if (!portFailure.isEmpty()) {
    const QString advice = PortFailureAdvice(device, portFailure, options_.deviceRoots);
    if (!advice.isEmpty()) {
      QMessageBox box(QMessageBox::Warning, Text(kBoxCaption), advice, QMessageBox::Ok, this);
      box.setTextFormat(Qt::PlainText);
      box.exec();
    }
  }
}

void UpdaterWindow::NoteFailure(Failure kind, const QString& reason) {
  if (kind == Failure::kPort && operation_) operation_->portFailure = reason;
}

void UpdaterWindow::closeEvent(QCloseEvent* event) {
  if (busy_) {
    event->ignore();
    return;
  }
  if (operation_) {
    // Asked to stop and not yet ended: the window closes at the worker's end.
    closeWhenStopped_ = true;
    event->ignore();
    return;
  }
  if (help_) help_->close();
  event->accept();
}

// ---- What the worker shows -----------------------------------------------------

void UpdaterWindow::AddStatusLine(const QString& line) {
  statusList_->addItem(line);
  statusList_->scrollToBottom();
}

void UpdaterWindow::SetProgressRange(int low, int high) {
  progressLow_ = low;
  progressHigh_ = high;
  ShowProgress();
}

void UpdaterWindow::SetProgressPosition(int position) {
  progressPosition_ = position;
  ShowProgress();
}

void UpdaterWindow::ShowProgress() {
  // A position outside the range shows as the nearer end; a range of one
  // value shows empty (a bar whose ends meet would show "working" instead).
  const int high = std::max(progressHigh_, progressLow_ + 1);
  progress_->setRange(progressLow_, high);
  progress_->setValue(std::clamp(progressPosition_, progressLow_, high));
}

void UpdaterWindow::SetSecondsText(const QString& text) { secondsField_->setText(text); }

void UpdaterWindow::ShowBox(const QString& text) {
  QMessageBox box(QMessageBox::NoIcon, Text(kBoxCaption), text, QMessageBox::Ok, this);
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

void UpdaterWindow::StartTimer(TimerId id) {
  flags_.secondsCounter.store(0);
  (id == TimerId::SECONDS_TIMER ? secondsTimer_ : completionTimer_)->start();
}

void UpdaterWindow::StopTimers() {
  secondsTimer_->stop();
  completionTimer_->stop();
}

void UpdaterWindow::TimerTick(TimerId id) {
  if (!operation_) return;
  updater::TimerTick(operation_->host, id, operation_->host.OperationMode());
}

// ---- About and help --------------------------------------------------------------

void UpdaterWindow::ShowAbout() {
  QMessageBox box(this);
  box.setWindowTitle(Text("О Программе"));
  box.setIconPixmap(windowIcon().pixmap(64, 64));
  box.setText(Text("Q5100 Updater v1.00"));
  // The box's own text stays the program's; this build's version is in the tip.
  box.setToolTip(Text("Сборка %1").arg(common::kBuildVersion));
  box.addButton(Text("&OK"), QMessageBox::AcceptRole);
  box.exec();
}

void UpdaterWindow::ShowHelp() {
  if (!help_) help_ = new HelpWindow(this);
  help_->show();
  help_->raise();
  help_->activateWindow();
}

}  // namespace updater::app
