// The whole server without a window toolkit: the project set, the
// communication scheduler and its transports, the status judgement and
// system tags, the session and debug logs, the OPC server collection and
// the serial-port hand-over socket, joined behind the main controller's
// hooks. The program entry and the end-to-end tests run the same object;
// only the event loop around it differs.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/comm_status.h"
#include "core/controller.h"
#include "core/event_loop_work.h"
#include "core/main_hooks.h"
#include "core/opc_project.h"
#include "core/project_set_hooks.h"
#include "core/scheduler.h"
#include "core/server_com_state.h"
#include "log/session_log.h"
#include "model/tag_environment.h"
#include "opc/address_space.h"

class ISerialPort;
class TComPortHandoverServer;
class TOPCServerCollection;
class TProjectAddressSpace;

struct TServerEngineOptions {
  // Folder of the session log file; ends with '/'.
  std::string DataFolder;
  // Folder of the hand-over socket; empty: no hand-over socket.
  std::string RuntimeFolder;
  // The version shown in the session log's first line.
  std::string VersionText = "2.0.0";
  // The pause after stopping the ports really waits (tests skip it).
  bool RealWaits = true;
};

class TServerEngine final : public TServerHooks,
                            public IEventLoopWork,
                            public IViewTickWork,
                            private IProjectSetHooks,
                            private ISessionLogView,
                            private IOPCServerHost,
                            private ITagEnvironment,
                            private ICommStatusHooks {
 public:
  // Clock and Boxes must outlive the engine; Collection is the process's
  // OPC server list (its environment is set here and cleared again).
  TServerEngine(Clock& Time, IMessageBoxes& Boxes, TOPCServerCollection& Collection, TServerEngineOptions Options);
  ~TServerEngine() override;
  TServerEngine(const TServerEngine&) = delete;
  TServerEngine& operator=(const TServerEngine&) = delete;

  // Before the controller's first show; the controller must outlive the
  // engine's use of it (detach with Detach before it goes).
  void Attach(TMainController& Controller);
  void Detach();

  // The window's status-bar text; may be empty.
  void SetStatusTextSink(std::function<void(const std::string&)> Sink) { FStatusSink = std::move(Sink); }

  TOPCProject* ProjectSet() { return FSetHooks.ProjectSet(); }
  TCommScheduler* Scheduler() { return FScheduler.get(); }
  TSessionLog* SessionLog() { return FSessionLog.get(); }
  // Both exist from the first show on.
  TServerComState* ComState() { return FState.get(); }
  TServerCommCounters* Counters() { return FScheduler ? &FScheduler->FCounters : nullptr; }

  // ---- TServerHooks ----
  void CreateProbePort() override;
  void OpenDebugLog(const std::string& FileName, bool Enabled) override;
  void CreateSessionLog() override;
  void CreateProjectSet() override;
  bool ProjectSetExists() const override { return FSetHooks.ProjectSetExists(); }
  void ReadConfiguration() override { FSetHooks.ReadConfiguration(); }
  void LoadAllProjects() override { FSetHooks.LoadAllProjects(); }
  int PlcCount() const override { return FSetHooks.PlcCount(); }
  void ResetCommunicationReferences(uint32_t NowTick, TDateTime Now) override;
  bool RebuildDrivers() override { return FSetHooks.RebuildDrivers(); }
  void ApplyLogSettings() override;
  void ReloadAllProjects() override { FSetHooks.ReloadAllProjects(); }
  void SetCommunication(bool On) override;
  void MasterTimerWork() override;
  void ViewTimerWork() override { FSetHooks.ViewTimerWork(); }
  bool NameWarningPending() const override { return FSetHooks.NameWarningPending(); }
  void ComPortHandover(int64_t LParam) override;
  void WriteSessionLog(const std::string& Line) override;
  int ConnectedClientCount() const override;
  void WriteConfiguration() override { FSetHooks.WriteConfiguration(); }
  void ShutdownClients(const std::string& Reason) override;
  void RemoveAllProjects() override { FSetHooks.RemoveAllProjects(); }
  void FreeSessionLog() override;
  void CloseDebugLog() override;
  void FreeServerList() override;
  void FreeProbePort() override;

  // ---- IEventLoopWork ----
  void GroupTimerTick() override;
  std::vector<int> WatchedFds() const override;
  void Readable(int Fd) override;
  void SetWatchListener(std::function<void(int ClosingFd)> Listener) override { FWatchListener = std::move(Listener); }

  // ---- IViewTickWork ----
  void ViewTick(uint32_t Tick, TDateTime Now, bool CommActive, TDateTime ServerStartedAt) override;

  // The answer to a hand-over request (the socket's and the instance
  // message's).
  int64_t HandleComPortHandover(int64_t LParam);

 private:
  // ---- IProjectSetHooks (inner to the scheduler's) ----
  void CreateTransport(TCommDriver& Driver, bool Communicating) override;
  void FreeTransport(TCommDriver& Driver) override;
  void ProbeSerialPorts() override;
  void Wait(uint32_t Ms) override;

  // ---- ISessionLogView ----
  bool MainWindowShown() const override;
  void ShowStatusText(const std::string& Text) override;

  // ---- IOPCServerHost ----
  TDateTime ServerStartTime() const override;
  bool WaitForClient() const override;
  void RestartAutoConnectCountdown() override;
  bool QualityIndependentSyncRead() const override;
  bool HideArrayElements() const override;

  // ---- ITagEnvironment ----
  bool EnableBad() const override;
  bool EnableUncertain() const override;
  uint32_t UncertainTime() const override;
  uint32_t BadTime() const override;
  TDateTime CachedNow() const override;
  uint32_t CachedTick() const override;
  TDateTime PresentTime() const override { return FTime.Now(); }
  bool PermissionRecent() const override { return FState && FState->FPermissionRecent; }

  // ---- ICommStatusHooks ----
  int IndicatorState(const TCommDriver& Driver) const override;
  std::optional<bool> ReadDSR(TCommDriver& Driver) override;
  void QueueSwitchToDedicatedIP() override;
  void ClockSyncTrigger() override;
  int32_t ClientsConnected() const override;
  int32_t MonitoredItems() const override;

  // Takes the clock into the cached tick and time (receive handlers stamp
  // tags with them).
  void RefreshNow();
  void WatchesChanged(int ClosingFd);
  bool CommActive() const;
  const TAppliedSettings* Applied() const;

  Clock& FTime;
  IMessageBoxes& FBoxes;
  TOPCServerCollection& FCollection;
  TServerEngineOptions FOptions;
  TMainController* FController = nullptr;  // not owned

  std::unique_ptr<TSessionLog> FSessionLog;
  std::unique_ptr<ISerialPort> FProbePort;
  // Made with the session log (the scheduler logs to it); the state reads
  // the scheduler's counters.
  std::unique_ptr<TCommScheduler> FScheduler;
  std::unique_ptr<TServerComState> FState;
  std::unique_ptr<TCommProjectHooks> FCommHooks;
  std::unique_ptr<TCommStatus> FStatus;
  std::unique_ptr<TProjectAddressSpace> FAddressSpace;
  std::unique_ptr<TComPortHandoverServer> FHandover;
  std::function<void(int)> FWatchListener;
  std::function<void(const std::string&)> FStatusSink;
  // Holds the project set; declared after everything the set calls back
  // into, so it goes first.
  mutable TProjectSetServerHooks FSetHooks;
  bool FDebugLogOn = false;
  bool FTagEnvironmentSet = false;
};
