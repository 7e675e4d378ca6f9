#include "core/scheduler.h"

#include <algorithm>
#include <mutex>

#include "comm/qnet_codec.h"
#include "comm/transport_text.h"
#include "log/log_gates.h"
#include "log/session_log.h"
#include "platform/serial_port.h"
#include "platform/udp_socket.h"

namespace {
// Only marks PrepareRequest as a critical region: the engine has one thread,
// so it never waits.
std::recursive_mutex gSchedulerLock;

constexpr uint32_t kPrepareDelayMs = 20;
constexpr uint32_t kPrepareDelayUdpMs = 60;
}  // namespace

TCommScheduler::TCommScheduler(TSchedulerContext Context) : FContext(std::move(Context)) {}

TCommScheduler::~TCommScheduler() {
  if (!FProject) return;
  for (auto& d : FProject->FDrivers)
    if (d->Environment() == this) d->Attach(nullptr);
}

void TCommScheduler::SetProjectSet(TOPCProject* Project) {
  FProject = Project;
  if (!FProject) return;
  for (auto& d : FProject->FDrivers) d->Attach(this);
}

// ---- the master timer --------------------------------------------------------

bool TCommScheduler::PollsAsMaster(const TCommDriver& Driver) const {
  if (!FProject) return false;
  const TCommunicationSettings& s = Driver.FSettings;
  const TAppliedSettings& a = Applied();
  if (s.IsUDP()) return true;
  if (FProject->FUseIndividualConnections) {
    if (s.FAutoMaster) return !s.FHasMasterPLC && s.FProjectsComplete;
    return s.FCommMaster;
  }
  return SharedConnectionPollsAsMaster(a, FProject->FMasterPLCConfigured, FProject->FAllProjectsComplete);
}

bool SharedConnectionPollsAsMaster(const TAppliedSettings& Applied, bool MasterPLCConfigured,
                                   bool AllProjectsComplete) {
  return Applied.FMasterMode == 1 || (Applied.FMasterMode == 2 && !MasterPLCConfigured && AllProjectsComplete);
}

void TCommScheduler::MasterTimerTick() {
  if (!FProject) return;
  const TAppliedSettings& a = Applied();
  // A driver may be freed by a nested call; walk by index and re-check.
  for (size_t i = 0; i < FProject->FDrivers.size(); ++i) {
    TCommDriver& d = *FProject->FDrivers[i];
    if (d.Environment() != this) d.Attach(this);
    d.FSettings.FPollAsMaster = PollsAsMaster(d);
    if (ICommTransport* t = d.Transport(); t && FProject->FCommunicating) {
      if (d.IsSerial()) t->Poll();
      else if (t->Fd() >= 0) t->OnReadable();
    }
    if (i >= FProject->FDrivers.size() || FProject->FDrivers[i].get() != &d) break;
    const uint32_t now = Time().TickCount();
    const bool udpBusy = d.IsUDP() && d.Transport() && d.Transport()->Busy();
    // The timeout runs from the last frame or the last step asked for,
    // whichever is later: a step that found nothing to send restarts it, so
    // an idle master polls its queue once per timeout instead of every tick.
    const uint32_t quiet = std::min(TickDiff(now, d.FLastTxTick), TickDiff(now, d.FCallTo.FTick));
    if (d.FSettings.FPollAsMaster && !udpBusy &&
        (d.FSettings.FTimeOut < 0 || quiet > static_cast<uint32_t>(d.FSettings.FTimeOut))) {
      if (LogReceivedMessages(a))
        Log("Ma [" + CommTimeText(Time().Now()) + "] Master TIMEOUT Port: " + std::to_string(d.FSettings.FCommPort),
            false);
      DoNextMasterStep(d);
    }
    const uint32_t delay = d.IsSerial() || a.FEthFullBandwidth ? kPrepareDelayMs : kPrepareDelayUdpMs;
    if (d.FPreparePending && !d.FPreparePosted && TickDiff(now, d.FCallTo.FTick) > delay) {
      d.FPreparePosted = true;
      TCommDriver* driver = &d;
      auto run = [this, driver] {
        if (FProject && std::any_of(FProject->FDrivers.begin(), FProject->FDrivers.end(),
                                    [driver](const auto& p) { return p.get() == driver; }))
          WMPrepareRequest(*driver);
      };
      if (FContext.PostPrepare) FContext.PostPrepare(std::move(run), driver);
      else run();
    }
  }
}

