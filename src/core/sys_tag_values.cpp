#include "core/sys_tag_values.h"

#include <cmath>
#include <cstdio>

#include "comm/comm_driver.h"
#include "core/opc_project.h"
#include "model/norvo_model.h"
#include "platform/date_time.h"

namespace {

void SetLong(TNorvoVar* Tag, int32_t Value) {
  if (Tag) Tag->UpdateFromPLC(Value);
}

void SetText(TNorvoVar* Tag, const std::string& Value) {
  if (Tag) Tag->UpdateText(Value);
}

std::string TwoDigits(uint64_t Value) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "%02llu", static_cast<unsigned long long>(Value));
  return buf;
}

}  // namespace

std::string TimestampText(TDateTime Value, TDateTime Today) {
  if (Value == 0) return FormatLongTime(0);
  if (std::floor(Value) == std::floor(Today)) return FormatLongTime(Value);
  return FormatShortDate(Value) + "  " + FormatLongTime(Value);
}

std::string DurationText(uint64_t Ms) {
  const uint64_t days = Ms / 86400000;
  const uint64_t hours = (Ms / 3600000) % 24;
  const uint64_t minutes = (Ms / 60000) % 60;
  const uint64_t seconds = (Ms / 1000) % 60;
  const std::string clock = TwoDigits(hours) + ":" + TwoDigits(minutes) + ":" + TwoDigits(seconds);
  if (days > 0) return std::to_string(days) + " days, " + clock;
  if (hours != 0 || minutes != 0 || seconds > 9) return clock;
  return std::to_string(seconds * 1000 + Ms % 1000) + "ms";
}

std::string SystemStatusText(int32_t Status) {
  switch (Status) {
    case 0: return "loader";
    case 1: return "kernel";
    default: return "unknown " + std::to_string(Status);
  }
}

std::string PLCStatusText(int32_t Status) {
  switch (Status) {
    case 0: return "stop";
    case 1: return "pause";
    case 2: return "run";
    case 3: return "no valid program";
    case 4: return "congestion error";
    default: return "error " + std::to_string(Status);
  }
}

bool StatusTextsFresh(const TNorvoModel& PLC, uint32_t Tick) {
  // A reply tick of 0 is the start state: no reply has come yet, however
  // close the tick counter still is to its origin.
  if (PLC.FStatusReplyTick == 0 || PLC.FTimedOut) return false;
  if (TickDiff(Tick, PLC.FStatusReplyTick) >= kStatusReplyMaxAgeMs) return false;
  // A reply newer than the request gives a negative lag.
  const auto lag = static_cast<int32_t>(PLC.FStatusRequestTick - PLC.FStatusReplyTick);
  return lag <= 999 || TickDiff(Tick, PLC.FStatusRequestTick) < 1000;
}

void RefreshServerSysTags(TOPCProject& Project) {
  for (auto& t : Project.FSysTags) t->UpdateFromPLC(t->FValue);
}

void UpdatePLCSysTags(TNorvoModel& PLC, const TPLCTagCounts& Counts, const std::string& ComStatus,
                      const TServerComState& State) {
  const TDateTime today = State.FNow;
  auto stamp = [&](TDateTime v) { return TimestampText(v, today); };
  SetLong(PLC.FSysNad, PLC.FNAD);
  SetLong(PLC.FSysTimedOut, PLC.FTimedOut ? 1 : 0);
  SetLong(PLC.FSysMaster, PLC.FNAD == State.FCurrentMasterNAD ? 1 : 0);
  SetText(PLC.FSysComStatus, ComStatus);
  SetText(PLC.FSysIPAddress,
          PLC.FDriver && PLC.FDriver->IsUDP() ? PLC.FDriver->FSettings.FTargetAddress : std::string("-"));
  SetLong(PLC.FSysTagsCount, static_cast<int32_t>(PLC.FTags.size()));
  SetLong(PLC.FSysTagsToRead, Counts.ToRead);
  SetLong(PLC.FSysTagsToWrite, Counts.ToWrite);
  SetLong(PLC.FSysComReceiveCount, PLC.FReceiveCount);
  SetLong(PLC.FSysComTransmitCount, PLC.FTransmitCount);
  SetText(PLC.FSysLastRTCUpdate, PLC.FLastRTCUpdate == 0 ? std::string("-") : stamp(PLC.FLastRTCUpdate));
  SetLong(PLC.FSysComErrorCount, PLC.FErrorCount);
  SetText(PLC.FSysLastReceivedAt, stamp(PLC.FLastReceivedAt));
  SetText(PLC.FSysLastResponseTime, DurationText(static_cast<uint32_t>(PLC.FLastResponseTime)));
  SetText(PLC.FSysMaximumResponseTime, DurationText(static_cast<uint32_t>(PLC.FMaxResponseTime)));
  SetText(PLC.FSysMaximumResponseTimeAt, stamp(PLC.FMaxResponseTimeAt));
  SetLong(PLC.FSysComTimeoutCount, PLC.FTimeoutCount);
  SetText(PLC.FSysLastTimeoutAt, stamp(PLC.FLastTimeoutAt));
  SetLong(PLC.FSysBadMessageCount, PLC.FBadMessageCount);
  SetText(PLC.FSysLastBadMessageAt, stamp(PLC.FLastBadMessageAt));
  SetLong(PLC.FSysNegativeAckCount, PLC.FNakCount);
  SetText(PLC.FSysLastNegativeAckAt, stamp(PLC.FLastNakAt));
  SetLong(PLC.FSysReadCount, PLC.FReadCount);
  SetLong(PLC.FSysReadErrorCount, PLC.FReadErrorCount);
  SetLong(PLC.FSysWriteCount, PLC.FWriteCount);
  SetLong(PLC.FSysWriteErrorCount, PLC.FWriteErrorCount);
  SetLong(PLC.FSysBackgroundRefreshCount, PLC.FBackgroundRefreshCount);
  SetLong(PLC.FSysBackgroundRefreshErrorCount, PLC.FBackgroundRefreshErrorCount);
  SetLong(PLC.FSysMonitoredTags, Counts.Monitored);
  const bool fresh = StatusTextsFresh(PLC, State.FTickNow);
  SetText(PLC.FSysSystemStatus, fresh ? SystemStatusText(PLC.FSystemStatus) : std::string());
  SetText(PLC.FSysPLCStatus, fresh ? PLCStatusText(PLC.FPLCStatus) : std::string());
}

