#include "model/sys_tags.h"

#include "model/norvo_model.h"
#include "model/orphan_list.h"
#include "model/tag_view.h"

namespace {

struct TServerSysTagEntry {
  TSysTagInfo Info;
  TNorvoVar* TServerSysTags::*Ref;
};

struct TPLCSysTagEntry {
  TSysTagInfo Info;
  TNorvoVar* TNorvoModel::*Ref;
};

// Descriptions are the texts clients read as item properties; their
// spelling is kept as clients have always seen it.
const TServerSysTagEntry kServerTags[] = {
    {{"ServerStartedAt", true, "Time and date when OPC server is started."}, &TServerSysTags::FServerStartedAt},
    {{"SystemTime", true, "System Time"}, &TServerSysTags::FSystemTime},
    {{"ServerUptime", true, "Time elapsed since OPC server is started."}, &TServerSysTags::FServerUptime},
    {{"ClientsConnected", false, "Number of connected OPC clients."}, &TServerSysTags::FClientsConnected},
    {{"TagsCount", false, "Total number of tags"}, &TServerSysTags::FTagsCount},
    {{"MonitoredTags", false, "Total number of tags monitored by all connected OPC clients"}, &TServerSysTags::FMonitoredTags},
    {{"ProjectCount", false, "Number of loaded Zelta projects."}, &TServerSysTags::FProjectCount},
    {{"PlcCount", false, "Total number of PLC's in all loaded projects."}, &TServerSysTags::FPlcCount},
    {{"ComStatus", true, "Communication status: \"disconected\", \"ok\", \"idle (no tags)\", \"error: can't open COM port\", \"error: no communication\", \"error: master running, but no requests to OPC\", \"error: some PLCs are ok, some are not responding\", \"error: no PLC is responding\""}, &TServerSysTags::FComStatus},
    {{"ComReceiveCount", false, "Total number of good communication messages received."}, &TServerSysTags::FComReceiveCount},
    {{"ComTransmitCount", false, "Total number of communication messages sent"}, &TServerSysTags::FComTransmitCount},
    {{"ComErrorCount", false, "Total number of communication errors (including timeouts, bad messages and negative acknowledges)"}, &TServerSysTags::FComErrorCount},
    {{"LastReceivedAt", true, "Timestamp of last good communication message received"}, &TServerSysTags::FLastReceivedAt},
    {{"LastReceivedNad", false, "Device from which last good communication message is received"}, &TServerSysTags::FLastReceivedNad},
    {{"LastResponseTime", true, "Response time of last good communication cycle"}, &TServerSysTags::FLastResponseTime},
    {{"MaximumResponseTime", true, "Maximum response time encountered"}, &TServerSysTags::FMaximumResponseTime},
    {{"MaximumResponseTimeAt", true, "Timestamp when maximum response time is encountered"}, &TServerSysTags::FMaximumResponseTimeAt},
    {{"MaximumResponseTimeNad", false, "Device for which maximum response time is encountered"}, &TServerSysTags::FMaximumResponseTimeNad},
    {{"ComTimeoutCount", false, "Total number of communication timeouts"}, &TServerSysTags::FComTimeoutCount},
    {{"LastTimeoutAt", true, "Timestamp of last detected OPC communication timeout"}, &TServerSysTags::FLastTimeoutAt},
    {{"LastTimeoutNad", false, "Last device that caused communication timeout"}, &TServerSysTags::FLastTimeoutNad},
    {{"BadMessageCount", false, "Total number of bad communication messages received"}, &TServerSysTags::FBadMessageCount},
    {{"LastBadMessageAt", true, "Timestamp of last detected bad communication message"}, &TServerSysTags::FLastBadMessageAt},
    {{"LastBadMessageNad", false, "Last device from which bad communication message is received"}, &TServerSysTags::FLastBadMessageNad},
    {{"NegativeAckCount", false, "Total number of negative acknowledges received"}, &TServerSysTags::FNegativeAckCount},
    {{"LastNegativeAckAt", true, "Timestamp of last detected negative acknowledge"}, &TServerSysTags::FLastNegativeAckAt},
    {{"LastNegativeAckNad", false, "Last device from which negative acknowledge is received"}, &TServerSysTags::FLastNegativeAckNad},
    {{"TagsToRead", false, "Total number of tags waiting to be read (excluding background refresh)"}, &TServerSysTags::FTagsToRead},
    {{"TagsToWrite", false, "Total number of tags waiting to be written"}, &TServerSysTags::FTagsToWrite},
    {{"ReadCount", false, "Number of OPC read cycles (excluding background refresh)"}, &TServerSysTags::FReadCount},
    {{"LastReadAt", true, "Timestamp of last succesfull OPC read (excluding background refresh)"}, &TServerSysTags::FLastReadAt},
    {{"LastReadNad", false, "PLC accessed in last successfull OPC read (excluding background refresh)"}, &TServerSysTags::FLastReadNad},
    {{"ReadErrorCount", false, "Number of OPC read errors (excluding background refresh)"}, &TServerSysTags::FReadErrorCount},
    {{"WriteCount", false, "Number of OPC write cycles"}, &TServerSysTags::FWriteCount},
    {{"LastWriteAt", true, "Timestamp of last succesfull OPC write"}, &TServerSysTags::FLastWriteAt},
    {{"LastWriteNad", false, "PLC accessed in last successfull OPC write"}, &TServerSysTags::FLastWriteNad},
    {{"WriteErrorCount", false, "Number of OPC write errors"}, &TServerSysTags::FWriteErrorCount},
    {{"BackgroundRefreshCount", false, "Number of OPC background refresh cycles"}, &TServerSysTags::FBackgroundRefreshCount},
    {{"LastBackgroundRefreshAt", true, "Timestamp of last succesfull OPC background refresh"}, &TServerSysTags::FLastBackgroundRefreshAt},
    {{"LastBackgroundRefreshNad", false, "PLC accessed in last succesfull OPC background refresh"}, &TServerSysTags::FLastBackgroundRefreshNad},
    {{"BackgroundRefreshErrorCount", false, "Number of OPC background refresh errors"}, &TServerSysTags::FBackgroundRefreshErrorCount},
    {{"MasterToOpcRequestCount", false, "Number of requests sent from network master to OPC"}, &TServerSysTags::FMasterToOpcRequestCount},
    {{"NetworkSocketCount", false, "Total number of sockets sent in the network"}, &TServerSysTags::FNetworkSocketCount},
    {{"CommnicationPriorityNAD", false, "Set NAD which should be preferred for communication, 0=no prirotiy"}, &TServerSysTags::FCommnicationPriorityNAD},
};

const TPLCSysTagEntry kPLCTags[] = {
    {{"Nad", false, "Actual Norvo network address (may be NAD or NAD alias)"}, &TNorvoModel::FSysNad},
    {{"TimedOut", false, "True if Norvo is not responding to communication requests"}, &TNorvoModel::FSysTimedOut},
    {{"Master", false, "True if Norvo is network master, false otherwise"}, &TNorvoModel::FSysMaster},
    {{"ComStatus", true, "Communication status: \"ok\", \"disconected\", \"idle (no tags)\", \"error: can't open COM port\", \"error: no communication\", \"error: master running, but no requests to OPC\", \"error: PLC is not responding"}, &TNorvoModel::FSysComStatus},
    {{"IPAddress", true, "current IP address"}, &TNorvoModel::FSysIPAddress},
    {{"TagsCount", false, "Total number of tags"}, &TNorvoModel::FSysTagsCount},
    {{"TagsToRead", false, "Number of tags waiting to be read (excluding background refresh)"}, &TNorvoModel::FSysTagsToRead},
    {{"TagsToWrite", false, "Number of tags waiting to be written"}, &TNorvoModel::FSysTagsToWrite},
    {{"ComReceiveCount", false, "Total number of good communication messages received from this PLC"}, &TNorvoModel::FSysComReceiveCount},
    {{"ComTransmitCount", false, "Total number of communication messages sent to this PLC"}, &TNorvoModel::FSysComTransmitCount},
    {{"LastRTCUpdate", true, "Timestamp of last Real Time Clock synchronization"}, &TNorvoModel::FSysLastRTCUpdate},
    {{"ComErrorCount", false, "Total number of communication errors from this PLC (including timeouts, bad messages and negative acknowledges)"}, &TNorvoModel::FSysComErrorCount},
    {{"LastReceivedAt", true, "Timestamp of last good communication message received"}, &TNorvoModel::FSysLastReceivedAt},
    {{"LastResponseTime", true, "Response time of last good communication cycle"}, &TNorvoModel::FSysLastResponseTime},
    {{"MaximumResponseTime", true, "Maximum response time encountered"}, &TNorvoModel::FSysMaximumResponseTime},
    {{"MaximumResponseTimeAt", true, "Timestamp when maximum response time is encountered"}, &TNorvoModel::FSysMaximumResponseTimeAt},
    {{"ComTimeoutCount", false, "Total number of communication timeouts"}, &TNorvoModel::FSysComTimeoutCount},
    {{"LastTimeoutAt", true, "Timestamp of last detected OPC communication timeout"}, &TNorvoModel::FSysLastTimeoutAt},
    {{"BadMessageCount", false, "Total number of invalid communication messages received"}, &TNorvoModel::FSysBadMessageCount},
    {{"LastBadMessageAt", true, "Timestamp of last detected invalid communication message"}, &TNorvoModel::FSysLastBadMessageAt},
    {{"NegativeAckCount", false, "Total number of negative acknowledges received"}, &TNorvoModel::FSysNegativeAckCount},
    {{"LastNegativeAckAt", true, "Timestamp of last detected negative acknowledge"}, &TNorvoModel::FSysLastNegativeAckAt},
    {{"ReadCount", false, "Number of read cycles (excluding background refresh)"}, &TNorvoModel::FSysReadCount},
    {{"ReadErrorCount", false, "Number of read errors (excluding background refresh)"}, &TNorvoModel::FSysReadErrorCount},
    {{"WriteCount", false, "Number of write cycles"}, &TNorvoModel::FSysWriteCount},
    {{"WriteErrorCount", false, "Number of write errors"}, &TNorvoModel::FSysWriteErrorCount},
    {{"BackgroundRefreshCount", false, "Number of background refresh cycles"}, &TNorvoModel::FSysBackgroundRefreshCount},
    {{"BackgroundRefreshErrorCount", false, "Number of background refresh errors"}, &TNorvoModel::FSysBackgroundRefreshErrorCount},
    {{"MonitoredTags", false, "Total number of tags monitored by all connected OPC clients"}, &TNorvoModel::FSysMonitoredTags},
    {{"SystemStatus", true, "System status: \"loader\", \"kernel\""}, &TNorvoModel::FSysSystemStatus},
    {{"PLCStatus", true, "PLC status: \"stop\", \"run\", \"pause\", \"error\""}, &TNorvoModel::FSysPLCStatus},
};

template <class Entry, size_t N>
std::span<const TSysTagInfo> InfoTable(const Entry (&entries)[N]) {
  static const std::vector<TSysTagInfo> infos = [&] {
    std::vector<TSysTagInfo> v;
    for (const auto& e : entries) v.push_back(e.Info);
    return v;
  }();
  return infos;
}

}  // namespace

