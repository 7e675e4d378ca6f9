// One PLC of a loaded project: its tags, system tags, sockets, and the
// counters and status values its system tags are computed from.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "model/norvo_var.h"
#include "model/qnet_socket.h"

class TZeltaProject;
class TCommDriver;
class ITagTableView;
class IOrphanList;

class TNorvoModel {
 public:
  // A bare PLC without system tags, for tests of tags alone.
  TNorvoModel() = default;
  // The project set computes Name by its naming rule. Orphans (may be null)
  // gives back system tags that clients still hold from an earlier load.
  // Creates the 31 system tags.
  TNorvoModel(TZeltaProject* Project, const std::string& ProgramName, std::string UnitName, int NAD,
              std::string Name, IOrphanList* Orphans, ITagTableView* View = nullptr);
  // Frees the tags and sockets still listed. The project set releases the
  // tags first (a referenced one survives as an orphan) and drops the
  // reference on FDriver, which this layer cannot reach.
  ~TNorvoModel();
  TNorvoModel(const TNorvoModel&) = delete;
  TNorvoModel& operator=(const TNorvoModel&) = delete;

  std::string FullName(std::string_view TagName) const;
  // Gives the tag a row in FView and takes ownership; system tags go to
  // FSysTags, the others to FTags.
  TNorvoVar& AddTag(std::unique_ptr<TNorvoVar> Tag);
  // Letter case ignored; the last of several matches; null when none.
  TNorvoVar* FindTag(std::string_view Name) const;
  TNorvoVar* FindTagByItemID(std::string_view ItemID) const;
  TNorvoVar* FindSysTag(std::string_view ItemID) const;
  TQNETSocket* FindSocket(bool IsInput, int NAD) const;
  // Takes the socket out of FSockets and hands it to the caller.
  std::unique_ptr<TQNETSocket> RemoveSocket(TQNETSocket* Socket);
  void DetachTag(TNorvoVar& Tag);
  // Takes the tag out of FTags or FSysTags; null when it is not listed here.
  std::unique_ptr<TNorvoVar> TakeTag(TNorvoVar* Tag);
  // Moves a listed tag to the orphan list: no row, no owner, no array head,
  // bad quality (configuration error).
  void OrphanTag(TNorvoVar* Tag);
  // Re-stores every system tag with its own value so its time stamp follows
  // the clock.
  void RefreshSysTags();
  void ResetCounters();

  ITagTableView* FView = nullptr;  // not owned
  TZeltaProject* FProject = nullptr;  // not owned
  std::vector<std::unique_ptr<TQNETSocket>> FSockets;  // project-file order
  // Its PLC tags in allocation-file order, array tags right before their
  // elements. Owned here until the project set releases them (a referenced
  // tag moves to the orphan list).
  std::vector<std::unique_ptr<TNorvoVar>> FTags;
  int32_t FNAD = 0;
  TCommDriver* FDriver = nullptr;  // counted reference (FUseCount), not owned
  std::string FUnitName;
  std::string FProgramName;
  // The prefix of all its item IDs.
  std::string FName;
  bool FUnansweredForRead = false;
  bool FUnansweredForWrite = false;
  bool FUnansweredForPeriodic = false;
  // Counts as not responding.
  bool FTimedOut = false;
  int32_t FUnansweredCount = 0;
  std::vector<std::unique_ptr<TNorvoVar>> FSysTags;