void UpdateServerSysTags(TOPCProject& Project, const TServerComState& State, const TServerSysInputs& Inputs) {
  const TServerSysTags& s = Project.FSys;
  const TDateTime today = State.FNow;
  auto stamp = [&](TDateTime v) { return TimestampText(v, today); };
  SetText(s.FServerStartedAt, stamp(Inputs.ServerStartedAt));
  SetText(s.FSystemTime, FormatLongTime(State.FNow));
  SetText(s.FServerUptime, DurationText(State.FUptimeMs));
  SetLong(s.FClientsConnected, Inputs.ClientsConnected);
  SetLong(s.FTagsCount, static_cast<int32_t>(Project.TagCount()));
  SetLong(s.FMonitoredTags, Inputs.MonitoredTags);
  SetLong(s.FProjectCount, static_cast<int32_t>(Project.FProjectFiles.size()));
  SetLong(s.FPlcCount, static_cast<int32_t>(Project.FPLCs.size()));
  SetText(s.FComStatus, Inputs.ComStatus);
  SetLong(s.FComReceiveCount, State.FComReceiveCount);
  SetLong(s.FComTransmitCount, State.FComTransmitCount);
  SetLong(s.FComErrorCount, State.FComErrorCount);
  SetText(s.FLastReceivedAt, stamp(State.FLastReceivedAt));
  SetLong(s.FLastReceivedNad, State.FLastReceivedNad);
  SetText(s.FLastResponseTime, DurationText(State.FLastResponseTime));
  SetText(s.FMaximumResponseTime, DurationText(State.FMaximumResponseTime));
  SetText(s.FMaximumResponseTimeAt, stamp(State.FMaximumResponseTimeAt));
  SetLong(s.FMaximumResponseTimeNad, State.FMaximumResponseTimeNad);
  SetLong(s.FComTimeoutCount, State.FComTimeoutCount);
  SetText(s.FLastTimeoutAt, stamp(State.FLastTimeoutAt));
  SetLong(s.FLastTimeoutNad, State.FLastTimeoutNad);
  SetLong(s.FBadMessageCount, State.FBadMessageCount);
  SetText(s.FLastBadMessageAt, stamp(State.FLastBadMessageAt));
  SetLong(s.FLastBadMessageNad, State.FLastBadMessageNad);
  SetLong(s.FNegativeAckCount, State.FNegativeAckCount);
  SetText(s.FLastNegativeAckAt, stamp(State.FLastNegativeAckAt));
  SetLong(s.FLastNegativeAckNad, State.FLastNegativeAckNad);
  SetLong(s.FTagsToRead, Inputs.TagsToRead);
  SetLong(s.FTagsToWrite, Inputs.TagsToWrite);
  SetLong(s.FReadCount, State.FReadCount);
  SetText(s.FLastReadAt, stamp(State.FLastReadAt));
  SetLong(s.FLastReadNad, State.FLastReadNad);
  SetLong(s.FReadErrorCount, State.FReadErrorCount);
  SetLong(s.FWriteCount, State.FWriteCount);
  SetText(s.FLastWriteAt, stamp(State.FLastWriteAt));
  SetLong(s.FLastWriteNad, State.FLastWriteNad);
  SetLong(s.FWriteErrorCount, State.FWriteErrorCount);
  SetLong(s.FBackgroundRefreshCount, State.FBackgroundRefreshCount);
  SetText(s.FLastBackgroundRefreshAt, stamp(State.FLastBackgroundRefreshAt));
  SetLong(s.FLastBackgroundRefreshNad, State.FLastBackgroundRefreshNad);
  SetLong(s.FBackgroundRefreshErrorCount, State.FBackgroundRefreshErrorCount);
  SetLong(s.FMasterToOpcRequestCount, State.FMasterToOpcRequestCount);
  SetLong(s.FNetworkSocketCount, State.FNetworkSocketCount);
  // CommnicationPriorityNAD keeps what was written to it.
}

void ResetSysCounters(TOPCProject& Project, TServerComState& State) {
  Project.acResetExecute();
  State.ResetCounters();
}