void TCommScheduler::DoNextMasterStep(TCommDriver& Driver) {
  if (!FProject || !FProject->FCommunicating || !PollsAsMaster(Driver)) return;
  if (Driver.FPreparePending) {
    if (LogCommActions(Applied())) Log("Second call denied in Timer", false);
    return;
  }
  Driver.FPreparePending = true;
  Driver.FCallTo = {&Driver, -1, Applied().FMyNAD, Time().TickCount()};
}

void TCommScheduler::WMPrepareRequest(TCommDriver& Driver) {
  Driver.FPreparePending = false;
  Driver.FPreparePosted = false;
  PrepareRequest(Driver, Driver.FCallTo.FGrantorNAD, Driver.FCallTo.FTargetNAD);
}

// ---- preparation -----------------------------------------------------------

void TCommScheduler::PriorityCycle(TCommDriver& Driver) {
  Driver.FPriorityIndex = -1;
  const TNorvoVar* tag = FProject->FPriorityNADTag;
  const int32_t nad = tag ? tag->FValue : 0;
  bool matched = false;
  if (nad != 0) {
    const auto& plcs = FProject->FPLCs;
    for (size_t i = 0; i < plcs.size(); ++i) {
      if (plcs[i]->FDriver != &Driver || plcs[i]->FNAD != nad) continue;
      matched = true;
      const int32_t index = static_cast<int32_t>(i);
      ++Driver.FPriorityCycle;
      if (Driver.FPriorityCycle == 1) {
        for (uint8_t k : {RD_DATA, WR_DATA, RD_DATA_PERIODIC}) {
          Driver.FSavedPLCIndex[k] = Driver.LastPLCIndex(plcs, k);
          Driver.FSavedVarIndex[k] = Driver.FLastVarIndex[k];
        }
        Driver.FSavedRequestKind = Driver.FRequestKind;
      }
      if (Driver.FPriorityCycle < 4) {
        Driver.FPriorityIndex = index;
        for (uint8_t k : {RD_DATA, WR_DATA, RD_DATA_PERIODIC}) {
          if (Driver.LastPLCIndex(plcs, k) == index) continue;
          Driver.FLastPLCIndex[k] = index;
          Driver.FLastVarIndex[k] = 0;
        }
      } else if (Driver.FPriorityCycle == 4) {
        for (uint8_t k : {RD_DATA, WR_DATA, RD_DATA_PERIODIC}) {
          Driver.FLastPLCIndex[k] = Driver.FSavedPLCIndex[k];
          Driver.FLastVarIndex[k] = Driver.FSavedVarIndex[k];
        }
        Driver.FRequestKind = Driver.FSavedRequestKind;
        Driver.FPriorityCycle = 0;
      }
    }
  }
  if (!matched) Driver.FPriorityCycle = 0;
}

void TCommScheduler::PrepareRequest(TCommDriver& Driver, int32_t GrantorNAD, int32_t TargetNAD) {
  if (!FProject) return;
  std::lock_guard<std::recursive_mutex> lock(gSchedulerLock);
  const TAppliedSettings& a = Applied();
  const auto& plcs = FProject->FPLCs;
  if (TargetNAD == a.FMyNAD) {
    FCounters.FLastPermissionTick = Time().TickCount();
    FCounters.FHasPermissionTick = true;
  }

  for (const auto& plc : plcs) {
    if (plc->FDriver != &Driver || !plc->FRTCSyncDue) continue;
    plc->FRTCSyncDue = false;
    Driver.SendRequest(WR_UPDATE_RTC, GrantorNAD, plc.get());
    return;
  }

  PriorityCycle(Driver);
  if (LogCommActions(a)) Log("MAKE TX DATA FOR COM" + std::to_string(Driver.FSettings.FCommPort), false);
  if (TargetNAD != a.FMyNAD || plcs.empty()) return;

  Driver.ClearRequest();
  const bool afterWrite = Driver.FRequestKind == WR_DATA;
  const uint8_t order[4] = {afterWrite ? RD_DATA : WR_DATA, afterWrite ? WR_DATA : RD_DATA, RD_STATUS,
                            RD_DATA_PERIODIC};
  TNorvoModel* plc = nullptr;
  bool found = false;
  for (uint8_t kind : order) {
    Driver.FRequestKind = kind;
    if ((found = SearchKind(Driver, kind, plc))) break;
  }

  if (found && plc) {
    Driver.FRequestPLC = plc;
    const uint8_t kind = Driver.FRequestKind;
    Driver.SendRequest(kind, GrantorNAD, plc);
    if (LogCommActions(a))
      Log(std::string(RequestKindText(kind)) + "to " + std::to_string(plc->FNAD) +
              "  LastVarIndex:" + std::to_string(Driver.FLastVarIndex[kind]) +
              "  LastNorvoIndex:" + std::to_string(Driver.FLastPLCIndex[kind]),
          false);
    if (Driver.FSettings.FPollAsMaster) Blink(nullptr, kBlinkRead);
    return;
  }
  if (GrantorNAD == -1) {
    if (LogCommActions(a)) Log("NO_REQUEST", false);
    return;
  }
  Driver.SendRequest(CLOSE_PERM, GrantorNAD, nullptr);
  if (LogCommActions(a)) Log("caCLOSE_PERM", false);
}

