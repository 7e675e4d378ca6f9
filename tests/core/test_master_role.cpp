// The server's role per driver (network master or slave) and the master
// timer's pacing of an idle or unanswered master.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

#include "core/project_set_support.h"
#include "core/scheduler.h"
#include "fakes/fake_transport.h"
#include "log/session_log.h"
#include "platform/date_time.h"

namespace {

TCommunicationSettings Settings(uint8_t type, int32_t timeout = 1000) {
  TCommunicationSettings s;
  s.FDriverType = type;
  s.FCommPort = 1;
  s.FTimeOut = timeout;
  return s;
}

class RoleTest : public ::testing::Test {
 protected:
  RoleTest() { scheduler.SetProjectSet(&project); }
  TCommDriver& AddDriver(uint8_t type, int32_t timeout = 1000) {
    project.FDrivers.push_back(std::make_unique<TCommDriver>(Settings(type, timeout)));
    return *project.FDrivers.back();
  }
  FakeTagEnvironment tagEnv;
  FakeMessageBoxes boxes;
  FakeClock clock;
  TAppliedSettings applied;
  TOPCProject project{TProjectSetContext{applied, boxes, clock}};
  TCommScheduler scheduler{TSchedulerContext{applied, clock, nullptr, {}, {}, {}, {}}};
};

TEST_F(RoleTest, SharedConnectionRows) {
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
    applied.FMasterMode = r.mode;
    project.FMasterPLCConfigured = r.masterPLC;
    project.FAllProjectsComplete = r.complete;
    project.FDrivers.clear();
    const TCommDriver& d = AddDriver(r.type);
    EXPECT_EQ(scheduler.PollsAsMaster(d), r.master)
        << int(r.type) << " mode " << r.mode << " masterPLC " << r.masterPLC << " complete " << r.complete;
  }
}

TEST_F(RoleTest, IndividualConnectionRows) {
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
  project.FUseIndividualConnections = true;
  applied.FMasterMode = 1;  // the shared mode plays no part
  project.FAllProjectsComplete = true;
  for (const auto& r : rows) {
    project.FDrivers.clear();
    TCommDriver& d = AddDriver(r.type);
    d.FSettings.FAutoMaster = r.autoMaster;
    d.FSettings.FCommMaster = r.commMaster;
    d.FSettings.FHasMasterPLC = r.hasMasterPLC;
    d.FSettings.FProjectsComplete = r.complete;
    EXPECT_EQ(scheduler.PollsAsMaster(d), r.master) << r.autoMaster << r.commMaster << r.hasMasterPLC << r.complete;
  }
}

