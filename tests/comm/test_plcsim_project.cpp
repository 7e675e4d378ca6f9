// plcsim laid out from an allocation file: the demo project's PLCs,
// variables and socket frames, driven by the simulator's tick input.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "comm/qnet_frame.h"
#include "model/load_project.h"
#include "sim_engine.h"
#include "sim_options.h"
#include "sim_project.h"

namespace {

using Bytes = std::vector<uint8_t>;
const std::string kDemo = NORVOOPC_SOURCE_DIR "/examples/demo/demo.alc";

const TSimVar* FindVar(const TSimPlc& Plc, const std::string& Name) {
  for (const TSimVar& v : Plc.FVars)
    if (v.FName == Name) return &v;
  return nullptr;
}

float AsFloat(uint32_t Raw) {
  float f;
  std::memcpy(&f, &Raw, 4);
  return f;
}

class DemoProject : public ::testing::Test {
 protected:
  TSimulator sim;
  TSimProjectReport report;

  void Load(const std::vector<uint32_t>& Only = {}, uint32_t SocketPeriod = 1000) {
    std::string error;
    ASSERT_TRUE(LoadSimProject(kDemo, Only, SocketPeriod, sim, report, error)) << error;
  }
  std::string Ctl(const std::string& Line) {
    bool quit = false;
    return sim.Control(Line, quit);
  }
};

TEST_F(DemoProject, LaysOutEveryPlcWithItsVariables) {
  Load();
  EXPECT_EQ(report.FNADs, (std::vector<uint32_t>{1, 2, 3, 4}));
  EXPECT_TRUE(report.FWarnings.empty());
  EXPECT_EQ(report.FSockets, 2u);  // BOILER to all, PUMPS to the boiler

  struct Case {
    uint32_t nad;
    const char* name;
    uint16_t address;
    uint8_t type;
    TSimChange change;
  } cases[] = {
      {1, "Running", 0x00, 1, TSimChange::Counter},
      {1, "StatusWord", 0x02, 2, TSimChange::Counter},
      {1, "WaterTemp", 0x04, 3, TSimChange::Counter},
      {1, "OperatingHours", 0x06, 4, TSimChange::Counter},
      {1, "Pressure", 0x0A, 5, TSimChange::Ramp},
      {1, "Alarm[7]", 0x17, 1, TSimChange::Counter},
      {1, "ZoneTemp[3]", 0x1E, 3, TSimChange::Counter},
      {1, "Counter[2].Total", 0x28, 4, TSimChange::Counter},
      {1, "Setpoint[3]", 0x38, 5, TSimChange::Ramp},
      {1, "Diag[3]", 0x42, 2, TSimChange::Counter},
      {2, "Photocell[15]", 0x2B, 1, TSimChange::Counter},
      {3, "Position", 0x14, 4, TSimChange::Counter},
      {3, "BoilerPressure", 0x36, 5, TSimChange::Ramp},
      {4, "Hours[1]", 0x1C, 4, TSimChange::Counter},
  };
  for (const Case& c : cases) {
    const TSimPlc* plc = sim.FindPlc(c.nad);
    ASSERT_NE(plc, nullptr) << c.nad;
    const TSimVar* v = FindVar(*plc, c.name);
    ASSERT_NE(v, nullptr) << c.nad << " " << c.name;
    EXPECT_EQ(v->FAddress, c.address) << c.name;
    EXPECT_EQ(v->FType, c.type) << c.name;
    EXPECT_EQ(v->FChange, c.change) << c.name;
  }
  // Array records have no memory of their own; local and reg lines are not published.
  for (const char* absent : {"Alarm", "ZoneTemp", "Scratch"}) EXPECT_EQ(FindVar(*sim.FindPlc(1), absent), nullptr);
  EXPECT_EQ(FindVar(*sim.FindPlc(4), "Temp"), nullptr);
  EXPECT_EQ(sim.FindPlc(1)->FVars.size(), 31u);
  EXPECT_EQ(sim.FindPlc(2)->FVars.size(), 26u);
  EXPECT_EQ(sim.FindPlc(4)->FVars.size(), 8u);
  EXPECT_EQ(sim.FindPlc(5), nullptr);

  // Twin PLCs of one program, and neighbouring elements, start apart.
  EXPECT_NE(sim.FindPlc(2)->Load(0x12, 3), sim.FindPlc(3)->Load(0x12, 3));
  EXPECT_NE(sim.FindPlc(1)->Load(0x18, 3), sim.FindPlc(1)->Load(0x1A, 3));
}

TEST_F(DemoProject, ValuesMoveEachChangePeriod) {
  Load();
  sim.SetChangePeriod(500);
  const TSimPlc& plc = *sim.FindPlc(1);
  std::vector<uint32_t> before;
  for (const TSimVar& v : plc.FVars) before.push_back(*plc.Load(v.FAddress, v.FType));

  sim.Tick(0);
  sim.Tick(499);
  for (size_t i = 0; i < plc.FVars.size(); ++i)
    EXPECT_EQ(*plc.Load(plc.FVars[i].FAddress, plc.FVars[i].FType), before[i]) << plc.FVars[i].FName;

  sim.Tick(500);
  for (size_t i = 0; i < plc.FVars.size(); ++i) {
    const TSimVar& v = plc.FVars[i];
    const uint32_t now = *plc.Load(v.FAddress, v.FType);
    switch (v.FType) {
      case 1: EXPECT_EQ(now, before[i] ^ 1u) << v.FName; break;
      case 2: EXPECT_EQ(now, (before[i] + 1) & 0xFFFFu) << v.FName; break;
      case 3: EXPECT_EQ(static_cast<int16_t>(now), static_cast<int16_t>(before[i] + 1)) << v.FName; break;
      case 4: EXPECT_EQ(now, before[i] + 1) << v.FName; break;
      case 5: {
        const float was = AsFloat(before[i]);
        EXPECT_FLOAT_EQ(AsFloat(now), was >= 100.0f ? 0.0f : was + 2.5f) << v.FName;
        break;
      }
      default: ADD_FAILURE() << v.FName << " has type " << int{v.FType};
    }
  }
}

TEST_F(DemoProject, OutputSocketsCarryTheirVariablesBySize) {
  Load();
  sim.SetChangePeriod(0);  // hold the values still
  for (const char* line : {"set 1 0 bit 1", "set 1 4 int -2", "set 1 0xA real 1.5", "set 4 0x10 bit 1",
                           "set 4 0x12 real -0.5"})
    ASSERT_EQ(Ctl(line), "ok") << line;

  sim.Tick(0);
  sim.Tick(999);
  EXPECT_TRUE(sim.TakeDue(999).empty());
  sim.Tick(1000);
  auto out = sim.TakeDue(1000);
  ASSERT_EQ(out.size(), 2u);
  struct Expect {
    uint32_t sender, receiver;
    Bytes data;
  } expect[] = {
      // Running (bit), WaterTemp (int), Pressure (real): listed as Pressure, Running, WaterTemp.
      {1, 0, {0x01, 0xFE, 0xFF, 0x00, 0x00, 0xC0, 0x3F}},
      // Running (bit), Flow (real).
      {4, 1, {0x01, 0x00, 0x00, 0x00, 0xBF}},
  };
  for (size_t i = 0; i < out.size(); ++i) {
    TQnetFrame f;
    ASSERT_TRUE(ParseQnetFrame(out[i].FBytes, f));
    EXPECT_EQ(f.FSenderNAD, expect[i].sender);
    EXPECT_EQ(f.FReceiverNAD, expect[i].receiver);
    EXPECT_EQ(f.FMsgDir, kMsgDirAnswer);
    EXPECT_EQ(f.FMsgTyp, kMsgTypSocket);
    EXPECT_EQ(Bytes(f.FData, f.FData + f.FDataLength), expect[i].data) << "from " << expect[i].sender;
    EXPECT_FALSE(out[i].FTo.FValid);  // unsolicited: to the peer
  }
  // The next round carries the values of that moment.
  ASSERT_EQ(Ctl("set 1 4 int 258"), "ok");
  sim.Tick(2000);
  out = sim.TakeDue(2000);
  ASSERT_EQ(out.size(), 2u);
  TQnetFrame f;
  ASSERT_TRUE(ParseQnetFrame(out[0].FBytes, f));
  EXPECT_EQ(f.FData[1], 0x02);
  EXPECT_EQ(f.FData[2], 0x01);
}

TEST_F(DemoProject, NadOptionPicksPlcsAndSocketsFollow) {
  Load({2, 4});
  EXPECT_EQ(report.FNADs, (std::vector<uint32_t>{2, 4}));
  EXPECT_EQ(sim.FindPlc(1), nullptr);
  EXPECT_EQ(sim.FindPlc(3), nullptr);
  EXPECT_EQ(report.FSockets, 1u);  // only the pumps' socket has a simulated sender

  TSimulator other;
  std::string error;
  EXPECT_FALSE(LoadSimProject(kDemo, {2, 7}, 1000, other, report, error));
  EXPECT_EQ(error, "--nad 7 is not a PLC of the project");
}

TEST(SimProjectOptions, CommandLineLaysOutTheProject) {
  const std::string demo = kDemo;
  const char* argv[] = {"plcsim", "--project", demo.c_str(), "--socket-period", "0", "--set", "3@0x12:int:77"};
  TSimOptions o;
  std::string err;
  ASSERT_TRUE(ParseSimOptions(std::size(argv), argv, o, err)) << err;
  EXPECT_TRUE(o.FNADs.empty());  // no default PLC 1 beside a project
  TSimulator sim;
  std::vector<std::string> notes;
  ASSERT_TRUE(ApplySimOptions(o, sim, err, &notes)) << err;
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_EQ(notes[0], "project " + demo + ": PLCs 1, 2, 3, 4; 91 variables; 0 socket frames");
  bool quit = false;
  EXPECT_EQ(sim.Control("get 3 0x12 int", quit), "77");  // --set wins over the start value

  for (const char* period : {"5", "x"}) {
    const char* bad[] = {"plcsim", "--socket-period", period};
    TSimOptions b;
    EXPECT_FALSE(ParseSimOptions(3, bad, b, err)) << period;
  }
}

TEST(SimProjectOptions, ReaderErrorsComeBackAsItsMessage) {
  const auto dir = std::filesystem::path(::testing::TempDir()) / "plcsim_project_errors";
  std::filesystem::create_directories(dir);
  struct Case {
    const char* file;
    const char* text;
    std::string message;
  } cases[] = {
      {"old.alc", ";addr seg count\n;cpu A 1\n;end\n", "Zelta allocation file (*.ALC) format old"},
      {"array.alc", ";cpu A 1\n0010 M x 0 0 global int V\n;end\n", ""},
      {"nonad.alc", ";cpu A x\n0010 M 1 0 0 global int V\n;end\n", "the project names no PLC (no NAD on its ;cpu lines)"},
  };
  cases[1].message = "Missmatched file format in " + (dir / "array.alc").string() + " (Array column)";
  for (const Case& c : cases) {
    const auto path = (dir / c.file).string();
    std::ofstream(path, std::ios::binary) << c.text;
    const std::string arg = path;
    const char* argv[] = {"plcsim", "--project", arg.c_str()};
    TSimOptions o;
    std::string err;
    ASSERT_TRUE(ParseSimOptions(3, argv, o, err)) << err;
    TSimulator sim;
    EXPECT_FALSE(ApplySimOptions(o, sim, err)) << c.file;
    EXPECT_EQ(err, c.message) << c.file;
  }
  TSimulator sim;
  TSimProjectReport report;
  std::string err;
  EXPECT_FALSE(LoadSimProject((dir / "missing.alc").string(), {}, 1000, sim, report, err));
  EXPECT_EQ(err.rfind("Cannot open file", 0), 0u) << err;
}

// What a real PLC's memory cannot hold is left out with a warning, never
// truncated into a wrong address.
TEST(SimProjectLayout, OutOfMemoryAliasesAndSharedNads) {
  const std::string_view alc =
      ";cpu A 1\n"
      "FFFE M 1 0 0 global long Far\n"
      "0010 M 1 0 0 global int V\n"
      "0010 M 1 0 0 global int Alias\n"
      "0020 M 1 0 0 global bit B\n"
      ";cpu B 1\n"
      "0030 M 1 0 0 global word W\n"
      ";end\n";
  const std::string_view cyp =
      "##PROJECT_GLOBAL_BEGIN\n[Programs]\nCount=2\n##PROJECT_GLOBAL_END\n"
      "##PROGRAM_BEGIN_1\n#PROJECT_OPTIONS_BEGIN\n"
      "[Socket00]\nNAD=0\nDirection=1\nVar00=Far\nVar01=B\n"
      "[Socket01]\nNAD=5\nDirection=1\nVar00=V\nVar01=B\n"
      "[Socket02]\nNAD=5\nDirection=0\nVar00=V\n"
      "#PROJECT_OPTIONS_END\n##PROGRAM_END_1\n"
      "##PROGRAM_BEGIN_2\n#PROJECT_OPTIONS_BEGIN\n#PROJECT_OPTIONS_END\n##PROGRAM_END_2\n";
  TLoadProject reader;
  reader.LoadFromText("t.alc", alc, &cyp);
  TSimulator sim;
  TSimProjectReport report;
  std::string err;
  ASSERT_TRUE(LayoutSimProject(reader, {}, 100, sim, report, err)) << err;
  EXPECT_EQ(report.FNADs, (std::vector<uint32_t>{1}));
  const TSimPlc& plc = *sim.FindPlc(1);
  ASSERT_EQ(plc.FVars.size(), 3u);  // V, B and the second program's W; no Far, no Alias
  EXPECT_EQ(plc.FVars[2].FName, "W");
  EXPECT_EQ(report.FWarnings, (std::vector<std::string>{
                                  "NAD 1: 1 variables lie beyond the 64 KiB memory and are not simulated",
                                  "NAD 1 socket 0 to NAD 0: Far lies beyond the memory; socket not sent",
                                  "NAD 1 runs several programs; they share one memory",
                              }));
  EXPECT_EQ(report.FSockets, 1u);

  // The alias shares V's memory, which moves one step per period, not two.
  const uint32_t v = *plc.Load(0x10, 3);
  sim.SetChangePeriod(10);
  sim.Tick(0);
  sim.Tick(10);
  EXPECT_EQ(*plc.Load(0x10, 3), (v + 1) & 0xFFFFu);
  sim.Tick(100);
  const auto out = sim.TakeDue(100);
  ASSERT_EQ(out.size(), 1u);
  TQnetFrame f;
  ASSERT_TRUE(ParseQnetFrame(out[0].FBytes, f));
  EXPECT_EQ(f.FReceiverNAD, 5u);
  EXPECT_EQ(f.FDataLength, 3u);  // B, then V
}

}  // namespace
