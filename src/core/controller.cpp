#include "core/controller.h"

#include <exception>

namespace {

// Close and destruction go on whatever one step throws: the process must
// still end and the other data still be written.
template <typename F>
void Guarded(F&& step) {
  try {
    step();
  } catch (...) {
  }
}

}  // namespace

TMainController::TMainController(Clock& clock, IMessageBoxes& boxes, TMainWindowView& view, TServerHooks& hooks,
                                 const INetworkAdapters& adapters, const TStartFlags& flags,
                                 const std::string& programFolder)
    : FClock(clock),
      FBoxes(boxes),
      FView(view),
      FHooks(hooks),
      FFlags(flags),
      FSettings(boxes, FApplied.FRegistryWarningArmed),
      FApplier(FSettings, FApplied, adapters, *this) {
  FView.SetCaption(kMainCaption);
  FHooks.CreateProbePort();
  FHooks.SetCommunicationModeAutomatic();
  FHooks.OpenDebugLog(programFolder + "NorvoOPC" + "Debug.Log", FFlags.DebugLogSwitch);
  FUptimeStart = FClock.TickCount();
}

TMainController::~TMainController() { FormDestroy(); }

void TMainController::FormShow() {
  if (FClosed) return;
  if (!FEverShown) {
    FEverShown = true;
    FShown = true;
    FHooks.CreateSessionLog();
    FApplier.RegisterSettings();
    FHooks.CreateProjectSet();
    FHooks.ReadConfiguration();
    FHooks.LoadAllProjects();
    ViewTimerTick();
    FHooks.FocusProjectTreeRoot();
    if (FView.Interactive()) FPosition.RestoreWindowPosition(FView, [this] { PostMessage(WM_MAXIMIZE_MAIN); });
    if (FHooks.PlcCount() > 0) {
      FAutoConnectCountdown = 0;
      if (!FApplied.FDoNotAutoConnect) StartCommunication();
    }
    if (FApplied.FHighPriority) FHooks.SetHighPriority();
    FHooks.ResetCommunicationReferences(FClock.TickCount(), FClock.Now());
    FServerStartedAt = FClock.Now();
    if (FFlags.StartHidden) PostMessage(WM_HIDE_TO_TRAY);
    FHooks.ShowMonitorsAndMenus();
  }
  if (!FApplied.FUIPassword.empty() && !FFlags.StartHidden && FView.Interactive()) FAskPasswordOnShow = true;
}

void TMainController::ShowServer1Click() {
  if (FClosed) return;
  FView.ShowServer();
}

void TMainController::acCloseMainWindowExecute() { TryClose(); }

void TMainController::mnuServerShutDownClick() {
  if (FClosed) return;
  FShutdownRequested = true;
  TryClose();
}

void TMainController::SignalShutdown() {
  if (FClosed) return;
  // The service manager waits for the end; a box nobody answers would stall
  // it, so connected clients are told and the server ends.
  FSignalled = true;
  mnuServerShutDownClick();
}

void TMainController::WMQueryEndSession() {
  if (FClosed) return;
  FEndingSession = true;
  TryClose();
}

void TMainController::LastServerObjectReleased() {
  if (FFlags.Automation) FView.EndMessageLoop();
}

void TMainController::TryClose() {
  if (FClosed) return;
  if (FormCloseQuery()) FormClose();
}

bool TMainController::FormCloseQuery() {
  if (FShutdownRequested || FEndingSession || !TrayApplies()) {
    FEndingSession = false;
    if (!FSignalled && FHooks.ConnectedClientCount() > 0 && FBoxes.AskYesNo(kClientsConnectedQuestion) == TMsgAnswer::No) {
      FShutdownRequested = false;
      return false;
    }
    return true;
  }
  // A plain close with the tray icon on: the server keeps running.
  FShutdownOnPasswordFail = false;
  FView.SetTrayShutdownEnabled(FApplied.FUIPassword.empty());
  FView.SetMinimizeToTray(true);
  FView.MinimizeApplication();
  UpdateTrayIcon();
  return false;
}

void TMainController::FormClose() {
  FClosed = true;
  FViewTimerEnabled = false;
  FShown = false;
  if (FCommActive) {
    Guarded([this] { FHooks.SetCommunication(false); });
    FCommActive = false;
  }
  FBlinkTimerEnabled = false;
  Guarded([this] { FHooks.ProjectTreeFocusChanged(); });
  Guarded([this] { FHooks.WriteConfiguration(); });
  Guarded([this] { FHooks.SaveSettings(); });
  // Without a window there is no position to keep.
  if (FView.Interactive()) Guarded([this] { FPosition.SaveWindowPosition(FView, FFlags.StartedEmbedded); });
  Guarded([this] { FHooks.SaveMonitors(); });
  Guarded([this] { FHooks.ShutdownClients(kShutdownReason); });
  Guarded([this] { FHooks.RemoveAllProjects(); });
  FCloseWatchdogArmed = true;
  FCloseWatchdogStart = FClock.TickCount();
  FCloseWatchdogElapsed = 0;
  FView.EndMessageLoop();
}