bool TCommScheduler::SearchKind(TCommDriver& Driver, uint8_t Kind, TNorvoModel*& PLC) {
  const TAppliedSettings& a = Applied();
  const auto& plcs = FProject->FPLCs;
  const int32_t count = static_cast<int32_t>(plcs.size());
  int32_t p = Driver.LastPLCIndex(plcs, Kind);
  int32_t g = Driver.FLastVarIndex[Kind];
  int32_t k = 0, v = 0;
  bool found = false;
  const auto moveOn = [&](bool toPriority) {
    p = toPriority && Driver.FPriorityIndex >= 0 ? Driver.FPriorityIndex : Driver.NextPLCIndex(plcs, p);
    ++k;
    g = 0;
  };

  while (k < count && !found) {
    if (++v > count) {
      if (LogLinkDiagnostics(a)) Log("SavetyNorvoIncreaseCount exceeded", false);
      break;
    }
    TNorvoModel& plc = *plcs[static_cast<size_t>(p)];
    // No PLC uses this driver: nothing of another line is sent on it.
    if (plc.FDriver != &Driver) break;
    const int32_t tagCount = static_cast<int32_t>(plc.FTags.size());
    if (g < 0 || g >= tagCount) g = 0;

    if (plc.FUnansweredForRead || plc.FUnansweredForWrite) {
      if (Kind == RD_DATA) plc.FUnansweredForRead = false;
      else if (Kind == WR_DATA) plc.FUnansweredForWrite = false;
      else if (Kind == RD_DATA_PERIODIC) plc.FUnansweredForPeriodic = false;
      moveOn(false);
      continue;
    }
    if (Kind == RD_DATA_PERIODIC && plc.FUnansweredForPeriodic) {
      plc.FUnansweredForPeriodic = false;
      moveOn(false);
      continue;
    }
    if (Kind == RD_STATUS) {
      if (plc.FStatusDue) {
        plc.FStatusDue = false;
        if (a.FBackgroundRefreshStatus) {
          found = true;
          PLC = &plc;
        }
      } else {
        moveOn(false);
      }
      continue;
    }

    if (Kind == RD_DATA_PERIODIC && g == 0) plc.FStatusDue = true;
    if (tagCount == 0) {
      moveOn(true);
      continue;
    }
    for (;;) {
      TNorvoVar* tag = plc.FTags[static_cast<size_t>(g)].get();
      bool needs = false;
      if (IsArrayType(tag->FVarType)) {
        if (Kind == WR_DATA) {
          tag->FWritePending = false;
        } else if (Kind == RD_DATA && tag->FReadRequest) {
          tag->FReadRequest = false;
          tag->ForEachElement([](TNorvoVar& e) { e.FReadRequest = true; });
        }
      } else if (VarTypeSize(tag->FVarType) > 0) {
        // A tag without a wire form could never be decoded from an answer.
        needs = Kind == WR_DATA ? tag->FWritePending : Kind == RD_DATA ? tag->FReadRequest : a.FBackgroundRefreshTags;
      }
      if (needs) {
        int32_t last = g;
        if (Driver.AddToRequest(Kind, tag, g, last)) {
          found = true;
          PLC = &plc;
        } else {
          g = last + 1;
          break;
        }
      }
      if (++g >= tagCount) {
        int32_t last = 0;
        Driver.AddToRequest(Kind, nullptr, 0, last);
        moveOn(true);
        break;
      }
    }
  }
  Driver.FLastVarIndex[Kind] = g;
  Driver.FLastPLCIndex[Kind] = p;
  return found;
}

void TCommScheduler::ViewTick(TDateTime Now) {
  const int32_t hour = QnetClockFromDateTime(Now).FHour;
  if (FPreviousHour == 23 && hour == 0 && Applied().FPeriodicRTCSync && FProject)
    for (auto& plc : FProject->FPLCs) plc->FRTCSyncDue = true;
  FPreviousHour = hour;
}

// ---- transports ------------------------------------------------------------

