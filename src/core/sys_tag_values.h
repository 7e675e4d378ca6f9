// The values of the "Sys" branch: every server and PLC system tag filled
// from the PLC fields and the server's communication state, the texts of
// time stamps, durations and PLC status bytes, and "Reset Sys Counters".
#pragma once

#include <cstdint>
#include <string>

#include "core/server_com_state.h"
#include "platform/clock.h"

class TNorvoModel;
class TOPCProject;
struct TServerSysTags;

// A status reply older than this is no longer shown.
inline constexpr uint32_t kStatusReplyMaxAgeMs = 60000;

// Zero (never set) is the time of day 0:00; a value of Today's date shows
// only its time, any other the short date, two blanks and the time.
std::string TimestampText(TDateTime Value, TDateTime Today);
std::string DurationText(uint64_t Ms);
std::string SystemStatusText(int32_t Status);
std::string PLCStatusText(int32_t Status);
// The PLC's last status reply still describes it.
bool StatusTextsFresh(const TNorvoModel& PLC, uint32_t Tick);

// The tag counts of one PLC, taken by the view tick while it ages the tags.
struct TPLCTagCounts {
  int32_t Monitored = 0;
  int32_t ToRead = 0;
  int32_t ToWrite = 0;
};

// What the server tags need from outside the project set.
struct TServerSysInputs {
  TDateTime ServerStartedAt = 0;
  int32_t ClientsConnected = 0;
  // Items in all groups of all server objects.
  int32_t MonitoredTags = 0;
  std::string ComStatus;
  int32_t TagsToRead = 0;
  int32_t TagsToWrite = 0;
};

// Re-stores every server system tag with its own value, so it carries the
// time of this tick and never ages.
void RefreshServerSysTags(TOPCProject& Project);
void UpdatePLCSysTags(TNorvoModel& PLC, const TPLCTagCounts& Counts, const std::string& ComStatus,
                      const TServerComState& State);
void UpdateServerSysTags(TOPCProject& Project, const TServerComState& State, const TServerSysInputs& Inputs);

// "Reset Sys Counters": every PLC's counters and the server's; the tags show
// it on the next view tick.
void ResetSysCounters(TOPCProject& Project, TServerComState& State);
