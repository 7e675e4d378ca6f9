// The project file: program blocks, names, master NAD and sockets.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "model/load_project.h"
#include "test_load_project_support.h"

using ::testing::ElementsAre;

namespace {

const char kAlc[] =
    ";cpu A 1\n0002 M 1 0 0 global bit Run\n0004 M 1 0 0 global int Temp\n"
    "0006 M 2 0 4 global real Flow\n"
    ";cpu B 2 3\n0002 M 1 0 0 global int Level\n0004 M 1 0 0 global long level\n;end\n";

std::string Global(int count) {
  return "##PROJECT_GLOBAL_BEGIN\n[Programs]\nCount=" + std::to_string(count) +
         "\n##PROJECT_GLOBAL_END\n";
}

std::vector<std::string> Names(const TLoadedSocket& s) {
  std::vector<std::string> out;
  for (const TLoadedVar* v : s.FVars) out.push_back(v->FName);
  return out;
}

TEST(LoadProjectCyp, ProgramBlocksGiveNamesMastersAndSockets) {
  // Blocks are found by their markers, in any order and letter case.
  const std::string cyp = Global(2) +
                          "##program_begin_2\n#PROJECT_OPTIONS_BEGIN\n[Program]\nName=Line B\n"
                          "[Socket00]\nNAD=1\nDirection=0\nVar00=LEVEL\n"
                          "#PROJECT_OPTIONS_END\n##PROGRAM_END_2\n"
                          "##PROGRAM_BEGIN_1\nnoise\n#PROJECT_OPTIONS_BEGIN\n[Program]\nName=Line A\n"
                          "[Net]\nMasterNAD=2\n"
                          "[Socket00]\nNAD=2\nDirection=1\nVar00=temp\nVar01=Flow[1]\nVar02=Run\n"
                          "[Socket01]\nNAD=0\nDirection=1\nVar00=Run\nVar01=\nVar02=Temp\n"
                          "[Socket02]\nNAD=3\nDirection=0\nVar00=Run\nVar01=Missing\nVar02=Temp\n"
                          "#PROJECT_OPTIONS_END\n##PROGRAM_END_1\n";
  TLoadProject reader;
  ASSERT_EQ(LoadText(reader, kAlc, cyp), "");
  EXPECT_TRUE(reader.FProjectFileMatched);
  ASSERT_EQ(reader.FPrograms.size(), 2u);

  const TLoadedNorvo& a = *reader.FPrograms[0];
  EXPECT_EQ(a.FProgramName, "Line A");
  EXPECT_EQ(a.FMasterNAD, 2);
  ASSERT_EQ(a.FSockets.size(), 3u);
  EXPECT_EQ(a.FSockets[0].FNAD, 2);
  EXPECT_FALSE(a.FSockets[0].FIsInput);
  EXPECT_THAT(Names(a.FSockets[0]), ElementsAre("Temp", "Flow[1]", "Run"));
  EXPECT_EQ(a.FSockets[0].FVars[0], a.FVars[1].get());  // references, not copies
  EXPECT_EQ(a.FSockets[1].FNAD, 0);
  EXPECT_THAT(Names(a.FSockets[1]), ElementsAre("Run"));  // an empty value ends the list
  EXPECT_TRUE(a.FSockets[2].FIsInput);
  EXPECT_THAT(Names(a.FSockets[2]), ElementsAre("Run"));  // so does an unknown name

  const TLoadedNorvo& b = *reader.FPrograms[1];
  EXPECT_EQ(b.FProgramName, "Line B");
  EXPECT_EQ(b.FMasterNAD, -1);
  ASSERT_EQ(b.FSockets.size(), 1u);
  ASSERT_EQ(b.FSockets[0].FVars.size(), 1u);
  EXPECT_EQ(b.FSockets[0].FVars[0]->FAddress, 4);  // last of the case-insensitive matches
}

TEST(LoadProjectCyp, SocketListEndsAtTheFirstBadSection) {
  struct Case {
    const char* sockets;
    size_t count;
  };
  const Case cases[] = {
      {"[Socket00]\nNAD=1\nDirection=2\n[Socket01]\nNAD=1\nDirection=0\n", 0},
      {"[Socket00]\nNAD=1\nDirection=0\n[Socket01]\nDirection=0\n[Socket02]\nNAD=1\nDirection=0\n",
       1},
      {"[Socket00]\nNAD=-1\nDirection=0\n", 0},
      {"[Socket00]\nNAD=x\nDirection=0\n", 0},
      {"[Socket01]\nNAD=1\nDirection=0\n", 0},  // numbering starts at 00
      {"[Socket00]\nNAD = 1\nDirection=0\n", 0},  // "NAD " is not the key NAD
      {"[socket00]\nnad=1\ndirection=1\n[Socket1]\nNAD=1\nDirection=1\n", 1},
  };
  for (const Case& c : cases) {
    const std::string cyp = Global(2) + "##PROGRAM_BEGIN_1\n#PROJECT_OPTIONS_BEGIN\n" + c.sockets +
                            "#PROJECT_OPTIONS_END\n##PROGRAM_END_1\n";
    TLoadProject reader;
    ASSERT_EQ(LoadText(reader, kAlc, cyp), "");
    EXPECT_TRUE(reader.FProjectFileMatched);
    EXPECT_EQ(reader.FPrograms[0]->FSockets.size(), c.count) << c.sockets;
  }
}

TEST(LoadProjectCyp, SocketNumbersPastNinetyNineKeepCounting) {
  std::string sockets;
  for (int s = 0; s <= 100; ++s) {
    char name[16];
    std::snprintf(name, sizeof name, "%02d", s);
    sockets += std::string("[Socket") + name + "]\nNAD=2\nDirection=1\nVar00=Run\n";
  }
  const std::string cyp = Global(2) + "##PROGRAM_BEGIN_1\n#PROJECT_OPTIONS_BEGIN\n" + sockets +
                          "#PROJECT_OPTIONS_END\n##PROGRAM_END_1\n";
  TLoadProject reader;
  ASSERT_EQ(LoadText(reader, kAlc, cyp), "");
  EXPECT_EQ(reader.FPrograms[0]->FSockets.size(), 101u);
}

TEST(LoadProjectCyp, UnmatchedProjectFileIsIgnoredWithoutError) {
  const std::string block =
      "##PROGRAM_BEGIN_1\n#PROJECT_OPTIONS_BEGIN\n[Program]\nName=X\n[Net]\nMasterNAD=1\n"
      "[Socket00]\nNAD=2\nDirection=1\nVar00=Run\n#PROJECT_OPTIONS_END\n##PROGRAM_END_1\n";
  const std::string cases[] = {
      Global(3) + block,                                             // count too high
      Global(1) + block,                                             // count too low
      Global(0) + block,
      "[Programs]\nCount=2\n" + block,                               // no global block
      "##PROJECT_GLOBAL_END\n[Programs]\nCount=2\n##PROJECT_GLOBAL_BEGIN\n" + block,
      "##PROJECT_GLOBAL_BEGIN\n[Programs]\nCount = 2\n##PROJECT_GLOBAL_END\n" + block,
      "",
  };
  for (const std::string& cyp : cases) {
    TLoadProject reader;
    ASSERT_EQ(LoadText(reader, kAlc, cyp), "");
    EXPECT_FALSE(reader.FProjectFileMatched) << cyp;
    ASSERT_EQ(reader.FPrograms.size(), 2u);
    for (const auto& p : reader.FPrograms) {
      EXPECT_EQ(p->FProgramName, "");
      EXPECT_EQ(p->FMasterNAD, -1);
      EXPECT_TRUE(p->FSockets.empty());
    }
  }
}

TEST(LoadProjectCyp, MissingBlocksGiveDefaultsButStillMatch) {
  const std::string cases[] = {
      Global(2),  // no program blocks at all
      Global(2) + "##PROGRAM_END_1\n#PROJECT_OPTIONS_BEGIN\n[Program]\nName=X\n"
                  "#PROJECT_OPTIONS_END\n##PROGRAM_BEGIN_1\n",  // end before begin
      Global(2) + "##PROGRAM_BEGIN_1\n[Program]\nName=X\n##PROGRAM_END_1\n",  // no options
      Global(2) + "##PROGRAM_BEGIN_1\n#PROJECT_OPTIONS_BEGIN\n##PROGRAM_END_1\n[Program]\nName=X\n"
                  "#PROJECT_OPTIONS_END\n",  // options reach past the block
      Global(2) + "##PROGRAM_BEGIN_1\n#PROJECT_OPTIONS_BEGIN\n[Program]\n\nName=X\n[Net]\n"
                  "MasterNAD=many\n#PROJECT_OPTIONS_END\n##PROGRAM_END_1\n",
  };
  for (const std::string& cyp : cases) {
    TLoadProject reader;
    ASSERT_EQ(LoadText(reader, kAlc, cyp), "");
    EXPECT_TRUE(reader.FProjectFileMatched) << cyp;
    EXPECT_EQ(reader.FPrograms[0]->FProgramName, "") << cyp;
    EXPECT_EQ(reader.FPrograms[0]->FMasterNAD, -1) << cyp;
  }
}

TEST(LoadProjectCyp, ProgramBlockTenIsNotProgramOne) {
  std::string alc;
  std::string blocks;
  for (int k = 1; k <= 10; ++k) {
    alc += ";cpu U" + std::to_string(k) + " " + std::to_string(k) + "\n";
    blocks += "##PROGRAM_BEGIN_" + std::to_string(k) + "\n#PROJECT_OPTIONS_BEGIN\n[Program]\nName=P" +
              std::to_string(k) + "\n#PROJECT_OPTIONS_END\n##PROGRAM_END_" + std::to_string(k) + "\n";
  }
  alc += ";end\n";
  TLoadProject reader;
  ASSERT_EQ(LoadText(reader, alc, Global(10) + blocks), "");
  for (int k = 1; k <= 10; ++k) {
    EXPECT_EQ(reader.FPrograms[k - 1]->FProgramName, "P" + std::to_string(k));
  }
}

TEST(LoadProjectCyp, ExtractBlockComparesWholeLinesIgnoringCase) {
  const std::vector<std::string_view> lines = {"x", "#BEGIN ", "#begin", "a", "b", "#End", "#END"};
  EXPECT_THAT(TLoadProject::ExtractBlock(lines, "#BEGIN", "#END"), ElementsAre("a", "b"));
  EXPECT_TRUE(TLoadProject::ExtractBlock(lines, "#END", "#BEGIN").empty());
  EXPECT_TRUE(TLoadProject::ExtractBlock(lines, "#BEGIN", "#NONE").empty());
  const std::vector<std::string_view> adjacent = {"#B", "#E"};
  EXPECT_TRUE(TLoadProject::ExtractBlock(adjacent, "#B", "#E").empty());
}

}  // namespace
