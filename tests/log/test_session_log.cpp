#include "log/session_log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "fakes/temp_folder.h"
#include "log/log_gates.h"

namespace {

class FakeView final : public ISessionLogView {
 public:
  bool shown = true;
  std::vector<std::string> status;
  bool MainWindowShown() const override { return shown; }
  void ShowStatusText(const std::string& text) override { status.push_back(text); }
};

class SessionLogTest : public ::testing::Test {
 protected:
  TempFolder folder;
  FakeClock clock;
  FakeView view;
  TLogOptions options;
  std::unique_ptr<TSessionLog> log = Make(folder.Slash());
  std::string path = folder.Slash() + "NorvoOPC.log";

  std::unique_ptr<TSessionLog> Make(const std::string& dir) {
    return std::make_unique<TSessionLog>(options, clock, &view, dir, "2.0.0.0");
  }
  void SwitchFile(bool on) {
    options.FLogToFile = on;
    log->ApplyLogSettings();
  }
  std::string File() const { return TempFolder::ReadFile(path); }
  std::string Stamp() const { return TSessionLog::TimeDateText(clock.Now()); }
};

TEST_F(SessionLogTest, WithFileOffLinesReachMemoAndStatusOnly) {
  log->Write("Client A created group G at now", true);
  log->Write("Second call denied in Timer", false);
  EXPECT_EQ(log->Memo().Lines(), (std::vector<std::string>{"Client A created group G at now", "Second call denied in Timer"}));
  EXPECT_EQ(view.status, std::vector<std::string>{"Client A created group G at now"});
  log.reset();
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(SessionLogTest, SwitchingOnWritesHeaderAndEndWritesFooter) {
  log->Write("before", true);
  SwitchFile(true);
  EXPECT_EQ(log->FileName(), path);
  log->Write("Group G deleted", true);
  const std::string started = Stamp();
  clock.Advance(61000);
  const std::string ended = Stamp();
  log.reset();

  EXPECT_EQ(File(), "\r\n"
                    "NorvoOPC Data Access Server 2.0.0.0\r\n"
                    "Server started at " + started + "\r\n"
                    "Log file saved as " + path + "\r\n"
                    "Group G deleted\r\n"
                    "Server shut down at " + ended + "\r\n");
  EXPECT_NE(started.find("  "), std::string::npos);  // time, two blanks, date
}

TEST_F(SessionLogTest, ShutDownLineLeavesTheWindowAlone) {
  SwitchFile(true);
  const size_t statusLines = view.status.size();
  log.reset();
  EXPECT_EQ(view.status.size(), statusLines);
  EXPECT_NE(File().find("Server shut down at "), std::string::npos);
}

TEST_F(SessionLogTest, SwitchingOffThenOnAgainWritesANewHeader) {
  SwitchFile(true);
  SwitchFile(false);
  log->Write("memo only", true);
  SwitchFile(true);
  const std::string text = File();
  EXPECT_EQ(text.find("memo only"), std::string::npos);
  size_t headers = 0;
  for (size_t at = text.find("Log file saved as"); at != std::string::npos; at = text.find("Log file saved as", at + 1))
    ++headers;
  EXPECT_EQ(headers, 2u);
}

TEST_F(SessionLogTest, UncreatableFileIsReportedWithItsPathAndMemoGoesOn) {
  const std::string dir = folder.Slash() + "no/such/folder/";
  log = Make(dir);
  SwitchFile(true);
  const std::string message = "Unable to create log file " + dir + "NorvoOPC.log";
  ASSERT_FALSE(log->Memo().Lines().empty());
  EXPECT_EQ(log->Memo().Lines().back(), message);
  EXPECT_EQ(view.status.back(), message);
  EXPECT_TRUE(log->FileName().empty());
  EXPECT_TRUE(log->FileEnabled());

  log->Write("still here", true);
  EXPECT_EQ(log->Memo().Lines().back(), "still here");
  // Creating the folder later does not revive the file until the option is toggled.
  std::filesystem::create_directories(dir);
  log->Write("dropped for the file", true);
  EXPECT_FALSE(std::filesystem::exists(dir + "NorvoOPC.log"));
  SwitchFile(false);
  SwitchFile(true);
  EXPECT_TRUE(std::filesystem::exists(dir + "NorvoOPC.log"));
}

TEST_F(SessionLogTest, HiddenMainWindowKeepsLinesOutOfMemoButInFile) {
  SwitchFile(true);
  view.shown = false;
  const size_t before = log->Memo().Lines().size();
  log->Write("late line", true);
  EXPECT_EQ(log->Memo().Lines().size(), before);
  EXPECT_NE(File().find("late line\r\n"), std::string::npos);
}

TEST_F(SessionLogTest, MemoIsClearedOnceItsTextPasses30000Characters) {
  const std::string line(998, 'x');  // 1000 characters with the line break
  for (int i = 0; i < 30; ++i) log->Write(line, false);
  EXPECT_EQ(log->Memo().TextLength(), 29998u);
  log->Write(line, false);  // not yet past the limit when added
  EXPECT_EQ(log->Memo().Lines().size(), 31u);
  log->Write("next", false);
  EXPECT_EQ(log->Memo().Lines(), std::vector<std::string>{"next"});
}

TEST_F(SessionLogTest, DebugLinesArePaddedTimedAndWrapSafe) {
  options.FLogDebugData = true;
  clock.SetTick(1500);
  log->WriteDebug("before file");  // file off: nothing, no bookkeeping
  SwitchFile(true);
  const size_t header = File().size();

  clock.SetTick(1500);
  log->WriteDebug("DEBUG_XXXX_start");
  clock.SetTick(1510);
  log->WriteDebug("");
  clock.SetTick(1510 + 1234567);
  log->WriteDebug("  DEBUG_XXXX_long");
  clock.SetTick(0xFFFFFFF0u);
  log->WriteDebug("x");
  clock.SetTick(0x10);
  log->WriteDebug("wrapped");
  options.FLogDebugData = false;
  log->WriteDebug("off");

  EXPECT_EQ(File().substr(header),
            "1500  DEBUG_XXXX_start\r\n"
            "10    \r\n"
            "1234567  DEBUG_XXXX_long\r\n" +
                std::to_string(0xFFFFFFF0u - 1510u - 1234567u) + "x\r\n"
                "32    wrapped\r\n");
  EXPECT_EQ(log->Memo().Lines().size(), 3u);  // only the header reached the memo
}

TEST(SessionLogText, HelpersFollowTheirRules) {
  EXPECT_EQ(SafeFileName("NorvoOPC"), "NorvoOPC");
  EXPECT_EQ(SafeFileName("  a.b/c-d e  "), "a_b_c-d e");
  EXPECT_EQ(FillFormat("Server started at %s", "now"), "Server started at now");
  EXPECT_EQ(FillFormat("no placeholder", "x"), "no placeholder");
  EXPECT_EQ(FillFormat("%s and %s", "a"), "a and %s");
  EXPECT_EQ(TSessionLog::TimeDateText(0).find("  "), std::string::npos);
}

TEST(LogGates, EachKindOfLineFollowsItsOptions) {
  // serial, debug, rx, tx, actions, file
  struct Case {
    TLogOptions o;
    bool link, tx, rx, cmds, actions, debug;
  };
  const Case cases[] = {
      {{}, false, false, false, false, false, false},
      {{true, false, false, false, false, false}, true, true, true, true, false, false},
      {{false, false, false, true, false, false}, false, true, false, false, false, false},
      {{false, false, true, false, false, false}, false, false, true, true, false, false},
      {{false, false, false, false, true, false}, false, false, false, true, true, false},
      {{false, true, false, false, false, false}, false, false, false, false, false, false},
      {{false, true, false, false, false, true}, false, false, false, false, false, true},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    const auto& c = cases[i];
    EXPECT_EQ(LogLinkDiagnostics(c.o), c.link) << i;
    EXPECT_EQ(LogTransmittedFrames(c.o), c.tx) << i;
    EXPECT_EQ(LogReceivedMessages(c.o), c.rx) << i;
    EXPECT_EQ(LogReceivedCommands(c.o), c.cmds) << i;
    EXPECT_EQ(LogCommActions(c.o), c.actions) << i;
    EXPECT_EQ(LogDebugTiming(c.o), c.debug) << i;
  }
}

}  // namespace
