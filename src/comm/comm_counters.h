// Server-wide communication figures moved by the command layer; the system
// tags and the status judgement read them.
#pragma once

#include <cstdint>
#include <limits>

#include "platform/clock.h"

// The transfer counters (good frames received, frames transmitted) go back
// to 0 together past this.
inline constexpr int32_t kServerCounterWrap = 2000000000;
// Without a preparation for the server's own NAD for this long, the master
// counts as no longer serving the server.
inline constexpr uint32_t kPermissionRecentMs = 6000;

// Counters step through 0 instead of overflowing.
inline void BumpCounter(int32_t& Counter) { Counter = Counter == INT32_MAX ? 0 : Counter + 1; }

// Counts of misses in a row stop at the top: wrapping would make a silent
// peer look fresh again.
template <class T>
inline void BumpSaturating(T& Counter) {
  if (Counter < std::numeric_limits<T>::max()) ++Counter;
}

struct TServerCommCounters {
  // Frame errors (bad preamble, length, checksum).
  int32_t FErrorCount = 0;
  int32_t FInvalidFrameCount = 0;
  TDateTime FLastInvalidFrameAt = 0;
  uint32_t FLastInvalidFrameNAD = 0;

  int32_t FReadCount = 0;
  int32_t FReadErrorCount = 0;
  TDateTime FLastReadAt = 0;
  uint32_t FLastReadNAD = 0;
  int32_t FBackgroundRefreshCount = 0;
  int32_t FBackgroundRefreshErrorCount = 0;
  TDateTime FLastBackgroundRefreshAt = 0;
  uint32_t FLastBackgroundRefreshNAD = 0;
  int32_t FWriteCount = 0;
  int32_t FWriteErrorCount = 0;
  TDateTime FLastWriteAt = 0;
  uint32_t FLastWriteNAD = 0;

  // Valid frames of any kind.
  int32_t FGoodFrameCount = 0;
  uint32_t FLastGoodFrameTick = 0;
  // False after a reset: no frame since, whatever the tick counter reads.
  bool FHasGoodFrameTick = false;
  TDateTime FLastGoodFrameAt = 0;
  // -1 before the first frame; 0 after a reset.
  int32_t FLastReceivedNAD = -1;

  int32_t FAckCount = 0;
  TDateTime FLastAckAt = 0;
  uint32_t FLastAckNAD = 0;
  int32_t FNakCount = 0;
  TDateTime FLastNakAt = 0;
  uint32_t FLastNakNAD = 0;
  int32_t FSocketFrameCount = 0;
  TDateTime FLastSocketFrameAt = 0;
  uint32_t FLastSocketFrameNAD = 0;

  // Requests sent and the response time of their answers.
  int32_t FTransmitCount = 0;
  uint32_t FLastSendTick = 0;
  int32_t FLastResponseTime = 0;
  int32_t FMaxResponseTime = 0;
  TDateTime FMaxResponseTimeAt = 0;
  uint32_t FMaxResponseTimeNAD = 0;

  // Permission frames seen on any line.
  int32_t FPermissionCount = 0;
  uint32_t FLastPermissionFrameTick = 0;
  uint32_t FPermissionInterval = 0;
  uint32_t FLastPermissionReceiver = 0;
  // Permissions granted to the server (MasterToOpcRequestCount).
  int32_t FMasterToOpcRequestCount = 0;
  uint32_t FLastOwnPermissionTick = 0;
  uint32_t FOwnPermissionInterval = 0;
  uint32_t FCurrentMasterNAD = 0;
  // When a preparation last ran for the server's own NAD; Has* false after
  // a reset.
  uint32_t FLastPermissionTick = 0;
  bool FHasPermissionTick = false;

  // PLC timeout transitions, judged by the view tick.
  int32_t FTimeoutCount = 0;
  TDateTime FLastTimeoutAt = 0;
  int32_t FLastTimeoutNAD = 0;

  // At the first show: silence is measured from here.
  void ResetReferences(uint32_t Tick);
  void TimeoutTransition(int32_t NAD, TDateTime Now);
  bool PermissionRecentAt(uint32_t Tick) const;
  // Milliseconds since the last valid frame; "very long" when none.
  uint32_t SinceGoodFrame(uint32_t Tick) const;
  // The 2000000000 rule, checked every view tick.
  void WrapTransferCounters();
  // "Reset Sys Counters": every figure but the last response time and the
  // request tick.
  void Reset();
};
