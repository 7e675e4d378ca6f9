// Handing the serial port over to the Zelta programming tool. The window
// message of the desktop original becomes a request on a Unix-domain socket
// in the runtime folder: the server listens on "NorvoOPCComPortHandover",
// the tool on "TZeltaClass". A request carries WParam and LParam; the
// answer is one number.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/unix_socket.h"

class ISerialPort;
class TOPCProject;

inline constexpr const char* kHandoverSocketName = "NorvoOPCComPortHandover";
inline constexpr const char* kZeltaSocketName = "TZeltaClass";
inline constexpr int64_t kHandoverQuery = 1;    // LParam: which serial port are you using?
inline constexpr int64_t kHandoverRelease = 2;  // LParam: release your serial port
inline constexpr uint32_t kProbeSettleMs = 70;
// How long the server waits for the tool's answer.
inline constexpr int kHandoverAnswerTimeoutMs = 2000;

// The server's answer to a request. Query: the last serial driver's port
// while communication runs, else 0. Any other LParam: 1 and StopComm set
// when the take-over is allowed (StopComm only while communication runs),
// else 0.
int64_t ComPortHandoverAnswer(const TOPCProject* Project, bool CommActive, bool AllowTakeOver, int64_t LParam,
                              bool& StopComm);

// The server's listening end. Non-blocking; the event loop watches the
// descriptors and calls Serve when one is readable.
class TComPortHandoverServer {
 public:
  using THandler = std::function<int64_t(int64_t WParam, int64_t LParam)>;

  TComPortHandoverServer() = default;
  ~TComPortHandoverServer();
  TComPortHandoverServer(const TComPortHandoverServer&) = delete;
  TComPortHandoverServer& operator=(const TComPortHandoverServer&) = delete;

  // Listens in Folder. A socket file nobody listens on is a crashed
  // server's and is replaced; a live one is left alone (false).
  bool Listen(const std::string& Folder, THandler Handler, const std::string& Name = kHandoverSocketName);
  void Close();
  int ListenFd() const { return FListen.Get(); }
  std::vector<int> ConnectionFds() const;
  // Accepts waiting connections and answers every complete request.
  void Serve();
  const std::string& LastError() const { return FLastError; }

 private:
  struct TConnection {
    TUnixFd Fd;
    std::string Buffer;
  };
  bool ServeConnection(TConnection& Conn);  // false: close it

  TUnixFd FListen;
  std::string FSocketPath;
  std::vector<TConnection> FConnections;
  THandler FHandler;
  std::string FLastError;
};

// One request to the socket SocketName in Folder; nullopt when nobody
// listens there or no answer came in time.
std::optional<int64_t> SendComPortHandover(const std::string& Folder, const std::string& SocketName, int64_t WParam,
                                           int64_t LParam, int TimeoutMs = kHandoverAnswerTimeoutMs);

// What probing needs besides the drivers.
class IProbeHost {
 public:
  virtual ~IProbeHost() = default;
  virtual ISerialPort& ProbePort() = 0;
  // The device of "COM" + Number.
  virtual std::string DeviceName(int Number) = 0;
  // Asks the tool; nullopt when it does not exist or did not answer.
  virtual std::optional<int64_t> AskTool(int64_t WParam, int64_t LParam) = 0;
  virtual void SetHourglass(bool /*On*/) {}
  virtual void Wait(uint32_t /*Ms*/) {}
};

// The running server's host: the real probe port, the COM names of the
// settings, and the tool's socket in the runtime folder.
class TRuntimeProbeHost : public IProbeHost {
 public:
  // Port is owned by the caller and outlives the host.
  TRuntimeProbeHost(ISerialPort& Port, std::string Folder) : FPort(Port), FFolder(std::move(Folder)) {}
  ISerialPort& ProbePort() override { return FPort; }
  std::string DeviceName(int Number) override;
  std::optional<int64_t> AskTool(int64_t WParam, int64_t LParam) override;
  void Wait(uint32_t Ms) override;

 private:
  ISerialPort& FPort;
  std::string FFolder;
};

// Before the drivers open their ports: each serial port that cannot be
// opened and that the tool says it holds is asked back from the tool.
void ProbeSerialPorts(const TOPCProject& Project, IProbeHost& Host);
