// The command layer: request bytes, answer matching and decoding, negative
// acknowledges, socket frames and frame-error counting.
#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "comm/comm_driver.h"
#include "comm/commands.h"
#include "fakes/fake_tag_environment.h"
#include "fakes/fake_transport.h"
#include "fakes/fake_transport_host.h"
#include "model/norvo_model.h"
#include "platform/date_time.h"

namespace {

class FakeCommEnv final : public ICommEnvironment {
 public:
  const TAppliedSettings& Applied() const override { return applied; }
  bool Communicating() const override { return true; }
  bool Shown() const override { return shown; }
  const Clock& Time() const override { return clock; }
  TServerCommCounters& Counters() override { return counters; }
  void Log(const std::string& Line, bool) override { lines.push_back(Line); }
  bool IsKnownPLC(const TNorvoModel* PLC) const override {
    return std::find(plcs.begin(), plcs.end(), PLC) != plcs.end();
  }
  void DistributeSocketData(int S, int R, const uint8_t* D, size_t L) override {
    sockets.push_back({S, R, std::vector<uint8_t>(D, D + L)});
  }
  void DoNextMasterStep(TCommDriver&) override { ++masterSteps; }

  bool Logged(const std::string& prefix) const {
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
  }

  struct Socket {
    int sender, receiver;
    std::vector<uint8_t> data;
  };
  TAppliedSettings applied;
  bool shown = true;
  FakeClock clock;
  TServerCommCounters counters;
  std::vector<std::string> lines;
  std::vector<const TNorvoModel*> plcs;
  std::vector<Socket> sockets;
  int masterSteps = 0;
};

class CommandsTest : public ::testing::Test {
 protected:
  CommandsTest() : driver(Serial()) {
    env.applied.FLogSerialComm = true;
    env.applied.FLogCommActions = true;
    driver.Attach(&env);
    driver.SetTransport(std::make_unique<TFakeTransport>(tx));
  }
  static TCommunicationSettings Serial() {
    TCommunicationSettings s;
    s.FDriverType = kDriverSerial;
    s.FCommPort = 1;
    return s;
  }
  TNorvoModel& Plc(int nad) {
    plcList.push_back(std::make_unique<TNorvoModel>());
    plcList.back()->FNAD = nad;
    plcList.back()->FDriver = &driver;
    env.plcs.push_back(plcList.back().get());
    return *plcList.back();
  }
  static TNorvoVar& Tag(TNorvoModel& plc, uint8_t type, int address, int32_t value = 0) {
    auto t = std::make_unique<TNorvoVar>(&plc, "v" + std::to_string(plc.FTags.size()));
    t->FVarType = type;
    t->FAddress = address;
    t->FValue = value;
    return plc.AddTag(std::move(t));
  }
  // Puts the tags into the driver's request as the scheduler leaves it.
  void Form(std::vector<TNorvoVar*> tags, bool list) {
    driver.ClearRequest();
    for (size_t i = 0; i < tags.size(); ++i) {
      driver.FRequestVars.push_back(tags[i]);
      tags[i]->FInRequest = true;
    }
    driver.FRequestCount = tags.size();
    driver.FReadListMode = driver.FWriteListMode = list;
  }
  void Answer(uint32_t sender, std::vector<uint8_t> data, uint8_t dir = 1, uint32_t receiver = 100) {
    TQnetTxBuffer f;
    EncodeAnswer(f, sender, receiver, dir, 0, data);
    driver.ReceiveChunk(f.Bytes());
  }
  std::vector<uint8_t> LastPayload() const { return SentPayload(tx->Sent.back()); }

