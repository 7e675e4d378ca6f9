#include "core/comm_status.h"

#include <algorithm>

#include "comm/comm_driver.h"
#include "comm/serial_transport.h"
#include "core/opc_project.h"
#include "core/scheduler.h"
#include "log/log_gates.h"
#include "log/session_log.h"
#include "model/norvo_model.h"
#include "settings/applied_settings.h"

TCommStatus::TCommStatus(TServerComState& State, const TAppliedSettings& Applied, ICommStatusHooks& Hooks,
                         TProjectSource Project, TSessionLog* Log)
    : FState(State), FApplied(Applied), FHooks(Hooks), FProject(std::move(Project)), FLog(Log) {}

void TCommStatus::BeginTick(uint32_t Tick, TDateTime Now, bool AllProjectsComplete) {
  FState.FTickNow = Tick;
  FState.FNow = Now;
  FState.FPermissionRecent = FState.FCounters.PermissionRecentAt(Tick);
  FSinceGoodFrame = FState.FCounters.SinceGoodFrame(Tick);
  FMasterRole = SharedConnectionPollsAsMaster(FApplied, FState.FMasterPLCPresent, AllProjectsComplete);
}

bool TCommStatus::JudgeTimeout(TNorvoModel& PLC) {
  const bool silent = PLC.FUnansweredCount >= kUnansweredTimeout ||
                      (static_cast<uint32_t>(PLC.FNAD) == FState.FCounters.FCurrentMasterNAD && !FState.FPermissionRecent);
  if (!silent) {
    PLC.FTimedOut = false;
    return false;
  }
  if (PLC.FTimedOut) return false;
  PLC.FTimedOut = true;
  FState.FCounters.TimeoutTransition(PLC.FNAD, FState.FNow);
  BumpCounter(PLC.FErrorCount);
  BumpCounter(PLC.FTimeoutCount);
  PLC.FLastTimeoutAt = FState.FNow;
  if (FLog && LogLinkDiagnostics(FApplied)) FLog->Write("Norvo " + std::to_string(PLC.FNAD) + " timed out", false);
  if (PLC.FDriver && PLC.FDriver->IsUDP()) {
    // Back to the broadcast driver until it answers from its own address
    // again: its address may have changed.
    PLC.FDedicatedIP = TNorvoModel::kDedicatedIPDefault;
    FHooks.QueueSwitchToDedicatedIP();
  }
  return true;
}

TPLCTagCounts TCommStatus::CountAndAge(TNorvoModel& PLC) const {
  TPLCTagCounts c;
  for (auto& t : PLC.FTags) {
    if (t->FRefCount > 0) ++c.Monitored;
    if (t->FWritePending) ++c.ToWrite;
    if (t->FReadRequest) ++c.ToRead;
    t->Age(FState.FTickNow);
  }
  PLC.FHasPendingWork = c.ToRead > 0 || c.ToWrite > 0;
  return c;
}

std::string TCommStatus::JudgePLCStatus(TNorvoModel& PLC, const TPLCTagCounts& Counts) const {
  PLC.FComError = true;
  if (!PLC.FDriver) return kStatusDisconnected;
  const int indicator = FHooks.IndicatorState(*PLC.FDriver);
  if (indicator == kIndicatorHidden) return kStatusDisconnected;
  if (indicator == kIndicatorDsrLow && FSinceGoodFrame > kCableSilenceMs) return kStatusCableNotConnected;
  if (indicator == kIndicatorCantOpen) return kStatusCantOpenPort;
  if (Counts.ToRead == 0 && Counts.ToWrite == 0 && !FApplied.FBackgroundRefreshTags) return kStatusIdle;
  if (FSinceGoodFrame > kNoCommunicationMs && !FMasterRole) return kStatusNoCommunication;
  if (!FState.FPermissionRecent) return kStatusNoRequests;
  if (PLC.FTimedOut) return kStatusNotResponding;
  PLC.FComError = false;
  return kStatusOk;
}

std::string TCommStatus::ServerStatusText(const TOPCProject& Project, bool CommActive, int32_t ToRead,
                                          int32_t ToWrite) const {
  if (!CommActive) return kStatusDisconnected;
  if (ToRead == 0 && ToWrite == 0 && !FApplied.FBackgroundRefreshTags) return kStatusIdle;
  if (FSinceGoodFrame > kNoCommunicationMs && !FMasterRole) return kStatusNoCommunication;
  if (!FState.FPermissionRecent) return kStatusNoRequests;
  const auto timedOut = std::count_if(Project.FPLCs.begin(), Project.FPLCs.end(),
                                      [](const auto& p) { return p->FTimedOut; });
  if (timedOut == 0) return kStatusOk;
  if (static_cast<size_t>(timedOut) == Project.FPLCs.size()) return kStatusNoPLCResponding;
  return kStatusSomeNotResponding;
}

void TCommStatus::SampleDSR(TOPCProject& Project, bool CommActive) {
  if (!CommActive) return;
  for (auto& d : Project.FDrivers) {
    if (!d->IsSerial()) continue;
    // Errors reading the lines leave the indicator as it is.
    const std::optional<bool> dsr = FHooks.ReadDSR(*d);
    if (!dsr) continue;
    const auto it = FLastDSR.find(d.get());
    if (it != FLastDSR.end() && it->second == *dsr) continue;
    FLastDSR[d.get()] = *dsr;
    FHooks.RefreshIndicator(*d);
  }
}

void TCommStatus::ViewTick(TOPCProject* Project, uint32_t Tick, TDateTime Now, bool CommActive,
                           TDateTime ServerStartedAt) {
  FState.FTickNow = Tick;
  FState.FNow = Now;
  if (!Project || !FHooks.TreeFocusAttached()) return;

  FState.FMasterPLCPresent = Project->FMasterPLCConfigured;
  BeginTick(Tick, Now, Project->FAllProjectsComplete);
  RefreshServerSysTags(*Project);
  FHooks.CreateMissingTreeRows();
  FHooks.ClockSyncTrigger();

  TServerSysInputs inputs;
  for (auto& plc : Project->FPLCs) {
    plc->RefreshSysTags();
    JudgeTimeout(*plc);
    const TPLCTagCounts counts = CountAndAge(*plc);
    inputs.TagsToRead += counts.ToRead;
    inputs.TagsToWrite += counts.ToWrite;
    const std::string status = JudgePLCStatus(*plc, counts);
    UpdatePLCSysTags(*plc, counts, status, FState);
  }

  FState.FCounters.WrapTransferCounters();
  inputs.ServerStartedAt = ServerStartedAt;
  inputs.ClientsConnected = FHooks.ClientsConnected();
  inputs.MonitoredTags = FHooks.MonitoredItems();
  inputs.ComStatus = ServerStatusText(*Project, CommActive, inputs.TagsToRead, inputs.TagsToWrite);
  FHooks.RefreshMonitors();
  UpdateServerSysTags(*Project, FState, inputs);
  FHooks.RefreshDisplay();

  FState.AdvanceUptime(Tick);
  if (++FTickNumber >= kDsrSampleEvery) {
    FTickNumber = 0;
    SampleDSR(*Project, CommActive);
  }
}
