#include "ui/headless_view.h"

#include <QCoreApplication>
#include <cstdlib>

void THeadlessMessageBoxes::Emit(const std::string& line) {
  FErr << line << std::endl;
  if (FLog) FLog(line);
}

void THeadlessView::EndMessageLoop() { QCoreApplication::quit(); }

void THeadlessView::EndProcessNow() { std::_Exit(0); }
