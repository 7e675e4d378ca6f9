#include "app/server_engine.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "comm/serial_transport.h"
#include "core/com_port_handover.h"
#include "log/logger.h"
#include "opc/opc_group.h"
#include "opc/opc_server.h"
#include "opc/opc_server_collection.h"
#include "opc/project_address_space.h"
#include "platform/serial_port.h"
#include "settings/applied_settings.h"

TServerEngine::TServerEngine(Clock& Time, IMessageBoxes& Boxes, TOPCServerCollection& Collection,
                             TServerEngineOptions Options)
    : FTime(Time), FBoxes(Boxes), FCollection(Collection), FOptions(std::move(Options)), FSetHooks(Boxes, Time) {
  FCollection.Env().host = static_cast<IOPCServerHost*>(this);
  FCollection.Env().clock = &FTime;
}

TServerEngine::~TServerEngine() {
  // The projects go while everything they call back into still lives; the
  // project set itself is the first member to go.
  FWatchListener = {};
  FSetHooks.RemoveAllProjects();
  // The scheduler outlives the set: it must not walk the freed drivers.
  if (FScheduler) FScheduler->SetProjectSet(nullptr);
  if (FHandover) FHandover->Close();
  TOPCEnvironment& env = FCollection.Env();
  if (env.host == static_cast<IOPCServerHost*>(this)) env.host = nullptr;
  if (env.addressSpace == FAddressSpace.get()) env.addressSpace = nullptr;
  if (env.sessionLog == FSessionLog.get()) env.sessionLog = nullptr;
  if (env.clock == &FTime) env.clock = nullptr;
  if (FTagEnvironmentSet) SetTagEnvironment(nullptr);
  Detach();
}

void TServerEngine::Attach(TMainController& Controller) {
  FController = &Controller;
  FSetHooks.Attach(Controller.Applied());
  FSetHooks.SetProjectSetHooks(static_cast<IProjectSetHooks*>(this));
  Controller.SetViewTickWork(this);
  SetTagEnvironment(static_cast<ITagEnvironment*>(this));
  FTagEnvironmentSet = true;
}

void TServerEngine::Detach() {
  if (!FController) return;
  FController->SetViewTickWork(nullptr);
  FController = nullptr;
}

const TAppliedSettings* TServerEngine::Applied() const { return FController ? &FController->Applied() : nullptr; }

bool TServerEngine::CommActive() const { return FController && FController->CommActive(); }

// ---- construction and first show ------------------------------------------

void TServerEngine::CreateProbePort() { FProbePort = std::make_unique<TPosixSerialPort>(); }

void TServerEngine::OpenDebugLog(const std::string& /*FileName*/, bool Enabled) {
  // The process's logger already names the same file in the program folder.
  FDebugLogOn = Enabled;
  Logger().FEnabled = Enabled;
  Logger().SetClock(&FTime);
  FCollection.FDebugLog = Enabled;
  if (Enabled) Logger().SessionStart();
}

void TServerEngine::CreateSessionLog() {
  if (FSessionLog || !FController) return;
  TMainController& c = *FController;
  FSessionLog = std::make_unique<TSessionLog>(c.Applied(), FTime, static_cast<ISessionLogView*>(this), FOptions.DataFolder, FOptions.VersionText);
  FSetHooks.SetSessionLog(FSessionLog.get());
  FCollection.Env().sessionLog = FSessionLog.get();

  FScheduler = std::make_unique<TCommScheduler>(TSchedulerContext{
      c.Applied(), FTime, FSessionLog.get(), [this] { return FController && FController->Shown(); },
      [this](std::function<void()> Run, const void* Driver) {
        if (FController) FController->PostPrepareRequest(std::move(Run), Driver);
      },
      [this](std::function<void()> Proc) {
        if (FController) FController->PostDeferred(std::move(Proc), this);
      },
      [this](const void* Driver) {
        if (FController) FController->Queue().DropFor(Driver);
      }});
  FState = std::make_unique<TServerComState>(FScheduler->FCounters);
  FCommHooks = std::make_unique<TCommProjectHooks>(*FScheduler, static_cast<IProjectSetHooks*>(this));
  FSetHooks.SetProjectSetHooks(FCommHooks.get());
  FStatus = std::make_unique<TCommStatus>(*FState, c.Applied(), static_cast<ICommStatusHooks&>(*this), [this] { return FSetHooks.ProjectSet(); },
                                          FSessionLog.get());
}