std::unique_ptr<ICommTransport> TCommScheduler::MakeTransport(TCommDriver& Driver) {
  if (FFactory) return FFactory(Driver);
  if (Driver.IsSerial())
    return std::make_unique<TSerialCommTransport>(std::make_unique<TSerialTransport>(
        Driver.FSettings.FCommPort, std::make_unique<TPosixSerialPort>(), Driver, FSerialStamp, Time()));
  if (Driver.IsUDP()) {
    FPortCounter.Reset();
    auto udp = std::make_unique<TUdpTransport>(Driver.FSettings, std::make_unique<TPosixUdpSocket>(), Driver,
                                               FUdpStamp, FPortCounter, Time());
    if (!udp->OpenUdp()) Log("UDP: " + udp->LastError(), true);
    return std::make_unique<TUdpCommTransport>(std::move(udp));
  }
  return nullptr;
}

void TCommScheduler::CreateTransport(TCommDriver& Driver, bool Communicating) {
  Driver.Attach(this);
  Driver.SetTransport(MakeTransport(Driver));
  if (Communicating) StartTransport(Driver);
}

void TCommScheduler::FreeTransport(TCommDriver& Driver) {
  // The tags in flight still live (held by the project set while in a
  // request); after this the driver is gone and could not release them.
  Driver.ClearRequest();
  Driver.FLastSentPLC = nullptr;
  if (FContext.Withdraw) FContext.Withdraw(&Driver);
  Driver.FPreparePending = false;
  Driver.FPreparePosted = false;
  if (ICommTransport* t = Driver.Transport()) t->SetActive(false);
  Driver.FreeTransport();
  Driver.Attach(nullptr);
}

void TCommScheduler::StartTransport(TCommDriver& Driver) {
  Driver.Attach(this);
  Driver.FActive = true;
  if (ICommTransport* t = Driver.Transport()) t->SetActive(true);
}

void TCommScheduler::StopTransport(TCommDriver& Driver) {
  Driver.FActive = false;
  Driver.FPreparePending = false;
  Driver.FPreparePosted = false;
  if (ICommTransport* t = Driver.Transport()) t->SetActive(false);
}

// ---- environment -----------------------------------------------------------

void TCommScheduler::Log(const std::string& Line, bool Important) {
  if (FContext.Log) FContext.Log->Write(Line, Important);
}

void TCommScheduler::LogDebug(const std::string& Line) {
  if (FContext.Log) FContext.Log->WriteDebug(Line);
}

bool TCommScheduler::IsKnownPLC(const TNorvoModel* PLC) const { return FProject && FProject->ContainsPLC(PLC); }

void TCommScheduler::DistributeSocketData(int SenderNAD, int ReceiverNAD, const uint8_t* Data, size_t Length) {
  if (FProject) FProject->DistributeSocketData(SenderNAD, ReceiverNAD, Data, Length);
}

void TCommScheduler::RequestEnded() {
  if (FProject && !FProject->FDeletePendingTags.empty()) FProject->FreeDeletePendingTags();
}

void TCommScheduler::DedicatedAddressFound(TNorvoModel& PLC, uint32_t Address) {
  PLC.FDedicatedIP = Address;
  if (!FContext.PostDeferred) return;
  TOPCProject* project = FProject;
  FContext.PostDeferred([this, project] {
    if (FProject == project && project) project->SwitchToDedicatedIPAddress();
  });
}

void TCommScheduler::Blink(const TNorvoModel* PLC, int Image) {
  if (FView) FView->Blink(PLC, Image);
}

void TCommScheduler::BlinkNAD(uint32_t NAD, int Image) {
  if (!FView || !FProject) return;
  if (const TNorvoModel* plc = FProject->FindPLCByNAD(static_cast<int>(NAD))) FView->Blink(plc, Image);
}

void TCommScheduler::PortActivity(TCommDriver& Driver, bool Receive) {
  if (FView) FView->PortActivity(Driver, Receive);
}

void TCommScheduler::PortStateChanged(TCommDriver& Driver) {
  if (FView) FView->PortStateChanged(Driver);
}

// ---- project hooks -----------------------------------------------------------

void TCommProjectHooks::CreateTransport(TCommDriver& Driver, bool Communicating) {
  FScheduler.CreateTransport(Driver, Communicating);
  if (FInner) FInner->CreateTransport(Driver, Communicating);
}

void TCommProjectHooks::FreeTransport(TCommDriver& Driver) {
  if (FInner) FInner->FreeTransport(Driver);
  FScheduler.FreeTransport(Driver);
}

void TCommProjectHooks::StartTransport(TCommDriver& Driver) {
  FScheduler.StartTransport(Driver);
  if (FInner) FInner->StartTransport(Driver);
}

void TCommProjectHooks::StopTransport(TCommDriver& Driver) {
  FScheduler.StopTransport(Driver);
  if (FInner) FInner->StopTransport(Driver);
}
