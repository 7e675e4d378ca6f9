#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/command_line.h"

namespace {

struct RecordingRegistration : TRegistrationHooks {
  std::vector<std::string> calls;
  void RegisterServer(const std::string& progId) override { calls.push_back("register " + progId); }
  void UnregisterServer(const std::string& progId) override { calls.push_back("unregister " + progId); }
};

struct Case {
  std::vector<std::string> args;
  bool exitNow;
  bool embedded;
  bool hidden;
  bool debugLog;
  std::vector<std::string> calls;
};

}  // namespace

TEST(ParseCommandLine, SwitchTable) {
  const std::vector<Case> cases = {
      {{}, false, false, false, false, {}},
      {{"-EMBEDDING", "-SHOW"}, false, true, false, false, {}},
      {{"-SHOW", "-EMBEDDING"}, false, true, true, false, {}},
      {{"/embedding"}, false, true, true, false, {}},
      {{"-Debuglog", "project.alc", "-"}, false, false, false, true, {}},
      {{"-REGISTER", "-DEBUGLOG"}, true, false, false, true, {"register ZeltaOPC.DA2"}},
      {{"-register"}, true, false, false, false, {"register ZeltaOPC.DA2"}},
      {{"/UnRegister", "-regserver"}, true, false, false, false,
       {"unregister ZeltaOPC.DA2", "register ZeltaOPC.DA2"}},
      {{"--headless", "-EMBEDDING"}, false, true, true, false, {}},
      {{"REGISTER", "-REGISTERX"}, false, false, false, false, {}},
  };
  for (const auto& c : cases) {
    RecordingRegistration reg;
    TStartFlags flags;
    SCOPED_TRACE(testing::PrintToString(c.args));
    EXPECT_EQ(ParseCommandLine(c.args, flags, reg), c.exitNow);
    EXPECT_EQ(flags.StartedEmbedded, c.embedded);
    EXPECT_EQ(flags.StartHidden, c.hidden);
    EXPECT_EQ(flags.DebugLogSwitch, c.debugLog);
    EXPECT_EQ(reg.calls, c.calls);
  }
}

TEST(ParseCommandLine, HeadlessIsTakenOnlyInItsLongForm) {
  RecordingRegistration reg;
  TStartFlags flags;
  ParseCommandLine({"-HEADLESS", "/headless"}, flags, reg);
  EXPECT_FALSE(flags.Headless);
  ParseCommandLine({"--headless"}, flags, reg);
  EXPECT_TRUE(flags.Headless);
}
