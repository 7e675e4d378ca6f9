#include "core/server_com_state.h"

void TServerComState::StartUptime(uint32_t Tick) {
  FUptimeMs = 0;
  FUptimeTick = Tick;
  FUptimeStarted = true;
}

void TServerComState::AdvanceUptime(uint32_t Tick) {
  if (!FUptimeStarted) {
    StartUptime(Tick);
    return;
  }
  FUptimeMs += TickDiff(Tick, FUptimeTick);
  FUptimeTick = Tick;
}
