// System tags: the published names, types, rights and descriptions, in the
// order clients browse them, and re-use of orphans across reloads.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "fakes/fake_tag_environment.h"
#include "model/norvo_model.h"
#include "model/orphan_list.h"
#include "model/sys_tags.h"

namespace {

struct Expected {
  const char* name;
  bool text;
  const char* description;
};

const Expected kServer[] = {
    {"ServerStartedAt", true, "Time and date when OPC server is started."},
    {"SystemTime", true, "System Time"},
    {"ServerUptime", true, "Time elapsed since OPC server is started."},
    {"ClientsConnected", false, "Number of connected OPC clients."},
    {"TagsCount", false, "Total number of tags"},
    {"MonitoredTags", false, "Total number of tags monitored by all connected OPC clients"},
    {"ProjectCount", false, "Number of loaded Zelta projects."},
    {"PlcCount", false, "Total number of PLC's in all loaded projects."},
    {"ComStatus", true, "Communication status: \"disconected\", \"ok\", \"idle (no tags)\", \"error: can't open COM port\", \"error: no communication\", \"error: master running, but no requests to OPC\", \"error: some PLCs are ok, some are not responding\", \"error: no PLC is responding\""},
    {"ComReceiveCount", false, "Total number of good communication messages received."},
    {"ComTransmitCount", false, "Total number of communication messages sent"},
    {"ComErrorCount", false, "Total number of communication errors (including timeouts, bad messages and negative acknowledges)"},
    {"LastReceivedAt", true, "Timestamp of last good communication message received"},
    {"LastReceivedNad", false, "Device from which last good communication message is received"},
    {"LastResponseTime", true, "Response time of last good communication cycle"},
    {"MaximumResponseTime", true, "Maximum response time encountered"},
    {"MaximumResponseTimeAt", true, "Timestamp when maximum response time is encountered"},
    {"MaximumResponseTimeNad", false, "Device for which maximum response time is encountered"},
    {"ComTimeoutCount", false, "Total number of communication timeouts"},
    {"LastTimeoutAt", true, "Timestamp of last detected OPC communication timeout"},
    {"LastTimeoutNad", false, "Last device that caused communication timeout"},
    {"BadMessageCount", false, "Total number of bad communication messages received"},
    {"LastBadMessageAt", true, "Timestamp of last detected bad communication message"},
    {"LastBadMessageNad", false, "Last device from which bad communication message is received"},
    {"NegativeAckCount", false, "Total number of negative acknowledges received"},
    {"LastNegativeAckAt", true, "Timestamp of last detected negative acknowledge"},
    {"LastNegativeAckNad", false, "Last device from which negative acknowledge is received"},
    {"TagsToRead", false, "Total number of tags waiting to be read (excluding background refresh)"},
    {"TagsToWrite", false, "Total number of tags waiting to be written"},
    {"ReadCount", false, "Number of OPC read cycles (excluding background refresh)"},
    {"LastReadAt", true, "Timestamp of last succesfull OPC read (excluding background refresh)"},
    {"LastReadNad", false, "PLC accessed in last successfull OPC read (excluding background refresh)"},
    {"ReadErrorCount", false, "Number of OPC read errors (excluding background refresh)"},
    {"WriteCount", false, "Number of OPC write cycles"},
    {"LastWriteAt", true, "Timestamp of last succesfull OPC write"},
    {"LastWriteNad", false, "PLC accessed in last successfull OPC write"},
    {"WriteErrorCount", false, "Number of OPC write errors"},
    {"BackgroundRefreshCount", false, "Number of OPC background refresh cycles"},
    {"LastBackgroundRefreshAt", true, "Timestamp of last succesfull OPC background refresh"},
    {"LastBackgroundRefreshNad", false, "PLC accessed in last succesfull OPC background refresh"},
    {"BackgroundRefreshErrorCount", false, "Number of OPC background refresh errors"},
    {"MasterToOpcRequestCount", false, "Number of requests sent from network master to OPC"},
    {"NetworkSocketCount", false, "Total number of sockets sent in the network"},
    {"CommnicationPriorityNAD", false, "Set NAD which should be preferred for communication, 0=no prirotiy"},
};

const Expected kPLC[] = {
    {"Nad", false, "Actual Norvo network address (may be NAD or NAD alias)"},
    {"TimedOut", false, "True if Norvo is not responding to communication requests"},
    {"Master", false, "True if Norvo is network master, false otherwise"},
    {"ComStatus", true, "Communication status: \"ok\", \"disconected\", \"idle (no tags)\", \"error: can't open COM port\", \"error: no communication\", \"error: master running, but no requests to OPC\", \"error: PLC is not responding"},
    {"IPAddress", true, "current IP address"},
    {"TagsCount", false, "Total number of tags"},
    {"TagsToRead", false, "Number of tags waiting to be read (excluding background refresh)"},
    {"TagsToWrite", false, "Number of tags waiting to be written"},
    {"ComReceiveCount", false, "Total number of good communication messages received from this PLC"},
    {"ComTransmitCount", false, "Total number of communication messages sent to this PLC"},
    {"LastRTCUpdate", true, "Timestamp of last Real Time Clock synchronization"},
    {"ComErrorCount", false, "Total number of communication errors from this PLC (including timeouts, bad messages and negative acknowledges)"},
    {"LastReceivedAt", true, "Timestamp of last good communication message received"},
    {"LastResponseTime", true, "Response time of last good communication cycle"},
    {"MaximumResponseTime", true, "Maximum response time encountered"},
    {"MaximumResponseTimeAt", true, "Timestamp when maximum response time is encountered"},
    {"ComTimeoutCount", false, "Total number of communication timeouts"},
    {"LastTimeoutAt", true, "Timestamp of last detected OPC communication timeout"},
    {"BadMessageCount", false, "Total number of invalid communication messages received"},
    {"LastBadMessageAt", true, "Timestamp of last detected invalid communication message"},
    {"NegativeAckCount", false, "Total number of negative acknowledges received"},
    {"LastNegativeAckAt", true, "Timestamp of last detected negative acknowledge"},
    {"ReadCount", false, "Number of read cycles (excluding background refresh)"},
    {"ReadErrorCount", false, "Number of read errors (excluding background refresh)"},
    {"WriteCount", false, "Number of write cycles"},
    {"WriteErrorCount", false, "Number of write errors"},
    {"BackgroundRefreshCount", false, "Number of background refresh cycles"},
    {"BackgroundRefreshErrorCount", false, "Number of background refresh errors"},
    {"MonitoredTags", false, "Total number of tags monitored by all connected OPC clients"},
    {"SystemStatus", true, "System status: \"loader\", \"kernel\""},
    {"PLCStatus", true, "PLC status: \"stop\", \"run\", \"pause\", \"error\""},
};

class OneOrphan final : public IOrphanList {
 public:
  std::unique_ptr<TNorvoVar> TakeOrphan(std::string_view ItemID) override {
    if (held && held->FItemID == ItemID) return std::move(held);
    return nullptr;
  }
  void AddOrphan(std::unique_ptr<TNorvoVar> Tag) override { held = std::move(Tag); }
  std::unique_ptr<TNorvoVar> held;
};

void ExpectTable(const std::vector<std::unique_ptr<TNorvoVar>>& tags, const Expected* expected, size_t count,
                 const std::string& prefix) {
  ASSERT_EQ(tags.size(), count);
  for (size_t i = 0; i < count; ++i) {
    SCOPED_TRACE(expected[i].name);
    const TNorvoVar& t = *tags[i];
    EXPECT_EQ(t.FName, expected[i].name);
    EXPECT_EQ(t.FItemID, prefix + expected[i].name);
    EXPECT_EQ(t.FDescription, expected[i].description);
    EXPECT_EQ(t.FVarType, expected[i].text ? ntString : ntLong);
    EXPECT_EQ(t.FAccessRights, std::string(expected[i].name) == "CommnicationPriorityNAD" ? 3 : 1);
    EXPECT_TRUE(t.FIsSystem);
    EXPECT_FALSE(t.FOrphan);
    EXPECT_EQ(t.FColor, 0xA00000u);
  }
}

TEST(SysTags, ServerTagsInOrderWithTheirTexts) {
  FakeTagEnvironment env;
  std::vector<std::unique_ptr<TNorvoVar>> list;
  TServerSysTags refs;
  CreateServerSysTags(list, nullptr, refs);
  ExpectTable(list, kServer, std::size(kServer), "Sys.");
  EXPECT_EQ(refs.FServerStartedAt, list.front().get());
  EXPECT_EQ(refs.FCommnicationPriorityNAD, list.back().get());
  EXPECT_EQ(refs.FComStatus->FName, "ComStatus");
  for (const auto& t : list) EXPECT_EQ(t->FOwner, nullptr);
}

TEST(SysTags, PLCTagsInOrderWithTheirTextsAndFields) {
  FakeTagEnvironment env;
  TNorvoModel plc(nullptr, "", "Unit", 5, "Unit.5", nullptr);
  ExpectTable(plc.FSysTags, kPLC, std::size(kPLC), "Unit.5.Sys.");
  EXPECT_TRUE(plc.FTags.empty());
  EXPECT_EQ(plc.FSysNad, plc.FSysTags.front().get());
  EXPECT_EQ(plc.FSysPLCStatus, plc.FSysTags.back().get());
  EXPECT_EQ(plc.FSysLastRTCUpdate->FName, "LastRTCUpdate");
  EXPECT_EQ(plc.FSysNad->FOwner, &plc);
}

TEST(SysTags, AnOrphanWithTheSameItemIDIsTakenAgain) {
  FakeTagEnvironment env;
  OneOrphan orphans;
  auto old = std::make_unique<TNorvoVar>(nullptr, "Nad");
  old->FItemID = "Unit.5.Sys.Nad";
  old->FOrphan = true;
  old->FRefCount = 2;
  TNorvoVar* held = old.get();
  orphans.held = std::move(old);

  TNorvoModel plc(nullptr, "", "Unit", 5, "Unit.5", &orphans);
  EXPECT_EQ(plc.FSysNad, held);
  EXPECT_EQ(held->FOwner, &plc);
  EXPECT_FALSE(held->FOrphan);
  EXPECT_EQ(held->FRefCount, 2);
  EXPECT_NE(held->GetQuality(), kQualityConfigError);
}

}  // namespace
