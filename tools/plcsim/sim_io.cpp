#include "sim_io.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t kMaxQueued = 64 * 1024;

bool IsLoopback(uint32_t ip) { return (ip >> 24) == 127; }

// Broadcast is the all-ones host part of some network (prefix 8 to 30)
// that also holds Own.
bool IsDirectedBroadcastOf(uint32_t broadcast, uint32_t own) {
  for (int len = 8; len <= 30; ++len) {
    const uint32_t mask = 0xFFFFFFFFu << (32 - len);
    if ((broadcast & mask) == (own & mask) && (broadcast | mask) == 0xFFFFFFFFu) return true;
  }
  return false;
}

speed_t SpeedOf(uint32_t baud) {
  switch (baud) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return B0;
  }
}

}  // namespace

TSimFd& TSimFd::operator=(TSimFd&& o) noexcept {
  if (this != &o) {
    if (FFd >= 0) ::close(FFd);
    FFd = o.FFd;
    o.FFd = -1;
  }
  return *this;
}

TSimFd::~TSimFd() {
  if (FFd >= 0) ::close(FFd);
}

bool SimParseIPv4(const std::string& Text, uint32_t& Ip) {
  in_addr a{};
  if (inet_pton(AF_INET, Text.c_str(), &a) != 1) return false;
  Ip = ntohl(a.s_addr);
  return true;
}

std::string SimIPv4Text(uint32_t Ip) {
  in_addr a{};
  a.s_addr = htonl(Ip);
  char buf[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &a, buf, sizeof buf);
  return buf;
}

