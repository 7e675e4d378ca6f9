// The server without a window: boxes go to standard error (and the session
// log), questions take the answer that lets the request go on.
#pragma once

#include <functional>
#include <ostream>
#include <string>

#include "common/message_box.h"
#include "core/main_hooks.h"

class THeadlessMessageBoxes final : public IMessageBoxes {
 public:
  // `log` receives every line as well (the session log); may be empty.
  THeadlessMessageBoxes(std::ostream& err, std::function<void(const std::string&)> log)
      : FErr(err), FLog(std::move(log)) {}
  void ShowError(const std::string& text) override { Emit("Error: " + text); }
  void ShowWarning(const std::string& text) override { Emit("Warning: " + text); }
  void ShowInformation(const std::string& text) override { Emit(text); }
  TMsgAnswer AskYesNo(const std::string& text) override {
    Emit(text + " Yes");
    return TMsgAnswer::Yes;
  }

 private:
  void Emit(const std::string& line);
  std::ostream& FErr;
  std::function<void(const std::string&)> FLog;
};

class THeadlessView final : public TMainWindowView {
 public:
  bool Interactive() const override { return false; }
  void EndMessageLoop() override;
  void EndProcessNow() override;
};