  // The system tags, each also listed (and owned) in FSysTags.
  TNorvoVar* FSysNad = nullptr;
  TNorvoVar* FSysTimedOut = nullptr;
  TNorvoVar* FSysMaster = nullptr;
  TNorvoVar* FSysComStatus = nullptr;
  TNorvoVar* FSysIPAddress = nullptr;
  TNorvoVar* FSysTagsCount = nullptr;
  TNorvoVar* FSysTagsToRead = nullptr;
  TNorvoVar* FSysTagsToWrite = nullptr;
  TNorvoVar* FSysComReceiveCount = nullptr;
  TNorvoVar* FSysComTransmitCount = nullptr;
  TNorvoVar* FSysLastRTCUpdate = nullptr;
  TNorvoVar* FSysComErrorCount = nullptr;
  TNorvoVar* FSysLastReceivedAt = nullptr;
  TNorvoVar* FSysLastResponseTime = nullptr;
  TNorvoVar* FSysMaximumResponseTime = nullptr;
  TNorvoVar* FSysMaximumResponseTimeAt = nullptr;
  TNorvoVar* FSysComTimeoutCount = nullptr;
  TNorvoVar* FSysLastTimeoutAt = nullptr;
  TNorvoVar* FSysBadMessageCount = nullptr;
  TNorvoVar* FSysLastBadMessageAt = nullptr;
  TNorvoVar* FSysNegativeAckCount = nullptr;
  TNorvoVar* FSysLastNegativeAckAt = nullptr;
  TNorvoVar* FSysReadCount = nullptr;
  TNorvoVar* FSysReadErrorCount = nullptr;
  TNorvoVar* FSysWriteCount = nullptr;
  TNorvoVar* FSysWriteErrorCount = nullptr;
  TNorvoVar* FSysBackgroundRefreshCount = nullptr;
  TNorvoVar* FSysBackgroundRefreshErrorCount = nullptr;
  TNorvoVar* FSysMonitoredTags = nullptr;
  TNorvoVar* FSysSystemStatus = nullptr;
  TNorvoVar* FSysPLCStatus = nullptr;

  int32_t FReceiveCount = 0;
  int32_t FTransmitCount = 0;
  TDateTime FLastRTCUpdate = 0;  // 0: never
  int32_t FErrorCount = 0;
  TDateTime FLastReceivedAt = 0;
  uint32_t FLastSendTick = 0;
  int32_t FLastResponseTime = 0;  // ms
  int32_t FMaxResponseTime = 0;   // ms
  TDateTime FMaxResponseTimeAt = 0;
  int32_t FTimeoutCount = 0;
  TDateTime FLastTimeoutAt = 0;
  int32_t FBadMessageCount = 0;
  TDateTime FLastBadMessageAt = 0;
  int32_t FNakCount = 0;
  TDateTime FLastNakAt = 0;
  int32_t FReadCount = 0;
  int32_t FReadErrorCount = 0;
  int32_t FWriteCount = 0;
  int32_t FWriteErrorCount = 0;
  int32_t FBackgroundRefreshCount = 0;
  int32_t FBackgroundRefreshErrorCount = 0;
  bool FHasPendingWork = false;
  int32_t FSystemStatus = 0;
  int32_t FPLCStatus = 0;
  uint32_t FStatusRequestTick = 1;
  uint32_t FStatusReplyTick = 0;
  bool FIsMaster = false;
  bool FStatusDue = false;
  bool FBlink = false;
  bool FComError = true;
  bool FRTCSyncDue = false;
  // Address to switch the UDP driver to; kDedicatedIPDefault returns to the
  // connection's default; 0: nothing pending.
  uint32_t FDedicatedIP = 0;

  // Where OrphanTag sends tags; without one a tag stays listed here.
  IOrphanList* FOrphans = nullptr;  // not owned

  static constexpr uint32_t kDedicatedIPDefault = 0xFFFFFF;
};

// Elements follow their array tag in the owner's list, so the walk starts
// right after the head instead of scanning the whole list each time.
template <class Fn>
void TNorvoVar::ForEachElement(Fn&& fn) const {
  if (!FOwner) return;
  const auto& tags = FOwner->FTags;
  if (FHeadIndexHint >= tags.size() || tags[FHeadIndexHint].get() != this) {
    size_t i = 0;
    while (i < tags.size() && tags[i].get() != this) ++i;
    if (i == tags.size()) {
      // Not in its owner's list: no position to start from, so scan it all.
      for (const auto& t : tags)
        if (t->FArrayHead == this) fn(*t);
      return;
    }
    FHeadIndexHint = i;
  }
  for (size_t i = FHeadIndexHint + 1; i < tags.size() && tags[i]->FArrayHead == this; ++i) fn(*tags[i]);
}