bool TSimUdp::Open(const std::string& Host, uint16_t Port, const std::vector<std::string>& Allow,
                   const std::string& PeerHost, uint16_t PeerPort, std::string& Error) {
  uint32_t ip = 0;
  if (!SimParseIPv4(Host, ip)) {
    Error = "UDP host '" + Host + "' is not an IPv4 address";
    return false;
  }
  if (ip == 0 || ip == 0xFFFFFFFFu || (ip >> 28) == 14) {
    Error = "refusing to bind to " + Host + ": name one specific address";
    return false;
  }
  for (const std::string& a : Allow) {
    uint32_t x;
    if (!SimParseIPv4(a, x) || x == 0 || x == 0xFFFFFFFFu || (x >> 28) == 14) {
      Error = "--allow '" + a + "' is not a specific IPv4 address";
      return false;
    }
    FAllow.push_back(x);
  }
  if (!PeerHost.empty()) {
    uint32_t x;
    if (!SimParseIPv4(PeerHost, x) || x == 0 || x == 0xFFFFFFFFu || (x >> 28) == 14 || PeerPort == 0) {
      Error = "--peer '" + PeerHost + "' is not a specific IPv4 address and port";
      return false;
    }
    FPeer = {x, PeerPort, true};
    FAllow.push_back(x);
  }
  FSocket = TSimFd(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (FSocket.Get() < 0) {
    Error = std::string("socket: ") + std::strerror(errno);
    return false;
  }
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(Port);
  sa.sin_addr.s_addr = htonl(ip);
  if (::bind(FSocket.Get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    Error = "bind " + Host + ":" + std::to_string(Port) + ": " + std::strerror(errno);
    return false;
  }
  socklen_t len = sizeof sa;
  ::getsockname(FSocket.Get(), reinterpret_cast<sockaddr*>(&sa), &len);
  FBoundIp = ip;
  FBoundPort = ntohs(sa.sin_port);
  return true;
}

bool TSimUdp::OpenBroadcast(const std::string& Broadcast, std::string& Error) {
  uint32_t ip = 0;
  if (!SimParseIPv4(Broadcast, ip)) {
    Error = "--broadcast '" + Broadcast + "' is not an IPv4 address";
    return false;
  }
  if (FSocket.Get() < 0 || !IsLoopback(FBoundIp)) {
    Error = "--broadcast needs a UDP bind to a loopback address (127.x.x.x)";
    return false;
  }
  if (!IsLoopback(ip) || !IsDirectedBroadcastOf(ip, FBoundIp)) {
    Error = "--broadcast " + Broadcast + " is not a broadcast address of a loopback network holding " +
            SimIPv4Text(FBoundIp) + " (e.g. 127.255.255.255)";
    return false;
  }
  TSimFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (fd.Get() < 0) {
    Error = std::string("socket: ") + std::strerror(errno);
    return false;
  }
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(FBoundPort);
  sa.sin_addr.s_addr = htonl(ip);
  if (::bind(fd.Get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    Error = "bind " + Broadcast + ":" + std::to_string(FBoundPort) + ": " + std::strerror(errno);
    return false;
  }
  FBroadcast = std::move(fd);
  FBroadcastIp = ip;
  return true;
}

bool TSimUdp::Allowed(uint32_t Ip) const {
  if (IsLoopback(FBoundIp) && IsLoopback(Ip)) return true;
  return std::find(FAllow.begin(), FAllow.end(), Ip) != FAllow.end();
}

bool TSimUdp::Receive(std::vector<uint8_t>& Bytes, TSimEndpoint& From) {
  if (FBroadcast.Get() < 0) return ReceiveOn(FSocket.Get(), Bytes, From);
  // Alternating, so a flood on one socket cannot starve the other.
  FBroadcastFirst = !FBroadcastFirst;
  const int first = FBroadcastFirst ? FBroadcast.Get() : FSocket.Get();
  const int second = FBroadcastFirst ? FSocket.Get() : FBroadcast.Get();
  return ReceiveOn(first, Bytes, From) || ReceiveOn(second, Bytes, From);
}

bool TSimUdp::ReceiveOn(int Fd, std::vector<uint8_t>& Bytes, TSimEndpoint& From) {
  Bytes.resize(65536);
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  const ssize_t n = ::recvfrom(Fd, Bytes.data(), Bytes.size(), 0, reinterpret_cast<sockaddr*>(&sa), &len);
  if (n < 0) {
    Bytes.clear();
    return false;
  }
  Bytes.resize(static_cast<size_t>(n));
  From = {ntohl(sa.sin_addr.s_addr), ntohs(sa.sin_port), true};
  if (!Allowed(From.FIp) || From.FPort == 0) {
    ++FRejected;
    Bytes.clear();
    From = {};
    return true;
  }
  FLastSender = From;
  return true;
}

void TSimUdp::Send(std::span<const uint8_t> Bytes, const TSimEndpoint& To) {
  TSimEndpoint to = To.FValid ? To : (FPeer.FValid ? FPeer : FLastSender);
  if (!to.FValid || !Allowed(to.FIp)) return;
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(to.FPort);
  sa.sin_addr.s_addr = htonl(to.FIp);
  // A lost datagram is what a real line does too; the client times out.
  (void)::sendto(FSocket.Get(), Bytes.data(), Bytes.size(), 0, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
}

bool TSimSerial::Configure(int Fd, uint32_t Baud, std::string& Error) {
  termios t{};
  if (::tcgetattr(Fd, &t) != 0) {
    Error = std::string("tcgetattr: ") + std::strerror(errno);
    return false;
  }
  ::cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  t.c_cflag &= ~(CSTOPB | PARENB | CRTSCTS);
  const speed_t sp = SpeedOf(Baud);
  if (sp != B0) {
    ::cfsetispeed(&t, sp);
    ::cfsetospeed(&t, sp);
  }
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  if (::tcsetattr(Fd, TCSANOW, &t) != 0) {
    Error = std::string("tcsetattr: ") + std::strerror(errno);
    return false;
  }
  FBytesPerMs = Baud / 10000.0;  // ten bits per byte on an 8N1 line
  return true;
}

bool TSimSerial::OpenDevice(const std::string& Path, uint32_t Baud, std::string& Error) {
  FFd = TSimFd(::open(Path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (FFd.Get() < 0) {
    Error = Path + ": " + std::strerror(errno);
    return false;
  }
  return Configure(FFd.Get(), Baud, Error);
}

bool TSimSerial::OpenPty(uint32_t Baud, std::string& Name, std::string& Error) {
  FFd = TSimFd(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (FFd.Get() < 0 || ::grantpt(FFd.Get()) != 0 || ::unlockpt(FFd.Get()) != 0) {
    Error = std::string("pseudo-terminal: ") + std::strerror(errno);
    return false;
  }
  const char* name = ::ptsname(FFd.Get());
  if (!name) {
    Error = std::string("ptsname: ") + std::strerror(errno);
    return false;
  }
  Name = name;
  FPtySlave = TSimFd(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (FPtySlave.Get() < 0) {
    Error = Name + ": " + std::strerror(errno);
    return false;
  }
  ::fcntl(FFd.Get(), F_SETFL, ::fcntl(FFd.Get(), F_GETFL) | O_NONBLOCK);
  return Configure(FPtySlave.Get(), Baud, Error);
}

bool TSimSerial::Read(std::vector<uint8_t>& Bytes) {
  Bytes.resize(4096);
  const ssize_t n = ::read(FFd.Get(), Bytes.data(), Bytes.size());
  if (n < 0) {
    Bytes.clear();
    return errno == EAGAIN || errno == EINTR;
  }
  Bytes.resize(static_cast<size_t>(n));
  return n > 0;
}

void TSimSerial::Queue(std::span<const uint8_t> Bytes, uint32_t NowMs) {
  if (FOut.size() + Bytes.size() > kMaxQueued) {
    FDropped += Bytes.size();
    return;
  }
  if (FOut.empty()) {
    // An idle line starts with its first byte now, not with the idle time.
    FCredit = 1;
    FLastPump = NowMs;
  }
  FOut.insert(FOut.end(), Bytes.begin(), Bytes.end());
}

void TSimSerial::Pump(uint32_t NowMs) {
  if (FOut.empty()) return;
  FCredit = std::min(FCredit + (NowMs - FLastPump) * FBytesPerMs, 64.0);
  FLastPump = NowMs;
  size_t n = std::min(FOut.size(), static_cast<size_t>(FCredit));
  if (n == 0) return;
  uint8_t buf[64];
  std::copy_n(FOut.begin(), n, buf);
  const ssize_t w = ::write(FFd.Get(), buf, n);
  if (w <= 0) return;  // full or failing: try again on the next pump
  FOut.erase(FOut.begin(), FOut.begin() + w);
  FCredit -= static_cast<double>(w);
}

uint32_t TSimSerial::MsUntilNextByte() const {
  if (FOut.empty()) return 1000;
  if (FCredit >= 1) return 0;
  return static_cast<uint32_t>(std::ceil((1 - FCredit) / FBytesPerMs));
}
