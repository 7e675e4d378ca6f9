// The "Sys" branch: creation of the server's and each PLC's diagnostic tags,
// with their names, types, access rights and descriptions. Their values are
// filled in by the view timer.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <vector>

#include "model/norvo_var.h"

class TNorvoModel;
class ITagTableView;
class IOrphanList;

inline constexpr TColor kSysTagColor = 0xA00000;  // dark blue
inline constexpr const char* kPriorityNADTagName = "CommnicationPriorityNAD";

struct TSysTagInfo {
  const char* Name;
  bool IsText;  // text tag, else long
  const char* Description;
};

// In creation order: 44 server tags, 31 tags per PLC.
std::span<const TSysTagInfo> ServerSysTagTable();
std::span<const TSysTagInfo> PLCSysTagTable();

// The server's system tags, each also listed (and owned) in the project
// set's FSysTags.
struct TServerSysTags {
  TNorvoVar* FServerStartedAt = nullptr;
  TNorvoVar* FSystemTime = nullptr;
  TNorvoVar* FServerUptime = nullptr;
  TNorvoVar* FClientsConnected = nullptr;
  TNorvoVar* FTagsCount = nullptr;
  TNorvoVar* FMonitoredTags = nullptr;
  TNorvoVar* FProjectCount = nullptr;
  TNorvoVar* FPlcCount = nullptr;
  TNorvoVar* FComStatus = nullptr;
  TNorvoVar* FComReceiveCount = nullptr;
  TNorvoVar* FComTransmitCount = nullptr;
  TNorvoVar* FComErrorCount = nullptr;
  TNorvoVar* FLastReceivedAt = nullptr;
  TNorvoVar* FLastReceivedNad = nullptr;
  TNorvoVar* FLastResponseTime = nullptr;
  TNorvoVar* FMaximumResponseTime = nullptr;
  TNorvoVar* FMaximumResponseTimeAt = nullptr;
  TNorvoVar* FMaximumResponseTimeNad = nullptr;
  TNorvoVar* FComTimeoutCount = nullptr;
  TNorvoVar* FLastTimeoutAt = nullptr;
  TNorvoVar* FLastTimeoutNad = nullptr;
  TNorvoVar* FBadMessageCount = nullptr;
  TNorvoVar* FLastBadMessageAt = nullptr;
  TNorvoVar* FLastBadMessageNad = nullptr;
  TNorvoVar* FNegativeAckCount = nullptr;
  TNorvoVar* FLastNegativeAckAt = nullptr;
  TNorvoVar* FLastNegativeAckNad = nullptr;
  TNorvoVar* FTagsToRead = nullptr;
  TNorvoVar* FTagsToWrite = nullptr;
  TNorvoVar* FReadCount = nullptr;
  TNorvoVar* FLastReadAt = nullptr;
  TNorvoVar* FLastReadNad = nullptr;
  TNorvoVar* FReadErrorCount = nullptr;
  TNorvoVar* FWriteCount = nullptr;
  TNorvoVar* FLastWriteAt = nullptr;
  TNorvoVar* FLastWriteNad = nullptr;
  TNorvoVar* FWriteErrorCount = nullptr;
  TNorvoVar* FBackgroundRefreshCount = nullptr;
  TNorvoVar* FLastBackgroundRefreshAt = nullptr;
  TNorvoVar* FLastBackgroundRefreshNad = nullptr;
  TNorvoVar* FBackgroundRefreshErrorCount = nullptr;
  TNorvoVar* FMasterToOpcRequestCount = nullptr;
  TNorvoVar* FNetworkSocketCount = nullptr;
  TNorvoVar* FCommnicationPriorityNAD = nullptr;
};

// One system tag. Owner null makes a server tag ("Sys." + Name); otherwise
// the item ID is the PLC's name + ".Sys." + Name and an orphan with that ID
// is taken again, so clients keep their items across reloads.
TNorvoVar& CreateSysTag(std::vector<std::unique_ptr<TNorvoVar>>& List, ITagTableView* View,
                        const std::string& Description, const std::string& Name, bool IsText,
                        TNorvoModel* Owner, IOrphanList* Orphans);

void CreateServerSysTags(std::vector<std::unique_ptr<TNorvoVar>>& List, ITagTableView* View,
                         TServerSysTags& Refs);
void CreatePLCSysTags(TNorvoModel& PLC, IOrphanList* Orphans);
