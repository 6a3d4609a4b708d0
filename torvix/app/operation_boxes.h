// The questions and boxes of TORVIX's operations as its windows show them:
// message boxes with the caption and icon each one has, and the password
// dialog, owned by one window.  TORVIX's main window and the channel editor
// both run the operations of torvix/ops through it.
#pragma once

#include <optional>
#include <string>

#include "torvix/ops/operations.h"

class QWidget;

namespace torvix::app {

class OperationBoxes : public OperationUi {
 public:
  // `owner` parents the boxes and outlives this object.
  explicit OperationBoxes(QWidget& owner) : owner_(owner) {}

  // User-interface thread (a progress window brings the job's calls there).
  // Each box and question returns when answered.
  void ShowMessage(const std::string& text, const std::string& caption) override;
  void ShowWarning(const std::string& text, const std::string& caption) override;
  bool AskStopUpgrade(const std::string& question, const std::string& caption) override;
  void ShowSerialError(const std::string& caption, const std::string& systemText) override;
  bool ConfirmReceiverOn(const std::string& text, const std::string& caption) override;
  bool ConfirmWholeUpgrade(const std::string& text, const std::string& caption) override;
  std::optional<std::string> AskAccessCode() override;
  // An operation's progress is shown by its own progress window, not here.
  void ShowStatus(const std::string&) override {}
  void ShowProgressRange(std::uint16_t) override {}
  void ShowProgressPosition(int) override {}

 private:
  QWidget& owner_;
};

}  // namespace torvix::app
