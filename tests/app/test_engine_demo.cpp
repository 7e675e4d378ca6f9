// The assembled server against the PLC simulator over UDP on 127.0.0.1:
// communication starts on the first show, the background refresh reads
// every PLC of the demo project and the values are the simulator's.
#include <gtest/gtest.h>

#include <string>

#include "app/engine_harness.h"
#include "core/opc_project.h"
#include "model/norvo_model.h"
#include "model/norvo_var.h"

namespace {

const std::string kDemoProject = std::string(NORVOOPC_SOURCE_DIR) + "/examples/demo/demo.alc";

TEST(EngineDemoTest, BackgroundRefreshReadsTheSimulatorsValuesWithGoodQuality) {
  TSimulatorProcess sim;
  // Values stand still so the server's copy can be compared.
  ASSERT_TRUE(sim.Start({"--project", kDemoProject, "--nad", "1,2,3,4", "--change-period", "0", "--socket-period",
                         "0", "--set", "1@4:int:1234", "--set", "2@0x14:long:-70000"}));
  TEngineHarness h;
  ASSERT_TRUE(h.Configure(sim.Port(), kDemoProject));
  h.Start();
  ASSERT_TRUE(h.Controller().CommActive());
  TOPCProject* project = h.Engine().ProjectSet();
  ASSERT_NE(project, nullptr);
  ASSERT_EQ(project->FPLCs.size(), 4u);

  auto allGood = [&] {
    for (const auto& plc : project->FPLCs)
      for (const auto& tag : plc->FTags)
        if (VarTypeSize(tag->FVarType) > 0 && tag->GetQuality() != 0xC0) return false;
    return true;
  };
  EXPECT_TRUE(h.RunUntil(allGood, 5000)) << "not every tag was read with good quality";

  const struct {
    const char* item;
    int32_t value;
  } expected[] = {{"BOILER.1.WaterTemp", 1234}, {"CONVEYOR.2.Position", -70000}};
  for (const auto& e : expected) {
    TNorvoVar* tag = project->FindItem(e.item);
    ASSERT_NE(tag, nullptr) << e.item;
    EXPECT_EQ(tag->FValue, e.value) << e.item;
  }
  // The simulator's own answer for a third one.
  const auto reply = sim.Control("get 1 0x6 long");
  ASSERT_TRUE(reply.has_value());
  TNorvoVar* hours = project->FindItem("BOILER.1.OperatingHours");
  ASSERT_NE(hours, nullptr);
  EXPECT_NE(reply->find(std::to_string(hours->FValue)), std::string::npos) << *reply;

  EXPECT_GT(h.Engine().Counters()->FGoodFrameCount, 0);
  EXPECT_TRUE(h.Boxes().errors.empty());
  h.Stop();
}

}  // namespace
