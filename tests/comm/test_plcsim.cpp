#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "comm/qnet_codec.h"
#include "comm/qnet_frame.h"
#include "sim_engine.h"
#include "sim_options.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint32_t kServer = 100;
constexpr uint32_t kPlc = 1;
const TSimEndpoint kFrom{0x7F000001, 40000, true};

class SimTest : public ::testing::Test {
 protected:
  TSimulator sim;
  TQnetTxBuffer tx;
  uint32_t tick = 1000;

  void SetUp() override {
    sim.AddPlc(kPlc);
    sim.Tick(tick);
  }
  // Sends what tx holds and returns the outputs due now.
  std::vector<TSimOutput> Send() {
    sim.Receive(tx.Bytes(), tick, kFrom);
    return sim.TakeDue(tick);
  }
  static TQnetFrame Parse(const TSimOutput& o) {
    TQnetFrame f;
    EXPECT_TRUE(ParseQnetFrame(o.FBytes, f));
    return f;
  }
  static Bytes Data(const TQnetFrame& f) { return Bytes(f.FData, f.FData + f.FDataLength); }
  std::string Ctl(const std::string& line) {
    bool quit = false;
    return sim.Control(line, quit);
  }
};

TEST_F(SimTest, AnswersEachCommand) {
  ASSERT_EQ(Ctl("set 1 5 bit 1"), "ok");
  ASSERT_EQ(Ctl("set 1 8 long 0x12345678"), "ok");
  ASSERT_EQ(Ctl("set 1 20 int -2"), "ok");

  ASSERT_TRUE(EncodeReadStatus(tx, kServer, kPlc, 0));
  auto out = Send();
  ASSERT_EQ(out.size(), 1u);
  TQnetFrame f = Parse(out[0]);
  EXPECT_EQ(f.FSenderNAD, kPlc);
  EXPECT_EQ(f.FReceiverNAD, kServer);
  EXPECT_EQ(f.FMsgDir, kMsgDirAnswer);
  EXPECT_EQ(f.FMsgTyp, kMsgTypAnswer);
  EXPECT_EQ(Data(f), (Bytes{1, 2}));
  EXPECT_TRUE(out[0].FTo.FValid);
  EXPECT_EQ(out[0].FTo.FPort, kFrom.FPort);

  // The list answer is grouped: the bit, then the int, then the long.
  const TQnetItem list[] = {{5, 1, 0}, {8, 4, 0}, {20, 2, 0}};
  ASSERT_TRUE(EncodeReadList(tx, kServer, kPlc, list, 0));
  out = Send();
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(Data(Parse(out[0])), (Bytes{1, 0xFE, 0xFF, 0x78, 0x56, 0x34, 0x12}));

  const TQnetItem write[] = {{64, 4, 255}, {68, 2, 0xBEEF}};
  ASSERT_TRUE(EncodeWriteBlock(tx, kServer, kPlc, 64, write, 0));
  out = Send();
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(Parse(out[0]).FLength, 2);
  EXPECT_EQ(Ctl("get 1 64 long"), "255");
  EXPECT_EQ(Ctl("get 1 68 word"), "48879");

  const TQnetItem lw[] = {{300, 2, 7}, {200, 1, 1}};
  ASSERT_TRUE(EncodeWriteList(tx, kServer, kPlc, lw, 0));
  ASSERT_EQ(Send().size(), 1u);
  EXPECT_EQ(Ctl("get 1 300 int"), "7");
  EXPECT_EQ(Ctl("get 1 200 bit"), "1");

  ASSERT_TRUE(EncodeReadBlock(tx, kServer, kPlc, 64, 6, 0));
  out = Send();
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(Data(Parse(out[0])), (Bytes{0xFF, 0, 0, 0, 0xEF, 0xBE}));

  TQnetClock c;
  c.FYear = 2024, c.FMonth = 3, c.FDay = 5, c.FDayOfWeek = 2, c.FHour = 13, c.FMinute = 7, c.FSecond = 9;
  ASSERT_TRUE(EncodeSetClock(tx, kServer, kPlc, c, 0));
  ASSERT_EQ(Send().size(), 1u);
  EXPECT_EQ(Ctl("clock 1"), "2024-03-05 13:07:09 (Tue)");
  const auto events = sim.TakeEvents();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0], "clock 1 set to 2024-03-05 13:07:09 (Tue)");
}

