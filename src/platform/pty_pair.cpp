#include "platform/pty_pair.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

TPtyPair::TPtyPair() {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0) {
    FError = std::string("posix_openpt: ") + std::strerror(errno);
    return;
  }
  char name[256] = {};
  if (::grantpt(master) != 0 || ::unlockpt(master) != 0 || ::ptsname_r(master, name, sizeof name) != 0) {
    FError = std::string("pseudo-terminal setup: ") + std::strerror(errno);
    ::close(master);
    return;
  }
  const int slave = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (slave < 0) {
    FError = std::string("open ") + name + ": " + std::strerror(errno);
    ::close(master);
    return;
  }
  termios tio{};
  if (::tcgetattr(slave, &tio) == 0) {
    ::cfmakeraw(&tio);
    ::tcsetattr(slave, TCSANOW, &tio);
  }
  ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
  FMaster = master;
  FSlave = slave;
  FSlavePath = name;
}

TPtyPair::~TPtyPair() {
  if (FSlave >= 0) ::close(FSlave);
  if (FMaster >= 0) ::close(FMaster);
}

bool TPtyPair::WriteMaster(std::span<const uint8_t> Bytes) {
  size_t done = 0;
  int spins = 0;
  while (done < Bytes.size()) {
    const ssize_t n = ::write(FMaster, Bytes.data() + done, Bytes.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN && ++spins < 1000) {
      pollfd p{FMaster, POLLOUT, 0};
      ::poll(&p, 1, 10);
      continue;
    }
    return false;
  }
  return true;
}

std::vector<uint8_t> TPtyPair::ReadMaster(size_t Count, int TimeoutMs) {
  std::vector<uint8_t> out;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
  uint8_t buf[4096];
  while (out.size() < Count) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) break;
    pollfd p{FMaster, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
    const size_t want = Count - out.size() < sizeof buf ? Count - out.size() : sizeof buf;
    const ssize_t n = ::read(FMaster, buf, want);
    if (n > 0) out.insert(out.end(), buf, buf + n);
    else if (n < 0 && errno != EAGAIN && errno != EINTR) break;
  }
  return out;
}