  FakeTagEnvironment tagEnv;
  FakeCommEnv env;
  std::shared_ptr<TFakeTransportState> tx = std::make_shared<TFakeTransportState>();
  TCommDriver driver;
  std::vector<std::unique_ptr<TNorvoModel>> plcList;
};

using Bytes = std::vector<uint8_t>;

TEST_F(CommandsTest, RequestBytes) {
  TNorvoModel& plc = Plc(1000);
  // Status request: the whole frame with its checksum.
  driver.SendRequest(RD_STATUS, -1, &plc);
  EXPECT_EQ(tx->Sent.back(), (Bytes{0xAA, 0x55, 0x03, 0, 0x64, 0, 0, 0, 0xE8, 0x03, 0, 0, 0, 0, 0x11, 0x34, 0xF9}));

  // Block read of a long at 0x10: 4 bytes.
  Form({&Tag(plc, ntLong, 0x10)}, false);
  driver.SendRequest(RD_DATA, -1, &plc);
  EXPECT_EQ(tx->Sent.back(), (Bytes{0xAA, 0x55, 0x07, 0, 0x64, 0, 0, 0, 0xE8, 0x03, 0, 0, 0, 0, 0x31, 0x10, 0x00,
                                    0x04, 0x00, 0xCC, 0x09}));

  // List read: a bit at 5, a long at 8, an int at 20 travel grouped by size.
  Form({&Tag(plc, ntBit, 5), &Tag(plc, ntLong, 8), &Tag(plc, ntInt, 20)}, true);
  driver.SendRequest(RD_DATA, -1, &plc);
  EXPECT_EQ(tx->Sent.back()[2], 15);
  EXPECT_EQ(LastPayload(), (Bytes{0x33, 1, 0, 1, 0, 1, 0, 5, 0, 20, 0, 8, 0}));

  // Block write of 255 to a long at 64.
  TNorvoVar& w = Tag(plc, ntLong, 64, 255);
  w.FWriteRequest = w.FWritePending = true;
  Form({&w}, false);
  driver.SendRequest(WR_DATA, -1, &plc);
  EXPECT_EQ(tx->Sent.back()[2], 11);
  EXPECT_EQ(LastPayload(), (Bytes{0x32, 0x40, 0, 4, 0, 0xFF, 0, 0, 0}));
  EXPECT_FALSE(w.FWriteRequest);
  EXPECT_TRUE(w.FWritePending);

  // Clock setting on Tuesday 2024-03-05 13:07:09.
  env.clock.SetNow(*TryEncodeDateTime({2024, 3, 5, 13, 7, 9, 0}));
  driver.SendRequest(WR_UPDATE_RTC, -1, &plc);
  EXPECT_EQ(LastPayload(), (Bytes{0x70, 0x18, 3, 5, 2, 0x0D, 7, 9}));

  // Return of the permission to the master at NAD 1.
  driver.SendRequest(CLOSE_PERM, 1, nullptr);
  Bytes perm{0xAA, 0x55, 0x02, 0, 0x64, 0, 0, 0, 1, 0, 0, 0, 1, 1};
  const uint16_t sum = FrameChecksum(perm.data(), perm.size());
  perm.push_back(sum & 0xFF);
  perm.push_back(sum >> 8);
  EXPECT_EQ(tx->Sent.back(), perm);
  EXPECT_EQ(driver.FLastSentPLC, nullptr);

  // With a password the status request grows by its two bytes.
  env.applied.FPLCPassword = 0x1234;
  driver.SendRequest(RD_STATUS, -1, &plc);
  const Bytes& f = tx->Sent.back();
  ASSERT_EQ(f.size(), 19u);
  EXPECT_EQ(f[2], 5);
  EXPECT_EQ(f[15], 0x34);
  EXPECT_EQ(f[16], 0x12);
  EXPECT_EQ(FrameChecksum(f.data(), 17), f[17] | (f[18] << 8));
}

TEST_F(CommandsTest, NothingSentBeforeShowOrWithoutTagsOrWhileSending) {
  TNorvoModel& plc = Plc(7);
  env.shown = false;
  driver.SendRequest(RD_STATUS, -1, &plc);
  env.shown = true;
  driver.ClearRequest();
  driver.SendRequest(RD_DATA, -1, &plc);
  driver.FSending = true;
  driver.SendRequest(RD_STATUS, -1, &plc);
  EXPECT_TRUE(tx->Sent.empty());
}

TEST_F(CommandsTest, ReadAnswersDecodeIntoTagsAndCloseTheRequest) {
  TNorvoModel& plc = Plc(1000);
  TNorvoVar& bit = Tag(plc, ntBit, 5);
  TNorvoVar& lng = Tag(plc, ntLong, 8);
  TNorvoVar& i16 = Tag(plc, ntInt, 20);
  bit.FReadRequest = lng.FReadRequest = i16.FReadRequest = true;
  Form({&bit, &lng, &i16}, true);
  driver.SendRequest(RD_DATA, -1, &plc);
  EXPECT_TRUE(plc.FUnansweredForRead && plc.FUnansweredForWrite && plc.FUnansweredForPeriodic);
  EXPECT_EQ(plc.FUnansweredCount, 1);
  env.clock.Advance(35);
  // The answer comes from another NAD: still taken.
  Answer(999, {1, 0xFE, 0xFF, 0x78, 0x56, 0x34, 0x12});
  EXPECT_EQ(bit.FValue, 1);
  EXPECT_EQ(i16.FValue, -2);
  EXPECT_EQ(lng.FValue, 0x12345678);
  EXPECT_FALSE(lng.FReadRequest);
  EXPECT_FALSE(lng.FInRequest);
  EXPECT_FALSE(plc.FUnansweredForRead || plc.FUnansweredForWrite || plc.FUnansweredForPeriodic);
  EXPECT_EQ(plc.FUnansweredCount, 0);
  EXPECT_EQ(plc.FLastResponseTime, 35);
  EXPECT_EQ(plc.FReadCount, 1);
  EXPECT_EQ(env.counters.FReadCount, 1);
  EXPECT_EQ(driver.FLastSentPLC, nullptr);
  EXPECT_EQ(driver.FRequestCount, 0u);
  EXPECT_EQ(env.masterSteps, 1);
}

TEST_F(CommandsTest, ShortAnswersStoreNothing) {
  struct Case {
    bool list;
    const char* text;
  };
  for (Case c : {Case{false, "BLOCK data not valid"}, Case{true, "RANDOM data not valid"}}) {
    SCOPED_TRACE(c.text);
    env.lines.clear();
    TNorvoModel& plc = Plc(1000);
    TNorvoVar& a = Tag(plc, ntInt, 10, 3);
    TNorvoVar& b = Tag(plc, ntLong, 14, 4);
    Form({&a, &b}, c.list);
    driver.SendRequest(RD_DATA_PERIODIC, -1, &plc);
    EXPECT_EQ(LastPayload()[0], c.list ? 0x33 : 0x31);
    if (!c.list) {
      EXPECT_EQ(LastPayload()[3], 8);  // 8 bytes from 10
    }
    Answer(1000, Bytes(5, 0xEE));
    EXPECT_TRUE(env.Logged(c.text));
    EXPECT_EQ(a.FValue, 3);
    EXPECT_EQ(b.FValue, 4);
    EXPECT_TRUE(plc.FUnansweredForRead);
    EXPECT_EQ(plc.FUnansweredCount, 0);
  }
}

TEST_F(CommandsTest, LateAnswerClosesTheNextRequest) {
  TNorvoModel& first = Plc(1);
  TNorvoModel& second = Plc(2);
  TNorvoVar& t1 = Tag(first, ntWord, 0);
  TNorvoVar& t2 = Tag(second, ntWord, 0);
  Form({&t1}, false);
  driver.SendRequest(RD_DATA, -1, &first);
  // The master timeout moved on without an answer.
  Form({&t2}, false);
  driver.SendRequest(RD_DATA, -1, &second);
  Answer(1, {0x34, 0x12});
  EXPECT_EQ(t2.FValue, 0x1234);
  EXPECT_FALSE(t1.FValid);
  EXPECT_TRUE(first.FUnansweredForRead);
  EXPECT_EQ(first.FUnansweredCount, 1);
  EXPECT_EQ(second.FUnansweredCount, 0);
}

TEST_F(CommandsTest, NegativeAcknowledges) {
  TNorvoModel& plc = Plc(5);
  TNorvoVar& r = Tag(plc, ntWord, 0);
  Form({&r}, false);
  driver.SendRequest(RD_DATA, -1, &plc);
  Answer(5, {0, 0}, 12);
  EXPECT_TRUE(r.FNakError);
  EXPECT_FALSE(plc.FUnansweredForRead);
  EXPECT_EQ(plc.FNakCount, 1);
  EXPECT_EQ(env.counters.FNakCount, 1);
  EXPECT_EQ(driver.FLastSentPLC, nullptr);
  EXPECT_EQ(driver.FRequestCount, 1u);  // the request list stays

  TNorvoVar& w = Tag(plc, ntWord, 2, 7);
  w.FWriteRequest = w.FWritePending = true;
  Form({&w}, false);
  driver.SendRequest(WR_DATA, -1, &plc);
  Answer(5, {}, 12);
  EXPECT_TRUE(w.FWritePending);
  EXPECT_EQ(w.GetQuality(), kQualityConfigError);
  EXPECT_FALSE(plc.FUnansweredForWrite);

  // A later acknowledge confirms it.
  Form({&w}, false);
  driver.SendRequest(WR_DATA, -1, &plc);
  Answer(5, {});
  EXPECT_FALSE(w.FWritePending);
  EXPECT_FALSE(w.FNakError);
  EXPECT_EQ(plc.FWriteCount, 2);

  // Other directions, or a NAK for another station, only count when aimed at us.
  Answer(5, {}, 3, 42);
  EXPECT_EQ(env.counters.FNakCount, 2);
}

TEST_F(CommandsTest, NegativeAcknowledgeStampsTheLastTransferOfItsKind) {
  TServerCommCounters& c = env.counters;
  const struct {
    uint8_t kind;
    TDateTime& at;
    uint32_t& nad;
  } rows[] = {
      {RD_DATA, c.FLastReadAt, c.FLastReadNAD},
      {RD_DATA_PERIODIC, c.FLastBackgroundRefreshAt, c.FLastBackgroundRefreshNAD},
      {WR_DATA, c.FLastWriteAt, c.FLastWriteNAD},
  };
  TNorvoModel& plc = Plc(5);
  TNorvoVar& t = Tag(plc, ntWord, 0);
  for (const auto& row : rows) {
    SCOPED_TRACE(static_cast<int>(row.kind));
    c = TServerCommCounters{};
    env.clock.SetNow(45000.5 + row.kind);
    t.FWriteRequest = t.FWritePending = row.kind == WR_DATA;
    Form({&t}, false);
    driver.SendRequest(row.kind, -1, &plc);
    Answer(6, {0, 0}, 12);  // refused by another station than the one asked
    EXPECT_EQ(row.at, 45000.5 + row.kind);
    EXPECT_EQ(row.nad, 6u);
    for (const auto& other : rows) {
      if (&other.at == &row.at) continue;
      EXPECT_EQ(other.at, 0);
      EXPECT_EQ(other.nad, 0u);
    }
  }
}

TEST_F(CommandsTest, StatusAnswerAndSocketFrames) {
  TNorvoModel& plc = Plc(9);
  driver.SendRequest(RD_STATUS, -1, &plc);
  Answer(9, {1, 2});
  EXPECT_EQ(plc.FSystemStatus, 1);
  EXPECT_EQ(plc.FPLCStatus, 2);

  TQnetTxBuffer f;
  EncodeAnswer(f, 3, 0, 1, 1, Bytes{0xAB, 0xCD});
  driver.ReceiveChunk(f.Bytes());
  ASSERT_EQ(env.sockets.size(), 1u);
  EXPECT_EQ(env.sockets[0].sender, 3);
  EXPECT_EQ(env.sockets[0].receiver, 0);
  EXPECT_EQ(env.sockets[0].data, (Bytes{0xAB, 0xCD}));
  EXPECT_EQ(env.counters.FSocketFrameCount, 1);
}

TEST_F(CommandsTest, PermissionsAndFrameErrors) {
  TNorvoModel& plc = Plc(4);
  TQnetTxBuffer a, b;
  EncodePermission(a, 1, 100);
  EncodePermission(b, 1, 5);
  Bytes chunk(a.Bytes().begin(), a.Bytes().end());
  chunk.insert(chunk.end(), a.Bytes().begin(), a.Bytes().end());
  chunk.insert(chunk.end(), b.Bytes().begin(), b.Bytes().end());
  driver.ReceiveChunk(chunk);
  EXPECT_EQ(env.counters.FPermissionCount, 3);
  EXPECT_EQ(env.counters.FMasterToOpcRequestCount, 1);  // the second in one chunk is not handled
  EXPECT_EQ(env.counters.FCurrentMasterNAD, 1u);
  EXPECT_TRUE(driver.FPreparePending);
  EXPECT_EQ(driver.FCallTo.FGrantorNAD, 1);
  EXPECT_EQ(driver.FCallTo.FTargetNAD, 100);

  Form({&Tag(plc, ntWord, 0)}, false);
  driver.SendRequest(WR_DATA, -1, &plc);
  driver.ReceiveChunk(Bytes(20, 0x11));  // noise: one bad preamble
  EXPECT_EQ(env.counters.FErrorCount, 1);
  EXPECT_EQ(env.counters.FWriteErrorCount, 1);
  EXPECT_EQ(plc.FBadMessageCount, 1);
  EXPECT_EQ(plc.FWriteErrorCount, 1);
}

TEST_F(CommandsTest, CountersAtTheTopStepThroughZeroAndMissesStayCounted) {
  constexpr int32_t kTop = std::numeric_limits<int32_t>::max();
  TNorvoModel& plc = Plc(5);
  TNorvoVar& r = Tag(plc, ntWord, 0);
  TServerCommCounters& c = env.counters;
  const struct {
    const char* name;
    int32_t& counter;
    int32_t after;  // bumped once: 0, twice: 1
  } rows[] = {
      {"server read", c.FReadCount, 1},
      {"server good frames", c.FGoodFrameCount, 1},
      {"server acks", c.FAckCount, 0},
      {"server naks", c.FNakCount, 0},
      {"server errors", c.FErrorCount, 0},
      {"server invalid frames", c.FInvalidFrameCount, 0},
      {"server read errors", c.FReadErrorCount, 0},
      {"plc transmit", plc.FTransmitCount, 1},
      {"plc read", plc.FReadCount, 1},
      {"plc receive", plc.FReceiveCount, 1},
      {"plc naks", plc.FNakCount, 0},
      {"plc errors", plc.FErrorCount, 0},
      {"plc bad messages", plc.FBadMessageCount, 0},
      {"plc read errors", plc.FReadErrorCount, 0},
  };
  for (const auto& row : rows) row.counter = kTop;
  plc.FUnansweredCount = kTop;
  r.FNoReplyCount = std::numeric_limits<int>::max();

  Form({&r}, false);
  driver.SendRequest(RD_DATA, -1, &plc);
  // A PLC that never answers must not look fresh again.
  EXPECT_EQ(plc.FUnansweredCount, kTop);
  EXPECT_EQ(r.FNoReplyCount, std::numeric_limits<int>::max());
  driver.ReceiveChunk(Bytes(20, 0x11));  // one bad preamble
  Answer(5, {0x34, 0x12});
  Form({&r}, false);
  driver.SendRequest(RD_DATA, -1, &plc);
  Answer(5, {0, 0}, 12);
  for (const auto& row : rows) EXPECT_EQ(row.counter, row.after) << row.name;
}

TEST(ReadLimit, AlternatesBetweenTheSizeAndNineTenths) {
  int32_t l = 512;
  std::vector<int32_t> seen;
  for (int i = 0; i < 4; ++i) seen.push_back(l = NextReadBlockLimit(l, 512));
  EXPECT_EQ(seen, (std::vector<int32_t>{461, 512, 461, 512}));
  EXPECT_EQ(NextReadBlockLimit(4, 4), 4);
}

}  // namespace
