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

#include "common/serial_ports.h"
#include "torvix/app/operation_boxes.h"
#include "torvix/app/progress_dialog.h"
#include "torvix/ops/operations.h"

class QLabel;

namespace torvix::app {

class MainDialog : public QDialog, public OperationBoxes {
  Q_OBJECT
 public:
  // `factoryText` holds the program's database image; `timings` are the
  // link's limits (the production values unless a test shortens them).  Both
  // outlive the window.
  // The serial devices offered in "Communication Setup", and looked for when
  // a port does not open, lie under `deviceRoots` (the system's by default).
  MainDialog(FactoryText& factoryText, const LinkTimings& timings, common::DeviceRoots deviceRoots = {});

  // Reads the stored port number; when none is stored, asks for one with
  // "Communication Setup" before the window is shown.  Connects nowhere.
  void Start();

  std::uint32_t Port() const { return port_; }
  const ProgramValues& Values() const { return values_; }

  // What the last connect learnt, in the three fields; the operations' other
  // boxes and questions are OperationBoxes'.
  void ShowReceiverInformation(const ConnectReport& report) override;

 private:
  void OnSetupComm();
  void OnReadUserData();
  void OnWriteFactoryData();
  void OnUpgrade(int entry);
  void OnAbout();
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
  FactoryText& factoryText_;
  const LinkTimings& timings_;
  const common::DeviceRoots deviceRoots_;
  std::uint32_t port_ = 0;  // 1 COM1, 2 COM2, 0 none chosen (another stored number is used as it is)
  ProgramValues values_;    // the program-wide values of this run
  DialogProgress progress_;
  OperationContext context_;
};

}  // namespace torvix::app
