// Automatic address detection end to end on the loopback adapter: the server
// looks for the demo's PLCs at lo's broadcast address 127.255.255.255, the
// simulator hears it there and answers from 127.0.0.1, and the PLCs move to
// a driver aimed at that address. Detection always talks to port 8442, so
// the test runs only when that port is free on the loopback addresses.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/engine_harness.h"
#include "comm/comm_transport.h"
#include "comm/udp_transport.h"

namespace {

const std::string kDemoProject = std::string(NORVOOPC_SOURCE_DIR) + "/examples/demo/demo.alc";
constexpr uint32_t kLoopback = 0x7F000001u;
constexpr uint32_t kLoopbackBroadcast = 0x7FFFFFFFu;
const std::string kBroadcastText = "127.255.255.255";
const std::string kLoopbackText = "127.0.0.1";

TUdpTransport* UdpOf(const TCommDriver* Driver) {
  auto* t = Driver ? dynamic_cast<TUdpCommTransport*>(Driver->Transport()) : nullptr;
  return t ? &t->Udp() : nullptr;
}

// Where each frame to one PLC went: its driver's target and remote port,
// and the local address the datagram left from.
struct TFrameRoute {
  std::string Target;
  int Port = 0;
  uint32_t From = 0;
};

class TRouteLog {
 public:
  explicit TRouteLog(TNorvoModel& PLC) : FPLC(PLC), FSeen(PLC.FTransmitCount) {}
  void Sample() {
    if (FPLC.FTransmitCount == FSeen) return;
    FSeen = FPLC.FTransmitCount;
    TFrameRoute r;
    if (TUdpTransport* udp = UdpOf(FPLC.FDriver)) {
      r.Target = FPLC.FDriver->FSettings.FTargetAddress;
      r.Port = udp->RemotePort();
      if (udp->Socket()) r.From = udp->Socket()->Local().Address;
    }
    FRoutes.push_back(r);
  }
  const std::vector<TFrameRoute>& Routes() const { return FRoutes; }

 private:
  TNorvoModel& FPLC;
  int32_t FSeen;
  std::vector<TFrameRoute> FRoutes;
};

bool AllGood(const TNorvoModel& PLC) {
  for (const auto& t : PLC.FTags)
    if (VarTypeSize(t->FVarType) > 0 && t->GetQuality() != kQualityGood) return false;
  return true;
}

TEST(AddressDetection, BroadcastFindsThePLCsOnLoopbackAndADedicatedDriverReadsThem) {
  std::string why;
  if (!UdpBindable(kLoopbackBroadcast, 0, why)) GTEST_SKIP() << "no loopback broadcast here: " << why;
  if (!UdpBindable(kLoopback, kPlcUdpPort, why) || !UdpBindable(kLoopbackBroadcast, kPlcUdpPort, why))
    GTEST_SKIP() << "detection needs port 8442, which is in use: " << why;

  TEngineHarness h;
  TSimulatorProcess sim;
  if (!sim.Start({"--udp", kLoopbackText + ":8442", "--broadcast", kBroadcastText, "--project", kDemoProject,
                  "--nad", "1,2,3,4", "--change-period", "0", "--socket-period", "0", "--set", "1@4:int:1234"}))
    GTEST_SKIP() << "plcsim could not take port 8442 (taken since it was probed?)";
  ASSERT_EQ(sim.Port(), kPlcUdpPort);

  // Every PLC detected; no fixed host to fall back on.
  ASSERT_TRUE(h.Configure(sim.Port(), kDemoProject, [](TConnectionConfig& c, TSettings&) {
    for (auto& conn : c.FConnections) {
      conn.FIPAdrAutodetect = true;
      conn.FHost.clear();
      conn.FRemoteUDPPort = 1;  // ignored while detecting
      conn.FTimeOut = 150;
    }
  }));
  h.Start();
  ASSERT_TRUE(h.Controller().CommActive());
  TOPCProject* project = h.Engine().ProjectSet();
  ASSERT_NE(project, nullptr);
  ASSERT_EQ(project->FPLCs.size(), 4u);
  for (const auto& plc : project->FPLCs) {
    ASSERT_NE(UdpOf(plc->FDriver), nullptr) << plc->FNAD;
    EXPECT_EQ(plc->FDriver->FSettings.FTargetAddress, kBroadcastText) << plc->FNAD;
  }
  TNorvoVar* temp = project->FindItem("BOILER.1.WaterTemp");
  ASSERT_NE(temp, nullptr);
  TNorvoModel& boiler = *temp->FOwner;

  TRouteLog routes(boiler);
  auto settled = [&] {
    for (const auto& plc : project->FPLCs)
      if (!plc->FDriver || plc->FDriver->FSettings.FTargetAddress != kLoopbackText || !AllGood(*plc)) return false;
    return true;
  };
  ASSERT_TRUE(h.RunUntil([&] { routes.Sample(); return settled(); }, 10000))
      << "the PLCs were not all found and read through 127.0.0.1";

  // Broadcast first, then the PLC's own address for good; always from the
  // adapter's address and to port 8442.
  const auto& r = routes.Routes();
  ASSERT_GE(r.size(), 2u);
  EXPECT_EQ(r.front().Target, kBroadcastText);
  size_t firstDedicated = r.size();
  for (size_t i = 0; i < r.size(); ++i) {
    EXPECT_TRUE(r[i].Target == kBroadcastText || r[i].Target == kLoopbackText) << i << ": " << r[i].Target;
    EXPECT_EQ(r[i].Port, kPlcUdpPort) << i;
    EXPECT_EQ(r[i].From, kLoopback) << i;
    if (r[i].Target == kLoopbackText && firstDedicated == r.size()) firstDedicated = i;
    if (i > firstDedicated) {
      EXPECT_EQ(r[i].Target, kLoopbackText) << "back to broadcast at frame " << i;
    }
  }
  EXPECT_LT(firstDedicated, r.size());

  // The broadcast driver went with its last PLC; one dedicated driver
  // serves all four.
  ASSERT_EQ(project->FDrivers.size(), 1u);
  EXPECT_EQ(project->FDrivers[0]->FSettings.FTargetAddress, kLoopbackText);
  EXPECT_EQ(project->FDrivers[0]->FUseCount, 4);
  EXPECT_EQ(temp->FValue, 1234);
  EXPECT_FALSE(boiler.FTimedOut);

  // A client's reads now go the dedicated way and follow the PLC.
  ASSERT_EQ(sim.Control("set 1 4 int 4321"), "ok");
  TEngineClient client(h.Collection());
  auto group = client.AddGroup("G", 100);
  ASSERT_NE(client.AddItems(group.get(), {"BOILER.1.WaterTemp"}).at(0), 0u);
  EXPECT_TRUE(h.RunUntil([&] { return temp->FValue == 4321 && temp->GetQuality() == kQualityGood; }, 5000));
  EXPECT_EQ(boiler.FDriver->FSettings.FTargetAddress, kLoopbackText);
  group = nullptr;
  client.Release();
}

}  // namespace
