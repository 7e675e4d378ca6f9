// The scheduler: order of kinds, packing into blocks and lists, background
// refresh, the priority NAD, slave permissions and the midnight clock.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "comm/qnet_codec.h"
#include "core/scheduler.h"
#include "fakes/fake_message_boxes.h"
#include "fakes/fake_tag_environment.h"
#include "fakes/fake_transport.h"
#include "platform/date_time.h"

namespace {

using Bytes = std::vector<uint8_t>;

class SchedulerTest : public ::testing::Test {
 protected:
  SchedulerTest() {
    project.FCommunicating = true;
    project.FAllProjectsComplete = true;
    TCommunicationSettings s;
    s.FDriverType = kDriverSerial;
    s.FCommPort = 1;
    s.FTimeOut = 1000;
    project.FDrivers.push_back(std::make_unique<TCommDriver>(s));
    driver().SetTransport(std::make_unique<TFakeTransport>(tx));
    scheduler.SetProjectSet(&project);
  }
  TCommDriver& driver() { return *project.FDrivers[0]; }
  TNorvoModel& Plc(int nad) {
    project.FPLCs.push_back(std::make_unique<TNorvoModel>());
    project.FPLCs.back()->FNAD = nad;
    project.FPLCs.back()->FDriver = &driver();
    return *project.FPLCs.back();
  }
  static TNorvoVar& Tag(TNorvoModel& plc, uint8_t type, int address) {
    auto t = std::make_unique<TNorvoVar>(&plc, "v" + std::to_string(plc.FTags.size()));
    t->FVarType = type;
    t->FAddress = address;
    return plc.AddTag(std::move(t));
  }
  // One master preparation; returns the payload sent (empty: nothing).
  Bytes Prepare() {
    const size_t before = tx->Sent.size();
    scheduler.PrepareRequest(driver(), -1, applied.FMyNAD);
    return tx->Sent.size() > before ? SentPayload(tx->Sent.back()) : Bytes{};
  }
  // Answers the open request with zeros of the length it needs.
  void AnswerZeros() {
    TCommDriver& d = driver();
    size_t n = 0;
    if (d.FLastSentKind == RD_DATA || d.FLastSentKind == RD_DATA_PERIODIC) n = static_cast<size_t>(d.RequestBytes());
    if (d.FLastSentKind == RD_STATUS) n = 2;
    TQnetTxBuffer f;
    EncodeAnswer(f, static_cast<uint32_t>(d.FLastSentPLC ? d.FLastSentPLC->FNAD : 0), 100, 1, 0, Bytes(n, 0));
    d.ReceiveChunk(f.Bytes());
  }