TEST_F(SimTest, RefusesWhatItCannotServe) {
  struct Case {
    const char* what;
    std::function<bool(TQnetTxBuffer&)> build;
  } cases[] = {
      {"read past the memory", [](TQnetTxBuffer& t) { return EncodeReadBlock(t, kServer, kPlc, 0xFFFE, 4, 0); }},
      {"answer too long for a frame", [](TQnetTxBuffer& t) { return EncodeReadBlock(t, kServer, kPlc, 0, 1198, 0); }},
      {"unknown command", [](TQnetTxBuffer& t) { return EncodeAnswer(t, kServer, kPlc, 0, 0, Bytes{0x99}); }},
      {"truncated block read", [](TQnetTxBuffer& t) { return EncodeAnswer(t, kServer, kPlc, 0, 0, Bytes{0x31, 0}); }},
  };
  for (auto& c : cases) {
    ASSERT_TRUE(c.build(tx)) << c.what;
    auto out = Send();
    ASSERT_EQ(out.size(), 1u) << c.what;
    EXPECT_EQ(Parse(out[0]).FMsgDir, kMsgDirNak) << c.what;
  }
  // Frames for stations that are not simulated, and answers, get nothing.
  ASSERT_TRUE(EncodeReadStatus(tx, kServer, 77, 0));
  EXPECT_TRUE(Send().empty());
  ASSERT_TRUE(EncodeAnswer(tx, kServer, kPlc, 1, 0, Bytes{1, 2}));
  EXPECT_TRUE(Send().empty());
}

TEST_F(SimTest, PasswordIsRequiredWhenSet) {
  ASSERT_EQ(Ctl("password 1 0x1234"), "ok");
  ASSERT_TRUE(EncodeReadStatus(tx, kServer, kPlc, 0));
  auto out = Send();
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(Parse(out[0]).FMsgDir, kMsgDirNak);
  ASSERT_TRUE(EncodeReadStatus(tx, kServer, kPlc, 0x1234));
  out = Send();
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(Parse(out[0]).FMsgDir, kMsgDirAnswer);
}

TEST_F(SimTest, FaultsShapeTheAnswer) {
  ASSERT_EQ(Ctl("set 1 0x10 long 0x04030201"), "ok");
  struct Sink : IQnetRxSink {
    int frames = 0, errors = 0;
    bool QnetLogEnabled() const override { return false; }
    void QnetLog(std::string_view) override {}
    void QnetFrameError(TQnetFrameError, uint32_t) override { ++errors; }
    void QnetFrameReceived(const TQnetFrame&) override { ++frames; }
  };
  for (const char* fault : {"silence", "nak", "short", "badcrc", "garbage"}) {
    ASSERT_EQ(Ctl(std::string("fault 1 ") + fault), "ok");
    ASSERT_TRUE(EncodeReadBlock(tx, kServer, kPlc, 0x10, 4, 0));
    auto out = Send();
    const std::string f = fault;
    if (f == "silence") {
      EXPECT_TRUE(out.empty());
      continue;
    }
    ASSERT_EQ(out.size(), 1u) << f;
    TQnetRxBuffer rx;
    TQnetRxStamp stamp;
    Sink sink;
    ReceiveBytes(rx, stamp, out[0].FBytes, 0, TQnetTransport::Udp, sink);
    if (f == "badcrc" || f == "garbage") {
      EXPECT_EQ(sink.errors, 1) << f;
      EXPECT_EQ(sink.frames, 0) << f;
    } else if (f == "nak") {
      EXPECT_EQ(Parse(out[0]).FMsgDir, kMsgDirNak);
      EXPECT_EQ(Parse(out[0]).FLength, 2);
    } else {
      EXPECT_EQ(Data(Parse(out[0])), (Bytes{1, 2, 3}));
    }
  }
  // Delay holds the answer until its time.
  ASSERT_EQ(Ctl("fault 1 none"), "ok");
  ASSERT_EQ(Ctl("delay 1 250"), "ok");
  ASSERT_TRUE(EncodeReadStatus(tx, kServer, kPlc, 0));
  EXPECT_TRUE(Send().empty());
  EXPECT_EQ(sim.MsUntilNextWork(tick, 1000), 250u);
  EXPECT_TRUE(sim.TakeDue(tick + 249).empty());
  EXPECT_EQ(sim.TakeDue(tick + 250).size(), 1u);
}

TEST_F(SimTest, StationsHandPermissionBack) {
  ASSERT_TRUE(EncodePermission(tx, 9, kPlc));
  auto out = Send();
  ASSERT_EQ(out.size(), 1u);
  TQnetFrame f = Parse(out[0]);
  EXPECT_EQ(f.FReceiverNAD, 9u);
  EXPECT_EQ(f.FLength, 2);
  EXPECT_EQ(f.FMsgDir, 1);
  EXPECT_EQ(f.FMsgTyp, 1);
}

