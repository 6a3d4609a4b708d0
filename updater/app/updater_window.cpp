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
#include <QLineEdit>
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
#include "common/qt/device_combo.h"
#include "common/qt/ui_calls.h"
#include "updater/app/device_dialog.h"
#include "updater/app/help_window.h"
#include "updater/app/history_texts.h"
#include "updater/app/path_label.h"
#include "updater/ops/window_texts.h"

namespace updater::app {
namespace {

// Status list and model list text: blue.
const QColor kListText(0, 0, 225);

QString Text(const char* utf8) { return QString::fromUtf8(utf8); }
QString Text(const std::string& utf8) { return QString::fromStdString(utf8); }

// A path as the system names the file, and back.
std::string SystemPath(const QString& path) { return QFile::encodeName(path).toStdString(); }
QString ShownPath(const std::string& path) { return QFile::decodeName(QByteArray::fromStdString(path)); }

void SetTextColour(QWidget* widget) {
  QPalette palette = widget->palette();
  palette.setColor(QPalette::Text, kListText);
  widget->setPalette(palette);
}

}  // namespace

UpdaterWindow::UpdaterWindow(WindowOptions options, QWidget* parent)
    : QMainWindow(parent),
      options_(options),
      calls_(new common::qt::UiCalls(this)),
      // A status line, once in the run; after the start's emptying of the list.
      recorder_(options_.history, [this](const std::string& line) {
        calls_->Post([this, line] { AddStatusLine(Text(kHistoryWarningLine).arg(Text(line)).toStdString()); });
      }) {
  RulesOptions rules;
  rules.portTimings = options_.portTimings;
  rules.deviceRoots = options_.deviceRoots;
  rules.history = {&recorder_, kHistoryProgram, common::kBuildVersion, std::nullopt};
  WindowView& view = *this;
  rules_ = std::make_unique<WindowRules>(view, rules);
  uploader_ = history_server::StartUploader(
      recorder_, options_.history, common::kUpdaterSettings, kHistoryProgram, [this](const std::string& line) {
        calls_->Post([this, line] { AddStatusLine(Text(kHistoryWarningLine).arg(Text(line)).toStdString()); });
      });

  setWindowTitle(Text(kWindowCaption));
  setWindowIcon(QIcon(QStringLiteral(":/updater/updater.svg")));
  BuildControls();
  BuildMenus();
  BuildKeys();

  const char* const timerNames[] = {"SECONDS_TIMER", "COMPLETION_TIMER"};
  for (int i = 0; i < 2; ++i) {
    timers_[i] = new QTimer(this);
    timers_[i]->setObjectName(QString::fromLatin1(timerNames[i]));
    timers_[i]->setInterval(options_.timerPeriod);
    timers_[i]->setTimerType(Qt::PreciseTimer);
    const TimerId id = i == 0 ? TimerId::SECONDS_TIMER : TimerId::COMPLETION_TIMER;
    connect(timers_[i], &QTimer::timeout, this, [this, id] { TimerTick(id); });
  }

  rules_->Open();
  startButton_->setEnabled(true);
}

UpdaterWindow::~UpdaterWindow() {
  // Only waits when the window goes without being closed: the worker's calls
  // find the window gone, and the rules stop it and wait for its end.
  calls_->Close();
  rules_.reset();
}

void UpdaterWindow::BuildControls() {
  auto* central = new QWidget(this);
  setCentralWidget(central);

  // Software: the update mode and the (always disabled) model list.
  auto* softwareGroup = new QGroupBox(Text(kSoftwareGroup), central);
  auto* updateRadio = new QRadioButton(Text(kUpdateRadio), softwareGroup);
  updateRadio->setToolTip(Text(kUpdateRadioTip));
  modelList_ = new QComboBox(softwareGroup);
  modelList_->setObjectName(QStringLiteral("modelList"));
  modelList_->addItem(Text(kModelAvailable));
  modelList_->addItem(Text(kModelWrong));
  for (int i = 2; i < kModelEntries; ++i) modelList_->addItem(Text(kModelNone));
  modelList_->setCurrentIndex(-1);
  modelList_->setEnabled(false);
  modelList_->setToolTip(Text(kModelListTip));
  SetTextColour(modelList_->view());
  auto* softwareLayout = new QVBoxLayout(softwareGroup);
  softwareLayout->addWidget(updateRadio);
  softwareLayout->addWidget(modelList_);

  // Channel settings: send and receive.
  auto* settingsGroup = new QGroupBox(Text(kSettingsGroup), central);
  auto* sendRadio = new QRadioButton(Text(kSendRadio), settingsGroup);
  sendRadio->setToolTip(Text(kSendRadioTip));
  auto* receiveRadio = new QRadioButton(Text(kReceiveRadio), settingsGroup);
  receiveRadio->setToolTip(Text(kReceiveRadioTip));
  auto* settingsLayout = new QVBoxLayout(settingsGroup);
  settingsLayout->addWidget(sendRadio);
  settingsLayout->addWidget(receiveRadio);

  modeRadios_[static_cast<int>(Mode::MODE_SEND)] = sendRadio;
  modeRadios_[static_cast<int>(Mode::MODE_RECEIVE)] = receiveRadio;
  modeRadios_[static_cast<int>(Mode::MODE_UPDATE)] = updateRadio;
  modeButtons_ = new QButtonGroup(this);
  for (int mode = 0; mode < 3; ++mode) modeButtons_->addButton(modeRadios_[mode], mode);
  // The window follows the checked radio however it got checked (a click,
  // the keyboard, an accessibility tool's toggle).  A click on the radio
  // already checked toggles nothing and still selects its mode afresh.
  connect(modeButtons_, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
    if (checked && static_cast<Mode>(id) != CurrentMode()) SelectMode(static_cast<Mode>(id));
  });
  connect(modeButtons_, &QButtonGroup::idClicked, this, [this](int id) {
    if (static_cast<Mode>(id) == CurrentMode()) SelectMode(CurrentMode());
  });

