#include "core/command_line.h"

#include <cctype>

std::string SwitchName(const std::string& arg) {
  if (arg.size() < 2 || (arg[0] != '-' && arg[0] != '/')) return {};
  std::string name = arg.substr(1);
  for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return name;
}

bool ParseCommandLine(const std::vector<std::string>& args, TStartFlags& flags, TRegistrationHooks& hooks) {
  flags.StartedEmbedded = false;
  flags.DebugLogSwitch = false;
  bool exitNow = false;
  for (const auto& arg : args) {
    if (arg == "--headless") {
      flags.Headless = true;
      continue;
    }
    const std::string name = SwitchName(arg);
    if (name == "REGISTER" || name == "REGSERVER") {
      hooks.RegisterServer(kServerProgId);
      exitNow = true;
    } else if (name == "UNREGISTER" || name == "UNREGSERVER") {
      hooks.UnregisterServer(kServerProgId);
      exitNow = true;
    } else if (name == "EMBEDDING") {
      flags.StartedEmbedded = true;
      flags.StartHidden = true;
    } else if (name == "DEBUGLOG") {
      flags.DebugLogSwitch = true;
    } else if (name == "SHOW") {
      flags.StartHidden = false;
    }
  }
  return exitNow;
}