TEST(SimMaster, GrantsInTurnAndMovesOnAtReturnOrTimeout) {
  TSimulator sim;
  sim.AddPlc(1);
  TSimMaster m;
  m.FEnabled = true;
  m.FMasterNAD = 1;
  m.FStations = {100, 5};
  m.FTimeoutMs = 500;
  m.FGapMs = 20;
  sim.SetMaster(m);
  uint32_t t = 0;
  sim.Tick(t);
  auto out = sim.TakeDue(t);
  ASSERT_EQ(out.size(), 1u);
  TQnetFrame f;
  ASSERT_TRUE(ParseQnetFrame(out[0].FBytes, f));
  EXPECT_EQ(f.FReceiverNAD, 100u);
  EXPECT_EQ(f.MsgCMD(), kCmdPermission);
  EXPECT_FALSE(out[0].FTo.FValid);  // unsolicited: to the peer

  // Station 100 returns the permission: the next grant goes to 5 after the gap.
  TQnetTxBuffer tx;
  ASSERT_TRUE(EncodePermissionReturn(tx, 100, 1, 0));
  t = 30;
  sim.Receive(tx.Bytes(), t, kFrom);
  sim.Tick(t);
  EXPECT_TRUE(sim.TakeDue(t).empty());
  t = 50;
  sim.Tick(t);
  out = sim.TakeDue(t);
  ASSERT_EQ(out.size(), 1u);
  ASSERT_TRUE(ParseQnetFrame(out[0].FBytes, f));
  EXPECT_EQ(f.FReceiverNAD, 5u);

  // Station 5 stays silent: after the timeout and the gap, 100 again.
  t = 549;
  sim.Tick(t);
  EXPECT_TRUE(sim.TakeDue(t).empty());
  t = 550;
  sim.Tick(t);
  EXPECT_EQ(sim.Stats().FMasterTimeouts, 1u);
  t = 570;
  sim.Tick(t);
  out = sim.TakeDue(t);
  ASSERT_EQ(out.size(), 1u);
  ASSERT_TRUE(ParseQnetFrame(out[0].FBytes, f));
  EXPECT_EQ(f.FReceiverNAD, 100u);

  // The station's request to a simulated PLC, once answered, ends its turn.
  ASSERT_TRUE(EncodeReadStatus(tx, 100, 1, 0));
  t = 600;
  sim.Receive(tx.Bytes(), t, kFrom);
  EXPECT_EQ(sim.TakeDue(t).size(), 1u);
  t = 620;
  sim.Tick(t);
  out = sim.TakeDue(t);
  ASSERT_EQ(out.size(), 1u);
  ASSERT_TRUE(ParseQnetFrame(out[0].FBytes, f));
  EXPECT_EQ(f.FReceiverNAD, 5u);
}

TEST(SimMaster, SimulatedStationReturnsAtOnce) {
  TSimulator sim;
  sim.AddPlc(1);
  sim.AddPlc(2);
  TSimMaster m;
  m.FEnabled = true;
  m.FMasterNAD = 1;
  m.FStations = {2};
  sim.SetMaster(m);
  sim.Tick(0);
  auto out = sim.TakeDue(0);
  ASSERT_EQ(out.size(), 2u);
  TQnetFrame f;
  ASSERT_TRUE(ParseQnetFrame(out[1].FBytes, f));
  EXPECT_EQ(f.FSenderNAD, 2u);
  EXPECT_EQ(f.FReceiverNAD, 1u);
  EXPECT_EQ(f.FLength, 2);
  sim.Tick(m.FGapMs);
  EXPECT_EQ(sim.TakeDue(m.FGapMs).size(), 2u);
  EXPECT_EQ(sim.Stats().FMasterTimeouts, 0u);
}

