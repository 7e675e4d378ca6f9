#include "core/server_com_state.h"

#include <limits>

namespace {

constexpr uint8_t kKindRead = 1;
constexpr uint8_t kKindWrite = 2;
constexpr uint8_t kKindPeriodic = 3;

}  // namespace

void TServerComState::ResetReferences(uint32_t Tick) {
  FLastPermissionTick = Tick;
  FHasPermissionTick = true;
  FLastGoodFrameTick = Tick;
  FHasGoodFrameTick = true;
}

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

void TServerComState::ValidFrameReceived(int32_t SenderNAD, uint32_t Tick, TDateTime Now) {
  BumpCounter(FComReceiveCount);
  FLastReceivedAt = Now;
  FLastReceivedNad = SenderNAD;
  FLastGoodFrameTick = Tick;
  FHasGoodFrameTick = true;
}

void TServerComState::RequestSent(uint8_t Kind, uint32_t Tick) {
  if (Kind == kKindRead) BumpCounter(FReadCount);
  else if (Kind == kKindWrite) BumpCounter(FWriteCount);
  else if (Kind == kKindPeriodic) BumpCounter(FBackgroundRefreshCount);
  FRequestTick = Tick;
}

void TServerComState::SerialFrameWritten() { BumpCounter(FComTransmitCount); }

void TServerComState::ReplyReceived(uint8_t OpenKind, int32_t SenderNAD, uint32_t Tick, TDateTime Now) {
  FLastResponseTime = TickDiff(Tick, FRequestTick);
  if (FLastResponseTime > FMaximumResponseTime) {
    FMaximumResponseTime = FLastResponseTime;
    FMaximumResponseTimeAt = Now;
    FMaximumResponseTimeNad = SenderNAD;
  }
  if (OpenKind == kKindRead) {
    FLastReadAt = Now;
    FLastReadNad = SenderNAD;
  } else if (OpenKind == kKindWrite) {
    FLastWriteAt = Now;
    FLastWriteNad = SenderNAD;
  } else if (OpenKind == kKindPeriodic) {
    FLastBackgroundRefreshAt = Now;
    FLastBackgroundRefreshNad = SenderNAD;
  }
}

void TServerComState::BadMessage(uint8_t LastKind, int32_t SenderNAD, TDateTime Now) {
  BumpCounter(FComErrorCount);
  BumpCounter(FBadMessageCount);
  FLastBadMessageAt = Now;
  FLastBadMessageNad = SenderNAD;
  if (LastKind == kKindRead) BumpCounter(FReadErrorCount);
  else if (LastKind == kKindWrite) BumpCounter(FWriteErrorCount);
  else if (LastKind == kKindPeriodic) BumpCounter(FBackgroundRefreshErrorCount);
}

void TServerComState::ForeignPortData() { BumpCounter(FComErrorCount); }

void TServerComState::NegativeAck(int32_t SenderNAD, TDateTime Now) {
  BumpCounter(FNegativeAckCount);
  FLastNegativeAckAt = Now;
  FLastNegativeAckNad = SenderNAD;
}

void TServerComState::SocketSeen() { BumpCounter(FNetworkSocketCount); }

void TServerComState::TimeoutTransition(int32_t NAD, TDateTime Now) {
  BumpCounter(FComErrorCount);
  BumpCounter(FComTimeoutCount);
  FLastTimeoutAt = Now;
  FLastTimeoutNad = NAD;
}

void TServerComState::PreparedForServer(uint32_t Tick) {
  FLastPermissionTick = Tick;
  FHasPermissionTick = true;
}

void TServerComState::PermissionSeen(int32_t ReceiverNAD, uint32_t Tick) {
  if (FPermissionsSeen > 0) FPermissionSeenInterval = TickDiff(Tick, FLastPermissionSeenTick);
  BumpCounter(FPermissionsSeen);
  FLastPermissionSeenTick = Tick;
  FLastPermissionReceiver = ReceiverNAD;
}

void TServerComState::PermissionGranted(int32_t MasterNAD, uint32_t Tick) {
  if (FMasterToOpcRequestCount > 0) FServerPermissionInterval = TickDiff(Tick, FLastServerPermissionTick);
  BumpCounter(FMasterToOpcRequestCount);
  FCurrentMasterNAD = MasterNAD;
  FLastServerPermissionTick = Tick;
}

bool TServerComState::PermissionRecentAt(uint32_t Tick) const {
  return FHasPermissionTick && TickDiff(Tick, FLastPermissionTick) < kPermissionRecentMs;
}

uint32_t TServerComState::SinceGoodFrame(uint32_t Tick) const {
  return FHasGoodFrameTick ? TickDiff(Tick, FLastGoodFrameTick) : std::numeric_limits<uint32_t>::max();
}

void TServerComState::WrapTransferCounters() {
  if (FComReceiveCount > kServerCounterWrap || FComTransmitCount > kServerCounterWrap) {
    FComReceiveCount = 0;
    FComTransmitCount = 0;
  }
}

void TServerComState::ResetCounters() {
  FHasPermissionTick = false;
  FLastPermissionTick = 0;
  FHasGoodFrameTick = false;
  FLastGoodFrameTick = 0;
  FCurrentMasterNAD = 0;

  FComReceiveCount = 0;
  FComTransmitCount = 0;
  FComErrorCount = 0;
  FLastReceivedAt = 0;
  FLastReceivedNad = 0;
  FMaximumResponseTime = 0;
  FMaximumResponseTimeAt = 0;
  FMaximumResponseTimeNad = 0;
  FComTimeoutCount = 0;
  FLastTimeoutAt = 0;
  FLastTimeoutNad = 0;
  FBadMessageCount = 0;
  FLastBadMessageAt = 0;
  FLastBadMessageNad = 0;
  FNegativeAckCount = 0;
  FLastNegativeAckAt = 0;
  FLastNegativeAckNad = 0;
  FReadCount = 0;
  FLastReadAt = 0;
  FLastReadNad = 0;
  FReadErrorCount = 0;
  FWriteCount = 0;
  FLastWriteAt = 0;
  FLastWriteNad = 0;
  FWriteErrorCount = 0;
  FBackgroundRefreshCount = 0;
  FLastBackgroundRefreshAt = 0;
  FLastBackgroundRefreshNad = 0;
  FBackgroundRefreshErrorCount = 0;
  FMasterToOpcRequestCount = 0;
  FNetworkSocketCount = 0;
}
