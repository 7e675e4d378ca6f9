// The demo's registry: the demo project served from a PLC simulator on the
// loopback address. Written only when the registry has no configuration
// yet, so the operator's changes survive between runs.
#pragma once

#include <string>
#include <vector>

struct TDemoConfig {
  std::string ProjectFile;       // absolute path of the allocation file
  std::vector<int> NADs{1, 2, 3, 4};
  std::string Host = "127.0.0.1";  // fixed: no address detection
  int RemotePort = 8442;
  std::string Adapter = "lo";
  int MyNAD = 100;
  bool LogTraffic = true;         // communication lines and the log file
};

// Writes the configuration and the settings into the registry location in
// use. Skipped (true) when a configuration is already there and Force is
// off. False with Error on a failed write.
bool WriteDemoConfiguration(const TDemoConfig& Config, bool Force, std::string& Error);
