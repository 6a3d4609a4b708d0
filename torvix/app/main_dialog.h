// "MeridLink - 4.0", TORVIX's main window: what the receiver reported at the
// last connect, and one button per operation.  Every operation runs on the
// user-interface thread, modally: its questions, file dialog and progress
// window take all input until it has finished.  The operations themselves,
// and everything they decide, are torvix/ops'; this window only asks and shows.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <QDialog>

#include "common/history/history.h"
#include "common/history_server/uploader.h"
#include "common/qt/history_view.h"
#include "common/qt/ui_calls.h"
#include "common/serial_ports.h"
#include "torvix/app/operation_boxes.h"
#include "torvix/app/progress_dialog.h"
#include "torvix/ops/operations.h"

class QLabel;
class QLineEdit;

namespace torvix::app {

class MainDialog : public QDialog, public OperationBoxes {
  Q_OBJECT
 public:
  // `factoryText` holds the program's database image; `timings` are the
  // link's limits (the production values unless a test shortens them).  Both
  // outlive the window.
  // The serial devices offered in "Communication Setup", and looked for when
  // a port does not open, lie under `deviceRoots` (the system's by default).
  // The operations are recorded in `history` (RT_HISTORY's by default).
  MainDialog(FactoryText& factoryText, const LinkTimings& timings, common::DeviceRoots deviceRoots = {},
             history::Location history = common::qt::EnvironmentHistory());

  // Reads the stored port number; when none is stored, asks for one with
  // "Communication Setup" before the window is shown.  Connects nowhere.
  void Start();

  std::uint32_t Port() const { return port_; }
  const ProgramValues& Values() const { return values_; }

  // What the last connect learnt, in the three fields; the operations' other
  // boxes and questions are OperationBoxes'.
  void ShowReceiverInformation(const ConnectReport& report) override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void OnSetupComm();
  void OnReadUserData();
  void OnWriteFactoryData();
  void OnUpgrade(int entry);
  void OnAbout();
  void OnHistory();
  // The history cannot be written: said once, in a box that holds up nothing.
  void ShowHistoryWarning(const std::string& line);
  // The unit field's text, none when empty.
  std::optional<std::string> Unit() const;
  // Starts the channel editor on its own (it outlives this window).
  void OnEditChannelList();
  // "Communication Setup" with the present port; stores the port after OK
  // and after Cancel, the devices changed after OK only; true after OK.
  bool ChoosePort();
  // The file dialog with `fileName` proposed: the chosen path, none when cancelled.
  std::optional<std::string> ChooseFile(const char* fileName, const char* filters, bool toWrite);
  void ReportFileError(OperationResult result, const std::string& error);

  QLabel* software_;
  QLabel* hardware_;
  QLabel* status_;
  QLineEdit* unit_;
  FactoryText& factoryText_;
  const LinkTimings& timings_;
  const common::DeviceRoots deviceRoots_;
  std::uint32_t port_ = 0;  // 1 COM1, 2 COM2, 0 none chosen (another stored number is used as it is)
  ProgramValues values_;    // the program-wide values of this run
  common::qt::UiCalls calls_;  // the history's warning, from whichever thread it comes
  const history::Location history_;
  history::Recorder recorder_;  // after calls_: it warns through them
  // Uploads the rows to the shared database, when one is set; warns through calls_.
  std::unique_ptr<history_server::Uploader> uploader_;
  DialogProgress progress_;
  OperationContext context_;
};

}  // namespace torvix::app
