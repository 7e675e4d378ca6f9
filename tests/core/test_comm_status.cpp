#include <gtest/gtest.h>

#include "core/comm_status_support.h"

namespace {

TEST_F(CommStatusTest, FourthUnansweredRequestTimesOutOnceAndReplyRecovers) {
  TCommDriver& d = AddDriver(kDriverSerial);
  TNorvoModel& plc = AddPLC(5, &d);
  for (int unanswered = 0; unanswered <= 3; ++unanswered) {
    plc.FUnansweredCount = unanswered;
    Traffic();
    Tick();
    EXPECT_FALSE(plc.FTimedOut) << unanswered;
    EXPECT_EQ(plc.FSysComStatus->FStrValue, "ok") << unanswered;
  }
  plc.FUnansweredCount = 4;
  for (int i = 0; i < 5; ++i) {  // silent for a while: still one timeout
    plc.FUnansweredCount += i;
    Traffic();
    Tick();
  }
  EXPECT_TRUE(plc.FTimedOut);
  EXPECT_EQ(plc.FSysComStatus->FStrValue, "error: PLC is not responding");
  EXPECT_EQ(plc.FTimeoutCount, 1);
  EXPECT_EQ(plc.FErrorCount, 1);
  EXPECT_EQ(counters.FTimeoutCount, 1);
  EXPECT_EQ(counters.FErrorCount, 1);
  EXPECT_EQ(counters.FLastTimeoutNAD, 5);
  EXPECT_EQ(plc.FSysTimedOut->FValue, 1);
  EXPECT_EQ(hooks.switches, 0);  // serial: no address detection

  plc.FUnansweredCount = 0;  // a reply
  Traffic();
  Tick();
  EXPECT_FALSE(plc.FTimedOut);
  EXPECT_EQ(plc.FSysComStatus->FStrValue, "ok");
  plc.FUnansweredCount = 4;
  Traffic();
  Tick();
  EXPECT_EQ(plc.FTimeoutCount, 2);
  EXPECT_EQ(counters.FTimeoutCount, 2);
}

TEST_F(CommStatusTest, SilentUdpPlcReturnsToAddressDetectionOncePerTimeout) {
  TCommDriver& d = AddDriver(kDriverUDP, 0, "127.0.0.5");
  TNorvoModel& plc = AddPLC(7, &d);
  plc.FUnansweredCount = 4;
  Traffic();
  Tick();
  Tick();
  EXPECT_EQ(plc.FDedicatedIP, TNorvoModel::kDedicatedIPDefault);
  EXPECT_EQ(hooks.switches, 1);
  EXPECT_EQ(plc.FSysIPAddress->FStrValue, "127.0.0.5");
}

TEST_F(CommStatusTest, SilentMasterIsTimedOutAndEveryStatusBlamesIt) {
  TCommDriver& d = AddDriver(kDriverSerial);
  TNorvoModel& master = AddPLC(1, &d);
  TNorvoModel& other = AddPLC(2, &d);
  TQnetTxBuffer grant;
  EncodePermission(grant, 1, applied.FMyNAD);
  d.ReceiveChunk(grant.Bytes());
  Traffic();
  Tick();
  EXPECT_EQ(master.FSysMaster->FValue, 1);
  EXPECT_EQ(other.FSysMaster->FValue, 0);
  EXPECT_EQ(set.FSys.FComStatus->FStrValue, "ok");

  // Frames keep coming, but no permission for the server for 6 s.
  for (int i = 0; i < 20; ++i) {
    Frame(1);
    Tick();
  }
  EXPECT_TRUE(master.FTimedOut);
  EXPECT_FALSE(other.FTimedOut);
  EXPECT_EQ(master.FSysComStatus->FStrValue, kStatusNoRequests);
  EXPECT_EQ(other.FSysComStatus->FStrValue, kStatusNoRequests);
  EXPECT_EQ(set.FSys.FComStatus->FStrValue, kStatusNoRequests);
  EXPECT_EQ(counters.FTimeoutCount, 1);
}

struct PLCStatusCase {
  const char* name;
  bool hasDriver;
  int indicator;
  uint32_t sinceFrameMs;
  bool pendingRead;
  bool backgroundTags;
  int masterMode;
  bool permissionRecent;
  int unanswered;
  const char* text;
};

class PLCStatusTextTest : public CommStatusTest, public ::testing::WithParamInterface<PLCStatusCase> {};

TEST_P(PLCStatusTextTest, FirstMatchingRowGivesTheText) {
  const PLCStatusCase& c = GetParam();
  TCommDriver& d = AddDriver(kDriverSerial);
  TNorvoModel& plc = AddPLC(3, c.hasDriver ? &d : nullptr);
  hooks.indicator[&d] = c.indicator;
  applied.FBackgroundRefreshTags = c.backgroundTags;
  applied.FMasterMode = c.masterMode;
  set.FAllProjectsComplete = true;
  plc.FTags[0]->FReadRequest = c.pendingRead;
  plc.FUnansweredCount = c.unanswered;
  Frame(3);
  if (c.permissionRecent) Prepared(clock.TickCount() + c.sinceFrameMs);
  else counters.FHasPermissionTick = false;  // no preparation since a reset: never recent
  Tick(c.sinceFrameMs);
  EXPECT_EQ(plc.FSysComStatus->FStrValue, c.text);
  EXPECT_EQ(plc.FComError, std::string(c.text) != "ok");
  EXPECT_EQ(plc.FHasPendingWork, c.pendingRead);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PLCStatusTextTest,
    ::testing::Values(
        PLCStatusCase{"NoDriver", false, kIndicatorDsrHigh, 10, true, true, 1, true, 0, "disconected"},
        PLCStatusCase{"Hidden", true, kIndicatorHidden, 10, true, true, 1, true, 0, "disconected"},
        PLCStatusCase{"DsrLowFresh", true, kIndicatorDsrLow, 1000, true, true, 1, true, 0, "ok"},
        PLCStatusCase{"DsrLowStale", true, kIndicatorDsrLow, 1001, true, true, 1, true, 0,
                      "error: cable not connected"},
        PLCStatusCase{"CantOpen", true, kIndicatorCantOpen, 10, true, true, 1, true, 0, "error: can't open COM port"},
        PLCStatusCase{"Idle", true, kIndicatorDsrHigh, 10, false, false, 1, true, 4, "idle (no tags)"},
        PLCStatusCase{"PendingNotIdle", true, kIndicatorDsrHigh, 10, true, false, 1, true, 0, "ok"},
        PLCStatusCase{"SilentSlave", true, kIndicatorDsrHigh, 3001, true, true, 0, true, 0,
                      "error: no communication"},
        PLCStatusCase{"SilentMaster", true, kIndicatorDsrHigh, 3001, true, true, 1, true, 0, "ok"},
        PLCStatusCase{"SilentAutomaticMaster", true, kIndicatorDsrHigh, 3001, true, true, 2, true, 0, "ok"},
        PLCStatusCase{"NoPermission", true, kIndicatorDsrHigh, 10, true, true, 1, false, 4, kStatusNoRequests},
        PLCStatusCase{"NotResponding", true, kIndicatorDsrHigh, 10, true, true, 1, true, 4,
                      "error: PLC is not responding"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CommStatusTest, ServerStatusRows) {
  TCommDriver& d = AddDriver(kDriverSerial);
  TNorvoModel& a = AddPLC(1, &d);
  TNorvoModel& b = AddPLC(2, &d);
  applied.FMasterMode = 0;  // slave: silence counts

  commActive = false;
  Traffic();
  Tick();
  EXPECT_EQ(set.FSys.FComStatus->FStrValue, "disconected");
  EXPECT_EQ(a.FSysComStatus->FStrValue, "ok");  // the driver's indicator still shows

  commActive = true;
  applied.FBackgroundRefreshTags = false;
  Traffic();
  Tick();
  EXPECT_EQ(set.FSys.FComStatus->FStrValue, "idle (no tags)");
  b.FTags[0]->FWritePending = true;
  Tick();
  EXPECT_EQ(set.FSys.FComStatus->FStrValue, "ok");
  EXPECT_EQ(set.FSys.FTagsToWrite->FValue, 1);

  a.FUnansweredCount = 4;
  Traffic();
  Tick();
  EXPECT_EQ(set.FSys.FComStatus->FStrValue, "error: some PLCs are ok, some are not responding");
  b.FUnansweredCount = 4;
  Traffic();
  Tick();
  EXPECT_EQ(set.FSys.FComStatus->FStrValue, "error: no PLC is responding");

  Tick(3001);  // no frame for over 3 s
  EXPECT_EQ(set.FSys.FComStatus->FStrValue, "error: no communication");
}

TEST_F(CommStatusTest, StoppedCommunicationOnUdpReadsNoRequestsAsMaster) {
  TCommDriver& serial = AddDriver(kDriverSerial);
  TCommDriver& udp = AddDriver(kDriverUDP);
  TNorvoModel& onSerial = AddPLC(1, &serial);
  TNorvoModel& onUdp = AddPLC(2, &udp);
  hooks.indicator[&serial] = kIndicatorHidden;
  applied.FMasterMode = 1;
  commActive = false;
  Tick(7000);
  EXPECT_EQ(set.FSys.FComStatus->FStrValue, "disconected");
  EXPECT_EQ(onSerial.FSysComStatus->FStrValue, "disconected");
  EXPECT_EQ(onUdp.FSysComStatus->FStrValue, kStatusNoRequests);
}

TEST_F(CommStatusTest, TagsAreCountedAndAgedButSystemTagsNeverAge) {
  TCommDriver& d = AddDriver(kDriverSerial);
  TNorvoModel& plc = AddPLC(4, &d, 3);
  plc.FTags[0]->FRefCount = 2;
  plc.FTags[1]->FReadRequest = true;
  plc.FTags[2]->FUpdateTick = clock.TickCount() - 50000000;  // far beyond the cap
  plc.FTags[0]->FUpdateTick = clock.TickCount();
  Traffic();
  Tick(1234);
  EXPECT_EQ(plc.FTags[0]->FAge, 1234u);
  EXPECT_EQ(plc.FTags[2]->FAge, kMaxTagAge);
  EXPECT_EQ(plc.FSysMonitoredTags->FValue, 1);
  EXPECT_EQ(plc.FSysTagsToRead->FValue, 1);
  EXPECT_EQ(plc.FSysTagsCount->FValue, 3);
  EXPECT_TRUE(plc.FHasPendingWork);
  EXPECT_EQ(plc.FSysNad->FUpdateTick, clock.TickCount());
  EXPECT_EQ(set.FSys.FPlcCount->FUpdateTick, clock.TickCount());
  EXPECT_EQ(plc.FSysNad->FAge, 0u);
}

TEST_F(CommStatusTest, DsrIsSampledEveryThirdTickAndOnlyAChangeRefreshes) {
  TCommDriver& serial = AddDriver(kDriverSerial);
  AddDriver(kDriverUDP);
  hooks.dsr[&serial] = true;
  Tick();
  Tick();
  EXPECT_EQ(hooks.dsrReads, 0);
  Tick();
  EXPECT_EQ(hooks.dsrReads, 1);  // the UDP driver has no lines
  ASSERT_EQ(hooks.refreshed.size(), 1u);
  for (int i = 0; i < 3; ++i) Tick();
  EXPECT_EQ(hooks.refreshed.size(), 1u);  // unchanged
  hooks.dsr[&serial] = std::nullopt;      // unreadable: the indicator keeps its state
  for (int i = 0; i < 3; ++i) Tick();
  EXPECT_EQ(hooks.refreshed.size(), 1u);
  hooks.dsr[&serial] = false;
  for (int i = 0; i < 3; ++i) Tick();
  EXPECT_EQ(hooks.refreshed.size(), 2u);
  commActive = false;
  const int reads = hooks.dsrReads;
  for (int i = 0; i < 3; ++i) Tick();
  EXPECT_EQ(hooks.dsrReads, reads);
}

TEST_F(CommStatusTest, DetachedTreeFocusDefersTheJudgement) {
  TCommDriver& d = AddDriver(kDriverSerial);
  TNorvoModel& plc = AddPLC(5, &d);
  plc.FUnansweredCount = 9;
  hooks.focusAttached = false;
  Tick();
  EXPECT_FALSE(plc.FTimedOut);
  EXPECT_EQ(state.FTickNow, clock.TickCount());
  hooks.focusAttached = true;
  Tick();
  EXPECT_TRUE(plc.FTimedOut);
}

}  // namespace
