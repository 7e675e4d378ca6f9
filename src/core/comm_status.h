// The view tick's judgement of communication: which PLCs stopped answering,
// the PLC and server status texts, the ages of tags, the DSR lines of the
// serial ports, and the return of silent UDP PLCs to address detection.
// The system tag values are filled in the same pass.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "core/controller.h"
#include "core/server_com_state.h"
#include "core/sys_tag_values.h"

class TCommDriver;
class TNorvoModel;
class TOPCProject;
class TSessionLog;
struct TAppliedSettings;

inline constexpr const char* kStatusDisconnected = "disconected";
inline constexpr const char* kStatusCableNotConnected = "error: cable not connected";
inline constexpr const char* kStatusCantOpenPort = "error: can't open COM port";
inline constexpr const char* kStatusIdle = "idle (no tags)";
inline constexpr const char* kStatusNoCommunication = "error: no communication";
inline constexpr const char* kStatusNoRequests = "error: master running, but no requests to OPC server";
inline constexpr const char* kStatusNotResponding = "error: PLC is not responding";
inline constexpr const char* kStatusOk = "ok";
inline constexpr const char* kStatusNoPLCResponding = "error: no PLC is responding";
inline constexpr const char* kStatusSomeNotResponding = "error: some PLCs are ok, some are not responding";

// Three unanswered requests are tolerated.
inline constexpr int32_t kUnansweredTimeout = 4;
inline constexpr uint32_t kCableSilenceMs = 1000;
inline constexpr uint32_t kNoCommunicationMs = 3000;
// The DSR lines are sampled on every third view tick.
inline constexpr int kDsrSampleEvery = 3;

// What the judgement needs from the drivers' transports and the window.
// Defaults suit a driver without a transport and a window without tables.
class ICommStatusHooks {
 public:
  virtual ~ICommStatusHooks() = default;
  // The driver's port indicator image (kIndicatorHidden, 55, 56 or 57).
  virtual int IndicatorState(const TCommDriver& Driver) const = 0;
  // A serial driver's DSR line; nullopt when it has no port object or the
  // lines cannot be read.
  virtual std::optional<bool> ReadDSR(TCommDriver& /*Driver*/) { return std::nullopt; }
  // The DSR line changed: set the indicator again from the port.
  virtual void RefreshIndicator(TCommDriver& /*Driver*/) {}
  // Queue SwitchToDedicatedIPAddress for the message loop.
  virtual void QueueSwitchToDedicatedIP() {}
  // The project tree's focus handler is attached; without it the rest of
  // the tick waits.
  virtual bool TreeFocusAttached() const { return true; }
  virtual void CreateMissingTreeRows() {}
  virtual void ClockSyncTrigger() {}
  virtual void RefreshMonitors() {}
  virtual void RefreshDisplay() {}
  virtual int32_t ClientsConnected() const { return 0; }
  virtual int32_t MonitoredItems() const { return 0; }
};

class TCommStatus final : public IViewTickWork {
 public:
  using TProjectSource = std::function<TOPCProject*()>;

  // All references outlive the object; Log may be null. Project gives the
  // project set once it exists (null before).
  TCommStatus(TServerComState& State, const TAppliedSettings& Applied, ICommStatusHooks& Hooks,
              TProjectSource Project, TSessionLog* Log = nullptr);

  // IViewTickWork: the controller's view timer.
  void ViewTick(uint32_t Tick, TDateTime Now, bool CommActive, TDateTime ServerStartedAt) override {
    ViewTick(FProject ? FProject() : nullptr, Tick, Now, CommActive, ServerStartedAt);
  }

  // Everything the view tick judges, in its order. Project may be null
  // (not yet created): only the clock values are taken.
  void ViewTick(TOPCProject* Project, uint32_t Tick, TDateTime Now, bool CommActive, TDateTime ServerStartedAt);

  // The steps, public for the window's own use and for tests.
  void BeginTick(uint32_t Tick, TDateTime Now, bool AllProjectsComplete);
  // Returns true on the change to timed out.
  bool JudgeTimeout(TNorvoModel& PLC);
  TPLCTagCounts CountAndAge(TNorvoModel& PLC) const;
  std::string JudgePLCStatus(TNorvoModel& PLC, const TPLCTagCounts& Counts) const;
  std::string ServerStatusText(const TOPCProject& Project, bool CommActive, int32_t ToRead, int32_t ToWrite) const;
  void SampleDSR(TOPCProject& Project, bool CommActive);

  bool MasterRole() const { return FMasterRole; }
  uint32_t SinceGoodFrame() const { return FSinceGoodFrame; }
  // The last DSR bit seen per driver; dropped with the driver.
  void ForgetDriver(const TCommDriver* Driver) { FLastDSR.erase(Driver); }

 private:
  TServerComState& FState;
  const TAppliedSettings& FApplied;
  ICommStatusHooks& FHooks;
  TProjectSource FProject;
  TSessionLog* FLog;  // not owned
  bool FMasterRole = false;
  uint32_t FSinceGoodFrame = 0;
  int FTickNumber = 0;
  std::map<const TCommDriver*, bool> FLastDSR;
};
