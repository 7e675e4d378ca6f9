// The sending permission and the traffic of other stations as the command
// layer takes them: one preparation per permission, a second one refused
// while it waits, other stations followed but never answered.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "comm/comm_driver.h"
#include "comm/qnet_codec.h"
#include "fakes/fake_transport.h"

namespace {

class PermissionEnv final : public ICommEnvironment {
 public:
  const TAppliedSettings& Applied() const override { return applied; }
  bool Communicating() const override { return true; }
  bool Shown() const override { return true; }
  const Clock& Time() const override { return clock; }
  TServerCommCounters& Counters() override { return counters; }
  void Log(const std::string& Line, bool) override { lines.push_back(Line); }
  bool IsKnownPLC(const TNorvoModel*) const override { return false; }
  void DistributeSocketData(int S, int R, const uint8_t*, size_t L) override {
    sockets.push_back({S, R, static_cast<int>(L)});
  }
  void DoNextMasterStep(TCommDriver&) override {}
  bool Logged(const std::string& prefix) const {
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
  }
  TAppliedSettings applied;  // the server is NAD 100
  FakeClock clock;
  TServerCommCounters counters;
  std::vector<std::string> lines;
  std::vector<std::vector<int>> sockets;
};

class PermissionTest : public ::testing::Test {
 protected:
  PermissionTest() : driver(Serial()) {
    env.applied.FLogSerialComm = true;
    env.applied.FLogCommActions = true;
    env.clock.SetTick(5000);
    driver.Attach(&env);
    driver.SetTransport(std::make_unique<TFakeTransport>(tx));
  }
  static TCommunicationSettings Serial() {
    TCommunicationSettings s;
    s.FDriverType = kDriverSerial;
    s.FCommPort = 1;
    return s;
  }
  static std::vector<uint8_t> Permission(uint32_t sender, uint32_t receiver) {
    TQnetTxBuffer f;
    EncodePermission(f, sender, receiver);
    return {f.Bytes().begin(), f.Bytes().end()};
  }
  static std::vector<uint8_t> Frame(uint32_t sender, uint32_t receiver, uint8_t dir, uint8_t typ,
                                    std::vector<uint8_t> data) {
    TQnetTxBuffer f;
    EncodeAnswer(f, sender, receiver, dir, typ, data);
    return {f.Bytes().begin(), f.Bytes().end()};
  }
  PermissionEnv env;
  std::shared_ptr<TFakeTransportState> tx = std::make_shared<TFakeTransportState>();
  TCommDriver driver;
};

TEST_F(PermissionTest, OnePreparationPerPermissionAndNoneWhileOneWaits) {
  driver.ReceiveChunk(Permission(1, 100));
  EXPECT_TRUE(driver.FPreparePending);
  EXPECT_EQ(driver.FCallTo.FGrantorNAD, 1);
  EXPECT_EQ(driver.FCallTo.FTargetNAD, 100);
  EXPECT_EQ(driver.FCallTo.FTick, 5000u);
  EXPECT_EQ(env.counters.FMasterToOpcRequestCount, 1);
  EXPECT_EQ(env.counters.FCurrentMasterNAD, 1u);

  // The next receive event while the preparation still waits: refused.
  env.clock.Advance(15);
  driver.ReceiveChunk(Permission(1, 100));
  EXPECT_TRUE(env.Logged("Second call denied in RxCh"));
  EXPECT_EQ(driver.FCallTo.FTick, 5000u);
  EXPECT_EQ(env.counters.FMasterToOpcRequestCount, 2);
  EXPECT_EQ(env.counters.FOwnPermissionInterval, 15u);
  EXPECT_TRUE(tx->Sent.empty());

  // Once it ran, the next permission is taken again.
  driver.FPreparePending = false;
  env.clock.Advance(5);
  driver.ReceiveChunk(Permission(1, 100));
  EXPECT_EQ(driver.FCallTo.FTick, 5020u);
}

TEST_F(PermissionTest, PermissionForAnotherStationIsOnlySeen) {
  env.counters.FCurrentMasterNAD = 1;
  driver.ReceiveChunk(Permission(2, 5));
  EXPECT_FALSE(driver.FPreparePending);
  EXPECT_EQ(env.counters.FPermissionCount, 1);
  EXPECT_EQ(env.counters.FLastPermissionReceiver, 5u);
  EXPECT_EQ(env.counters.FMasterToOpcRequestCount, 0);
  EXPECT_EQ(env.counters.FCurrentMasterNAD, 1u);
  EXPECT_TRUE(env.Logged("UnHandled Message, Sender: 2, Receiver: 5, MsgDir: 0, MsgTyp: 0, MsgCMD: 68, MsgLen: 3"));
  EXPECT_TRUE(tx->Sent.empty());
}

TEST_F(PermissionTest, OtherStationsTrafficIsFollowedNotAnswered) {
  driver.ReceiveChunk(Frame(3, 0, kMsgDirAnswer, 1, {0xAA, 0xBB}));
  ASSERT_EQ(env.sockets.size(), 1u);
  EXPECT_EQ(env.sockets[0], (std::vector<int>{3, 0, 2}));
  EXPECT_EQ(env.counters.FSocketFrameCount, 1);

  driver.ReceiveChunk(Frame(1, 3, kMsgDirRequest, 0, {0x31, 0, 0, 4, 0}));
  EXPECT_TRUE(env.Logged("NotHandled Message, Sender: 1, Receiver: 3, MsgDir: 0, MsgTyp: 0, MsgCMD: 49, MsgLen: 7"));
  driver.ReceiveChunk(Frame(3, 1, kMsgDirNak, 0, {}));
  EXPECT_TRUE(env.Logged("NotHandled Message, Sender: 3, Receiver: 1, MsgDir: 12, MsgTyp: 0"));
  EXPECT_EQ(env.counters.FNakCount, 0);
  driver.ReceiveChunk(Frame(3, 1, kMsgDirAnswer, 0, {0x12}));
  EXPECT_FALSE(driver.FPreparePending);
  EXPECT_TRUE(tx->Sent.empty());
}

TEST_F(PermissionTest, SilentLoggingFormsNoLines) {
  env.applied.FLogSerialComm = false;
  env.applied.FLogCommActions = false;
  driver.ReceiveChunk(Permission(2, 5));
  driver.ReceiveChunk(Permission(1, 100));
  driver.ReceiveChunk(Permission(1, 100));
  EXPECT_TRUE(env.lines.empty());
}

}  // namespace
