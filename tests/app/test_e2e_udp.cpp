// The assembled server against the simulator over UDP on 127.0.0.1: what the
// scheduler sends and in which order, negative acknowledges, a PLC that goes
// silent, and the qualities that follow.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "app/engine_harness.h"
#include "core/comm_status.h"

namespace {

const std::string kDemoProject = std::string(NORVOOPC_SOURCE_DIR) + "/examples/demo/demo.alc";
using Ms = std::chrono::milliseconds;
using SteadyClock = std::chrono::steady_clock;

// The demo project's PLCs, values standing still; 8-byte messages, so one
// background pass over BOILER takes many requests and there is always one
// to interleave with.
class UdpEngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sim.Start({"--project", kDemoProject, "--nad", "1,2,3,4", "--change-period", "0", "--socket-period",
                           "0", "--set", "1@4:int:1234"}));
    ASSERT_TRUE(h.Configure(sim.Port(), kDemoProject, [](TConnectionConfig& c, TSettings& s) {
      for (auto& conn : c.FConnections) conn.FTimeOut = 150;
      s.SetValue("edMaxBlockSize", 8);
      s.SetValue("edUncertainTime", 1);
      s.SetValue("edBADtime", 2);
    }));
    h.Start();
    ASSERT_TRUE(h.Controller().CommActive());
    project = h.Engine().ProjectSet();
    ASSERT_NE(project, nullptr);
    boiler = Tag("BOILER.1.WaterTemp")->FOwner;
    ASSERT_NE(boiler, nullptr);
  }

  TNorvoVar* Tag(const std::string& ItemID) {
    TNorvoVar* t = project->FindItem(ItemID);
    EXPECT_NE(t, nullptr) << ItemID;
    return t;
  }

  bool AllGood(const TNorvoModel& PLC) const {
    for (const auto& t : PLC.FTags)
      if (VarTypeSize(t->FVarType) > 0 && t->GetQuality() != kQualityGood) return false;
    return true;
  }

  TSimulatorProcess sim;
  TEngineHarness h;
  TOPCProject* project = nullptr;
  TNorvoModel* boiler = nullptr;
};

TEST_F(UdpEngineTest, BackgroundReadsEveryTagThenAClientsReadGoesFirst) {
  TSendLog log(*boiler);
  ASSERT_TRUE(h.RunUntil([&] { log.Sample(); return AllGood(*boiler); }, 5000));
  for (const auto& r : log.Sent()) EXPECT_NE(r.Kind, RD_DATA) << "no client asked for anything yet";
  EXPECT_EQ(Tag("BOILER.1.WaterTemp")->FValue, 1234);

  // An active item raises a read request at its group's boundary; the next
  // frame after that is the requested read, though the background is
  // still walking the PLC.
  TEngineClient client(h.Collection());
  auto group = client.AddGroup("G", 100);
  ASSERT_NE(client.AddItems(group.get(), {"BOILER.1.FlameLevel"}).at(0), 0u);
  TNorvoVar* flame = Tag("BOILER.1.FlameLevel");
  bool requested = false;
  size_t firstAfter = 0;
  ASSERT_TRUE(h.RunUntil(
      [&] {
        if (log.Sample() && requested && firstAfter == 0) firstAfter = log.Sent().size();
        if (!requested && flame->FReadRequest) requested = true;
        return firstAfter != 0;
      },
      3000));
  const TSentRequest& next = log.Sent()[firstAfter - 1];
  EXPECT_EQ(next.Kind, RD_DATA);
  EXPECT_TRUE(next.Has("FlameLevel"));
  group = nullptr;
  client.Release();
}

TEST_F(UdpEngineTest, WritesAndReadsAlternateWhileBothAreWaiting) {
  ASSERT_TRUE(h.RunUntil([&] { return AllGood(*boiler); }, 5000));
  // Reads of every scalar tag at each 50 ms boundary, and writes scattered
  // over the PLC that need several frames.
  TEngineClient client(h.Collection());
  auto group = client.AddGroup("G", 50);
  const std::vector<std::string> scalars{"Running", "StatusWord", "WaterTemp", "OperatingHours", "Pressure",
                                         "FlameLevel", "PumpFlow", "PumpRunning"};
  std::vector<std::string> ids;
  for (const auto& n : scalars) ids.push_back("BOILER.1." + n);
  client.AddItems(group.get(), ids);

  TSendLog log(*boiler);
  const std::vector<std::pair<std::string, int>> writes{
      {"StatusWord", 11}, {"WaterTemp", 22}, {"Pressure", 33}, {"FlameLevel", 44}, {"OperatingHours", 55}};
  for (const auto& [name, value] : writes) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = value;
    ASSERT_TRUE(Tag("BOILER.1." + name)->SetFromVariant(v));
  }
  auto writesLeft = [&] {
    for (const auto& w : writes)
      if (Tag("BOILER.1." + w.first)->FWritePending) return true;
    return false;
  };
  ASSERT_TRUE(h.RunUntil([&] { log.Sample(); return !writesLeft(); }, 4000));

  int writeFrames = 0;
  for (size_t i = 0; i < log.Sent().size(); ++i) {
    if (log.Sent()[i].Kind != WR_DATA) continue;
    ++writeFrames;
    if (i + 1 < log.Sent().size()) {
      EXPECT_NE(log.Sent()[i + 1].Kind, WR_DATA) << "two writes in a row at " << i;
    }
  }
  EXPECT_GE(writeFrames, 2) << "8-byte messages take more than one write";
  for (const auto& [name, value] : writes) {
    const auto reply = sim.Control("get 1 " + std::to_string(Tag("BOILER.1." + name)->FAddress) + " " +
                                   (name == "Pressure" ? "real" : name == "OperatingHours" ? "long" : "int"));
    ASSERT_TRUE(reply.has_value());
    EXPECT_NE(reply->find(std::to_string(value)), std::string::npos) << name << ": " << *reply;
  }
  group = nullptr;
  client.Release();
}

