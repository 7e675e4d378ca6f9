// The running configuration: plain fields that the rest of the server reads,
// changed only by TSettingsApplier (at start-up and after the settings
// dialog's OK).
#pragma once

#include <cstdint>
#include <string>

#include "log/log_gates.h"
#include "platform/adapters.h"

class TSettings;
class IMessageBoxes;
class INetworkAdapters;

// The log options come from TLogOptions so the session log can read them
// without knowing the rest.
struct TAppliedSettings : TLogOptions {
  bool FShowTrayIcon = true;
  bool FEnableUncertain = true;
  bool FEnableBad = true;
  bool FQualityIndependentSyncRead = false;
  int32_t FDefSerialPort = 1;    // 1-based serial port number
  int32_t FTagNameWarnLen = -1;  // -1: no warning
  int32_t FMaxBlockSize = 512;
  int32_t FMinBlockUsage = 5;
  int32_t FMyNAD = 100;
  int32_t FMasterTimeOut = 1000;
  bool FAutoReload = true;
  bool FHideArrayElements = true;
  bool FHighPriority = false;
  bool FBackwardCompatible = false;
  bool FDoNotAutoConnect = false;
  bool FNewPortPerMessage = false;
  bool FBackgroundRefreshTags = true;
  bool FPeriodicRTCSync = true;
  bool FBackgroundRefreshStatus = true;
  int32_t FUncertainTime = 5;  // seconds
  int32_t FBadTime = 10;       // seconds
  bool FAnimatedCom = true;
  bool FAllowZeltaTakeOver = true;
  bool FSerialSelected = true;
  int32_t FTagNameFormat = 0;
  bool FEthFullBandwidth = false;

  int32_t FMasterMode = 2;  // 0 slave, 1 master, 2 automatic
  std::string FAdapterName;
  std::string FUIPassword;  // encoded; empty = none
  uint16_t FPLCPassword = 0;

  int32_t FAppliedTagNameFormat = 0;  // the format the project set was built with
  std::string FAppliedAdapterName;    // the adapter the drivers were built with
  bool FAdapterChanged = false;
  TIPv4SocketAddress FLocalAddress;   // port 0, the chosen adapter's address
  uint32_t FBroadcastAddress = 0;     // host byte order
  bool FNoAdapter = false;
  // Shared by every registry writer; operator actions arm it so that their
  // failure is shown once.
  bool FRegistryWarningArmed = false;
};

// What applying the settings does to the parts of the program the settings
// layer cannot see; the controller implements it.
class IApplySettingsHooks {
 public:
  virtual ~IApplySettingsHooks() = default;
  virtual bool ProjectSetExists() const = 0;
  virtual bool CommActive() const = 0;
  // The settings dialog's "connections need rebuilding" flag.
  virtual bool ConnectionChanged() const = 0;
  virtual void SetConnectionChanged(bool changed) = 0;
  // The tray menu's "Server Shutdown" item.
  virtual void SetServerShutdownEnabled(bool enabled) = 0;
  virtual void ShowLegend(bool visible) = 0;
  virtual void SetCommunication(bool active) = 0;
  // Rebuilds the communication drivers; false when it failed (and said so),
  // which abandons the rest of the apply.
  virtual bool RebuildDrivers() = 0;
  // The session log re-evaluates whether its file is open.
  virtual void ApplyLogSettings() = 0;
  virtual void UpdateTrayIcon() = 0;
  // Reloads every project, not only changed ones.
  virtual void ReloadAllProjects() = 0;
};

class TSettingsApplier {
 public:
  // All arguments are owned by the caller and must outlive the applier.
  TSettingsApplier(TSettings& settings, TAppliedSettings& applied, const INetworkAdapters& adapters,
                   IApplySettingsHooks& hooks);

  // Once, at the first showing of the main window: catalogue, load, apply.
  void RegisterSettings();
  void ApplySettings();
  void SelectAdapter(const std::string& name);

 private:
  void EnforceLimits();
  bool Bool(const char* control) const;
  int32_t Int(const char* control) const;

  TSettings& FSettings;
  TAppliedSettings& FApplied;
  const INetworkAdapters& FAdapters;
  IApplySettingsHooks& FHooks;
};