void TServerEngine::CreateProjectSet() {
  // A session log is made first at the first show; without one (a caller
  // skipping it) the scheduler still needs its place.
  if (!FSessionLog) CreateSessionLog();
  FSetHooks.CreateProjectSet();
  TOPCProject* project = FSetHooks.ProjectSet();
  if (!project) return;
  if (FScheduler) FScheduler->SetProjectSet(project);
  FAddressSpace = std::make_unique<TProjectAddressSpace>(*project);
  FCollection.Env().addressSpace = FAddressSpace.get();
  if (!FOptions.RuntimeFolder.empty() && !FHandover) {
    FHandover = std::make_unique<TComPortHandoverServer>();
    if (FHandover->Listen(FOptions.RuntimeFolder, [this](int64_t, int64_t LParam) {
          return HandleComPortHandover(LParam);
        })) {
      WatchesChanged(-1);
    } else {
      WriteSessionLog("Serial port hand-over not available: " + FHandover->LastError());
      FHandover.reset();
    }
  }
}

void TServerEngine::ResetCommunicationReferences(uint32_t NowTick, TDateTime /*Now*/) {
  if (!FState) return;
  FState->ResetReferences(NowTick);
  FState->StartUptime(NowTick);
}

void TServerEngine::ApplyLogSettings() {
  if (FSessionLog) FSessionLog->ApplyLogSettings();
}

// ---- running -----------------------------------------------------------------

void TServerEngine::SetCommunication(bool On) {
  FSetHooks.SetCommunication(On);
  WatchesChanged(-1);
}

void TServerEngine::RefreshNow() {
  if (!FState) return;
  FState->FTickNow = FTime.TickCount();
  FState->FNow = FTime.Now();
}

void TServerEngine::MasterTimerWork() {
  if (!FScheduler) return;
  RefreshNow();
  FScheduler->MasterTimerTick();
}

void TServerEngine::ViewTick(uint32_t Tick, TDateTime Now, bool CommActive, TDateTime ServerStartedAt) {
  if (FStatus) FStatus->ViewTick(Tick, Now, CommActive, ServerStartedAt);
}

void TServerEngine::GroupTimerTick() { FCollection.TimerTick(); }

std::vector<int> TServerEngine::WatchedFds() const {
  std::vector<int> fds;
  // Only while communicating: a socket nobody reads would stay readable.
  if (const TOPCProject* project = FSetHooks.ProjectSet(); project && project->FCommunicating) {
    for (const auto& d : project->FDrivers)
      if (const ICommTransport* t = d->Transport(); t && d->IsUDP() && t->Fd() >= 0) fds.push_back(t->Fd());
  }
  if (FHandover) {
    if (FHandover->ListenFd() >= 0) fds.push_back(FHandover->ListenFd());
    for (int fd : FHandover->ConnectionFds()) fds.push_back(fd);
  }
  return fds;
}

void TServerEngine::Readable(int Fd) {
  if (Fd < 0) return;
  if (FHandover) {
    const std::vector<int> conns = FHandover->ConnectionFds();
    if (Fd == FHandover->ListenFd() || std::find(conns.begin(), conns.end(), Fd) != conns.end()) {
      // Serving may close connections: the loop drops their watchers at once.
      FHandover->Serve();
      WatchesChanged(-1);
      return;
    }
  }
  TOPCProject* project = FSetHooks.ProjectSet();
  if (!project || !project->FCommunicating) return;
  RefreshNow();
  for (size_t i = 0; i < project->FDrivers.size(); ++i) {
    ICommTransport* t = project->FDrivers[i]->Transport();
    if (t && project->FDrivers[i]->IsUDP() && t->Fd() == Fd) {
      t->OnReadable();
      return;
    }
  }
}

void TServerEngine::WatchesChanged(int ClosingFd) {
  if (FWatchListener) FWatchListener(ClosingFd);
}

void TServerEngine::CreateTransport(TCommDriver& /*Driver*/, bool /*Communicating*/) { WatchesChanged(-1); }

void TServerEngine::FreeTransport(TCommDriver& Driver) {
  if (ICommTransport* t = Driver.Transport(); t && t->Fd() >= 0) WatchesChanged(t->Fd());
  if (FStatus) FStatus->ForgetDriver(&Driver);
}

void TServerEngine::ProbeSerialPorts() {
  TOPCProject* project = FSetHooks.ProjectSet();
  if (!project || !FProbePort || FOptions.RuntimeFolder.empty()) return;
  TRuntimeProbeHost host(*FProbePort, FOptions.RuntimeFolder);
  ::ProbeSerialPorts(*project, host);
}

void TServerEngine::Wait(uint32_t Ms) {
  if (FOptions.RealWaits) std::this_thread::sleep_for(std::chrono::milliseconds(Ms));
}

