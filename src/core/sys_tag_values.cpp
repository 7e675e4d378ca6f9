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
  SetLong(PLC.FSysMaster, static_cast<uint32_t>(PLC.FNAD) == State.FCounters.FCurrentMasterNAD ? 1 : 0);
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
  const TServerCommCounters& c = State.FCounters;
  auto nad = [](uint32_t v) { return static_cast<int32_t>(v); };
  auto ms = [](int32_t v) { return static_cast<uint32_t>(v); };
  SetLong(s.FComReceiveCount, c.FGoodFrameCount);
  SetLong(s.FComTransmitCount, c.FTransmitCount);
  SetLong(s.FComErrorCount, c.FErrorCount);
  SetText(s.FLastReceivedAt, stamp(c.FLastGoodFrameAt));
  SetLong(s.FLastReceivedNad, c.FLastReceivedNAD);
  SetText(s.FLastResponseTime, DurationText(ms(c.FLastResponseTime)));
  SetText(s.FMaximumResponseTime, DurationText(ms(c.FMaxResponseTime)));
  SetText(s.FMaximumResponseTimeAt, stamp(c.FMaxResponseTimeAt));
  SetLong(s.FMaximumResponseTimeNad, nad(c.FMaxResponseTimeNAD));
  SetLong(s.FComTimeoutCount, c.FTimeoutCount);
  SetText(s.FLastTimeoutAt, stamp(c.FLastTimeoutAt));
  SetLong(s.FLastTimeoutNad, c.FLastTimeoutNAD);
  SetLong(s.FBadMessageCount, c.FInvalidFrameCount);
  SetText(s.FLastBadMessageAt, stamp(c.FLastInvalidFrameAt));
  SetLong(s.FLastBadMessageNad, nad(c.FLastInvalidFrameNAD));
  SetLong(s.FNegativeAckCount, c.FNakCount);
  SetText(s.FLastNegativeAckAt, stamp(c.FLastNakAt));
  SetLong(s.FLastNegativeAckNad, nad(c.FLastNakNAD));
  SetLong(s.FTagsToRead, Inputs.TagsToRead);
  SetLong(s.FTagsToWrite, Inputs.TagsToWrite);
  SetLong(s.FReadCount, c.FReadCount);
  SetText(s.FLastReadAt, stamp(c.FLastReadAt));
  SetLong(s.FLastReadNad, nad(c.FLastReadNAD));
  SetLong(s.FReadErrorCount, c.FReadErrorCount);
  SetLong(s.FWriteCount, c.FWriteCount);
  SetText(s.FLastWriteAt, stamp(c.FLastWriteAt));
  SetLong(s.FLastWriteNad, nad(c.FLastWriteNAD));
  SetLong(s.FWriteErrorCount, c.FWriteErrorCount);
  SetLong(s.FBackgroundRefreshCount, c.FBackgroundRefreshCount);
  SetText(s.FLastBackgroundRefreshAt, stamp(c.FLastBackgroundRefreshAt));
  SetLong(s.FLastBackgroundRefreshNad, nad(c.FLastBackgroundRefreshNAD));
  SetLong(s.FBackgroundRefreshErrorCount, c.FBackgroundRefreshErrorCount);
  SetLong(s.FMasterToOpcRequestCount, c.FMasterToOpcRequestCount);
  SetLong(s.FNetworkSocketCount, c.FSocketFrameCount);
  // CommnicationPriorityNAD keeps what was written to it.
}

void ResetSysCounters(TOPCProject& Project, TServerComState& State) {
  Project.acResetExecute();
  State.FCounters.Reset();
}
