// The assembled server on a serial line: the simulator on a pseudo-terminal
// that the registry maps to "COM 5", the server first as network master
// polling the PLC, then as a slave that a simulated master grants the
// permission to send.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "app/engine_harness.h"

namespace {

const std::string kDemoProject = std::string(NORVOOPC_SOURCE_DIR) + "/examples/demo/demo.alc";
constexpr int kComPort = 5;

// The figures of the simulator's "stats" line by name.
int Stat(const std::string& Line, const std::string& Name) {
  std::istringstream in(Line);
  std::string word;
  while (in >> word)
    if (word == Name && in >> word) return std::stoi(word);
  return -1;
}

// BOILER alone, on COM 5, with Master deciding the role.
void SerialConnection(TConnectionConfig& c, bool Master) {
  c.FConnections.resize(1);
  TCommunicationSettings& s = c.FConnections[0];
  s.FConnectionNAD = 1;
  s.FDriverType = kDriverSerial;
  s.FCommPort = kComPort;
  s.FAutoMaster = false;
  s.FCommMaster = Master;
  s.FTimeOut = 300;
}

TEST(SerialEngineTest, AsMasterTheBackgroundRefreshReadsThePLCOverThePty) {
  TSimulatorProcess sim;
  ASSERT_TRUE(sim.StartPty({"--project", kDemoProject, "--nad", "1", "--change-period", "0", "--socket-period", "0",
                            "--set", "1@4:int:-321"}));
  TEngineHarness h;
  ASSERT_TRUE(h.Configure(0, kDemoProject, [](TConnectionConfig& c, TSettings&) { SerialConnection(c, true); }));
  ASSERT_TRUE(TEngineHarness::MapSerialPort(kComPort, sim.DevicePath()));
  h.Start();
  ASSERT_TRUE(h.Controller().CommActive());
  TOPCProject* project = h.Engine().ProjectSet();
  TNorvoVar* temp = project->FindItem("BOILER.1.WaterTemp");
  ASSERT_NE(temp, nullptr);
  TNorvoModel* boiler = temp->FOwner;
  auto allGood = [&] {
    for (const auto& t : boiler->FTags)
      if (VarTypeSize(t->FVarType) > 0 && t->GetQuality() != kQualityGood) return false;
    return true;
  };
  EXPECT_TRUE(h.RunUntil(allGood, 5000));
  EXPECT_EQ(temp->FValue, -321);
  EXPECT_EQ(boiler->FBadMessageCount, 0);
  const auto stats = sim.Control("stats");
  ASSERT_TRUE(stats.has_value());
  EXPECT_EQ(Stat(*stats, "errors"), 0) << *stats;
}

TEST(SerialEngineTest, AsSlaveWithNothingToDoEachPermissionComesBackOnce) {
  TSimulatorProcess sim;
  // Master 50 grants to the server (NAD 100) only, every 20 ms.
  ASSERT_TRUE(sim.StartPty({"--project", kDemoProject, "--nad", "1", "--change-period", "0", "--socket-period", "0",
                            "--master", "50:100", "--master-timeout", "500"}));
  TEngineHarness h;
  ASSERT_TRUE(h.Configure(0, kDemoProject, [](TConnectionConfig& c, TSettings& s) {
    SerialConnection(c, false);
    s.SetValue("cbBackgroundRefreshTags", false);
    s.SetValue("cbBackGroundRefreshPLCStatus", false);
    s.SetIdValue(kIdMasterMode, 0);
  }));
  ASSERT_TRUE(TEngineHarness::MapSerialPort(kComPort, sim.DevicePath()));
  h.Start();
  ASSERT_TRUE(h.Controller().CommActive());
  TCommDriver* driver = h.Engine().ProjectSet()->FDrivers.at(0).get();

  // Grants made before the port was open run out; count from the first
  // permission the server gave back.
  std::string start;
  ASSERT_TRUE(h.RunUntil(
      [&] {
        start = sim.Control("stats").value_or("");
        return Stat(start, "returned") >= 1;
      },
      3000))
      << start;
  std::string stats;
  ASSERT_TRUE(h.RunUntil(
      [&] {
        stats = sim.Control("stats").value_or("");
        return Stat(stats, "returned") >= Stat(start, "returned") + 5;
      },
      5000))
      << stats;
  EXPECT_FALSE(driver->FSettings.FPollAsMaster);
  auto delta = [&](const std::string& Name) { return Stat(stats, Name) - Stat(start, Name); };
  // Every grant answered, by one frame: no turn ran out, nothing extra.
  EXPECT_LE(delta("permissions") - delta("returned"), 1) << start << " / " << stats;
  EXPECT_EQ(delta("timeouts"), 0) << start << " / " << stats;
  EXPECT_EQ(Stat(stats, "ignored"), 0) << stats;
  EXPECT_EQ(Stat(stats, "answers"), 0) << "nothing was asked of the PLC: " << stats;
  EXPECT_EQ(Stat(stats, "errors"), 0) << stats;
}

}  // namespace
