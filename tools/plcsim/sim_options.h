// Command line of plcsim: parsed into a plain options record, then applied
// to a simulator.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim_engine.h"

struct TSimHostPort {
  std::string FHost;
  uint16_t FPort = 0;
  bool FSet = false;
};

struct TSimOptions {
  TSimHostPort FUdp{"127.0.0.1", 8442, false};
  TSimHostPort FPeer;
  // Also hear datagrams sent to this loopback broadcast address (same port).
  std::string FBroadcast;
  std::vector<std::string> FAllow;
  std::string FSerial;
  bool FPty = false;
  uint32_t FBaud = 19200;
  std::vector<uint32_t> FNADs;
  // Each entry keeps its NAD prefix (0: every PLC).
  std::vector<std::pair<uint32_t, TSimVar>> FVars;
  struct InitialValue {
    uint32_t FNAD;
    uint16_t FAddress;
    uint8_t FType;
    std::string FValue;
  };
  std::vector<InitialValue> FSets;
  // Per-PLC settings as control lines, applied after the PLCs exist.
  std::vector<std::string> FControls;
  std::vector<TSimSocket> FSockets;
  TSimMaster FMaster;
  uint32_t FChangePeriodMs = 1000;
  // An allocation file whose PLCs, variables and output sockets are laid out.
  std::string FProject;
  uint32_t FSocketPeriodMs = 1000;
  uint32_t FDurationMs = 0;
  bool FVerbose = false;
  bool FHelp = false;
};

// False with a message on the first bad argument.
bool ParseSimOptions(int argc, const char* const* argv, TSimOptions& Options, std::string& Error);
// Builds the PLCs, variables, sockets and master round. Notes, when given,
// receives lines for the operator (what a project laid out, its warnings).
bool ApplySimOptions(const TSimOptions& Options, TSimulator& Sim, std::string& Error,
                     std::vector<std::string>* Notes = nullptr);
const char* SimHelpText();
