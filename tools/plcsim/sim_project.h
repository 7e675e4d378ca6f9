// Lays simulated PLCs out from a Zelta allocation file and its project file:
// every variable at its address with a moving value, and every output socket
// as a periodic socket frame to its partner.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim_engine.h"

class TLoadProject;

struct TSimProjectReport {
  std::vector<uint32_t> FNADs;  // the PLCs laid out, in file order
  size_t FVariables = 0;        // over all those PLCs
  size_t FSockets = 0;          // socket frames sent periodically
  std::vector<std::string> FWarnings;

  // One line for the operator: what was laid out.
  std::string Summary(const std::string& FileName) const;
};

// Builds a PLC for every NAD of every program (only those in OnlyNADs when
// that is not empty; a NAD there that no program names is an error). Output
// sockets are sent every SocketPeriodMs (0: never).
bool LayoutSimProject(const TLoadProject& Project, const std::vector<uint32_t>& OnlyNADs,
                      uint32_t SocketPeriodMs, TSimulator& Sim, TSimProjectReport& Report,
                      std::string& Error);

// Reads the allocation file (and the .cyp beside it), then lays it out. A
// reader error comes back as the reader's own message.
bool LoadSimProject(const std::string& FileName, const std::vector<uint32_t>& OnlyNADs,
                    uint32_t SocketPeriodMs, TSimulator& Sim, TSimProjectReport& Report,
                    std::string& Error);
