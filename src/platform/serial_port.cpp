#include "platform/serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace {

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

int Remaining(int64_t deadline) {
  const int64_t left = deadline - NowMs();
  return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

TPosixSerialPort::~TPosixSerialPort() { Close(); }

void TPosixSerialPort::Fail(const std::string& What, int Error) {
  FLastError = What + " " + FPath + ": " + std::strerror(Error);
}

int TPosixSerialPort::WriteBoundMs(size_t Count) {
  // 10 bits per byte on the line (start, 8 data, stop).
  const uint64_t lineMs = (static_cast<uint64_t>(Count) * 10 * 1000 + kSerialBaudRate - 1) / kSerialBaudRate;
  return static_cast<int>(2 * lineMs + 500);
}

bool TPosixSerialPort::Open(const std::string& DevicePath) {
  if (IsOpen()) return true;
  FPath = DevicePath;
  FLastError.clear();
  if (DevicePath.empty()) {
    FLastError = "no device for this port";
    return false;
  }
  const int fd = ::open(DevicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    Fail("cannot open", errno);
    return false;
  }
  auto reject = [&](const char* what) {
    Fail(what, errno);
    ::close(fd);
    return false;
  };
  if (!::isatty(fd)) {
    errno = ENOTTY;
    return reject("not a serial device:");
  }
  // The flock also keeps out root, whom TIOCEXCL does not stop.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) errno = EBUSY;
    return reject("cannot open");
  }
  termios tio{};
  if (::tcgetattr(fd, &tio) != 0) return reject("cannot read the settings of");
  ::cfmakeraw(&tio);
  tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
  tio.c_cflag |= CS8 | CLOCAL | CREAD;
  tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  if (::cfsetispeed(&tio, B19200) != 0 || ::cfsetospeed(&tio, B19200) != 0 ||
      ::tcsetattr(fd, TCSANOW, &tio) != 0)
    return reject("cannot configure");
  ::ioctl(fd, TIOCEXCL);
  // Lines a pseudo-terminal lacks; their absence is no reason to fail.
  int lines = TIOCM_DTR | TIOCM_RTS;
  ::ioctl(fd, TIOCMBIS, &lines);
  FFd = fd;
  FPending.clear();
  FPendingOffset = 0;
  FWriteInFlight = false;
  return true;
}

void TPosixSerialPort::Close() {
  if (!IsOpen()) return;
  WaitWriteDone();
  ::ioctl(FFd, TIOCNXCL);
  ::close(FFd);  // also drops the flock
  FFd = -1;
}

std::optional<size_t> TPosixSerialPort::InputCount() {
  if (!IsOpen()) {
    FLastError = "port closed";
    return std::nullopt;
  }
  int count = 0;
  if (::ioctl(FFd, FIONREAD, &count) != 0 || count < 0) {
    Fail("cannot count the input of", errno);
    return std::nullopt;
  }
  return static_cast<size_t>(count);
}

std::optional<size_t> TPosixSerialPort::Read(std::span<uint8_t> Buffer) {
  if (!IsOpen()) {
    FLastError = "port closed";
    return std::nullopt;
  }
  size_t total = 0;
  while (total < Buffer.size()) {
    const ssize_t n = ::read(FFd, Buffer.data() + total, Buffer.size() - total);
    if (n > 0) {
      total += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      Fail("cannot read", errno);
      return std::nullopt;
    }
    break;  // nothing more waits (or the other end of a pseudo-terminal is gone)
  }
  return total;
}

bool TPosixSerialPort::Push() {
  while (FPendingOffset < FPending.size()) {
    const ssize_t n = ::write(FFd, FPending.data() + FPendingOffset, FPending.size() - FPendingOffset);
    if (n > 0) {
      FPendingOffset += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
    Fail("cannot write", n < 0 ? errno : EIO);
    FPending.clear();
    FPendingOffset = 0;
    return false;
  }
  FPending.clear();
  FPendingOffset = 0;
  return true;
}

bool TPosixSerialPort::StartWrite(std::span<const uint8_t> Bytes) {
  if (!IsOpen()) {
    FLastError = "port closed";
    return false;
  }
  if (FWriteInFlight) WaitWriteDone();
  FPending.assign(Bytes.begin(), Bytes.end());
  FPendingOffset = 0;
  FWriteLength = Bytes.size();
  FWriteInFlight = true;
  if (!Push()) {
    FWriteInFlight = false;
    return false;
  }
  return true;
}

bool TPosixSerialPort::WritePending() {
  if (!IsOpen() || FPending.empty()) return false;
  Push();
  return !FPending.empty();
}

bool TPosixSerialPort::WaitWriteDone() {
  if (!FWriteInFlight) return true;
  FWriteInFlight = false;
  if (!IsOpen()) return false;
  const int64_t deadline = NowMs() + WriteBoundMs(FWriteLength);
  bool ok = true;
  while (!FPending.empty()) {
    pollfd p{FFd, POLLOUT, 0};
    const int left = Remaining(deadline);
    if (left == 0) {
      FLastError = "write timed out on " + FPath;
      ok = false;
      break;
    }
    const int r = ::poll(&p, 1, left);
    if (r < 0 && errno != EINTR) {
      Fail("cannot write", errno);
      ok = false;
      break;
    }
    if (p.revents & (POLLERR | POLLHUP | POLLNVAL)) {
      Fail("cannot write", EIO);
      ok = false;
      break;
    }
    if (!Push()) {
      ok = false;
      break;
    }
  }
  FPending.clear();
  FPendingOffset = 0;
  if (!ok) return false;
  // Handed over; now let the device send it. A device that cannot report
  // its output queue counts as done.
  for (;;) {
    int queued = 0;
    if (::ioctl(FFd, TIOCOUTQ, &queued) != 0 || queued <= 0) return true;
    const int left = Remaining(deadline);
    if (left == 0) {
      FLastError = "write timed out on " + FPath;
      return false;
    }
    ::poll(nullptr, 0, left < 2 ? left : 2);
  }
}

bool TPosixSerialPort::PurgeInput() {
  if (!IsOpen()) return false;
  if (::tcflush(FFd, TCIFLUSH) != 0) {
    Fail("cannot discard the input of", errno);
    return false;
  }
  return true;
}

std::optional<bool> TPosixSerialPort::DSR() {
  if (!IsOpen()) {
    FLastError = "cannot read the lines";
    return std::nullopt;
  }
  int lines = 0;
  if (::ioctl(FFd, TIOCMGET, &lines) != 0) {
    FLastError = "cannot read the lines";
    return std::nullopt;
  }
  return (lines & TIOCM_DSR) != 0;
}
