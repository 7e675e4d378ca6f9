// The operator's modal boxes, behind an interface so the engine runs without
// widgets; the window layer implements it and tests fake it.
#pragma once

#include <string>

enum class TMsgAnswer { Yes, No };

class IMessageBoxes {
 public:
  virtual ~IMessageBoxes() = default;
  // Error box with an OK button.
  virtual void ShowError(const std::string& text) = 0;
  virtual void ShowWarning(const std::string& text) = 0;
  // Question with Yes and No buttons.
  virtual TMsgAnswer AskYesNo(const std::string& text) = 0;
  virtual void ShowInformation(const std::string& text) = 0;
};

inline constexpr const char* kRegistryRightsMessage =
    "Unable to modify system registry, please log on with administrator rights";

// Every registry writer reports a failed write through here: operator actions
// arm the warning first, so one action shows the box at most once and
// automatic saves stay quiet.
inline void ReportRegistryWriteFailure(bool& warningArmed, IMessageBoxes& boxes) {
  if (!warningArmed) return;
  warningArmed = false;
  boxes.ShowError(kRegistryRightsMessage);
}
