#include "platform/unix_socket.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

bool FillAddress(const std::string& Path, sockaddr_un& Addr) {
  std::memset(&Addr, 0, sizeof Addr);
  Addr.sun_family = AF_UNIX;
  if (Path.size() >= sizeof Addr.sun_path) return false;
  std::memcpy(Addr.sun_path, Path.c_str(), Path.size() + 1);
  return true;
}

std::string Errno(const std::string& What) { return What + ": " + std::strerror(errno); }

}  // namespace

void TUnixFd::Reset() {
  if (FFd >= 0) ::close(FFd);
  FFd = -1;
}

TUnixFd ListenUnixSocket(const std::string& Path, TStaleSocket Stale, int Backlog, std::string& Error) {
  sockaddr_un addr{};
  if (!FillAddress(Path, addr)) {
    Error = "socket path too long: " + Path;
    return {};
  }
  if (Stale == TStaleSocket::ReplaceUnlessLive && ConnectUnixSocket(Path, 1000).Valid()) {
    Error = "another program listens on " + Path;
    return {};
  }
  ::unlink(Path.c_str());
  TUnixFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!fd.Valid()) {
    Error = Errno("cannot create a socket for " + Path);
    return {};
  }
  if (::bind(fd.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd.Get(), Backlog) != 0) {
    Error = Errno("cannot listen on " + Path);
    return {};
  }
  return fd;
}

void RemoveUnixSocketFile(const std::string& Path) {
  if (!Path.empty()) ::unlink(Path.c_str());
}

TUnixFd AcceptUnixConnection(int ListenFd) {
  for (;;) {
    const int fd = ::accept4(ListenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0 && errno == EINTR) continue;
    // EAGAIN, or a transient error the next readiness retries.
    return TUnixFd(fd);
  }
}

TUnixFd ConnectUnixSocket(const std::string& Path, int TimeoutMs) {
  sockaddr_un addr{};
  if (!FillAddress(Path, addr)) return {};
  TUnixFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd.Valid()) return {};
  // A Unix-domain connect waits on a full backlog for as long as the send
  // timeout allows, so this bounds the connect as well as later sends.
  const int ms = TimeoutMs > 0 ? TimeoutMs : 1;
  timeval tv{ms / 1000, (ms % 1000) * 1000};
  ::setsockopt(fd.Get(), SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  ::setsockopt(fd.Get(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  for (;;) {
    if (::connect(fd.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) return fd;
    if (errno != EINTR) return {};
  }
}

bool ReadAvailable(int Fd, std::string& Buffer, size_t Limit) {
  char chunk[1024];
  while (Buffer.size() < Limit) {
    const ssize_t n = ::recv(Fd, chunk, sizeof chunk, MSG_DONTWAIT);
    if (n > 0) {
      Buffer.append(chunk, static_cast<size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
  }
  return true;
}

bool SendWithoutWaiting(int Fd, const void* Data, size_t Size) {
  return ::send(Fd, Data, Size, MSG_NOSIGNAL | MSG_DONTWAIT) == static_cast<ssize_t>(Size);
}

bool SendAll(int Fd, const void* Data, size_t Size) {
  auto p = static_cast<const char*>(Data);
  while (Size > 0) {
    const ssize_t n = ::send(Fd, p, Size, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    Size -= static_cast<size_t>(n);
  }
  return true;
}

bool ReceiveExact(int Fd, void* Data, size_t Size, int TimeoutMs) {
  auto p = static_cast<char*>(Data);
  while (Size > 0) {
    pollfd w{Fd, POLLIN, 0};
    const int ready = ::poll(&w, 1, TimeoutMs);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    const ssize_t n = ::recv(Fd, p, Size, MSG_DONTWAIT);
    if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
    if (n <= 0) return false;
    p += n;
    Size -= static_cast<size_t>(n);
  }
  return true;
}
