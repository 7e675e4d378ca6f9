#include "core/com_port_handover.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

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

bool FillAddress(const std::string& Path, sockaddr_un& Addr) {
  std::memset(&Addr, 0, sizeof Addr);
  Addr.sun_family = AF_UNIX;
  if (Path.size() >= sizeof Addr.sun_path) return false;
  std::memcpy(Addr.sun_path, Path.c_str(), Path.size() + 1);
  return true;
}

int ConnectTo(const std::string& Path) {
  sockaddr_un addr{};
  if (!FillAddress(Path, addr)) return -1;
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Waits at most TimeoutMs for Fd to be ready for Events.
bool WaitFor(int Fd, short Events, int TimeoutMs) {
  pollfd p{Fd, Events, 0};
  for (;;) {
    const int n = ::poll(&p, 1, TimeoutMs);
    if (n < 0 && errno == EINTR) continue;
    return n > 0;
  }
}

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
  sockaddr_un addr{};
  if (!FillAddress(path, addr)) {
    FLastError = "socket path too long: " + path;
    return false;
  }
  const int live = ConnectTo(path);
  if (live >= 0) {
    ::close(live);
    FLastError = "another program listens on " + path;
    return false;
  }
  ::unlink(path.c_str());
  FListenFd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (FListenFd < 0) {
    FLastError = std::string("cannot create the hand-over socket: ") + std::strerror(errno);
    return false;
  }
  if (::bind(FListenFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(FListenFd, 4) != 0) {
    FLastError = "cannot listen on " + path + ": " + std::strerror(errno);
    ::close(FListenFd);
    FListenFd = -1;
    return false;
  }
  FSocketPath = path;
  FHandler = std::move(Handler);
  return true;
}

void TComPortHandoverServer::Close() {
  for (auto& c : FConnections) ::close(c.Fd);
  FConnections.clear();
  if (FListenFd >= 0) {
    ::close(FListenFd);
    ::unlink(FSocketPath.c_str());
    FListenFd = -1;
  }
}

std::vector<int> TComPortHandoverServer::ConnectionFds() const {
  std::vector<int> fds;
  for (const auto& c : FConnections) fds.push_back(c.Fd);
  return fds;
}

void TComPortHandoverServer::Serve() {
  if (FListenFd < 0) return;
  for (;;) {
    const int fd = ::accept4(FListenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (FConnections.size() >= kMaxConnections) {
      ::close(fd);
      continue;
    }
    FConnections.push_back({fd, {}});
  }
  for (size_t i = 0; i < FConnections.size();) {
    if (ServeConnection(FConnections[i])) {
      ++i;
    } else {
      ::close(FConnections[i].Fd);
      FConnections.erase(FConnections.begin() + static_cast<std::ptrdiff_t>(i));
    }
  }
}

bool TComPortHandoverServer::ServeConnection(TConnection& Conn) {
  bool open = true;
  char chunk[256];
  while (Conn.Buffer.size() < kRequestSize * 4) {
    const ssize_t n = ::recv(Conn.Fd, chunk, sizeof chunk, MSG_DONTWAIT);
    if (n > 0) {
      Conn.Buffer.append(chunk, static_cast<size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      open = n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
      break;
    }
  }
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
    if (::send(Conn.Fd, &answer, sizeof answer, MSG_NOSIGNAL | MSG_DONTWAIT) != sizeof answer) return false;
  }
  return open;
}

std::optional<int64_t> SendComPortHandover(const std::string& Folder, const std::string& SocketName, int64_t WParam,
                                           int64_t LParam, int TimeoutMs) {
  const int fd = ConnectTo(Folder + "/" + SocketName);
  if (fd < 0) return std::nullopt;
  char request[kRequestSize] = {};
  const uint32_t msg = WM_COMPORT_HANDOVER;
  std::memcpy(request, &msg, 4);
  std::memcpy(request + 8, &WParam, 8);
  std::memcpy(request + 16, &LParam, 8);
  std::optional<int64_t> result;
  // The request is far below the socket buffer: one send takes it whole.
  if (::send(fd, request, sizeof request, MSG_NOSIGNAL) == static_cast<ssize_t>(sizeof request)) {
    int64_t answer = 0;
    size_t got = 0;
    while (got < sizeof answer && WaitFor(fd, POLLIN, TimeoutMs)) {
      const ssize_t n = ::recv(fd, reinterpret_cast<char*>(&answer) + got, sizeof answer - got, MSG_DONTWAIT);
      if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
    if (got == sizeof answer) result = answer;
  }
  ::close(fd);
  return result;
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

void TRuntimeProbeHost::Wait(uint32_t Ms) {
  timespec ts{static_cast<time_t>(Ms / 1000), static_cast<long>(Ms % 1000) * 1000000L};
  while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}
