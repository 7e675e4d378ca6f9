#include "ui/qt_message_boxes.h"

#include <QMessageBox>
#include <QString>

void TQtMessageBoxes::ShowError(const std::string& text) {
  QMessageBox::critical(FParent, "Error", QString::fromStdString(text));
}

void TQtMessageBoxes::ShowWarning(const std::string& text) {
  QMessageBox::warning(FParent, "Warning", QString::fromStdString(text));
}

TMsgAnswer TQtMessageBoxes::AskYesNo(const std::string& text) {
  const auto answer = QMessageBox::question(FParent, "Confirm", QString::fromStdString(text),
                                            QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
  return answer == QMessageBox::Yes ? TMsgAnswer::Yes : TMsgAnswer::No;
}

void TQtMessageBoxes::ShowInformation(const std::string& text) {
  QMessageBox::information(FParent, "Information", QString::fromStdString(text));
}