std::span<const TSysTagInfo> ServerSysTagTable() { return InfoTable(kServerTags); }
std::span<const TSysTagInfo> PLCSysTagTable() { return InfoTable(kPLCTags); }

TNorvoVar& CreateSysTag(std::vector<std::unique_ptr<TNorvoVar>>& List, ITagTableView* View,
                        const std::string& Description, const std::string& Name, bool IsText,
                        TNorvoModel* Owner, IOrphanList* Orphans) {
  std::unique_ptr<TNorvoVar> tag;
  std::string itemID;
  if (Owner) {
    itemID = Owner->FName + ".Sys." + Name;
    if (Orphans) tag = Orphans->TakeOrphan(itemID);
    if (!tag) tag = std::make_unique<TNorvoVar>(Owner, Name);
  } else {
    itemID = "Sys." + Name;
    tag = std::make_unique<TNorvoVar>(nullptr, Name);
  }
  tag->FOwner = Owner;
  tag->FOrphan = false;
  tag->FIsSystem = true;
  tag->FColor = kSysTagColor;
  tag->FItemID = std::move(itemID);
  tag->FVarType = IsText ? ntString : ntLong;
  tag->FAccessRights = Name == kPriorityNADTagName ? 3 : 1;
  tag->FDescription = Description;
  tag->FView = View;
  if (View) View->AddRow(*tag);
  List.push_back(std::move(tag));
  return *List.back();
}

void CreateServerSysTags(std::vector<std::unique_ptr<TNorvoVar>>& List, ITagTableView* View,
                         TServerSysTags& Refs) {
  for (const auto& e : kServerTags)
    Refs.*e.Ref = &CreateSysTag(List, View, e.Info.Description, e.Info.Name, e.Info.IsText, nullptr, nullptr);
}

void CreatePLCSysTags(TNorvoModel& PLC, IOrphanList* Orphans) {
  for (const auto& e : kPLCTags)
    PLC.*e.Ref = &CreateSysTag(PLC.FSysTags, PLC.FView, e.Info.Description, e.Info.Name, e.Info.IsText, &PLC,
                              Orphans);
}