  FakeTagEnvironment tagEnv;
  FakeMessageBoxes boxes;
  FakeClock clock;
  TAppliedSettings applied;
  std::vector<std::function<void()>> posted;
  TOPCProject project{TProjectSetContext{applied, boxes, clock, nullptr, nullptr}};
  TCommScheduler scheduler{TSchedulerContext{
      applied, clock, nullptr, nullptr, [this](std::function<void()> run, const void*) { posted.push_back(run); },
      nullptr, nullptr}};
  std::shared_ptr<TFakeTransportState> tx = std::make_shared<TFakeTransportState>();
};

TEST_F(SchedulerTest, BackgroundRefreshReadsEveryTagOverTime) {
  TNorvoModel& plc = Plc(1);
  for (int i = 0; i < 400; ++i) Tag(plc, i % 3 == 0 ? ntLong : ntInt, i * 10);
  for (int i = 0; i < 60; ++i) {
    if (Prepare().empty()) continue;
    AnswerZeros();
  }
  for (const auto& t : plc.FTags) EXPECT_TRUE(t->FValid) << t->FAddress;
  EXPECT_GT(plc.FBackgroundRefreshCount, 1);
  EXPECT_GT(plc.FStatusReplyTick + plc.FSystemStatus + 1, 0u);
}

TEST_F(SchedulerTest, RequestedReadGoesBeforeTheBackground) {
  TNorvoModel& plc = Plc(1);
  for (int i = 0; i < 300; ++i) Tag(plc, ntLong, i * 100);
  plc.FTags[250]->FReadRequest = true;
  const Bytes p = Prepare();
  ASSERT_FALSE(p.empty());
  EXPECT_EQ(driver().FLastSentKind, RD_DATA);
  EXPECT_EQ(driver().FRequestVars.front(), plc.FTags[250].get());
}

TEST_F(SchedulerTest, WritesAndReadsAlternate) {
  TNorvoModel& plc = Plc(1);
  TNorvoVar& w = Tag(plc, ntInt, 0);
  TNorvoVar& r = Tag(plc, ntInt, 100);
  std::vector<uint8_t> kinds;
  for (int i = 0; i < 4; ++i) {
    w.FWritePending = true;
    r.FReadRequest = true;
    Prepare();
    kinds.push_back(driver().FLastSentKind);
    AnswerZeros();
  }
  EXPECT_EQ(kinds, (std::vector<uint8_t>{WR_DATA, RD_DATA, WR_DATA, RD_DATA}));
}

TEST_F(SchedulerTest, ReadPacking) {
  struct Case {
    const char* name;
    std::vector<std::pair<uint8_t, int>> tags;
    int maxBlock, minUsage;
    bool backward;
    bool list;
    size_t count;
  };
  const Case cases[] = {
      {"far apart: list", {{ntLong, 0}, {ntLong, 1000}}, 512, 5, false, true, 2},
      {"backward compatible: block only", {{ntLong, 0}, {ntLong, 1000}}, 512, 5, true, false, 1},
      {"3% usage: list", {{ntLong, 0}, {ntLong, 200}}, 512, 5, false, true, 2},
      {"7% usage: block", {{ntLong, 0}, {ntLong, 100}}, 512, 5, false, false, 2},
      {"size 4: one long", {{ntLong, 0}, {ntLong, 4}}, 4, 5, false, false, 1},
      {"descending: list", {{ntLong, 100}, {ntLong, 0}}, 512, 5, false, true, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    driver().ClearRequest();  // its tags go with the PLCs
    project.FPLCs.clear();
    driver().FLastPLCIndex.fill(0);
    driver().FLastVarIndex.fill(0);
    driver().FReadBlockLimit = 0;
    applied.FMaxBlockSize = c.maxBlock;
    applied.FMinBlockUsage = c.minUsage;
    applied.FBackwardCompatible = c.backward;
    TNorvoModel& plc = Plc(1);
    for (auto [type, address] : c.tags) Tag(plc, type, address).FReadRequest = true;
    Prepare();
    EXPECT_EQ(driver().FReadListMode, c.list);
    EXPECT_EQ(driver().FRequestCount, c.count);
  }
}

TEST_F(SchedulerTest, WritePacking) {
  TNorvoModel& plc = Plc(1);
  TNorvoVar& a = Tag(plc, ntInt, 10);
  TNorvoVar& b = Tag(plc, ntInt, 12);
  a.FWritePending = b.FWritePending = true;
  Bytes p = Prepare();
  EXPECT_EQ(p, (Bytes{0x32, 10, 0, 4, 0, 0, 0, 0, 0}));
  AnswerZeros();
  TNorvoVar& c = Tag(plc, ntInt, 20);
  a.FWritePending = b.FWritePending = c.FWritePending = true;
  driver().FRequestKind = RD_DATA;
  p = Prepare();
  EXPECT_TRUE(driver().FWriteListMode);
  EXPECT_EQ(driver().FRequestCount, 3u);
  EXPECT_EQ(p[0], 0x34);
}

TEST_F(SchedulerTest, ArrayReadRequestReadsItsElements) {
  TNorvoModel& plc = Plc(1);
  for (int i = 0; i < 50; ++i) Tag(plc, ntLong, 1000 + i * 4);
  TNorvoVar& head = Tag(plc, ntIntArray, 0);
  TNorvoVar& e0 = Tag(plc, ntInt, 0);
  TNorvoVar& e1 = Tag(plc, ntInt, 2);
  e0.FArrayHead = e1.FArrayHead = &head;
  head.FReadRequest = true;
  Prepare();
  EXPECT_EQ(driver().FLastSentKind, RD_DATA);
  ASSERT_EQ(driver().FRequestCount, 2u);
  EXPECT_EQ(driver().FRequestVars[0], &e0);
  EXPECT_EQ(driver().FRequestVars[1], &e1);
  EXPECT_FALSE(head.FReadRequest);
}

TEST_F(SchedulerTest, StatusReadsWithoutBackgroundTagRefresh) {
  applied.FBackgroundRefreshTags = false;
  Plc(1);
  Tag(*project.FPLCs[0], ntInt, 0);
  int statuses = 0;
  for (int i = 0; i < 6; ++i) {
    if (Prepare().empty()) continue;
    if (driver().FLastSentKind == RD_STATUS) ++statuses;
    AnswerZeros();
  }
  EXPECT_GE(statuses, 2);
}

TEST_F(SchedulerTest, PriorityNAD) {
  applied.FBackgroundRefreshStatus = false;
  for (int nad : {1, 2, 3}) Tag(Plc(nad), ntInt, 0);
  project.FPriorityNADTag->FValue = 3;
  std::vector<int> targets;
  for (int i = 0; i < 8; ++i) {
    Prepare();
    targets.push_back(driver().FLastSentPLC ? driver().FLastSentPLC->FNAD : 0);
    AnswerZeros();
  }
  // Three of every four preparations serve the priority PLC.
  EXPECT_EQ(std::count(targets.begin(), targets.end(), 3), 6) << ::testing::PrintToString(targets);

  project.FPriorityNADTag->FValue = 77;  // nobody on this line
  Prepare();
  EXPECT_EQ(driver().FPriorityCycle, 0);
}

TEST_F(SchedulerTest, SlavePermission) {
  applied.FMasterMode = 0;
  // No PLCs: a permission is not answered at all.
  scheduler.PrepareRequest(driver(), 1, applied.FMyNAD);
  EXPECT_TRUE(tx->Sent.empty());

  applied.FBackgroundRefreshTags = false;
  applied.FBackgroundRefreshStatus = false;
  Tag(Plc(2), ntInt, 0);
  scheduler.PrepareRequest(driver(), 1, applied.FMyNAD);
  ASSERT_EQ(tx->Sent.size(), 1u);
  const Bytes& f = tx->Sent[0];
  EXPECT_EQ(f[2], 2);
  EXPECT_EQ(f[8], 1);  // to the granting master
  EXPECT_EQ(f[12], 1);
  EXPECT_EQ(f[13], 1);
}

TEST_F(SchedulerTest, ClockSetAtMidnight) {
  Tag(Plc(1), ntInt, 0);
  scheduler.ViewTick(*TryEncodeDateTime({2024, 3, 4, 0, 0, 1, 0}));  // start-up at midnight: nothing
  EXPECT_FALSE(project.FPLCs[0]->FRTCSyncDue);
  scheduler.ViewTick(*TryEncodeDateTime({2024, 3, 4, 23, 59, 59, 0}));
  scheduler.ViewTick(*TryEncodeDateTime({2024, 3, 5, 0, 0, 0, 300}));
  EXPECT_TRUE(project.FPLCs[0]->FRTCSyncDue);
  EXPECT_EQ(Prepare()[0], 0x70);
  EXPECT_FALSE(project.FPLCs[0]->FRTCSyncDue);
}

TEST_F(SchedulerTest, MasterTimerPacesPreparations) {
  Tag(Plc(1), ntInt, 0);
  clock.SetTick(5000);
  scheduler.MasterTimerTick();  // the master timeout asks for a step
  EXPECT_TRUE(driver().FPreparePending);
  EXPECT_TRUE(posted.empty());
  clock.Advance(21);
  scheduler.MasterTimerTick();
  scheduler.MasterTimerTick();
  ASSERT_EQ(posted.size(), 1u);  // posted once while it waits in the queue
  posted[0]();
  EXPECT_FALSE(driver().FPreparePending);
  EXPECT_EQ(tx->Sent.size(), 1u);
  // The answer asks for the next step at once.
  AnswerZeros();
  EXPECT_TRUE(driver().FPreparePending);
}

}  // namespace
