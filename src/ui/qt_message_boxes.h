// The operator's modal boxes as Qt message boxes.
#pragma once

#include "common/message_box.h"

class QWidget;

class TQtMessageBoxes final : public IMessageBoxes {
 public:
  explicit TQtMessageBoxes(QWidget* parent) : FParent(parent) {}
  void ShowError(const std::string& text) override;
  void ShowWarning(const std::string& text) override;
  TMsgAnswer AskYesNo(const std::string& text) override;
  void ShowInformation(const std::string& text) override;

 private:
  QWidget* FParent;  // not owned; may be null
};