void TMainController::FormDestroy() {
  if (FDestroyed) return;
  FDestroyed = true;
  if (FApplied.FHighPriority) Guarded([this] { FHooks.RestoreNormalPriority(); });
  Guarded([this] { FHooks.FreeSessionLog(); });
  Guarded([this] { FHooks.CloseDebugLog(); });
  Guarded([this] { FHooks.FreeServerList(); });
  Guarded([this] { FHooks.FreeProbePort(); });
}

void TMainController::MasterTimerTick() {
  if (!FClosed) FHooks.MasterTimerWork();
  if (FCloseWatchdogArmed) {
    // Measured on the clock rather than summed per tick: a late or starved
    // timer must not stretch the 5 s.
    FCloseWatchdogElapsed = static_cast<int32_t>(TickDiff(FClock.TickCount(), FCloseWatchdogStart));
    if (FCloseWatchdogElapsed > static_cast<int32_t>(kCloseWatchdogMs)) FView.EndProcessNow();
  }
}

void TMainController::ViewTimerTick() {
  if (!FViewTimerEnabled) return;
  if (FAskPasswordOnShow && FShown) {
    FAskPasswordOnShow = false;
    PostDeferred([this] { AskPassword(); }, this);
  }
  if (FAutoConnectCountdown > 0) {
    FAutoConnectCountdown -= static_cast<int32_t>(kViewTimerInterval);
    if (FAutoConnectCountdown <= 0) {
      FAutoConnectCountdown = 0;
      if (!FCommActive && FHooks.PlcCount() > 0) {
        StartCommunication();
        return;
      }
    }
  }
  if (FShown && FHooks.NameWarningPending() && !FHooks.NameWarningVisible()) PostMessage(WM_SHOW_NAME_WARNING);
  if (FViewTickWork) FViewTickWork->ViewTick(FClock.TickCount(), FClock.Now(), FCommActive, FServerStartedAt);
  FHooks.ViewTimerWork();
}

void TMainController::BlinkTimerTick() {
  if (FBlinkTimerEnabled) FHooks.BlinkTimerWork();
}

void TMainController::AskPassword() {
  if (FClosed || FInPassword) return;
  FInPassword = true;
  const bool ok = FHooks.AskPasswordDialog();
  FInPassword = false;
  if (ok) {
    FView.SetTrayShutdownEnabled(true);
    return;
  }
  FView.SetTrayShutdownEnabled(false);
  if (FShutdownOnPasswordFail) {
    mnuServerShutDownClick();
  } else {
    acCloseMainWindowExecute();
  }
}

void TMainController::UpdateTrayIcon() {
  FView.SetTrayIconVisible(TrayApplies());
  FView.SetMinimizeToTray(false);
}

void TMainController::StartCommunication() { SetCommunication(true); }

void TMainController::acConnectExecute() {
  if (FClosed) return;
  SetCommunication(!FCommActive);
}

void TMainController::AddItemsCalled() {
  if (FApplied.FDoNotAutoConnect) FAutoConnectCountdown = kAutoConnectDelayMs;
}

void TMainController::SetCommunication(bool active) {
  FHooks.SetCommunication(active);
  FCommActive = active;
}

void TMainController::WMHideToTray() {
  FFlags.StartHidden = false;
  UpdateTrayIcon();
  FView.SetMinimizeToTray(true);
  FView.MinimizeApplication();
  FView.SetMinimizeToTray(false);
  UpdateTrayIcon();
}

void TMainController::WMMaximizeMain() {
  if (FFlags.StartHidden) return;
  FView.SetWindowState(TWindowState::Maximized);
  if (FHooks.NameWarningVisible()) FHooks.BringNameWarningToFront();
}

void TMainController::PostSelectionChanged() { PostMessage(WM_SELECTION_CHANGED); }

void TMainController::PostMessage(uint32_t msg) {
  switch (msg) {
    case WM_MAXIMIZE_MAIN:
      FQueue.Post(msg, [this] { WMMaximizeMain(); }, this);
      break;
    case WM_SHOW_NAME_WARNING:
      // Ticks go on while the box is up; only a warning still pending shows.
      FQueue.Post(msg, [this] { if (FHooks.NameWarningPending()) FHooks.ShowNameWarning(); }, this);
      break;
    case WM_SELECTION_CHANGED:
      FQueue.Post(msg, [this] { FHooks.SelectionChanged(); }, this);
      break;
    case WM_HIDE_TO_TRAY:
      FQueue.Post(msg, [this] { WMHideToTray(); }, this);
      break;
    default:
      break;
  }
}

int64_t TMainController::HandleInstanceMessage(uint32_t msg, const std::string& /*payload*/, int64_t lParam) {
  switch (msg) {
    case WM_INSTANCE_QUERY:
      return 0;  // a second instance is never allowed
    case WM_INSTANCE_ENABLE_SHOW:
      return FFlags.StartedEmbedded && !FApplied.FShowTrayIcon ? 0 : 1;
    case WM_INSTANCE_ACTIVATE:
      ShowServer1Click();
      return 0;
    case WM_COMPORT_HANDOVER:
      FHooks.ComPortHandover(lParam);
      return 0;
    default:
      return 0;  // the handed command line is not used
  }
}
