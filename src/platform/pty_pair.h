// A pseudo-terminal pair standing in for a serial line: the slave is the
// device a serial port opens, the master is the far end (a PLC, a test).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

class TPtyPair {
 public:
  TPtyPair();
  ~TPtyPair();
  TPtyPair(const TPtyPair&) = delete;
  TPtyPair& operator=(const TPtyPair&) = delete;

  // False (with Error) when the system gave no pseudo-terminal.
  bool IsValid() const { return FMaster >= 0; }
  const std::string& Error() const { return FError; }
  // The device path to open as the serial port.
  const std::string& SlavePath() const { return FSlavePath; }
  int MasterFd() const { return FMaster; }
  // A descriptor of the slave held by the pair, so the line survives the
  // port's close and its settings can be read back; raw from the start so
  // nothing is echoed before the port configures the line.
  int SlaveFd() const { return FSlave; }

  // Writes everything to the master side; false on failure.
  bool WriteMaster(std::span<const uint8_t> Bytes);
  // Reads from the master until Count bytes arrived or TimeoutMs passed.
  std::vector<uint8_t> ReadMaster(size_t Count, int TimeoutMs);

 private:
  int FMaster = -1;
  int FSlave = -1;
  std::string FSlavePath;
  std::string FError;
};
