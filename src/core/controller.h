// The engine side of the main window: start-up order, the timers' entry
// points, queued messages, close and the close watchdog. Driven by the event
// loop of the window shell or of the headless runner; no widgets here.
#pragma once

#include <cstdint>
#include <string>

#include "common/message_box.h"
#include "core/command_line.h"
#include "core/deferred_queue.h"
#include "core/main_hooks.h"
#include "core/window_position.h"
#include "platform/clock.h"
#include "settings/applied_settings.h"
#include "settings/settings.h"

class INetworkAdapters;

inline constexpr const char* kApplicationTitle = "Norvo OPC Server";
inline constexpr const char* kMainCaption = "NorvoOPC Data Access Server";
inline constexpr const char* kClientsConnectedQuestion = "Clients connected to OPC server. Do you want to exit?";
inline constexpr const char* kShutdownReason = "NorvoOPC server is shutting down";

inline constexpr uint32_t kMasterTimerInterval = 10;
inline constexpr uint32_t kViewTimerInterval = 300;
inline constexpr uint32_t kBlinkTimerInterval = 80;
inline constexpr uint32_t kCloseWatchdogMs = 5000;
inline constexpr int32_t kAutoConnectDelayMs = 20000;

// The view tick's judgement of communication and the system tag values.
class IViewTickWork {
 public:
  virtual ~IViewTickWork() = default;
  virtual void ViewTick(uint32_t Tick, TDateTime Now, bool CommActive, TDateTime ServerStartedAt) = 0;
};

class TMainController : private IApplySettingsHooks {
 public:
  // All references must outlive the controller. Runs the constructor steps;
  // the single-instance check has already been passed by the program entry.
  TMainController(Clock& clock, IMessageBoxes& boxes, TMainWindowView& view, TServerHooks& hooks,
                  const INetworkAdapters& adapters, const TStartFlags& flags, const std::string& programFolder);
  ~TMainController() override;
  TMainController(const TMainController&) = delete;
  TMainController& operator=(const TMainController&) = delete;

  // Runs on every show; the first one brings the server up.
  void FormShow();
  // "Show Server" from the tray or a second instance.
  void ShowServer1Click();
  // "Close Window": a plain close.
  void acCloseMainWindowExecute();
  // "Server Shutdown" from the main menu, the tray menu or a signal.
  void mnuServerShutDownClick();
  // SIGTERM or SIGINT: "Server Shutdown" with nobody to answer a question.
  void SignalShutdown();
  // The desktop session asks whether it may end.
  void WMQueryEndSession();
  // The orderly end of the event loop (also when the close was skipped).
  void FormDestroy();
  // Automation mode: the last server object was released.
  void LastServerObjectReleased();

  // Runs in each view tick before the project set's share; not owned.
  void SetViewTickWork(IViewTickWork* work) { FViewTickWork = work; }

  // Timer entry points.
  void MasterTimerTick();
  void ViewTimerTick();
  void BlinkTimerTick();

  // Queued calls. The event loop runs DispatchMessages when woken.
  TDeferredQueue& Queue() { return FQueue; }
  void PostDeferred(std::function<void()> proc, const void* owner = nullptr) {
    FQueue.PostDeferred(std::move(proc), owner);
  }
  // Communication posts its preparation; `run` clears the driver's pending
  // flag and prepares. `driver` withdraws it if the driver goes first.
  void PostPrepareRequest(std::function<void()> run, const void* driver) {
    FQueue.Post(WM_PREPARE_REQUEST, std::move(run), driver);
  }
  void PostSelectionChanged();
  size_t DispatchMessages() { return FQueue.Dispatch(); }

  // Messages of a second instance or another program; the answer goes back.
  int64_t HandleInstanceMessage(uint32_t msg, const std::string& payload, int64_t lParam);

  // Called by the OPC layer on every AddItems.
  void AddItemsCalled();
  // The operator toggles "Connect".
  void acConnectExecute();
  // The settings dialog's OK, after it has saved the store.
  void ApplySettings() { FApplier.ApplySettings(); }

  // Position tracking from the window's events.
  TWindowPosition& Position() { return FPosition; }

  TSettings& Settings() { return FSettings; }
  TAppliedSettings& Applied() { return FApplied; }
  const TStartFlags& Flags() const { return FFlags; }

  // State, for the window side and for tests.
  bool Shown() const { return FShown; }
  bool Closed() const { return FClosed; }
  bool CommActive() const override { return FCommActive; }
  bool ShutdownOnPasswordFail() const { return FShutdownOnPasswordFail; }
  bool CloseWatchdogArmed() const { return FCloseWatchdogArmed; }
  int32_t AutoConnectCountdown() const { return FAutoConnectCountdown; }
  uint32_t UptimeStartTick() const { return FUptimeStart; }
  TDateTime ServerStartedAt() const { return FServerStartedAt; }
  bool TrayApplies() const { return FApplied.FShowTrayIcon && FView.Interactive(); }

 private:
  bool FormCloseQuery();
  void FormClose();
  void TryClose();
  void AskPassword();
  void StartCommunication();
  void WMHideToTray();
  void WMMaximizeMain();
  void PostMessage(uint32_t msg);

  // What applying the settings does outside the settings layer.
  bool ProjectSetExists() const override { return FHooks.ProjectSetExists(); }
  bool ConnectionChanged() const override { return FHooks.ConnectionChanged(); }
  void SetConnectionChanged(bool changed) override { FHooks.SetConnectionChanged(changed); }
  void SetServerShutdownEnabled(bool enabled) override { FView.SetTrayShutdownEnabled(enabled); }
  void ShowLegend(bool visible) override { FHooks.ShowLegend(visible); }
  void SetCommunication(bool active) override;
  bool RebuildDrivers() override { return FHooks.RebuildDrivers(); }
  void ApplyLogSettings() override { FHooks.ApplyLogSettings(); }
  void UpdateTrayIcon() override;
  void ReloadAllProjects() override { FHooks.ReloadAllProjects(); }

  Clock& FClock;
  IMessageBoxes& FBoxes;
  TMainWindowView& FView;
  TServerHooks& FHooks;
  TStartFlags FFlags;

  // FApplied holds the shared registry warning flag the store reports to.
  TAppliedSettings FApplied;
  TSettings FSettings;
  TSettingsApplier FApplier;
  TDeferredQueue FQueue;
  TWindowPosition FPosition;
  IViewTickWork* FViewTickWork = nullptr;

  uint32_t FUptimeStart = 0;
  TDateTime FServerStartedAt = 0;

  bool FShown = false;
  bool FEverShown = false;
  bool FShutdownRequested = false;
  bool FSignalled = false;
  bool FEndingSession = false;
  bool FShutdownOnPasswordFail = true;
  bool FAskPasswordOnShow = false;
  bool FCloseWatchdogArmed = false;
  uint32_t FCloseWatchdogStart = 0;
  int32_t FCloseWatchdogElapsed = 0;
  int32_t FAutoConnectCountdown = 0;
  bool FCommActive = false;
  bool FViewTimerEnabled = true;
  bool FBlinkTimerEnabled = true;
  bool FClosed = false;
  bool FDestroyed = false;
  bool FInPassword = false;
};