  // The port and its fixed line settings.
  auto* portGroup = new QGroupBox(Text(kPortGroup), central);
  auto* portLayout = new QGridLayout(portGroup);
  portLayout->addWidget(new QLabel(Text(kPortGroup), portGroup), 0, 0);
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
  auto* fileGroup = new QGroupBox(Text(kFileGroup), central);
  fileField_ = new PathLabel(fileGroup);
  fileField_->setObjectName(QStringLiteral("fileField"));
  // Beside the file: the label scanned from the receiver, recorded with
  // each operation started (empty: none).
  auto* unitLabel = new QLabel(Text(kUnitLabel), fileGroup);
  unitField_ = new QLineEdit(fileGroup);
  unitField_->setObjectName(QStringLiteral("unitField"));
  unitField_->setAccessibleName(Text(kUnitLabel).remove(QLatin1Char('&')));
  unitLabel->setBuddy(unitField_);
  connect(unitField_, &QLineEdit::textChanged, this, [this] { rules_->SetUnit(Unit()); });
  auto* unitRow = new QHBoxLayout;
  unitRow->addWidget(unitLabel);
  unitRow->addWidget(unitField_, 1);
  auto* fileLayout = new QVBoxLayout(fileGroup);
  fileLayout->addWidget(fileField_);
  fileLayout->addLayout(unitRow);

  statusList_ = new QListWidget(central);
  statusList_->setObjectName(QStringLiteral("StatusList"));
  statusList_->setSortingEnabled(false);
  statusList_->setToolTip(Text(kStatusListTip));
  statusList_->setUniformItemSizes(true);
  SetTextColour(statusList_);
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
  secondsField_->setMinimumWidth(fontMetrics().horizontalAdvance(Text(kWidestSeconds)) + em);