TEST_F(UdpEngineTest, NegativeAcknowledgeKeepsTheWritePendingUntilThePLCTakesIt) {
  ASSERT_TRUE(h.RunUntil([&] { return AllGood(*boiler); }, 5000));
  ASSERT_EQ(sim.Control("fault 1 nak"), "ok");
  TNorvoVar* temp = Tag("BOILER.1.WaterTemp");
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I2;
  v.iVal = 777;
  ASSERT_TRUE(temp->SetFromVariant(v));
  ASSERT_TRUE(h.RunUntil([&] { return boiler->FNakCount > 0 && temp->GetQuality() == kQualityConfigError; }, 3000));
  EXPECT_TRUE(temp->FWritePending);

  // The simulator's fault refuses only in its answer; put its memory back
  // so the retried write shows. Once the PLC acknowledges, it goes through.
  ASSERT_EQ(sim.Control("set 1 4 int 1234"), "ok");
  ASSERT_EQ(sim.Control("fault 1 none"), "ok");
  ASSERT_TRUE(h.RunUntil([&] { return !temp->FWritePending && temp->GetQuality() == kQualityGood; }, 3000));
  EXPECT_EQ(sim.Control("get 1 4 int"), "777");
}

TEST_F(UdpEngineTest, SilentPLCTimesOutAtTheFourthUnansweredRequestOnceAndItsValuesAge) {
  ASSERT_TRUE(h.RunUntil([&] { return AllGood(*boiler); }, 5000));
  TNorvoVar* temp = Tag("BOILER.1.WaterTemp");
  ASSERT_EQ(sim.Control("fault 1 silence"), "ok");
  SystemClock clock;
  int timedOutAtCount = -1;
  // Real milliseconds since the tag's last value when each quality showed.
  int64_t uncertainAfter = -1;
  int64_t badAfter = -1;
  ASSERT_TRUE(h.RunUntil(
      [&] {
        if (boiler->FTimedOut && timedOutAtCount < 0) timedOutAtCount = boiler->FUnansweredCount;
        const uint16_t q = temp->GetQuality();
        const int64_t since = TickDiff(clock.TickCount(), temp->FUpdateTick);
        if (q == kQualityLastUsable && uncertainAfter < 0) uncertainAfter = since;
        if (q == kQualityLastKnown && badAfter < 0) badAfter = since;
        return badAfter >= 0 && boiler->FUnansweredCount >= 8;
      },
      6000));
  // Judged on the 300 ms view tick: a few more frames may go out first, but
  // never a judgement before the fourth.
  EXPECT_GE(timedOutAtCount, kUnansweredTimeout);
  EXPECT_TRUE(boiler->FTimedOut);
  EXPECT_EQ(boiler->FTimeoutCount, 1) << "one silence, one timeout";
  // Uncertain after one second, bad after two, each within a view tick or
  // two of its time (the tick ages the values).
  EXPECT_GE(uncertainAfter, 1000);
  EXPECT_LT(uncertainAfter, 1000 + 2 * kViewTimerInterval + 100);
  EXPECT_GE(badAfter, 2000);
  EXPECT_LT(badAfter, 2000 + 2 * kViewTimerInterval + 100);
  EXPECT_EQ(temp->FValue, 1234) << "the last value stays";

  // The PLC answers again: the timeout clears and the values are good.
  ASSERT_EQ(sim.Control("fault 1 none"), "ok");
  ASSERT_TRUE(h.RunUntil([&] { return !boiler->FTimedOut && temp->GetQuality() == kQualityGood; }, 4000));
  EXPECT_EQ(boiler->FTimeoutCount, 1);
}

}  // namespace
