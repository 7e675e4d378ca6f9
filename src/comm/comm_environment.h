// What a communication driver reaches beyond its own layer: the applied
// settings, the clock, the session log, the project set's PLC list and
// socket distribution, the master step of the scheduler and the project
// tree's activity blinks. The scheduler implements it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "comm/comm_counters.h"
#include "platform/clock.h"
#include "settings/applied_settings.h"

class TCommDriver;
class TNorvoModel;

// Project-tree images of the activity blinks.
inline constexpr int kBlinkRead = 10;
inline constexpr int kBlinkWrite = 11;
inline constexpr int kBlinkPLC = 15;
inline constexpr int kBlinkPermissionTo = 7;
inline constexpr int kBlinkPermissionFrom = 8;

class ICommEnvironment {
 public:
  virtual ~ICommEnvironment() = default;

  virtual const TAppliedSettings& Applied() const = 0;
  // The project set's communication switch.
  virtual bool Communicating() const = 0;
  // The main window has been shown and not closed: only then is anything sent.
  virtual bool Shown() const = 0;
  virtual const Clock& Time() const = 0;
  // Receive handlers refresh the server's cached tick and time.
  virtual void RefreshNow() {}
  virtual TServerCommCounters& Counters() = 0;

  virtual void Log(const std::string& Line, bool Important) = 0;
  virtual void LogDebug(const std::string& /*Line*/) {}

  // The PLC is still one of the project set (it may have been reloaded away).
  virtual bool IsKnownPLC(const TNorvoModel* PLC) const = 0;
  virtual void DistributeSocketData(int SenderNAD, int ReceiverNAD, const uint8_t* Data, size_t Length) = 0;
  // A reply was processed: as master, ask for the next preparation.
  virtual void DoNextMasterStep(TCommDriver& Driver) = 0;
  // The tags of a request left the request list: released ones can go.
  virtual void RequestEnded() {}
  // A UDP PLC answered from its own address.
  virtual void DedicatedAddressFound(TNorvoModel& /*PLC*/, uint32_t /*Address*/) {}

  // Activity blinks; PLC null is the root row.
  virtual void Blink(const TNorvoModel* /*PLC*/, int /*Image*/) {}
  virtual void BlinkNAD(uint32_t /*NAD*/, int /*Image*/) {}
  // The port indicator's flashes and state.
  virtual void PortActivity(TCommDriver& /*Driver*/, bool /*Receive*/) {}
  virtual void PortStateChanged(TCommDriver& /*Driver*/) {}
};
