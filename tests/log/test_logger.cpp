#include "log/logger.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "fakes/temp_folder.h"
#include "platform/date_time.h"

namespace {

class LoggerTest : public ::testing::Test {
 protected:
  TempFolder folder;
  FakeClock clock;
  std::string path = folder.Slash() + "NorvoOPCDebug.Log";
  TLogger logger{path, &clock};
  std::string dt = DateTimeText(clock.Now());

  std::string File() const { return TempFolder::ReadFile(path); }
};

TEST_F(LoggerTest, SessionWithNestedCallsIsLaidOutByteForByte) {
  logger.FEnabled = true;
  logger.SessionStart();
  logger.EnterBlock(TLogBlockKind::CallStart, "IOPCServer::GetStatus", true);
  logger.LeaveBlock(TLogBlockKind::CallEnd, "IOPCServer::GetStatus=S_OK", true);
  logger.LogLine(TLogBlockKind::Call, "IOPCCommon::SetLocaleID=E_FAIL", true);
  logger.EnterBlock(TLogBlockKind::CallStart, "IOPCItemMgt::AddItems", true);
  logger.LogLine(TLogBlockKind::None, "inner", false);
  logger.LeaveBlock(TLogBlockKind::CallEnd, "IOPCItemMgt::AddItems=" + TLogger::ResultName(E_UNEXPECTED), true);
  logger.SessionEnd();

  const std::string expected =
      "|" + dt + "| Session | OPC server session started\r\n"
      "|  \r\n"
      "|  |" + dt + "| Call start | IOPCServer::GetStatus\r\n"
      "|  |" + dt + "| Call end   | IOPCServer::GetStatus=S_OK\r\n"
      "|  \r\n"
      "|  |" + dt + "| Call | IOPCCommon::SetLocaleID=E_FAIL\r\n"
      "|  \r\n"
      "|  |" + dt + "| Call start | IOPCItemMgt::AddItems\r\n"
      "|  |  \r\n"
      "|  |  | inner\r\n"
      "|  |\r\n"
      "|  |" + dt + "| Call end   | IOPCItemMgt::AddItems=code: -2147418113\r\n"
      "|\r\n"
      "|" + dt + "| Session | OPC server session ended\r\n"
      "\n\r\n\r\n\r\r\n";
  EXPECT_EQ(File(), expected);
  EXPECT_EQ(logger.Depth(), 1u);
}

TEST_F(LoggerTest, DisabledWritesNothingButFollowsNesting) {
  logger.SessionStart();
  logger.EnterBlock(TLogBlockKind::CallStart, "A", true);
  EXPECT_EQ(logger.Depth(), 3u);
  EXPECT_EQ(logger.IndentPrefix(), "|  |  |");
  EXPECT_FALSE(std::filesystem::exists(path));

  // Enabling mid-way continues at the depth the calls reached.
  logger.FEnabled = true;
  logger.LeaveBlock(TLogBlockKind::CallEnd, "A=S_OK", false);
  EXPECT_EQ(File(), "|  | Call end   | A=S_OK\r\n");
}

TEST_F(LoggerTest, SecondRunAppends) {
  logger.FEnabled = true;
  logger.SessionStart();
  logger.SessionEnd();
  const std::string first = File();
  TLogger again(path, &clock);
  again.FEnabled = true;
  again.SessionStart();
  again.SessionEnd();
  EXPECT_EQ(File(), first + first);
}

TEST_F(LoggerTest, UnmatchedLeaveNeverGoesBelowOneLevel) {
  logger.LeaveBlock(TLogBlockKind::CallEnd, "x", false);
  logger.LeaveBlock(TLogBlockKind::CallEnd, "x", false);
  EXPECT_EQ(logger.Depth(), 1u);
  EXPECT_EQ(logger.IndentPrefix(), "|");
}

TEST_F(LoggerTest, UnwritableFileDropsLinesSilently) {
  TLogger bad(folder.Slash() + "missing/sub/NorvoOPCDebug.Log", &clock);
  bad.FEnabled = true;
  bad.SessionStart();
  bad.LogLine(TLogBlockKind::Call, "x", true);
  EXPECT_EQ(bad.Depth(), 2u);
}

TEST(LoggerResultName, NamesKnownCodesAndPrintsOthersAsSignedDecimal) {
  const struct {
    HRESULT code;
    const char* text;
  } cases[] = {
      {S_OK, "S_OK"},
      {S_FALSE, "S_FALSE"},
      {E_FAIL, "E_FAIL"},
      {OPC_S_INVALIDMAXSIZE, "OPC_S_INVALIDMAXSIZE"},
      {OPC_E_INVALID_PID, "OPC_E_INVALID_PID"},
      {OPC_E_NOINFO, "OPC_E_NOINFO"},
      {E_INVALIDARG, "E_INVALIDARG"},
      {MakeHResult(0x8000FFFF), "code: -2147418113"},
      {E_POINTER, "code: -2147467261"},
      {42, "code: 42"},
  };
  for (const auto& c : cases) EXPECT_EQ(TLogger::ResultName(c.code), c.text) << c.text;
}

}  // namespace

namespace {

TEST(ProgramFolderTest, DataDirOverridesTheExecutableFolder) {
  const char* old = std::getenv("NORVOOPC_DATA_DIR");
  const std::string saved = old != nullptr ? old : "";

  setenv("NORVOOPC_DATA_DIR", "/var/lib/norvoopc", 1);
  EXPECT_EQ(DebugLogFileName(), "/var/lib/norvoopc/NorvoOPCDebug.Log");
  setenv("NORVOOPC_DATA_DIR", "", 1);
  const std::string exe = std::filesystem::read_symlink("/proc/self/exe").string();
  EXPECT_EQ(DebugLogFileName(), exe.substr(0, exe.rfind('/') + 1) + "NorvoOPCDebug.Log");

  if (old != nullptr) setenv("NORVOOPC_DATA_DIR", saved.c_str(), 1);
  else unsetenv("NORVOOPC_DATA_DIR");
}

}  // namespace
