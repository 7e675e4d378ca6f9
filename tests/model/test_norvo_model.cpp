// A PLC: creation defaults, lookups, orphaning and the counter reset.
#include <gtest/gtest.h>

#include <memory>

#include "fakes/fake_tag_environment.h"
#include "model/norvo_model.h"
#include "model/orphan_list.h"

namespace {

class OrphanSink final : public IOrphanList {
 public:
  std::unique_ptr<TNorvoVar> TakeOrphan(std::string_view) override { return nullptr; }
  void AddOrphan(std::unique_ptr<TNorvoVar> Tag) override { tags.push_back(std::move(Tag)); }
  std::vector<std::unique_ptr<TNorvoVar>> tags;
};

TEST(NorvoModel, CreationDefaults) {
  FakeTagEnvironment env;
  TNorvoModel plc(nullptr, "", "U", 7, "U.7", nullptr);
  EXPECT_EQ(plc.FProgramName, "Prog");
  EXPECT_EQ(plc.FSysTags.size(), 31u);
  EXPECT_EQ(plc.FStatusRequestTick, 1u);
  EXPECT_TRUE(plc.FComError);
  EXPECT_FALSE(plc.FUnansweredForRead || plc.FUnansweredForWrite || plc.FUnansweredForPeriodic);
  EXPECT_EQ(plc.FullName("Var"), "U.7.Var");
}

TEST(NorvoModel, FindsIgnoringCaseTakingTheLastMatch) {
  FakeTagEnvironment env;
  TNorvoModel plc(nullptr, "P", "U", 7, "U.7", nullptr);
  TNorvoVar& first = plc.AddTag(std::make_unique<TNorvoVar>(&plc, "Motor"));
  TNorvoVar& second = plc.AddTag(std::make_unique<TNorvoVar>(&plc, "MOTOR"));
  EXPECT_EQ(plc.FindTag("motor"), &second);
  EXPECT_EQ(plc.FindTagByItemID("u.7.motor"), &second);
  EXPECT_EQ(plc.FindTag("pump"), nullptr);
  EXPECT_EQ(plc.FindSysTag("U.7.SYS.NAD"), plc.FSysNad);
  EXPECT_EQ(plc.FindTagByItemID("U.7.Sys.Nad"), nullptr);  // system tags are apart
  (void)first;

  plc.FSockets.push_back(std::make_unique<TQNETSocket>(true, 3));
  plc.FSockets.push_back(std::make_unique<TQNETSocket>(false, 3));
  EXPECT_EQ(plc.FindSocket(false, 3), plc.FSockets[1].get());
  EXPECT_EQ(plc.FindSocket(true, 4), nullptr);
  auto removed = plc.RemoveSocket(plc.FSockets[0].get());
  EXPECT_TRUE(removed);
  EXPECT_EQ(plc.FSockets.size(), 1u);
}

TEST(NorvoModel, OrphanTagLeavesThePLCAndItsSockets) {
  FakeTagEnvironment env;
  OrphanSink sink;
  TNorvoModel plc(nullptr, "P", "U", 7, "U.7", &sink);
  TNorvoVar& head = plc.AddTag(std::make_unique<TNorvoVar>(&plc, "A"));
  TNorvoVar& elem = plc.AddTag(std::make_unique<TNorvoVar>(&plc, "A[0]"));
  elem.FVarType = ntInt;
  elem.FArrayHead = &head;
  plc.FSockets.push_back(std::make_unique<TQNETSocket>(true, 3));
  plc.FSockets[0]->AddTag(elem);

  plc.OrphanTag(&elem);
  ASSERT_EQ(sink.tags.size(), 1u);
  EXPECT_EQ(sink.tags[0].get(), &elem);
  EXPECT_TRUE(elem.FOrphan);
  EXPECT_EQ(elem.FOwner, nullptr);
  EXPECT_EQ(elem.FArrayHead, nullptr);
  EXPECT_EQ(elem.GetQuality(), kQualityConfigError);
  EXPECT_EQ(plc.FTags.size(), 1u);
  EXPECT_TRUE(plc.FSockets[0]->FTags.empty());
}

TEST(NorvoModel, ResetKeepsClockUpdateStatusAndTimeoutState) {
  FakeTagEnvironment env;
  TNorvoModel plc(nullptr, "P", "U", 7, "U.7", nullptr);
  plc.FReceiveCount = plc.FTransmitCount = plc.FErrorCount = 5;
  plc.FLastResponseTime = plc.FMaxResponseTime = 120;
  plc.FMaxResponseTimeAt = plc.FLastNakAt = 46000.5;
  plc.FReadCount = plc.FBackgroundRefreshErrorCount = 9;
  plc.FHasPendingWork = true;
  plc.FLastRTCUpdate = 46000.1;
  plc.FPLCStatus = 2;
  plc.FSystemStatus = 1;
  plc.FTimedOut = true;
  plc.ResetCounters();
  EXPECT_EQ(plc.FReceiveCount + plc.FTransmitCount + plc.FErrorCount, 0);
  EXPECT_EQ(plc.FLastResponseTime + plc.FMaxResponseTime, 0);
  EXPECT_EQ(plc.FMaxResponseTimeAt + plc.FLastNakAt, 0);
  EXPECT_EQ(plc.FReadCount + plc.FBackgroundRefreshErrorCount, 0);
  EXPECT_FALSE(plc.FHasPendingWork);
  EXPECT_EQ(plc.FLastRTCUpdate, 46000.1);
  EXPECT_EQ(plc.FPLCStatus, 2);
  EXPECT_EQ(plc.FSystemStatus, 1);
  EXPECT_TRUE(plc.FTimedOut);
}

}  // namespace
