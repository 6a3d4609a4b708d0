#include "torvix/app/main_dialog.h"

#include <utility>

#include <QAction>
#include <QCoreApplication>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>

#include "common/build_version.h"
#include "torvix/app/boxes.h"
#include "torvix/app/dialog_units.h"
#include "torvix/app/history_texts.h"
#include "torvix/app/port_store.h"
#include "torvix/app/small_dialogs.h"
#include "torvix/app/window_texts.h"

namespace torvix::app {
namespace {

// A sunken field whose text only the program sets; a receiver's text is
// shown as it is, never as markup.
QLabel* SunkenField(const char* text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  label->setTextFormat(Qt::PlainText);
  label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  return label;
}

// The receiver's 8-bit characters.
QString ReceiverText(const std::string& text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

MainDialog::MainDialog(FactoryText& factoryText, const LinkTimings& timings, common::DeviceRoots deviceRoots,
                       history::Location history)
    : OperationBoxes(static_cast<QWidget&>(*this)),
      factoryText_(factoryText),
      timings_(timings),
      deviceRoots_(std::move(deviceRoots)),
      history_(std::move(history)),
      recorder_(history_,
                [this](const std::string& line) { calls_.Post([this, line] { ShowHistoryWarning(line); }); }),
      progress_(*this, *this, port_, timings_, deviceRoots_),
      // Each operation is recorded with the unit shown when it starts.
      context_{values_, *this, progress_, kProgramName, false,
               {&recorder_, kHistoryProgram, common::kBuildVersion, std::nullopt}} {
  uploader_ = history_server::StartUploader(recorder_, history_, common::kTorvixSettings, kHistoryProgram,
                                            [this](const std::string& line) {
                                              calls_.Post([this, line] { ShowHistoryWarning(line); });
                                            });
  setWindowTitle(kMainCaption);
  setWindowIcon(ProgramIcon());
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);

  // Created in the order of the layout table: the tab order, and the group
  // boxes beneath the fields drawn over them.
  auto* receiverGroup = new QGroupBox(kReceiverInformation, this);
  auto* softwareLabel = new QLabel(kSoftwareVersionLabel, this);
  software_ = SunkenField(kUnavailable, this);
  auto* hardwareLabel = new QLabel(kHardwareVersionLabel, this);
  hardware_ = SunkenField(kUnavailable, this);
  auto* statusGroup = new QGroupBox(kCommunicationStatus, this);
  status_ = SunkenField(kConnectionFailed, this);
  software_->setObjectName(QStringLiteral("softwareVersion"));
  hardware_->setObjectName(QStringLiteral("hardwareVersion"));
  status_->setObjectName(QStringLiteral("communicationStatus"));
  auto* setupComm = new QPushButton(kSetupCommButton, this);
  auto* about = new QPushButton(kAboutButton, this);
  auto* exit = new QPushButton(kExitButton, this);
  auto* readUserData = new QPushButton(kReadUserDataButton, this);
  auto* writeFactoryData = new QPushButton(kWriteFactoryDataButton, this);
  auto* upgrade1 = new QPushButton(kUpgrade1Button, this);
  auto* upgrade2 = new QPushButton(kUpgrade2Button, this);
  auto* upgrade3 = new QPushButton(kUpgrade3Button, this);
  auto* upgrade4 = new QPushButton(kUpgrade4Button, this);
  // Beyond the drawn layout, in the free place above "&Exit MeridLink": the
  // label scanned from the receiver, kept for the operations that follow.
  auto* unitLabel = new QLabel(kUnitLabel, this);
  unit_ = new QLineEdit(this);
  unit_->setObjectName(QStringLiteral("unit"));
  unit_->setAccessibleName(QString(kUnitLabel).remove('&'));
  unitLabel->setBuddy(unit_);
  unit_->installEventFilter(this);
  connect(unit_, &QLineEdit::textChanged, this, [this] { context_.history.unit = Unit(); });
  setupComm->setDefault(true);
  setupComm->setFocus();

  PlaceInDialogUnits(this, {294, 249},
                     {{receiverGroup, {7, 4, 258, 53}},
                      {softwareLabel, {14, 18, 81, 15}},
                      {software_, {100, 17, 158, 15}},
                      {hardwareLabel, {14, 35, 81, 15}},
                      {hardware_, {100, 36, 158, 15}},
                      {statusGroup, {7, 61, 258, 36}},
                      {status_, {14, 74, 233, 17}, kConnectionEstablished},
                      {setupComm, {8, 110, 85, 25}},
                      {about, {98, 110, 84, 25}},
                      {exit, {201, 125, 85, 25}},
                      {readUserData, {7, 147, 85, 25}},
                      {writeFactoryData, {98, 147, 85, 25}},
                      {upgrade1, {7, 183, 138, 24}},
                      {upgrade2, {148, 183, 138, 24}},
                      {upgrade3, {7, 219, 138, 24}},
                      {upgrade4, {148, 219, 138, 24}},
                      {unitLabel, {188, 104, 24, 10}},
                      {unit_, {213, 102, 73, 13}}});

  connect(setupComm, &QPushButton::clicked, this, &MainDialog::OnSetupComm);
  connect(about, &QPushButton::clicked, this, &MainDialog::OnAbout);
  connect(exit, &QPushButton::clicked, this, &QWidget::close);
  connect(readUserData, &QPushButton::clicked, this, &MainDialog::OnReadUserData);
  connect(writeFactoryData, &QPushButton::clicked, this, &MainDialog::OnWriteFactoryData);
  connect(upgrade1, &QPushButton::clicked, this, [this] { OnUpgrade(1); });
  connect(upgrade2, &QPushButton::clicked, this, [this] { OnUpgrade(2); });
  connect(upgrade3, &QPushButton::clicked, this, [this] { OnUpgrade(3); });
  connect(upgrade4, &QPushButton::clicked, this, [this] { OnUpgrade(4); });

  // The home platform offers the about box in the window's system menu too;
  // here it is the window's context menu.
  auto* aboutItem = new QAction(kAboutMenuItem, this);
  connect(aboutItem, &QAction::triggered, this, &MainDialog::OnAbout);
  addAction(aboutItem);
  auto* historyItem = new QAction(kHistoryMenuItem, this);
  connect(historyItem, &QAction::triggered, this, &MainDialog::OnHistory);
  addAction(historyItem);
  auto* editItem = new QAction(kEditChannelListMenuItem, this);
  connect(editItem, &QAction::triggered, this, &MainDialog::OnEditChannelList);
  addAction(editItem);
  setContextMenuPolicy(Qt::ActionsContextMenu);
}

void MainDialog::Start() {
  if (const std::optional<std::uint32_t> stored = ReadStoredPort()) {
    port_ = *stored;
    return;
  }
  port_ = 0;
  ChoosePort();
}

bool MainDialog::ChoosePort() {
  // Before the window is shown the dialog stands on its own.
  return ChooseAndStorePort(isVisible() ? this : nullptr, port_, deviceRoots_);
}

void MainDialog::OnSetupComm() {
  if (ChoosePort()) Connect(context_);
}

void MainDialog::OnAbout() {
  AboutDialog dialog(this);
  dialog.exec();
}

void MainDialog::OnHistory() {
  common::qt::HistoryView view(this, history_, kHistoryTexts);
  view.exec();
}

void MainDialog::ShowHistoryWarning(const std::string& line) {
  auto* box = new QMessageBox(QMessageBox::Warning, kProgramName,
                              QString(kHistoryWarning).arg(QString::fromStdString(line)), QMessageBox::Ok, this);
  box->setObjectName(QStringLiteral("historyWarning"));
  box->setTextFormat(Qt::PlainText);
  box->setWindowModality(Qt::NonModal);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->show();
}

bool MainDialog::eventFilter(QObject* watched, QEvent* event) {
  // A scanner ends its label with Enter: in the unit field it confirms the
  // label (and readies the field for the next one) instead of pressing
  // "&Setup Comm".
  if (watched == unit_ && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      unit_->selectAll();
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

std::optional<std::string> MainDialog::Unit() const {
  const QString unit = unit_->text().trimmed();
  if (unit.isEmpty()) return std::nullopt;
  return unit.toStdString();
}

void MainDialog::OnEditChannelList() {
  // The editor installed beside this program, else the one on the PATH.
  const QString beside = QCoreApplication::applicationDirPath() + "/" + kEditorProgram;
  const QString program = QFileInfo(beside).isExecutable() ? beside : QString(kEditorProgram);
  if (!QProcess::startDetached(program, {})) {
    ShowWarning(QString(kEditorNotStarted).arg(program).toStdString(), kProgramName);
  }
}

void MainDialog::OnReadUserData() {
  std::string error;
  const OperationResult result = ReadUserData(
      context_, factoryText_, [this] { return ChooseFile(kFactoryFileName, kFactoryFileFilters, true); }, error);
  ReportFileError(result, error);
}

void MainDialog::OnWriteFactoryData() {
  const std::optional<std::string> path = ChooseFile(kFactoryFileName, kFactoryFileFilters, false);
  if (!path) return;
  std::string error;
  ReportFileError(WriteFactoryData(context_, factoryText_, *path, error), error);
}

void MainDialog::OnUpgrade(int entry) {
  std::string error;
  const OperationResult result =
      Upgrade(context_, entry, [this] { return ChooseFile(kRomFileName, kRomFileFilters, false); }, error);
  ReportFileError(result, error);
}

std::optional<std::string> MainDialog::ChooseFile(const char* fileName, const char* filters, bool toWrite) {
  QFileDialog dialog(this);
  // Qt's own dialog on every desktop: it takes a name that does not exist
  // yet, and asks nothing about one that does (a text is replaced only
  // after a complete download).
  dialog.setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::DontConfirmOverwrite);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setAcceptMode(toWrite ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setNameFilter(QString::fromLatin1(filters));
  dialog.selectFile(QString::fromLatin1(fileName));
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList files = dialog.selectedFiles();
  if (files.isEmpty()) return std::nullopt;
  return QFile::encodeName(files.first()).toStdString();
}

void MainDialog::ReportFileError(OperationResult result, const std::string& error) {
  // Said plainly rather than ending without a word: the operator chose the file.
  if (result == OperationResult::kFileError) ShowWarning(error, kProgramName);
}

void MainDialog::ShowReceiverInformation(const ConnectReport& report) {
  if (report.identified) {
    hardware_->setText(ReceiverText(report.hardwareText));
    software_->setText(ReceiverText(report.softwareText));
    status_->setText(kConnectionEstablished);
    return;
  }
  hardware_->setText(kUnavailable);
  software_->setText(kUnavailable);
  status_->setText(kConnectionFailed);
}

}  // namespace torvix::app
