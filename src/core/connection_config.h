// The project list and the connections, kept machine-wide under
// HKEY_LOCAL_MACHINE\SOFTWARE\Mirandole\NorvoOPC\Configuration.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "comm/comm_settings.h"

class IMessageBoxes;

inline constexpr const char* kConfigurationKeyPath = "SOFTWARE\\Mirandole\\NorvoOPC\\Configuration";
inline constexpr const char* kIndividualConnectionsKey = "IndividualConnections";

// A count beyond any real project list: a damaged "ProjectsCount" must not
// fill memory with empty paths.
inline constexpr int32_t kMaxProjectFiles = 4096;

struct TConnectionConfig {
  std::vector<std::string> FProjectFiles;
  bool FUseIndividualConnections = false;
  std::vector<TCommunicationSettings> FConnections;
};

// Empties the project list and the connections, then fills them from the
// registry. Never fails loudly: missing keys or values leave the defaults,
// and FUseIndividualConnections keeps its value when the key is missing.
void ReadConfiguration(TConnectionConfig& Config);

// Writes the project list and the connections. On a failure shows the
// administrator-rights box once while the warning is armed; false then.
// Values beyond the new counts are left; the counts decide what is read.
bool WriteConfiguration(const TConnectionConfig& Config, bool& RegistryWarningArmed, IMessageBoxes& Boxes);