  startButton_ = new QPushButton(Text(kStartInitial), central);
  startButton_->setObjectName(QStringLiteral("startButton"));
  startButton_->setEnabled(false);
  connect(startButton_, &QPushButton::clicked, this, [this] { StartOperation(); });
  stopButton_ = new QPushButton(Text(kStopButton), central);
  stopButton_->setObjectName(QStringLiteral("stopButton"));
  stopButton_->setEnabled(false);
  connect(stopButton_, &QPushButton::clicked, this, [this] { StopOperation(); });
  // The start button's text changes with the mode: room for the longest.
  const int buttonWidth = std::max({startButton_->sizeHint().width(),
                                    fontMetrics().horizontalAdvance(Text(kStartReceive)) + 2 * em});
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
  auto* info = new QAction(Text(kInfoItem), this);
  connect(info, &QAction::triggered, this, [this] { ShowAbout(); });
  central->setContextMenuPolicy(Qt::ActionsContextMenu);
  central->addAction(info);
}

void UpdaterWindow::BuildMenus() {
  QMenu* file = menuBar()->addMenu(Text(kFileMenu));
  connect(file->addAction(Text(kOpenItem)), &QAction::triggered, this, [this] { ChooseFile(); });
  connect(file->addAction(Text(kHistoryItem)), &QAction::triggered, this, [this] { ShowHistory(); });
  file->addSeparator();
  connect(file->addAction(Text(kCloseItem)), &QAction::triggered, this, [this] { close(); });

  QMenu* serial = menuBar()->addMenu(Text(kSerialMenu));
  QMenu* ports = serial->addMenu(Text(kPortMenu));
  auto* portGroup = new QActionGroup(this);
  for (int n = 1; n <= kPortCount; ++n) {
    QAction* action = ports->addAction(QStringLiteral("COM%1").arg(n));
    action->setCheckable(true);
    portGroup->addAction(action);
    connect(action, &QAction::triggered, this, [this, n] { SelectPort(n); });
    portActions_[n - 1] = action;
  }
  ports->addSeparator();
  connect(ports->addAction(Text(kDeviceItem)), &QAction::triggered, this, [this] { ChooseDevice(); });
  serial->addSeparator();
  // The rate is fixed: the submenu only shows it.
  QMenu* rates = serial->addMenu(Text(kRateMenu));
  auto* rateGroup = new QActionGroup(this);
  for (const std::uint32_t rate : kTransferBaudRates) {
    QAction* action = rates->addAction(QString::number(rate));
    action->setCheckable(true);
    action->setChecked(rate == kPortBaudRate);
    rateGroup->addAction(action);
  }
  rates->setEnabled(false);

  QMenu* help = menuBar()->addMenu(Text(kHelpMenu));
  connect(help->addAction(Text(kAboutItem)), &QAction::triggered, this, [this] { ShowAbout(); });
}

void UpdaterWindow::BuildKeys() {
  // Window shortcuts come before any control sees the key.
  for (const auto key : {Qt::Key_Return, Qt::Key_Enter}) {
    connect(new QShortcut(QKeySequence(key), this), &QShortcut::activated, this, [this] { StartOperation(); });
  }
  // Esc stops a running operation and never closes the window.
  connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, this,
          [this] { StopOperation(); });
  connect(new QShortcut(QKeySequence(Qt::Key_F1), this), &QShortcut::activated, this, [this] { ShowHelp(); });
}

void UpdaterWindow::TakeFile(const QString& path) { rules_->TakeFile(SystemPath(path)); }

QString UpdaterWindow::FileName() const { return ShownPath(rules_->FileName()); }

void UpdaterWindow::ChooseDevice() {
  // Also while an operation runs: as the port, the device counts from the next start.
  const int number = rules_->PortNumber();
  DeviceDialog dialog(this, number, options_.deviceRoots);
  if (dialog.exec() == QDialog::Accepted && dialog.Changed()) common::qt::StoreDevice(common::kUpdaterSettings, number, dialog.Device());
  rules_->RefreshPort();
}

void UpdaterWindow::closeEvent(QCloseEvent* event) {
  if (!rules_->CloseRequested()) {
    event->ignore();
    return;
  }
  if (help_) help_->close();
  event->accept();
}

// ---- WindowView ------------------------------------------------------------------

bool UpdaterWindow::RunOnWindowThread(std::function<void()> call) { return calls_->Send(std::move(call)); }

void UpdaterWindow::PostToWindowThread(std::function<void()> call) { calls_->Post(std::move(call)); }

