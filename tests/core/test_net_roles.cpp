#include <gtest/gtest.h>

#include <vector>

#include "comm/qnet_frame.h"
#include "core/net_roles.h"
#include "core/project_set_support.h"

namespace {

TCommDriver MakeDriver(uint8_t type, int32_t timeout = 1000) {
  TCommunicationSettings s;
  s.FDriverType = type;
  s.FCommPort = 1;
  s.FTimeOut = timeout;
  return TCommDriver(s);
}

TEST(PollsAsMasterTest, SharedConnectionRows) {
  const struct {
    uint8_t type;
    int mode;
    bool masterPLC;
    bool complete;
    bool master;
  } rows[] = {
      {kDriverUDP, 0, true, false, true},      {kDriverSerial, 1, true, false, true},
      {kDriverSerial, 0, false, true, false},  {kDriverSerial, 2, false, true, true},
      {kDriverSerial, 2, true, true, false},   {kDriverSerial, 2, false, false, false},
  };
  for (const auto& r : rows) {
    TAppliedSettings applied;
    applied.FMasterMode = r.mode;
    const TCommDriver d = MakeDriver(r.type);
    EXPECT_EQ(PollsAsMaster(d, false, applied, r.masterPLC, r.complete), r.master)
        << int(r.type) << " mode " << r.mode << " masterPLC " << r.masterPLC << " complete " << r.complete;
  }
}

TEST(PollsAsMasterTest, IndividualConnectionRows) {
  const struct {
    uint8_t type;
    bool autoMaster;
    bool commMaster;
    bool hasMasterPLC;
    bool complete;
    bool master;
  } rows[] = {
      {kDriverUDP, false, false, true, false, true},
      {kDriverSerial, true, false, false, true, true},
      {kDriverSerial, true, true, true, true, false},
      {kDriverSerial, true, true, false, false, false},
      {kDriverSerial, false, true, true, false, true},
      {kDriverSerial, false, false, false, true, false},
  };
  TAppliedSettings applied;
  applied.FMasterMode = 1;  // the shared mode plays no part
  for (const auto& r : rows) {
    TCommDriver d = MakeDriver(r.type);
    d.FSettings.FAutoMaster = r.autoMaster;
    d.FSettings.FCommMaster = r.commMaster;
    d.FSettings.FHasMasterPLC = r.hasMasterPLC;
    d.FSettings.FProjectsComplete = r.complete;
    EXPECT_EQ(PollsAsMaster(d, true, applied, false, true), r.master)
        << r.autoMaster << r.commMaster << r.hasMasterPLC << r.complete;
  }
}

class MasterRoleProjectTest : public ProjectSetTest {
 protected:
  bool SharedSerialMaster(const std::vector<TestProgram>& programs, bool withProjectFile = true) {
    applied.FSerialSelected = true;
    applied.FMasterMode = 2;
    Load({WriteProject(tmp.Path(), "p", programs, withProjectFile)});
    DecideMasterRoles(*set, applied);
    EXPECT_EQ(set->FDrivers.size(), 1u);
    return !set->FDrivers.empty() && set->FDrivers[0]->FSettings.FPollAsMaster;
  }
};

TEST_F(MasterRoleProjectTest, ProjectNamingOneOfItsPLCsMasterMakesTheServerSlave) {
  EXPECT_FALSE(SharedSerialMaster({TestProgram("U", {2}, "", {"long a"}, {}, 2)}));
}

TEST_F(MasterRoleProjectTest, MasterNotAmongTheLoadedPLCsLeavesTheServerMaster) {
  EXPECT_TRUE(SharedSerialMaster({TestProgram("U", {2}, "", {"long a"}, {}, 9)}));
}

TEST_F(MasterRoleProjectTest, MissingProjectFileMakesTheServerSlave) {
  EXPECT_FALSE(SharedSerialMaster({TestProgram("U", {2}, "", {"long a"})}, false));
}

TEST(MasterRoundTest, TimeoutPacesAnIdleMasterAndUdpWaitsForItsSend) {
  FakeClock clock;
  clock.SetTick(0xFFFFFE00u);  // the round crosses the counter's wrap
  TCommDriver d = MakeDriver(kDriverSerial, 1000);
  d.FSettings.FPollAsMaster = true;
  const uint32_t lastTx = clock.TickCount();
  // Master timer every 10 ms for 3 s; each step "sends nothing" and the
  // next comes with the timeout.
  std::vector<uint32_t> steps;
  uint32_t tx = lastTx;
  for (int i = 1; i <= 300; ++i) {
    clock.Advance(10);
    if (MasterTimeoutDue(d, tx, clock.TickCount(), false)) {
      steps.push_back(TickDiff(clock.TickCount(), lastTx));
      tx = clock.TickCount();
    }
  }
  EXPECT_EQ(steps, (std::vector<uint32_t>{1010, 2020}));

  d.FSettings.FTimeOut = -1;
  EXPECT_TRUE(MasterTimeoutDue(d, clock.TickCount(), clock.TickCount(), false));
  d.FSettings.FPollAsMaster = false;
  EXPECT_FALSE(MasterTimeoutDue(d, 0, clock.TickCount(), false));

  TCommDriver udp = MakeDriver(kDriverUDP, 300);
  udp.FSettings.FPollAsMaster = true;
  EXPECT_FALSE(MasterTimeoutDue(udp, 0, 5000, true));
  EXPECT_TRUE(MasterTimeoutDue(udp, 0, 5000, false));

  EXPECT_EQ(PreparationDelayMs(d, false), 20u);
  EXPECT_EQ(PreparationDelayMs(udp, false), 60u);
  EXPECT_EQ(PreparationDelayMs(udp, true), 20u);
}

TEST(MasterRoundTest, TimeoutLineCarriesMillisecondsInThreeDigits) {
  // 13:07:09.045
  const TDateTime t = 46000 + (13 * 3600 + 7 * 60 + 9) / 86400.0 + 45 / 86400000.0;
  EXPECT_EQ(MasterTimeoutLine(t, 3), "Ma [13:07:09:045] Master TIMEOUT Port: 3");
}

class RecordingRoleHooks final : public INetRoleHooks {
 public:
  void SetCallTo(TCommDriver&, const TPermissionCall& Call) override { calls.push_back(Call); }
  void Log(const std::string& Line, bool) override { lines.push_back(Line); }
  void DistributeSocketData(int32_t Sender, int32_t Receiver, const uint8_t*, size_t Length) override {
    sockets.push_back({Sender, Receiver, static_cast<int32_t>(Length)});
  }
  bool Logged(const std::string& prefix) const {
    for (const auto& l : lines)
      if (l.rfind(prefix, 0) == 0) return true;
    return false;
  }
  std::vector<TPermissionCall> calls;
  std::vector<std::string> lines;
  std::vector<std::vector<int32_t>> sockets;
};

// A frame built as a station on the line would send it.
struct WireFrame {
  WireFrame(uint32_t sender, uint32_t receiver, std::vector<uint8_t> body) {
    tx.BeginFrame(static_cast<uint16_t>(body.size()), sender, receiver);
    for (uint8_t b : body) tx.PushByte(b);
    EXPECT_TRUE(tx.FinishFrame(0));
    EXPECT_TRUE(ParseQnetFrame(tx.Bytes(), frame));
  }
  TQnetTxBuffer tx;
  TQnetFrame frame;
};

class NetRolesTest : public ::testing::Test {
 protected:
  NetRolesTest() {
    applied.FLogSerialComm = true;
    applied.FLogCommActions = true;
    clock.SetTick(5000);
  }
  FakeClock clock;
  TAppliedSettings applied;  // the server is NAD 100
  TServerComState state;
  RecordingRoleHooks hooks;
  TNetRoles roles{state, applied, hooks, clock};
  TCommDriver driver = MakeDriver(kDriverSerial);
};

TEST_F(NetRolesTest, PermissionToTheServerAsksForExactlyOnePreparation) {
  WireFrame perm(1, 100, {0, 0, 0x44});
  roles.BeginReceiveEvent();
  EXPECT_TRUE(roles.HandleFrame(driver, perm.frame, false));
  EXPECT_TRUE(roles.HandleFrame(driver, perm.frame, false));  // same chunk
  ASSERT_EQ(hooks.calls.size(), 1u);
  EXPECT_EQ(hooks.calls[0].FGrantorNAD, 1);
  EXPECT_EQ(hooks.calls[0].FTargetNAD, 100);
  EXPECT_EQ(hooks.calls[0].FTick, 5000u);
  EXPECT_TRUE(driver.FPreparePending);
  EXPECT_EQ(state.FMasterToOpcRequestCount, 1);
  EXPECT_EQ(state.FPermissionsSeen, 2);
  EXPECT_EQ(state.FCurrentMasterNAD, 1);
  EXPECT_TRUE(hooks.Logged("UnHandled Message, Sender: 1, Receiver: 100, MsgDir: 0, MsgTyp: 0, MsgCMD: 68, MsgLen: 3"));

  // The next chunk while the preparation still waits: refused.
  clock.Advance(15);
  roles.BeginReceiveEvent();
  roles.HandleFrame(driver, perm.frame, false);
  EXPECT_EQ(hooks.calls.size(), 1u);
  EXPECT_TRUE(hooks.Logged("Second call denied in RxCh"));
  EXPECT_EQ(state.FMasterToOpcRequestCount, 2);
  EXPECT_EQ(state.FServerPermissionInterval, 15u);

  // Once it ran, the next permission is taken again.
  driver.FPreparePending = false;
  roles.BeginReceiveEvent();
  roles.HandleFrame(driver, perm.frame, false);
  EXPECT_EQ(hooks.calls.size(), 2u);
}

TEST_F(NetRolesTest, PermissionForAnotherStationIsOnlySeen) {
  state.FCurrentMasterNAD = 1;
  WireFrame perm(2, 5, {0, 0, 0x44, 0x99});  // further bytes are ignored
  roles.BeginReceiveEvent();
  EXPECT_TRUE(roles.HandleFrame(driver, perm.frame, true));
  EXPECT_TRUE(hooks.calls.empty());
  EXPECT_FALSE(driver.FPreparePending);
  EXPECT_EQ(state.FPermissionsSeen, 1);
  EXPECT_EQ(state.FLastPermissionReceiver, 5);
  EXPECT_EQ(state.FMasterToOpcRequestCount, 0);
  EXPECT_EQ(state.FCurrentMasterNAD, 1);
  EXPECT_TRUE(hooks.Logged("UDP UnHandled Message, Sender: 2, Receiver: 5"));
}

TEST_F(NetRolesTest, OtherStationsTrafficIsFollowedNotAnswered) {
  roles.BeginReceiveEvent();
  WireFrame socket(3, 0, {1, 1, 0xAA, 0xBB});
  EXPECT_TRUE(roles.HandleFrame(driver, socket.frame, false));
  ASSERT_EQ(hooks.sockets.size(), 1u);
  EXPECT_EQ(hooks.sockets[0], (std::vector<int32_t>{3, 0, 2}));
  EXPECT_EQ(state.FNetworkSocketCount, 1);

  WireFrame answerToOther(3, 1, {1, 0, 0x12});
  EXPECT_TRUE(roles.HandleFrame(driver, answerToOther.frame, false));
  EXPECT_TRUE(hooks.Logged("NotHandled Message, Sender: 3, Receiver: 1, MsgDir: 1, MsgTyp: 0"));
  WireFrame requestToOther(1, 3, {0, 0, 0x31, 0, 0, 4, 0});
  EXPECT_TRUE(roles.HandleFrame(driver, requestToOther.frame, false));
  EXPECT_TRUE(hooks.Logged("NotHandled Message, Sender: 1, Receiver: 3, MsgDir: 0, MsgTyp: 0, MsgCMD: 49, MsgLen: 7"));

  // The server's own answers go to the command layer.
  WireFrame answerToServer(3, 100, {1, 0, 0x12});
  EXPECT_FALSE(roles.HandleFrame(driver, answerToServer.frame, false));
  WireFrame permNoCommand(1, 100, {0, 0});
  EXPECT_FALSE(TNetRoles::IsPermissionFrame(permNoCommand.frame));
  EXPECT_TRUE(hooks.calls.empty());
}

TEST_F(NetRolesTest, SilentLoggingFormsNoLines) {
  applied.FLogSerialComm = false;
  applied.FLogCommActions = false;
  WireFrame perm(2, 5, {0, 0, 0x44});
  roles.BeginReceiveEvent();
  roles.HandleFrame(driver, perm.frame, false);
  EXPECT_TRUE(hooks.lines.empty());
}

}  // namespace
