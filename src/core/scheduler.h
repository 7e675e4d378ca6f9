// The communication scheduler: per driver, decides when a request is
// prepared (the master timer, replies, permissions) and what it carries
// (clock setting, writes, reads, status, background refresh), and creates
// the drivers' transports. It is the environment the drivers reach the
// project set, the log and the window through.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "comm/comm_counters.h"
#include "comm/comm_driver.h"
#include "comm/comm_environment.h"
#include "comm/qnet_frame.h"
#include "comm/udp_transport.h"
#include "core/opc_project.h"

class TSessionLog;

// What the scheduler borrows; everything must outlive it.
struct TSchedulerContext {
  const TAppliedSettings& Applied;
  const Clock& Time;
  TSessionLog* Log = nullptr;
  // The main window has been shown and not closed; null counts as shown.
  std::function<bool()> Shown;
  // Queues WM_PREPARE_REQUEST: Run clears the driver's pending flag and
  // prepares; Driver identifies it for withdrawal.
  std::function<void(std::function<void()> Run, const void* Driver)> PostPrepare;
  // Queues a call for the message loop (SwitchToDedicatedIPAddress).
  std::function<void(std::function<void()>)> PostDeferred;
  // Withdraws what was queued for a driver about to be freed.
  std::function<void(const void* Driver)> Withdraw;
};

// The window's share of communication: blinks and port indicators.
class ICommView {
 public:
  virtual ~ICommView() = default;
  virtual void Blink(const TNorvoModel* /*PLC*/, int /*Image*/) {}
  virtual void PortActivity(TCommDriver& /*Driver*/, bool /*Receive*/) {}
  virtual void PortStateChanged(TCommDriver& /*Driver*/) {}
};

// The role of a driver on the shared connection (no individual ones): the
// mode is master, or automatic with no PLC of the projects configured as
// master and every project complete. The status judgement reads it too.
bool SharedConnectionPollsAsMaster(const TAppliedSettings& Applied, bool MasterPLCConfigured,
                                   bool AllProjectsComplete);

// Makes the transport of a new driver. The default one opens real serial
// ports and UDP sockets; tests give their own.
using TTransportFactory = std::function<std::unique_ptr<ICommTransport>(TCommDriver& Driver)>;

class TCommScheduler final : public ICommEnvironment {
 public:
  explicit TCommScheduler(TSchedulerContext Context);
  ~TCommScheduler() override;
  TCommScheduler(const TCommScheduler&) = delete;
  TCommScheduler& operator=(const TCommScheduler&) = delete;

  // Project may be null (not yet created, or gone); it must outlive its use.
  void SetProjectSet(TOPCProject* Project);
  TOPCProject* ProjectSet() const { return FProject; }
  void SetView(ICommView* View) { FView = View; }
  void SetTransportFactory(TTransportFactory Factory) { FFactory = std::move(Factory); }

  // The master timer's share, every 10 ms.
  void MasterTimerTick();
  // The role of the driver's connection now.
  bool PollsAsMaster(const TCommDriver& Driver) const;
  void DoNextMasterStep(TCommDriver& Driver) override;
  void WMPrepareRequest(TCommDriver& Driver);
  void PrepareRequest(TCommDriver& Driver, int32_t GrantorNAD, int32_t TargetNAD);
  // The view timer's clock trigger: the hour turning from 23 to 0.
  void ViewTick(TDateTime Now);

  // Transport life, from the project set's hooks.
  void CreateTransport(TCommDriver& Driver, bool Communicating);
  void FreeTransport(TCommDriver& Driver);
  void StartTransport(TCommDriver& Driver);
  void StopTransport(TCommDriver& Driver);

  // ICommEnvironment
  const TAppliedSettings& Applied() const override { return FContext.Applied; }
  bool Communicating() const override { return FProject && FProject->FCommunicating; }
  bool Shown() const override { return !FContext.Shown || FContext.Shown(); }
  const Clock& Time() const override { return FContext.Time; }
  TServerCommCounters& Counters() override { return FCounters; }
  void Log(const std::string& Line, bool Important) override;
  void LogDebug(const std::string& Line) override;
  bool IsKnownPLC(const TNorvoModel* PLC) const override;
  void DistributeSocketData(int SenderNAD, int ReceiverNAD, const uint8_t* Data, size_t Length) override;
  void RequestEnded() override;
  void DedicatedAddressFound(TNorvoModel& PLC, uint32_t Address) override;
  void Blink(const TNorvoModel* PLC, int Image) override;
  void BlinkNAD(uint32_t NAD, int Image) override;
  void PortActivity(TCommDriver& Driver, bool Receive) override;
  void PortStateChanged(TCommDriver& Driver) override;

  TServerCommCounters FCounters;
  // The hour seen by the previous view tick; 9999 so start-up never counts
  // as midnight.
  int32_t FPreviousHour = 9999;

 private:
  // One kind's search over the PLCs of the driver; PLC is the one the
  // request was formed for.
  bool SearchKind(TCommDriver& Driver, uint8_t Kind, TNorvoModel*& PLC);
  void PriorityCycle(TCommDriver& Driver);
  std::unique_ptr<ICommTransport> MakeTransport(TCommDriver& Driver);

  TSchedulerContext FContext;
  TOPCProject* FProject = nullptr;  // not owned
  ICommView* FView = nullptr;       // not owned
  TTransportFactory FFactory;
  // Receive-event stamps shared by all drivers of one transport kind.
  TQnetRxStamp FSerialStamp;
  TQnetRxStamp FUdpStamp;
  TUdpPortCounter FPortCounter;
};

// The project set's hooks with the transports handled by a scheduler; the
// rest goes to Inner (the window's hooks, may be null).
class TCommProjectHooks final : public IProjectSetHooks {
 public:
  TCommProjectHooks(TCommScheduler& Scheduler, IProjectSetHooks* Inner) : FScheduler(Scheduler), FInner(Inner) {}
  void CreateTransport(TCommDriver& Driver, bool Communicating) override;
  void FreeTransport(TCommDriver& Driver) override;
  void StartTransport(TCommDriver& Driver) override;
  void StopTransport(TCommDriver& Driver) override;
  void ProbeSerialPorts() override { if (FInner) FInner->ProbeSerialPorts(); }
  void SetHourglass(bool On) override { if (FInner) FInner->SetHourglass(On); }
  void Wait(uint32_t Ms) override { if (FInner) FInner->Wait(Ms); }
  void ClearBlinking() override { if (FInner) FInner->ClearBlinking(); }
  void RefreshPortIndicators() override { if (FInner) FInner->RefreshPortIndicators(); }
  void FocusRootIfFocusGone() override { if (FInner) FInner->FocusRootIfFocusGone(); }
  void PLCCreated(TNorvoModel& PLC) override { if (FInner) FInner->PLCCreated(PLC); }
  void SocketCreated(TQNETSocket& Socket) override { if (FInner) FInner->SocketCreated(Socket); }
  void PLCRemoving(TNorvoModel& PLC) override { if (FInner) FInner->PLCRemoving(PLC); }
  void SaveColorsAndOrder(TZeltaProject& Project) override { if (FInner) FInner->SaveColorsAndOrder(Project); }
  void RestoreColorsAndOrder() override { if (FInner) FInner->RestoreColorsAndOrder(); }
  bool NameWarningVisible() const override { return FInner && FInner->NameWarningVisible(); }

 private:
  TCommScheduler& FScheduler;
  IProjectSetHooks* FInner;  // not owned
};
