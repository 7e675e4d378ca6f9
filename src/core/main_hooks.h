// What the main-window controller reaches through interfaces: the window
// side (Qt shell or headless runner) and the parts of the server built in
// later layers. Every hook has a harmless default so each can be wired on
// its own.
#pragma once

#include <cstdint>
#include <string>

#include "core/window_position.h"

// The window side of the main window.
class TMainWindowView : public TPositionTarget {
 public:
  // False without an operator at a screen (headless): no tray, no password
  // prompt, questions take the answer that lets the request go on.
  virtual bool Interactive() const { return true; }

  virtual void SetCaption(const std::string& /*caption*/) {}
  virtual void SetTrayIconVisible(bool /*visible*/) {}
  virtual void SetMinimizeToTray(bool /*on*/) {}
  // Minimises the application; with minimise-to-tray on the window goes to
  // the tray (or, where the desktop has no tray, only minimises).
  virtual void MinimizeApplication() {}
  // "Show Server": restore, normal state if minimised, show, to the front.
  virtual void ShowServer() {}
  virtual void SetTrayShutdownEnabled(bool /*enabled*/) {}
  // The close was allowed: end the event loop.
  virtual void EndMessageLoop() {}
  // The close watchdog ran out: end the process now, exit code 0.
  virtual void EndProcessNow() = 0;

  void SetBounds(const TWindowBounds& /*bounds*/) override {}
  void SetWindowState(TWindowState /*state*/) override {}
  TWindowState WindowState() const override { return TWindowState::Normal; }
};

// The server's parts that the main window drives, each step named as the
// window's own sequence calls it.
class TServerHooks {
 public:
  virtual ~TServerHooks() = default;

  // Construction.
  virtual void CreateProbePort() {}
  virtual void SetCommunicationModeAutomatic() {}
  virtual void OpenDebugLog(const std::string& /*fileName*/, bool /*enabled*/) {}

  // First show.
  virtual void CreateSessionLog() {}
  virtual void CreateProjectSet() {}
  virtual bool ProjectSetExists() const { return false; }
  virtual void ReadConfiguration() {}
  virtual void LoadAllProjects() {}
  virtual void FocusProjectTreeRoot() {}
  virtual int PlcCount() const { return 0; }
  virtual void SetHighPriority() {}
  virtual void ResetCommunicationReferences(uint32_t /*nowTick*/, double /*now*/) {}
  virtual void ShowMonitorsAndMenus() {}

  // Applying the settings.
  virtual bool ConnectionChanged() const { return false; }
  virtual void SetConnectionChanged(bool /*changed*/) {}
  virtual void ShowLegend(bool /*visible*/) {}
  virtual bool RebuildDrivers() { return true; }
  virtual void ApplyLogSettings() {}
  virtual void ReloadAllProjects() {}

  // Running.
  virtual void SetCommunication(bool /*on*/) {}
  virtual void MasterTimerWork() {}
  virtual void ViewTimerWork() {}
  virtual void BlinkTimerWork() {}
  virtual bool NameWarningPending() const { return false; }
  virtual bool NameWarningVisible() const { return false; }
  virtual void ShowNameWarning() {}
  virtual void BringNameWarningToFront() {}
  virtual void SelectionChanged() {}
  virtual void ComPortHandover(int64_t /*lParam*/) {}
  // The password dialog, modal; true on OK.
  virtual bool AskPasswordDialog() { return false; }
  // The server's error box in headless mode also goes to the session log.
  virtual void WriteSessionLog(const std::string& /*line*/) {}

  // Close.
  virtual int ConnectedClientCount() const { return 0; }
  virtual void ProjectTreeFocusChanged() {}
  virtual void WriteConfiguration() {}
  virtual void SaveSettings() {}
  virtual void SaveMonitors() {}
  virtual void ShutdownClients(const std::string& /*reason*/) {}
  virtual void RemoveAllProjects() {}

  // Destruction.
  virtual void RestoreNormalPriority() {}
  virtual void FreeSessionLog() {}
  virtual void CloseDebugLog() {}
  virtual void FreeServerList() {}
  virtual void FreeProbePort() {}
};
