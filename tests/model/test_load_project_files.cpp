// Reading from disk, the demo project, generated projects and hostile input.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <set>

#include "../../tools/genproject/gen_project.h"
#include "model/load_project.h"
#include "test_load_project_support.h"

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

namespace fs = std::filesystem;

namespace {

class TempDir {
 public:
  TempDir() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    path_ = fs::temp_directory_path() /
            ("norvoopc_reader_" + std::to_string(::getpid()) + "_" + info->name());
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  std::string File(const std::string& name, std::string_view text) const {
    const std::string p = (path_ / name).string();
    std::ofstream(p, std::ios::binary).write(text.data(), static_cast<std::streamsize>(text.size()));
    return p;
  }
  std::string Path(const std::string& name) const { return (path_ / name).string(); }

 private:
  fs::path path_;
};

TEST(LoadProjectFiles, ProjectFileNameReplacesTheLastFourCharacters) {
  EXPECT_EQ(ProjectFileNameOf("/srv/plant/Line1.alc"), "/srv/plant/Line1.cyp");
  EXPECT_EQ(ProjectFileNameOf("/srv/plant/Line1.ALC"), "/srv/plant/Line1.cyp");
  EXPECT_EQ(ProjectFileNameOf("Line1.alc"), "Line1.cyp");
  EXPECT_EQ(ProjectFileNameOf("/srv/p.x/ab"), "/srv/p.x/.cyp");  // never eats the folder
  EXPECT_EQ(ProjectFileNameOf("/srv/K\xC3\xA4s.alc"), "/srv/K\xC3\xA4s.cyp");
  EXPECT_EQ(ProjectFileNameOf("/srv/ab\xC3\xA4.al"), "/srv/ab.cyp");
}

TEST(LoadProjectFiles, ReadsBothFilesAndRecordsTheirStamps) {
  TempDir dir;
  const std::string alc = dir.File("line.alc", ";cpu U 7\r\n0002 M 1 0 0 global int A\r\n;end\r\n");
  TLoadProject reader;
  reader.LoadAllocationFile(alc);
  EXPECT_EQ(reader.FProjectFileName, dir.Path("line.cyp"));
  EXPECT_FALSE(reader.FProjectFileMatched);
  EXPECT_EQ(reader.FAllocFileAge, FileAge(alc));
  EXPECT_NE(reader.FAllocFileAge, -1);
  EXPECT_EQ(reader.FProjectFileAge, -1);

  dir.File("line.cyp",
           "##PROJECT_GLOBAL_BEGIN\r\n[Programs]\r\nCount=1\r\n##PROJECT_GLOBAL_END\r\n"
           "##PROGRAM_BEGIN_1\r\n#PROJECT_OPTIONS_BEGIN\r\n[Program]\r\nName=Main\r\n"
           "#PROJECT_OPTIONS_END\r\n##PROGRAM_END_1\r\n");
  reader.LoadAllocationFile(alc);
  EXPECT_TRUE(reader.FProjectFileMatched);
  EXPECT_EQ(reader.FPrograms.at(0)->FProgramName, "Main");
  EXPECT_EQ(reader.FProjectFileAge, FileAge(reader.FProjectFileName));
  EXPECT_NE(reader.FProjectFileAge, -1);
}

TEST(LoadProjectFiles, MissingAllocationFileGivesTheBoxTextAndAReadError) {
  TempDir dir;
  const std::string path = dir.Path("gone.alc");
  EXPECT_EQ(CheckAllocationFileExists(path), "Allocation file does not exist " + path);
  EXPECT_EQ(FileAge(path), -1);
  TLoadProject reader;
  try {
    reader.LoadAllocationFile(path);
    FAIL() << "no error";
  } catch (const ELoadProjectError& e) {
    EXPECT_THAT(e.what(), StartsWith("Cannot open file \"" + path + "\""));
  }
  EXPECT_TRUE(reader.FPrograms.empty());

  EXPECT_EQ(CheckAllocationFileExists(dir.File("here.alc", ";end\n")), "");
  // A folder in place of the file is a read error, not a crash.
  EXPECT_THROW(reader.LoadAllocationFile(dir.Path("")), ELoadProjectError);
}

TEST(LoadProjectFiles, DemoProjectLoadsCleanly) {
  TLoadProject reader;
  ASSERT_NO_THROW(reader.LoadAllocationFile(NORVOOPC_SOURCE_DIR "/examples/demo/demo.alc"));
  ASSERT_TRUE(reader.FProjectFileMatched);
  ASSERT_EQ(reader.FPrograms.size(), 3u);
  const auto& boiler = *reader.FPrograms[0];
  const auto& conveyor = *reader.FPrograms[1];
  const auto& pumps = *reader.FPrograms[2];
  EXPECT_EQ(boiler.FProgramName, "Boiler house");
  EXPECT_THAT(conveyor.FNADs, ElementsAre(2, 3));

  // Every type and every array kind is present.
  std::set<int> types;
  for (const auto& p : reader.FPrograms) {
    for (const auto& v : p->FVars) types.insert(v->FVarType);
  }
  EXPECT_THAT(types, ElementsAre(1, 2, 3, 4, 5, 7, 8, 9, 10));
  EXPECT_THAT(boiler.FindVar("WaterTemp")->FDescription, HasSubstr("\xC2\xB0" "C"));
  ASSERT_NE(boiler.FindVar("Diag[3]"), nullptr);

  // Sockets in both directions, one to all; every listed variable resolved.
  ASSERT_EQ(boiler.FSockets.size(), 2u);
  EXPECT_EQ(boiler.FSockets[0].FNAD, 0);
  EXPECT_FALSE(boiler.FSockets[0].FIsInput);
  EXPECT_EQ(boiler.FSockets[0].FVars.size(), 3u);
  EXPECT_TRUE(boiler.FSockets[1].FIsInput);
  EXPECT_EQ(boiler.FSockets[1].FVars.size(), 2u);
  ASSERT_EQ(conveyor.FSockets.size(), 1u);
  EXPECT_EQ(conveyor.FSockets[0].FVars.size(), 3u);
  ASSERT_EQ(pumps.FSockets.size(), 2u);
  EXPECT_EQ(pumps.FSockets[0].FVars.size(), 2u);
  EXPECT_EQ(pumps.FSockets[1].FVars.size(), 3u);
}

TEST(LoadProjectFiles, GeneratedProjectsLoadCleanly) {
  TempDir dir;
  for (const auto& [plcs, vars, seed] : {std::tuple{1, 5, 1u}, std::tuple{4, 300, 7u}, std::tuple{3, 2, 9u}}) {
    GenProjectOptions o;
    o.Plcs = plcs;
    o.VarsPerPlc = vars;
    o.Seed = seed;
    o.ArrayPercent = 30;
    const GenProjectText expected = GenerateProjectText(o);
    TLoadProject reader;
    ASSERT_NO_THROW(reader.LoadAllocationFile(WriteGeneratedProject(o, dir.Path(""))));
    ASSERT_TRUE(reader.FProjectFileMatched);
    ASSERT_EQ(reader.FPrograms.size(), static_cast<size_t>(plcs));
    size_t records = 0;
    size_t socketVars = 0;
    for (size_t p = 0; p < reader.FPrograms.size(); ++p) {
      const auto& program = *reader.FPrograms[p];
      EXPECT_EQ(program.FVars.size(), static_cast<size_t>(vars));
      EXPECT_THAT(program.FNADs, ElementsAre(static_cast<int>(p) + 1));
      EXPECT_EQ(program.FMasterNAD, 100);
      ASSERT_EQ(program.FSockets.size(), 2u);
      for (const auto& s : program.FSockets) {
        EXPECT_LE(s.FVars.size(), 4u);
        EXPECT_NE(s.FNAD, program.FNADs[0]);
        socketVars += s.FVars.size();
      }
      records += program.FVars.size();
    }
    EXPECT_EQ(records, expected.Records);
    // Every socket variable the generator wrote was found.
    size_t written = 0;
    for (size_t at = 0; (at = expected.Project.find("\nVar", at)) != std::string::npos; ++at) ++written;
    EXPECT_EQ(socketVars, written);
  }
}

TEST(LoadProjectFiles, HostileInputEndsInAMessageOrAResult) {
  TLoadProject reader;
  // NUL bytes inside tokens and lines.
  using namespace std::string_literals;
  const std::string nul = ";cpu U\0 1\n0\0" "010 M 1 0 0 global int A\n;end\n"s;
  EXPECT_EQ(LoadText(reader, nul), "Missmatched file format in t.alc");
  const std::string nulLine = std::string(";cpu U 1\n") + std::string(64, '\0') + "\n;end\n";
  EXPECT_EQ(LoadText(reader, nulLine), "");

  // A 10 MB line without a break, as a variable line and as a comment.
  const std::string big(10 * 1024 * 1024, 'x');
  EXPECT_EQ(LoadText(reader, ";cpu U 1\n" + big + "\n;end\n"), "Missmatched file format in t.alc");
  ASSERT_EQ(LoadText(reader, ";cpu U 1\n0010 M 1 0 0 global int A " + big + "\n;end\n"), "");
  EXPECT_EQ(reader.FPrograms[0]->FVars[0]->FDescription.size(), big.size());
  EXPECT_EQ(LoadText(reader, ";cpu U 1\n0010 M 1 0 0 global int A\n;end\n", big), "");
  EXPECT_FALSE(reader.FProjectFileMatched);

  // Random bytes, seeded: every outcome is a result or a message.
  std::mt19937 rng(12345);
  for (int round = 0; round < 200; ++round) {
    std::string text = round % 2 ? ";cpu U 1\n" : "";
    const int len = static_cast<int>(rng() % 400);
    for (int i = 0; i < len; ++i) {
      const char alphabet[] = "0123456789ABCDEF ;:.\n\r\t\0xbitwordintlongrealglobalcpu";
      text.push_back(alphabet[rng() % (sizeof alphabet - 1)]);
    }
    text += "\n;end\n";
    const std::string error = LoadText(reader, text, text);
    if (!error.empty()) {
      EXPECT_TRUE(reader.FPrograms.empty());
    }
  }
}

}  // namespace
