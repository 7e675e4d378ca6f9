// What the view tick keeps about communication between its passes: the
// cached tick and time, the judgement of the permission, whether a PLC of
// the projects is network master, and the uptime. The figures themselves
// are the command layer's TServerCommCounters.
#pragma once

#include <cstdint>

#include "comm/comm_counters.h"
#include "platform/clock.h"

struct TServerComState {
  // Counters must outlive the state (the scheduler owns them).
  explicit TServerComState(TServerCommCounters& Counters) : FCounters(Counters) {}

  TServerCommCounters& FCounters;

  // Taken at the start of each view tick (and by the receive handlers).
  uint32_t FTickNow = 0;
  TDateTime FNow = 0;
  bool FPermissionRecent = false;
  // Some PLC of the loaded projects is configured as network master.
  bool FMasterPLCPresent = false;

  // Uptime: the sum of tick differences between view ticks.
  uint64_t FUptimeMs = 0;
  uint32_t FUptimeTick = 0;
  bool FUptimeStarted = false;

  // At the first show: silence is measured from here.
  void ResetReferences(uint32_t Tick) { FCounters.ResetReferences(Tick); }
  void StartUptime(uint32_t Tick);
  // Starts the count at the first call when StartUptime was not called.
  void AdvanceUptime(uint32_t Tick);
};
