#include "torvix/app/progress_dialog.h"

#include <algorithm>
#include <utility>

#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include "common/device_map.h"
#include "torvix/app/boxes.h"
#include "torvix/app/dialog_units.h"
#include "torvix/app/window_texts.h"

namespace torvix::app {
namespace {

// What the port's error box adds when `port` did not open although other
// serial devices are present under `roots`: which device was tried and where
// another is chosen.  Empty otherwise (a device path given instead of a COM
// name, or nothing else to choose from).
std::string OpenFailureNote(const PortChoice& port, const common::DeviceRoots& roots) {
  if (!port.devicePath.empty() || port.portNumber < 1) return {};
  const std::string name = "COM" + std::to_string(port.portNumber);
  // The device the port opened, and by whose word.
  const std::string tried = common::ResolvePortName(name, common::kTorvixSettings);
  if (!common::OtherSerialDevicesPresent(tried, roots)) return {};
  const bool fromEnvironment =
      common::DeviceMap(common::kTorvixSettings).Resolve(port.portNumber).source == common::ComSource::kEnvironment;
  return QString(fromEnvironment ? kOpenFailureNoteEnvironment : kOpenFailureNote)
      .arg(QString::fromStdString(name), QFile::decodeName(QByteArray::fromStdString(tried)))
      .toStdString();
}

}  // namespace

ProgressDialog::ProgressDialog(QWidget* parent, SerialErrorNotifier& notifier, common::DeviceRoots deviceRoots)
    : QDialog(parent), notifier_(notifier), deviceRoots_(std::move(deviceRoots)) {
  setWindowTitle(kProgressCaption);
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  status_ = new QLabel(kProgressStatus, this);
  status_->setObjectName(QStringLiteral("status"));
  status_->setTextFormat(Qt::PlainText);
  bar_ = new QProgressBar(this);
  bar_->setRange(0, kProgressMaximum);
  bar_->setValue(0);
  bar_->setTextVisible(false);
  cancel_ = new QPushButton(tr("Cancel"), this);
  connect(cancel_, &QPushButton::clicked, this, &ProgressDialog::reject);
  // The widest status a job shows, so that none is cut.
  const QString widest = QStringLiteral("Downloading...   block 32768/65535   err.count 99999");
  PlaceInDialogUnits(this, {188, 62},
                     {{status_, {7, 7, 174, 8}, widest}, {bar_, {7, 23, 174, 9}}, {cancel_, {66, 41, 50, 14}}});
}

ProgressDialog::~ProgressDialog() = default;

JobOutcome ProgressDialog::Run(OperationCode operation, const PortChoice& port, const OperationData& data,
                               const LinkTimings& timings) {
  operation_ = operation;
  connectPause_ = timings.connectSuccessPause;
  // The session would pause by sleeping; this window pauses with a timer instead.
  LinkTimings sessionTimings = timings;
  sessionTimings.connectSuccessPause = std::chrono::milliseconds(0);
  session_ = std::make_unique<ProgressSession>(*this, this, kProgramName);
  // The job posts from its thread; the call runs later on this window's.
  const auto post = [this](ProgressSession::Posted message) { calls_.Post([this, message] { Deliver(message); }); };
  port_ = port;
  opening_ = true;
  const bool started = session_->Start(operation, port, data, sessionTimings, post);
  opening_ = false;
  if (!started) return session_->Outcome();
  setWindowTitle(OperationCaption(operation));
  if (!session_->Ended()) exec();
  return session_->Outcome();
}

void ProgressDialog::Deliver(ProgressSession::Posted message) {
  posted_.push_back(message);
  HandlePosted();
}

void ProgressDialog::HandlePosted() {
  // One message at a time: one that arrives while a result box is open waits
  // until the box has been dismissed, and the close that follows a connect
  // waits until its pause is over.
  if (handling_ || pausing_) return;
  handling_ = true;
  while (!posted_.empty() && !pausing_) {
    const ProgressSession::Posted message = posted_.front();
    posted_.pop_front();
    session_->Handle(message);
    if (message == ProgressSession::Posted::kJobResultSuccess && operation_ == OperationCode::Connect &&
        connectPause_.count() > 0) {
      pausing_ = true;
      QTimer::singleShot(connectPause_, this, [this] {
        pausing_ = false;
        HandlePosted();
      });
    }
  }
  handling_ = false;
  CloseIfEnded();
}

void ProgressDialog::CloseIfEnded() {
  if (session_ != nullptr && session_->Ended()) QDialog::done(QDialog::Accepted);
}

void ProgressDialog::reject() {
  // The job has ended already while the full bar is on show: the window
  // closes by itself when the pause is over.
  if (session_ == nullptr || pausing_) return;
  session_->Cancel();
  CloseIfEnded();
}

QWidget* ProgressDialog::BoxParent() { return isVisible() ? this : parentWidget(); }

void ProgressDialog::ShowStatus(const std::string& text) {
  calls_.Send([this, &text] { status_->setText(QString::fromStdString(text)); });
}

void ProgressDialog::ShowProgressRange(std::uint16_t maximum) {
  // A range of nothing shows an empty bar, not Qt's busy indicator.
  calls_.Send([this, maximum] {
    rangeMaximum_ = maximum;
    bar_->setRange(0, std::max(rangeMaximum_, 1));
  });
}

void ProgressDialog::ShowProgressPosition(int position) {
  // Positions outside the range stand at its ends, as on the home platform.
  calls_.Send([this, position] { bar_->setValue(std::clamp(position, 0, rangeMaximum_)); });
}

void ProgressDialog::ShowMessage(const std::string& text, const std::string& caption) {
  calls_.Send([this, &text, &caption] { ShowBox(BoxParent(), caption, text, QMessageBox::NoIcon); });
}

bool ProgressDialog::AskStopUpgrade(const std::string& question, const std::string& caption) {
  return ShowBox(BoxParent(), caption, question, QMessageBox::Warning, QMessageBox::Yes | QMessageBox::No) ==
         QMessageBox::Yes;
}

void ProgressDialog::ShowSerialError(const std::string& caption, const std::string& systemText) {
  calls_.Send([this, &caption, &systemText] {
    // Only a port the session is opening: the job's later errors are about a
    // line that did open.
    notifier_.ShowSerialError(caption, opening_ ? systemText + OpenFailureNote(port_, deviceRoots_) : systemText);
  });
}

PortChoice DialogProgress::Port() const {
  // The port number is passed on as the home platform does: COM<n> with n as a signed number.
  return {static_cast<std::int32_t>(port_), {}};
}

JobOutcome DialogProgress::Run(OperationCode operation, const OperationData& data) {
  ProgressDialog dialog(&parent_, notifier_, deviceRoots_);
  return dialog.Run(operation, Port(), data, timings_);
}

}  // namespace torvix::app
