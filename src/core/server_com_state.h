// The server-wide communication facts the main window keeps: the reference
// ticks the view tick judges silence by, the current network master, the
// permission figures and the counters behind the server's system tags. The
// communication layers report their events here; the view tick reads it.
#pragma once

#include <cstdint>

#include "platform/clock.h"

// ComReceiveCount and ComTransmitCount go back to 0 past this.
inline constexpr int32_t kServerCounterWrap = 2000000000;
// Without a preparation for the server's own NAD for this long, the master
// counts as no longer serving the server.
inline constexpr uint32_t kPermissionRecentMs = 6000;

struct TServerComState {
  // Taken at the start of each view tick (and by the receive handlers).
  uint32_t FTickNow = 0;
  TDateTime FNow = 0;

  // When PrepareRequest last ran for the server's own NAD. Has* false after
  // a counter reset: nothing since, whatever the tick counter's value.
  uint32_t FLastPermissionTick = 0;
  bool FHasPermissionTick = false;
  bool FPermissionRecent = false;
  // When the last valid frame arrived on any driver.
  uint32_t FLastGoodFrameTick = 0;
  bool FHasGoodFrameTick = false;
  // The station that last granted the server the permission; 0 after a reset.
  int32_t FCurrentMasterNAD = 0;
  // Some PLC of the loaded projects is configured as network master.
  bool FMasterPLCPresent = false;

  // Uptime: the sum of tick differences between view ticks.
  uint64_t FUptimeMs = 0;
  uint32_t FUptimeTick = 0;
  bool FUptimeStarted = false;

  // Permission frames seen on any line.
  int32_t FPermissionsSeen = 0;
  uint32_t FLastPermissionSeenTick = 0;
  uint32_t FPermissionSeenInterval = 0;
  int32_t FLastPermissionReceiver = 0;
  // Permissions granted to the server (MasterToOpcRequestCount counts them).
  uint32_t FLastServerPermissionTick = 0;
  uint32_t FServerPermissionInterval = 0;

  // The server's system tag values.
  int32_t FComReceiveCount = 0;
  int32_t FComTransmitCount = 0;
  int32_t FComErrorCount = 0;
  TDateTime FLastReceivedAt = 0;
  int32_t FLastReceivedNad = -1;
  uint32_t FLastResponseTime = 0;  // ms
  uint32_t FMaximumResponseTime = 0;
  TDateTime FMaximumResponseTimeAt = 0;
  int32_t FMaximumResponseTimeNad = 0;
  int32_t FComTimeoutCount = 0;
  TDateTime FLastTimeoutAt = 0;
  int32_t FLastTimeoutNad = 0;
  int32_t FBadMessageCount = 0;
  TDateTime FLastBadMessageAt = 0;
  int32_t FLastBadMessageNad = 0;
  int32_t FNegativeAckCount = 0;
  TDateTime FLastNegativeAckAt = 0;
  int32_t FLastNegativeAckNad = 0;
  int32_t FReadCount = 0;
  TDateTime FLastReadAt = 0;
  int32_t FLastReadNad = 0;
  int32_t FReadErrorCount = 0;
  int32_t FWriteCount = 0;
  TDateTime FLastWriteAt = 0;
  int32_t FLastWriteNad = 0;
  int32_t FWriteErrorCount = 0;
  int32_t FBackgroundRefreshCount = 0;
  TDateTime FLastBackgroundRefreshAt = 0;
  int32_t FLastBackgroundRefreshNad = 0;
  int32_t FBackgroundRefreshErrorCount = 0;
  int32_t FMasterToOpcRequestCount = 0;
  int32_t FNetworkSocketCount = 0;
  // When the server last sent a request, for its response time.
  uint32_t FRequestTick = 0;

  // At the first show: silence is measured from here.
  void ResetReferences(uint32_t Tick);
  void StartUptime(uint32_t Tick);
  // Starts the count at the first call when StartUptime was not called.
  void AdvanceUptime(uint32_t Tick);

  // Events of the communication layers. Kind is the request kind (1 read,
  // 2 write, 3 background read; others count nowhere).
  void ValidFrameReceived(int32_t SenderNAD, uint32_t Tick, TDateTime Now);
  void RequestSent(uint8_t Kind, uint32_t Tick);
  void SerialFrameWritten();
  // A reply or negative acknowledge addressed to the server closing a
  // request of OpenKind (0 when none was open).
  void ReplyReceived(uint8_t OpenKind, int32_t SenderNAD, uint32_t Tick, TDateTime Now);
  void BadMessage(uint8_t LastKind, int32_t SenderNAD, TDateTime Now);
  void ForeignPortData();
  void NegativeAck(int32_t SenderNAD, TDateTime Now);
  void SocketSeen();
  void TimeoutTransition(int32_t NAD, TDateTime Now);
  // PrepareRequest ran for the server's own NAD.
  void PreparedForServer(uint32_t Tick);
  // A permission frame on some line, and one granted to the server.
  void PermissionSeen(int32_t ReceiverNAD, uint32_t Tick);
  void PermissionGranted(int32_t MasterNAD, uint32_t Tick);

  // Judged at each view tick from FTickNow.
  bool PermissionRecentAt(uint32_t Tick) const;
  // Milliseconds since the last valid frame; "very long" when none.
  uint32_t SinceGoodFrame(uint32_t Tick) const;
  // The 2000000000 rule, checked every view tick.
  void WrapTransferCounters();
  // "Reset Sys Counters": the server's part.
  void ResetCounters();
};

// Counters step through 0 instead of overflowing.
inline void BumpCounter(int32_t& Counter) {
  Counter = Counter == INT32_MAX ? 0 : Counter + 1;
}
