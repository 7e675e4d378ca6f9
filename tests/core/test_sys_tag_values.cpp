#include <gtest/gtest.h>

#include "core/comm_status_support.h"
#include "fakes/fake_transport.h"
#include "core/sys_tag_values.h"
#include "platform/date_time.h"

namespace {

TEST(DurationTextTest, Rows) {
  const struct {
    uint64_t ms;
    const char* text;
  } rows[] = {
      {0, "0ms"},
      {250, "250ms"},
      {8500, "8500ms"},
      {9999, "9999ms"},
      {10000, "00:00:10"},
      {12000, "00:00:12"},
      {61000, "00:01:01"},
      {3600000, "01:00:00"},
      {26ull * 3600000, "1 days, 02:00:00"},
      {2ull * 86400000 + 5 * 60000 + 7000, "2 days, 00:05:07"},
      {60ull * 86400000, "60 days, 00:00:00"},  // beyond 32 bits: the uptime
  };
  for (const auto& r : rows) EXPECT_EQ(DurationText(r.ms), r.text) << r.ms;
}

TEST(TimestampTextTest, TodayShowsTheTimeOtherDaysTheDateToo) {
  const TDateTime today = 46000.5;
  const TDateTime morning = 46000.25;
  const TDateTime yesterday = 45999.75;
  EXPECT_EQ(TimestampText(0, today), FormatLongTime(0));
  EXPECT_EQ(TimestampText(morning, today), FormatLongTime(morning));
  EXPECT_EQ(TimestampText(yesterday, today), FormatShortDate(yesterday) + "  " + FormatLongTime(yesterday));
}

TEST(StatusByteTextTest, KnownAndUnknownValues) {
  EXPECT_EQ(SystemStatusText(0), "loader");
  EXPECT_EQ(SystemStatusText(1), "kernel");
  EXPECT_EQ(SystemStatusText(7), "unknown 7");
  const char* plc[] = {"stop", "pause", "run", "no valid program", "congestion error"};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(PLCStatusText(i), plc[i]);
  EXPECT_EQ(PLCStatusText(9), "error 9");
}

TEST(StatusFreshnessTest, Rows) {
  const uint32_t now = 500000;
  const struct {
    const char* name;
    uint32_t request;
    uint32_t reply;
    bool timedOut;
    bool fresh;
  } rows[] = {
      {"new PLC, no reply yet", 1, 0, false, false},
      {"reply after request", now - 400, now - 300, false, true},
      {"reply 999 ms before the request", now - 100, now - 1099, false, true},
      {"reply 1000 ms before a recent request", now - 500, now - 1500, false, true},
      {"reply 1000 ms before an old request", now - 1000, now - 2000, false, false},
      {"reply 59999 ms old", now - 60000, now - 59999, false, true},
      {"reply 60000 ms old", now - 60001, now - 60000, false, false},
      {"timed out", now - 400, now - 300, true, false},
  };
  for (const auto& r : rows) {
    TNorvoModel plc;
    plc.FStatusRequestTick = r.request;
    plc.FStatusReplyTick = r.reply;
    plc.FTimedOut = r.timedOut;
    EXPECT_EQ(StatusTextsFresh(plc, now), r.fresh) << r.name;
  }
}

TEST(StatusFreshnessTest, NewPLCNearTheTickOriginShowsNothing) {
  TNorvoModel plc;  // request tick 1, no reply
  EXPECT_FALSE(StatusTextsFresh(plc, 5000));
}

using SysTagValuesTest = CommStatusTest;

TEST_F(SysTagValuesTest, TransferCountersWrapTogetherPastTwoBillion) {
  counters.FGoodFrameCount = 2000000000;
  counters.FTransmitCount = 17;
  Tick();
  EXPECT_EQ(set.FSys.FComReceiveCount->FValue, 2000000000);
  Frame(3);
  Tick();
  EXPECT_EQ(counters.FGoodFrameCount, 0);
  EXPECT_EQ(counters.FTransmitCount, 0);
  EXPECT_EQ(set.FSys.FComTransmitCount->FValue, 0);

  counters.FTransmitCount = 2000000001;
  counters.FGoodFrameCount = 5;
  Tick();
  EXPECT_EQ(counters.FGoodFrameCount, 0);
}

TEST_F(SysTagValuesTest, ResetClearsCountersButKeepsStartUptimeAndPriority) {
  TCommDriver& d = AddDriver(kDriverSerial);
  auto tx = std::make_shared<TFakeTransportState>();
  d.SetTransport(std::make_unique<TFakeTransport>(tx));
  TNorvoModel& plc = AddPLC(3, &d);
  startedAt = clock.Now();
  set.FPriorityNADTag->SetByOperator(12);
  // The command layer: noise and a negative acknowledge for one read, a
  // read answered after 40 ms, a permission and a socket.
  auto read = [&] {
    d.ClearRequest();
    d.FRequestVars.push_back(plc.FTags[0].get());
    d.FRequestCount = 1;
    d.SendRequest(RD_DATA, -1, &plc);
  };
  auto receive = [&](uint32_t sender, uint32_t receiver, uint8_t dir, uint8_t typ, std::vector<uint8_t> data) {
    TQnetTxBuffer f;
    EncodeAnswer(f, sender, receiver, dir, typ, data);
    d.ReceiveChunk(f.Bytes());
  };
  read();
  d.ReceiveChunk(std::vector<uint8_t>(20, 0x11));
  receive(3, applied.FMyNAD, kMsgDirNak, 0, {0, 0, 0, 0});
  read();
  clock.Advance(40);
  receive(3, applied.FMyNAD, kMsgDirAnswer, 0, {0, 0, 0, 0});
  TQnetTxBuffer grant;
  EncodePermission(grant, 1, applied.FMyNAD);
  d.ReceiveChunk(grant.Bytes());
  receive(3, 0, kMsgDirAnswer, 1, {0xAB});
  plc.FReadCount = 4;
  plc.FLastRTCUpdate = clock.Now();
  Prepared(clock.TickCount());
  Tick(1000);
  EXPECT_EQ(set.FSys.FLastResponseTime->FStrValue, "40ms");
  EXPECT_EQ(set.FSys.FReadErrorCount->FValue, 1);
  EXPECT_EQ(set.FSys.FLastReadNad->FValue, 3);
  EXPECT_EQ(set.FSys.FMaximumResponseTimeNad->FValue, 3);
  EXPECT_EQ(set.FSys.FNegativeAckCount->FValue, 1);
  EXPECT_EQ(set.FSys.FNetworkSocketCount->FValue, 1);
  EXPECT_EQ(set.FSys.FMasterToOpcRequestCount->FValue, 1);
  const std::string started = set.FSys.FServerStartedAt->FStrValue;

  ResetSysCounters(set, state);
  Tick();
  EXPECT_EQ(set.FSys.FLastReceivedNad->FValue, 0);  // not -1
  EXPECT_EQ(set.FSys.FComReceiveCount->FValue, 0);
  EXPECT_EQ(set.FSys.FReadCount->FValue, 0);
  EXPECT_EQ(set.FSys.FReadErrorCount->FValue, 0);
  EXPECT_EQ(set.FSys.FNegativeAckCount->FValue, 0);
  EXPECT_EQ(set.FSys.FMasterToOpcRequestCount->FValue, 0);
  EXPECT_EQ(set.FSys.FNetworkSocketCount->FValue, 0);
  EXPECT_EQ(set.FSys.FMaximumResponseTime->FStrValue, "0ms");
  EXPECT_EQ(set.FSys.FLastResponseTime->FStrValue, "40ms");  // kept
  EXPECT_EQ(set.FSys.FServerStartedAt->FStrValue, started);
  EXPECT_EQ(set.FSys.FServerUptime->FStrValue, "1040ms");  // taken after the tags, so one tick behind
  EXPECT_EQ(set.FPriorityNADTag->FValue, 12);
  EXPECT_EQ(plc.FSysReadCount->FValue, 0);
  EXPECT_NE(plc.FSysLastRTCUpdate->FStrValue, "-");  // the clock setting is remembered
  EXPECT_EQ(plc.FSysMaster->FValue, 0);
  // Silence is measured from the reset, whatever the tick counter reads.
  EXPECT_EQ(plc.FSysComStatus->FStrValue, "error: no communication");
  EXPECT_EQ(set.FSys.FComStatus->FStrValue, "error: no communication");
  applied.FMasterMode = 1;
  Tick();
  EXPECT_EQ(set.FSys.FComStatus->FStrValue, kStatusNoRequests);
}

TEST_F(SysTagValuesTest, PLCAndServerValues) {
  TCommDriver& serial = AddDriver(kDriverSerial);
  TCommDriver& udp = AddDriver(kDriverUDP, 0, "127.0.0.9");
  TNorvoModel& a = AddPLC(12, &serial, 2, "A.12");
  TNorvoModel& b = AddPLC(12, &udp, 3, "B.12");  // same NAD in another project
  set.FProjectFiles = {"/x/a.alc", "/x/b.alc"};
  hooks.clients = 2;
  hooks.items = 7;
  a.FStatusRequestTick = clock.TickCount();
  a.FStatusReplyTick = clock.TickCount() + 20;
  a.FSystemStatus = 1;
  a.FPLCStatus = 2;
  a.FLastResponseTime = 8500;
  a.FMaxResponseTime = 12000;
  Traffic();
  Tick();
  EXPECT_EQ(a.FSysNad->FValue, 12);
  EXPECT_EQ(a.FSysIPAddress->FStrValue, "-");
  EXPECT_EQ(b.FSysIPAddress->FStrValue, "127.0.0.9");
  EXPECT_EQ(a.FSysLastRTCUpdate->FStrValue, "-");
  EXPECT_EQ(a.FSysLastResponseTime->FStrValue, "8500ms");
  EXPECT_EQ(a.FSysMaximumResponseTime->FStrValue, "00:00:12");
  EXPECT_EQ(a.FSysSystemStatus->FStrValue, "kernel");
  EXPECT_EQ(a.FSysPLCStatus->FStrValue, "run");
  EXPECT_EQ(b.FSysSystemStatus->FStrValue, "");
  EXPECT_EQ(b.FSysPLCStatus->FStrValue, "");
  EXPECT_EQ(set.FSys.FPlcCount->FValue, 2);
  EXPECT_EQ(set.FSys.FTagsCount->FValue, 5);
  EXPECT_EQ(set.FSys.FProjectCount->FValue, 2);
  EXPECT_EQ(set.FSys.FClientsConnected->FValue, 2);
  EXPECT_EQ(set.FSys.FMonitoredTags->FValue, 7);
  EXPECT_EQ(set.FSys.FLastReceivedNad->FValue, 1);
  EXPECT_EQ(set.FSys.FSystemTime->FStrValue, FormatLongTime(clock.Now()));

  a.FTimedOut = true;  // a silent PLC's status bytes are not shown
  a.FUnansweredCount = 4;
  Tick();
  EXPECT_EQ(a.FSysSystemStatus->FStrValue, "");
}

TEST_F(SysTagValuesTest, WrittenPriorityNADSurvivesTheRefresh) {
  ASSERT_NE(set.FPriorityNADTag, nullptr);
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = 12;
  ASSERT_TRUE(set.FPriorityNADTag->SetFromVariant(v));
  Tick();
  Tick();
  EXPECT_EQ(set.FPriorityNADTag->FValue, 12);
  EXPECT_EQ(set.FPriorityNADTag->FUpdateTick, clock.TickCount());
}

TEST(ServerCommCountersTest, CountersStepThroughZero) {
  int32_t counter = INT32_MAX;
  BumpCounter(counter);
  EXPECT_EQ(counter, 0);
}

}  // namespace
