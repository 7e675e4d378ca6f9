#include "comm/comm_counters.h"

#include <limits>

void TServerCommCounters::ResetReferences(uint32_t Tick) {
  FLastPermissionTick = Tick;
  FHasPermissionTick = true;
  FLastGoodFrameTick = Tick;
  FHasGoodFrameTick = true;
}

void TServerCommCounters::TimeoutTransition(int32_t NAD, TDateTime Now) {
  BumpCounter(FErrorCount);
  BumpCounter(FTimeoutCount);
  FLastTimeoutAt = Now;
  FLastTimeoutNAD = NAD;
}

bool TServerCommCounters::PermissionRecentAt(uint32_t Tick) const {
  return FHasPermissionTick && TickDiff(Tick, FLastPermissionTick) < kPermissionRecentMs;
}

uint32_t TServerCommCounters::SinceGoodFrame(uint32_t Tick) const {
  return FHasGoodFrameTick ? TickDiff(Tick, FLastGoodFrameTick) : std::numeric_limits<uint32_t>::max();
}

void TServerCommCounters::WrapTransferCounters() {
  if (FGoodFrameCount > kServerCounterWrap || FTransmitCount > kServerCounterWrap) {
    FGoodFrameCount = 0;
    FTransmitCount = 0;
  }
}

void TServerCommCounters::Reset() {
  // Kept: the last response time, the request tick and the permission
  // pacing figures, which are no system tags.
  TServerCommCounters kept;
  kept.FLastResponseTime = FLastResponseTime;
  kept.FLastSendTick = FLastSendTick;
  kept.FPermissionCount = FPermissionCount;
  kept.FLastPermissionFrameTick = FLastPermissionFrameTick;
  kept.FPermissionInterval = FPermissionInterval;
  kept.FLastPermissionReceiver = FLastPermissionReceiver;
  kept.FLastOwnPermissionTick = FLastOwnPermissionTick;
  kept.FOwnPermissionInterval = FOwnPermissionInterval;
  kept.FLastReceivedNAD = 0;
  *this = kept;
}