TEST(SimPeriodic, SocketsAndMovingValues) {
  TSimulator sim;
  TSimPlc& plc = sim.AddPlc(3);
  sim.AddVariable(0, TSimVar{0x10, 3, TSimChange::Counter, "count"});
  sim.AddVariable(3, TSimVar{0x20, 3, TSimChange::Ramp, "ramp"});
  sim.AddVariable(3, TSimVar{0x30, 5, TSimChange::Ramp, "real"});
  sim.AddSocket(TSimSocket{3, 0, 0x10, 2, 100, {}});
  sim.SetChangePeriod(50);
  plc.Store(0x20, 3, 100);
  sim.Tick(0);
  sim.Tick(50);
  EXPECT_EQ(plc.Load(0x10, 3), 1u);
  EXPECT_EQ(plc.Load(0x20, 3), 0u);  // the ramp wraps after 100
  sim.Tick(100);
  EXPECT_EQ(plc.Load(0x20, 3), 1u);
  float f;
  const uint32_t raw = *plc.Load(0x30, 5);
  std::memcpy(&f, &raw, 4);
  EXPECT_FLOAT_EQ(f, 5.0f);
  auto out = sim.TakeDue(100);
  ASSERT_EQ(out.size(), 1u);
  TQnetFrame fr;
  ASSERT_TRUE(ParseQnetFrame(out[0].FBytes, fr));
  EXPECT_EQ(fr.FSenderNAD, 3u);
  EXPECT_EQ(fr.FReceiverNAD, 0u);
  EXPECT_EQ(fr.FMsgTyp, kMsgTypSocket);
  EXPECT_EQ(Bytes(fr.FData, fr.FData + fr.FDataLength), (Bytes{2, 0}));
}

TEST(SimControl, RepliesAndErrors) {
  TSimulator sim;
  sim.AddPlc(1);
  bool quit = false;
  const std::pair<const char*, const char*> cases[] = {
      {"set 1 0x40 int 123", "ok"},
      {"get 1 0x40 int", "123"},
      {"set 1 0x44 real 1.5", "ok"},
      {"get 1 0x44 real", "1.5"},
      {"status 1 0 4", "ok"},
      {"fault 1 jam", "error: unknown fault 'jam'"},
      {"fault 9 nak", "error: no PLC with NAD 9"},
      {"set 1 0xFFFF long 1", "error: beyond the memory"},
      {"set 1 0x10 int x", "error: bad value 'x'"},
      {"set 1 0x10 float 1", "error: type must be bit, word, int, long or real"},
      {"delay 1", "error: delay takes 2 arguments"},
      {"", "error: empty command"},
      {"clock 1", "not set"},
  };
  for (const auto& [line, reply] : cases) EXPECT_EQ(sim.Control(line, quit), reply) << line;
  EXPECT_FALSE(quit);
  EXPECT_EQ(sim.Control("quit", quit), "ok");
  EXPECT_TRUE(quit);
}

TEST(SimOptions, ParseAndApply) {
  const char* argv[] = {"plcsim", "--nad", "1,2", "--var", "2@0x100-0x105:word:ramp", "--set", "1@0x40:int:-5",
                        "--fault", "2:nak", "--socket", "1:0:0x40:2:500", "--master", "1:2,100", "--udp", "127.0.0.1:0"};
  TSimOptions o;
  std::string err;
  ASSERT_TRUE(ParseSimOptions(std::size(argv), argv, o, err)) << err;
  EXPECT_EQ(o.FVars.size(), 3u);  // words at 0x100, 0x102, 0x104
  EXPECT_EQ(o.FUdp.FPort, 0);
  TSimulator sim;
  ASSERT_TRUE(ApplySimOptions(o, sim, err)) << err;
  ASSERT_NE(sim.FindPlc(2), nullptr);
  EXPECT_EQ(sim.FindPlc(2)->FVars.size(), 3u);
  EXPECT_EQ(sim.FindPlc(1)->FVars.size(), 0u);
  EXPECT_EQ(sim.FindPlc(2)->FFault, TSimFault::Nak);
  bool quit = false;
  EXPECT_EQ(sim.Control("get 1 0x40 int", quit), "-5");

  const std::vector<std::vector<const char*>> bad = {
      {"plcsim", "--nad", "0"},        {"plcsim", "--var", "0x10:float"}, {"plcsim", "--udp", "127.0.0.1"},
      {"plcsim", "--socket", "1:0:0:0:100"}, {"plcsim", "--pty", "--serial", "/dev/null"},
      {"plcsim", "--bogus"},           {"plcsim", "--nad"},
      {"plcsim", "--broadcast", "192.0.2.255"}, {"plcsim", "--broadcast", "255.255.255.255"},
      {"plcsim", "--pty", "--broadcast", "127.255.255.255"},
  };
  for (const auto& args : bad) {
    TSimOptions b;
    EXPECT_FALSE(ParseSimOptions(static_cast<int>(args.size()), args.data(), b, err)) << args[1];
  }
  // A PLC named in --set that is not simulated.
  const char* unknown[] = {"plcsim", "--nad", "1", "--set", "5@0:int:1"};
  TSimOptions u;
  ASSERT_TRUE(ParseSimOptions(std::size(unknown), unknown, u, err));
  TSimulator s2;
  EXPECT_FALSE(ApplySimOptions(u, s2, err));
}

}  // namespace
