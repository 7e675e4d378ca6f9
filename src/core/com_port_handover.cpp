#include "core/com_port_handover.h"

#include <chrono>
#include <cstring>
#include <thread>

#include "comm/comm_driver.h"
#include "core/deferred_queue.h"
#include "core/opc_project.h"
#include "platform/serial_device_names.h"
#include "platform/serial_port.h"

namespace {

// Request: u32 message (WM_COMPORT_HANDOVER), u32 reserved, i64 WParam,
// i64 LParam. Answer: i64. Host order: both ends run on this machine.
constexpr size_t kRequestSize = 4 + 4 + 8 + 8;
constexpr size_t kMaxConnections = 8;

}  // namespace

int64_t ComPortHandoverAnswer(const TOPCProject* Project, bool CommActive, bool AllowTakeOver, int64_t LParam,
                              bool& StopComm) {
  StopComm = false;
  if (LParam == kHandoverQuery) {
    if (!Project || !CommActive) return 0;
    int64_t port = 0;
    for (const auto& d : Project->FDrivers)
      if (d->IsSerial()) port = d->FSettings.FCommPort;
    return port;
  }
  if (!AllowTakeOver) return 0;
  StopComm = CommActive;
  return 1;
}

TComPortHandoverServer::~TComPortHandoverServer() { Close(); }

bool TComPortHandoverServer::Listen(const std::string& Folder, THandler Handler, const std::string& Name) {
  Close();
  const std::string path = Folder + "/" + Name;
  FListen = ListenUnixSocket(path, TStaleSocket::ReplaceUnlessLive, 4, FLastError);
  if (!FListen.Valid()) return false;
  FSocketPath = path;
  FHandler = std::move(Handler);
  return true;
}

void TComPortHandoverServer::Close() {
  FConnections.clear();
  if (FListen.Valid()) {
    FListen.Reset();
    RemoveUnixSocketFile(FSocketPath);
  }
}

std::vector<int> TComPortHandoverServer::ConnectionFds() const {
  std::vector<int> fds;
  for (const auto& c : FConnections) fds.push_back(c.Fd.Get());
  return fds;
}

void TComPortHandoverServer::Serve() {
  if (!FListen.Valid()) return;
  for (TUnixFd fd = AcceptUnixConnection(FListen.Get()); fd.Valid(); fd = AcceptUnixConnection(FListen.Get()))
    if (FConnections.size() < kMaxConnections) FConnections.push_back({std::move(fd), {}});
  std::erase_if(FConnections, [this](TConnection& c) { return !ServeConnection(c); });
}

bool TComPortHandoverServer::ServeConnection(TConnection& Conn) {
  const bool open = ReadAvailable(Conn.Fd.Get(), Conn.Buffer, kRequestSize * 4);
  while (Conn.Buffer.size() >= kRequestSize) {
    uint32_t msg = 0;
    int64_t wParam = 0, lParam = 0;
    std::memcpy(&msg, Conn.Buffer.data(), 4);
    std::memcpy(&wParam, Conn.Buffer.data() + 8, 8);
    std::memcpy(&lParam, Conn.Buffer.data() + 16, 8);
    Conn.Buffer.erase(0, kRequestSize);
    // Anything but the hand-over message is a stranger: drop the link.
    if (msg != WM_COMPORT_HANDOVER) return false;
    const int64_t answer = FHandler ? FHandler(wParam, lParam) : 0;
    // A peer that shut its sending side still reads the answer.
    if (!SendWithoutWaiting(Conn.Fd.Get(), &answer, sizeof answer)) return false;
  }
  return open;
}

std::optional<int64_t> SendComPortHandover(const std::string& Folder, const std::string& SocketName, int64_t WParam,
                                           int64_t LParam, int TimeoutMs) {
  const TUnixFd fd = ConnectUnixSocket(Folder + "/" + SocketName, TimeoutMs);
  if (!fd.Valid()) return std::nullopt;
  char request[kRequestSize] = {};
  const uint32_t msg = WM_COMPORT_HANDOVER;
  std::memcpy(request, &msg, 4);
  std::memcpy(request + 8, &WParam, 8);
  std::memcpy(request + 16, &LParam, 8);
  int64_t answer = 0;
  if (!SendAll(fd.Get(), request, sizeof request) || !ReceiveExact(fd.Get(), &answer, sizeof answer, TimeoutMs))
    return std::nullopt;
  return answer;
}

void ProbeSerialPorts(const TOPCProject& Project, IProbeHost& Host) {
  Host.SetHourglass(true);
  ISerialPort& probe = Host.ProbePort();
  for (const auto& d : Project.FDrivers) {
    if (!d->IsSerial()) continue;
    if (probe.IsOpen()) probe.Close();
    const int port = d->FSettings.FCommPort;
    if (!probe.Open(Host.DeviceName(port))) {
      const std::optional<int64_t> inUse = Host.AskTool(port, kHandoverQuery);
      if (inUse && *inUse == port) Host.AskTool(0, kHandoverRelease);
    }
    if (probe.IsOpen()) probe.Close();
  }
  // The tool needs a moment to close its port.
  Host.Wait(kProbeSettleMs);
  Host.SetHourglass(false);
}

std::string TRuntimeProbeHost::DeviceName(int Number) { return SerialDeviceName(Number); }

std::optional<int64_t> TRuntimeProbeHost::AskTool(int64_t WParam, int64_t LParam) {
  return SendComPortHandover(FFolder, kZeltaSocketName, WParam, LParam);
}

void TRuntimeProbeHost::Wait(uint32_t Ms) { std::this_thread::sleep_for(std::chrono::milliseconds(Ms)); }
