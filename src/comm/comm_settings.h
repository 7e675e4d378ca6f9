// The settings of one connection: an individual connection of one PLC, the
// shared default connection, or a driver's own copy.
#pragma once

#include <cstdint>
#include <string>

inline constexpr uint8_t kDriverSerial = 1;
inline constexpr uint8_t kDriverUDP = 2;
inline constexpr int32_t kSharedConnectionNAD = -1;
inline constexpr int32_t kDefaultRemoteUDPPort = 8442;

struct TCommunicationSettings {
  int32_t FConnectionNAD = kSharedConnectionNAD;
  // kDriverSerial or kDriverUDP; any other value yields no driver.
  uint8_t FDriverType = 0;
  int32_t FCommPort = 0;  // "COM" + number
  int32_t FRemoteUDPPort = 0;
  bool FAutoMaster = false;
  bool FCommMaster = false;
  std::string FHost;  // dotted IPv4, when the address is fixed
  bool FIPAdrAutodetect = true;
  int32_t FTimeOut = 0;  // ms, the master timeout

  // Run time only.
  std::string FTargetAddress;  // where the UDP driver sends
  bool FHasMasterPLC = false;
  bool FProjectsComplete = false;
  bool FPollAsMaster = false;

  bool IsSerial() const { return FDriverType == kDriverSerial; }
  bool IsUDP() const { return FDriverType == kDriverUDP; }
};