class MasterRoleProjectTest : public ProjectSetTest {
 protected:
  bool SharedSerialMaster(const std::vector<TestProgram>& programs, bool withProjectFile = true) {
    applied.FSerialSelected = true;
    applied.FMasterMode = 2;
    Load({WriteProject(tmp.Path(), "p", programs, withProjectFile)});
    TCommScheduler scheduler{TSchedulerContext{applied, clock, nullptr, {}, {}, {}, {}}};
    scheduler.SetProjectSet(set.get());
    EXPECT_EQ(set->FDrivers.size(), 1u);
    scheduler.MasterTimerTick();
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

class MasterRoundTest : public RoleTest {
 protected:
  MasterRoundTest() {
    project.FCommunicating = true;
    applied.FMasterMode = 1;
    applied.FBackgroundRefreshStatus = false;
  }
  TNorvoModel& Plc(TCommDriver& d) {
    d.SetTransport(std::make_unique<TFakeTransport>(tx));
    auto plc = std::make_unique<TNorvoModel>();
    plc->FNAD = 2;
    plc->FDriver = &d;
    auto t = std::make_unique<TNorvoVar>(plc.get(), "a");
    t->FVarType = ntLong;
    plc->AddTag(std::move(t));
    project.FPLCs.push_back(std::move(plc));
    return *project.FPLCs.back();
  }
  // Master timer every 10 ms for Ms (without a queue the preparation runs
  // within the tick).
  // Returns the ticks (from the start) at which frames went out.
  std::vector<uint32_t> Run(uint32_t ms) {
    const uint32_t start = clock.TickCount();
    std::vector<uint32_t> sends;
    for (uint32_t t = 0; t < ms; t += 10) {
      clock.Advance(10);
      const size_t before = tx->Sent.size();
      scheduler.MasterTimerTick();
      if (tx->Sent.size() > before) sends.push_back(TickDiff(clock.TickCount(), start));
    }
    return sends;
  }
  std::shared_ptr<TFakeTransportState> tx = std::make_shared<TFakeTransportState>();
};

TEST_F(MasterRoundTest, UnansweredRequestsArePacedByTheTimeoutAcrossTheTickWrap) {
  TCommDriver& d = AddDriver(kDriverSerial, 1000);
  Plc(d);
  clock.SetTick(0xFFFFFE00u);
  d.FLastTxTick = d.FCallTo.FTick = clock.TickCount();
  // The step comes once more than 1000 ms passed since the last frame, and
  // the preparation 20 ms (serial) after it. The unanswered PLC is skipped
  // once by the next search, so that round sends nothing, and the step
  // after it waits for the timeout again.
  EXPECT_EQ(Run(3300), (std::vector<uint32_t>{1040, 3090}));
}

TEST_F(MasterRoundTest, IdleMasterPollsOncePerTimeoutWithoutDeniedSteps) {
  TempFolder tmp;
  applied.FLogSerialComm = true;
  applied.FLogCommActions = true;
  applied.FBackgroundRefreshTags = false;
  TSessionLog log(applied, clock, nullptr, tmp.Path() + "/", "1.0");
  TCommScheduler logging{TSchedulerContext{applied, clock, &log, {}, {}, {}, {}}};
  scheduler.SetProjectSet(nullptr);
  logging.SetProjectSet(&project);
  TCommDriver& d = AddDriver(kDriverSerial, 1000);
  Plc(d);
  clock.SetTick(50000);
  d.FLastTxTick = d.FCallTo.FTick = clock.TickCount();
  for (int i = 0; i < 350; ++i) {
    clock.Advance(10);
    logging.MasterTimerTick();
  }
  const auto count = [&](const std::string& text) {
    return std::count_if(log.Memo().Lines().begin(), log.Memo().Lines().end(),
                         [&](const std::string& line) { return line.find(text) != std::string::npos; });
  };
  EXPECT_TRUE(tx->Sent.empty());
  // Steps at 1010, 2020 and 3030 ms, each preparation finding nothing.
  EXPECT_EQ(count("Master TIMEOUT"), 3);
  EXPECT_EQ(count("NO_REQUEST"), 3);
  EXPECT_EQ(count("Second call denied"), 0);
}

TEST_F(MasterRoundTest, UdpWaitsForItsSendAndItsLongerPreparationDelay) {
  for (const bool full : {false, true}) {
    project.FPLCs.clear();
    project.FDrivers.clear();
    applied.FEthFullBandwidth = full;
    TCommDriver& d = AddDriver(kDriverUDP, 300);
    Plc(d);
    tx->Busy = true;
    d.FLastTxTick = clock.TickCount();
    EXPECT_TRUE(Run(1000).empty()) << full;
    tx->Busy = false;
    // The step at the next tick, the preparation 60 ms (20 ms with the full
    // bandwidth) after it.
    EXPECT_EQ(Run(200), (std::vector<uint32_t>{full ? 40u : 80u})) << full;
  }
}

TEST_F(MasterRoundTest, TimeoutLineCarriesMillisecondsInThreeDigits) {
  TempFolder tmp;
  applied.FLogSerialComm = true;
  TSessionLog log(applied, clock, nullptr, tmp.Path() + "/", "1.0");
  TCommScheduler logging{TSchedulerContext{applied, clock, &log, {}, {}, {}, {}}};
  scheduler.SetProjectSet(nullptr);
  logging.SetProjectSet(&project);
  TCommDriver& d = AddDriver(kDriverSerial, 1000);
  d.FSettings.FCommPort = 3;
  // 13:07:09.045
  clock.SetNow(46000 + (13 * 3600 + 7 * 60 + 9) / 86400.0 + 45 / 86400000.0);
  clock.SetTick(5000);
  logging.MasterTimerTick();
  bool found = false;
  for (const auto& line : log.Memo().Lines())
    found = found || line.find("Ma [13:07:09:045] Master TIMEOUT Port: 3") != std::string::npos;
  EXPECT_TRUE(found);
}

}  // namespace
