// Command-line switches of the server process.
#pragma once

#include <string>
#include <vector>

// Process-wide start flags, decided before any window exists.
struct TStartFlags {
  bool StartedEmbedded = false;  // started by COM for a client
  bool StartHidden = false;      // hide in the tray right after the first show
  bool DebugLogSwitch = false;   // the debug log writes its file
  bool Headless = false;         // no window at all (Linux service form)
  bool Automation = false;       // from the COM framework: end with the last server object
};

// The server's own registration, reached through the OPC layer.
class TRegistrationHooks {
 public:
  virtual ~TRegistrationHooks() = default;
  virtual void RegisterServer(const std::string& progId) = 0;
  virtual void UnregisterServer(const std::string& progId) = 0;
};

inline constexpr const char* kServerProgId = "ZeltaOPC.DA2";

// "-NAME" or "/NAME" in any letter case gives "NAME"; anything else "".
std::string SwitchName(const std::string& arg);

// Applies every argument in order to `flags` and runs (un)registration for
// each registration switch met. Answers true when the process must exit now.
// "--headless" is the only switch taken in its long form.
bool ParseCommandLine(const std::vector<std::string>& args, TStartFlags& flags, TRegistrationHooks& hooks);