void UpdaterWindow::ShowMode(Mode mode, const ModeControls& controls) {
  for (int m = 0; m < 3; ++m) modeRadios_[m]->setChecked(m == static_cast<int>(mode));
  modeLabel_->setText(Text(controls.label));
  startButton_->setText(Text(controls.startText));
}

void UpdaterWindow::ClearStatusLines() { statusList_->clear(); }

void UpdaterWindow::AddStatusLine(const std::string& line) {
  statusList_->addItem(Text(line));
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

void UpdaterWindow::SetSecondsText(const std::string& text) { secondsField_->setText(Text(text)); }

void UpdaterWindow::EnableStop(bool enabled) { stopButton_->setEnabled(enabled); }

void UpdaterWindow::SelectModel(int entry) { modelList_->setCurrentIndex(entry); }

void UpdaterWindow::ShowFile(const std::string& path) { fileField_->SetPath(ShownPath(path)); }

void UpdaterWindow::ShowPort(int number, const std::string& name, const std::string& toolTip) {
  if (number >= 1 && number <= kPortCount) portActions_[number - 1]->setChecked(true);
  portField_->setText(Text(name));
  portField_->setToolTip(Text(toolTip));
}

void UpdaterWindow::StartTimer(TimerId id) { timers_[id == TimerId::SECONDS_TIMER ? 0 : 1]->start(); }

void UpdaterWindow::StopTimers() {
  for (QTimer* timer : timers_) timer->stop();
}

void UpdaterWindow::ShowBox(const std::string& text, bool warning) {
  QMessageBox box(warning ? QMessageBox::Warning : QMessageBox::NoIcon, Text(kBoxCaption), Text(text),
                  QMessageBox::Ok, this);
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

bool UpdaterWindow::AskStop(const StopQuestion& question) {
  QMessageBox box(QMessageBox::Question, Text(question.caption), Text(question.question),
                  QMessageBox::Yes | QMessageBox::No, this);
  box.setTextFormat(Qt::PlainText);
  question_ = &box;
  const int answer = box.exec();
  question_ = nullptr;
  return answer == QMessageBox::Yes;
}

void UpdaterWindow::CloseQuestion() {
  if (question_) question_->done(QMessageBox::No);
}

std::optional<std::string> UpdaterWindow::ChooseFilePath(bool softwareFiles) {
  QFileDialog dialog(this, Text(kOpenCaption));
  // An open dialog that also takes a new name: a reception creates the file.
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setOption(QFileDialog::HideNameFilterDetails);
  dialog.setNameFilters({softwareFiles ? Text(kSoftwareFilter) + QStringLiteral("(*.wsw)")
                                       : Text(kSettingsFilter) + QStringLiteral("(*.wdb *.WDB)"),
                         Text(softwareFiles ? kAllFilesSoftware : kAllFilesSettings) + QStringLiteral("(*)")});
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return SystemPath(dialog.selectedFiles().constFirst());
}

void UpdaterWindow::CloseWindow() { close(); }

// ---- About and help --------------------------------------------------------------

void UpdaterWindow::ShowAbout() {
  QMessageBox box(this);
  box.setWindowTitle(Text(kAboutCaption));
  box.setIconPixmap(windowIcon().pixmap(64, 64));
  box.setText(Text(kAboutText));
  // The box's own text stays the program's; this build's version is in the tip.
  box.setToolTip(Text(kAboutBuild).arg(common::kBuildVersion));
  box.addButton(Text(kAboutOk), QMessageBox::AcceptRole);
  box.exec();
}

void UpdaterWindow::ShowHistory() {
  common::qt::HistoryView view(this, options_.history, kHistoryTexts);
  view.exec();
}

std::optional<std::string> UpdaterWindow::Unit() const {
  const QString unit = unitField_->text().trimmed();
  if (unit.isEmpty()) return std::nullopt;
  return unit.toStdString();
}

void UpdaterWindow::ShowHelp() {
  if (!help_) help_ = new HelpWindow(this);
  help_->show();
  help_->raise();
  help_->activateWindow();
}

}  // namespace updater::app
