#include "torvix/app/operation_boxes.h"

#include "torvix/app/boxes.h"
#include "torvix/app/small_dialogs.h"

namespace torvix::app {

void OperationBoxes::ShowMessage(const std::string& text, const std::string& caption) {
  ShowBox(&owner_, caption, text, QMessageBox::NoIcon);
}

void OperationBoxes::ShowWarning(const std::string& text, const std::string& caption) {
  ShowBox(&owner_, caption, text, QMessageBox::Warning);
}

bool OperationBoxes::AskStopUpgrade(const std::string& question, const std::string& caption) {
  return ShowBox(&owner_, caption, question, QMessageBox::Warning, QMessageBox::Yes | QMessageBox::No) ==
         QMessageBox::Yes;
}

void OperationBoxes::ShowSerialError(const std::string& caption, const std::string& systemText) {
  // The port's box has no owner window.
  ShowBox(nullptr, caption, systemText, QMessageBox::Information);
}

bool OperationBoxes::ConfirmReceiverOn(const std::string& text, const std::string& caption) {
  return ShowBox(&owner_, caption, text, QMessageBox::Warning, QMessageBox::Ok | QMessageBox::Cancel) ==
         QMessageBox::Ok;
}

bool OperationBoxes::ConfirmWholeUpgrade(const std::string& text, const std::string& caption) {
  return ShowBox(&owner_, caption, text, QMessageBox::Warning, QMessageBox::Ok | QMessageBox::Cancel) ==
         QMessageBox::Ok;
}

std::optional<std::string> OperationBoxes::AskAccessCode() { return PasswordDialog::Ask(&owner_); }

}  // namespace torvix::app
