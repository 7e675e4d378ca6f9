#include "platform/udp_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

sockaddr_in ToSockaddr(const TUdpEndpoint& e) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(e.Address);
  a.sin_port = htons(e.Port);
  return a;
}

std::string EndpointText(const TUdpEndpoint& e) {
  in_addr a{htonl(e.Address)};
  char text[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &a, text, sizeof text);
  return std::string(text) + ":" + std::to_string(e.Port);
}

}  // namespace

std::optional<uint32_t> ParseIPv4(const std::string& Text) {
  in_addr a{};
  if (::inet_pton(AF_INET, Text.c_str(), &a) != 1) return std::nullopt;
  return ntohl(a.s_addr);
}

TPosixUdpSocket::~TPosixUdpSocket() { Close(); }

void TPosixUdpSocket::Fail(const std::string& What, int Error) {
  FLastError = What + ": " + std::strerror(Error);
}

bool TPosixUdpSocket::Bind(uint32_t LocalAddress, uint16_t LocalPort) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    Fail("cannot create a UDP socket", errno);
    return false;
  }
  const int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
  const TUdpEndpoint want{LocalAddress, LocalPort};
  const sockaddr_in a = ToSockaddr(want);
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
    Fail("cannot bind to " + EndpointText(want), errno);
    ::close(fd);
    return false;
  }
  sockaddr_in got{};
  socklen_t len = sizeof got;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&got), &len);
  if (FFd >= 0) {
    // Keep the descriptor number: the event loop may be watching it.
    if (::dup3(fd, FFd, O_CLOEXEC) < 0) {
      Fail("cannot move the UDP socket", errno);
      ::close(fd);
      return false;
    }
    ::close(fd);
  } else {
    FFd = fd;
  }
  FLocal = {ntohl(got.sin_addr.s_addr), ntohs(got.sin_port)};
  return true;
}

void TPosixUdpSocket::Close() {
  if (FFd < 0) return;
  ::close(FFd);
  FFd = -1;
  FLocal = {};
}

bool TPosixUdpSocket::SendTo(std::span<const uint8_t> Bytes, const TUdpEndpoint& To) {
  if (FFd < 0) {
    FLastError = "socket not bound";
    return false;
  }
  const sockaddr_in a = ToSockaddr(To);
  for (;;) {
    const ssize_t n = ::sendto(FFd, Bytes.data(), Bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
                               reinterpret_cast<const sockaddr*>(&a), sizeof a);
    if (n >= 0) return static_cast<size_t>(n) == Bytes.size();
    if (errno == EINTR) continue;
    Fail("cannot send to " + EndpointText(To), errno);
    return false;
  }
}

std::optional<size_t> TPosixUdpSocket::ReceiveFrom(std::span<uint8_t> Buffer, TUdpEndpoint& From) {
  if (FFd < 0) return std::nullopt;
  for (;;) {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    const ssize_t n =
        ::recvfrom(FFd, Buffer.data(), Buffer.size(), MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&a), &len);
    if (n >= 0) {
      From = {ntohl(a.sin_addr.s_addr), ntohs(a.sin_port)};
      return static_cast<size_t>(n);
    }
    if (errno == EINTR) continue;
    // An ICMP refusal of an earlier send surfaces here; it is no datagram.
    if (errno != EAGAIN && errno != EWOULDBLOCK && errno != ECONNREFUSED) Fail("cannot receive", errno);
    return std::nullopt;
  }
}