int64_t TServerEngine::HandleComPortHandover(int64_t LParam) {
  const TAppliedSettings* a = Applied();
  bool stopComm = false;
  const int64_t answer =
      ComPortHandoverAnswer(FSetHooks.ProjectSet(), CommActive(), a && a->FAllowZeltaTakeOver, LParam, stopComm);
  // The tool waits for the answer; the ports close after it has it.
  if (stopComm && FController)
    FController->PostDeferred([this] {
      if (FController && FController->CommActive()) FController->acConnectExecute();
    }, this);
  return answer;
}

void TServerEngine::ComPortHandover(int64_t LParam) { HandleComPortHandover(LParam); }

void TServerEngine::WriteSessionLog(const std::string& Line) {
  if (FSessionLog) FSessionLog->Write(Line, true);
}

// ---- close and destruction -------------------------------------------------

int TServerEngine::ConnectedClientCount() const { return static_cast<int>(FCollection.Count()); }

void TServerEngine::ShutdownClients(const std::string& Reason) { FCollection.SendShutdownRequests(Reason); }

void TServerEngine::FreeSessionLog() {
  if (FCollection.Env().sessionLog == FSessionLog.get()) FCollection.Env().sessionLog = nullptr;
  // The scheduler and the status keep pointers to it: they stop logging.
  FSetHooks.SetSessionLog(nullptr);
}

void TServerEngine::CloseDebugLog() {
  if (FDebugLogOn) Logger().SessionEnd();
  FDebugLogOn = false;
}

void TServerEngine::FreeServerList() {
  TOPCEnvironment& env = FCollection.Env();
  if (env.addressSpace == FAddressSpace.get()) env.addressSpace = nullptr;
  if (env.host == static_cast<IOPCServerHost*>(this)) env.host = nullptr;
}

void TServerEngine::FreeProbePort() { FProbePort.reset(); }

// ---- the session log's and the OPC objects' view of the window ------------

bool TServerEngine::MainWindowShown() const { return FController && FController->Shown(); }

void TServerEngine::ShowStatusText(const std::string& Text) {
  if (FStatusSink) FStatusSink(Text);
}

TDateTime TServerEngine::ServerStartTime() const { return FController ? FController->ServerStartedAt() : 0; }

bool TServerEngine::WaitForClient() const { return Applied() && Applied()->FDoNotAutoConnect; }

void TServerEngine::RestartAutoConnectCountdown() {
  if (FController) FController->AddItemsCalled();
}

bool TServerEngine::QualityIndependentSyncRead() const { return Applied() && Applied()->FQualityIndependentSyncRead; }

bool TServerEngine::HideArrayElements() const { return !Applied() || Applied()->FHideArrayElements; }

// ---- tags ----------------------------------------------------------------------

bool TServerEngine::EnableBad() const { return !Applied() || Applied()->FEnableBad; }
bool TServerEngine::EnableUncertain() const { return !Applied() || Applied()->FEnableUncertain; }

uint32_t TServerEngine::UncertainTime() const {
  return Applied() ? static_cast<uint32_t>(std::max(0, Applied()->FUncertainTime)) : 5;
}

uint32_t TServerEngine::BadTime() const {
  return Applied() ? static_cast<uint32_t>(std::max(0, Applied()->FBadTime)) : 10;
}

TDateTime TServerEngine::CachedNow() const { return FState ? FState->FNow : FTime.Now(); }

uint32_t TServerEngine::CachedTick() const { return FState ? FState->FTickNow : FTime.TickCount(); }

// ---- status hooks ------------------------------------------------------------

int TServerEngine::IndicatorState(const TCommDriver& Driver) const {
  if (Driver.IsUDP()) return kIndicatorDsrHigh;  // the shared "ETH" indicator never hides
  ICommTransport* t = Driver.Transport();
  if (!t) return kIndicatorHidden;
  return t->PortIndicatorState(CommActive(), Driver.FIndicatorState);
}

std::optional<bool> TServerEngine::ReadDSR(TCommDriver& /*Driver*/) {
  // The indicator state above reads the line itself on every judgement.
  return std::nullopt;
}

void TServerEngine::QueueSwitchToDedicatedIP() {
  if (!FController) return;
  FController->PostDeferred([this] {
    if (TOPCProject* project = FSetHooks.ProjectSet()) project->SwitchToDedicatedIPAddress();
  }, this);
}

void TServerEngine::ClockSyncTrigger() {
  if (FScheduler && FState) FScheduler->ViewTick(FState->FNow);
}

int32_t TServerEngine::ClientsConnected() const { return static_cast<int32_t>(FCollection.Count()); }

int32_t TServerEngine::MonitoredItems() const {
  size_t items = 0;
  for (const TDA2* server : FCollection.Servers())
    for (const TOPCGroup* group : server->Groups()) items += group->Items().size();
  return static_cast<int32_t>(items);
}
