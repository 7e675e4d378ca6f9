#include "platform/signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace {

volatile sig_atomic_t gWriteFd = -1;

void OnShutdownSignal(int signo) {
  const int saved = errno;
  const unsigned char byte = static_cast<unsigned char>(signo);
  if (gWriteFd >= 0) {
    // A full pipe already holds a pending request; losing this byte is fine.
    [[maybe_unused]] const ssize_t n = ::write(gWriteFd, &byte, 1);
  }
  errno = saved;
}

void SetAction(int signo, void (*handler)(int)) {
  struct sigaction sa {};
  sa.sa_handler = handler;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  ::sigaction(signo, &sa, nullptr);
}

}  // namespace

TShutdownSignals::TShutdownSignals() {
  int fds[2];
  if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0) return;
  FReadFd = fds[0];
  FWriteFd = fds[1];
  gWriteFd = FWriteFd;
  SetAction(SIGTERM, OnShutdownSignal);
  SetAction(SIGINT, OnShutdownSignal);
  SetAction(SIGHUP, SIG_IGN);
  // Writes to a client or instance socket whose peer left must not kill us.
  SetAction(SIGPIPE, SIG_IGN);
}

TShutdownSignals::~TShutdownSignals() {
  if (FReadFd < 0) return;
  SetAction(SIGTERM, SIG_DFL);
  SetAction(SIGINT, SIG_DFL);
  gWriteFd = -1;
  ::close(FReadFd);
  ::close(FWriteFd);
}

bool TShutdownSignals::TakePending() {
  if (FReadFd < 0) return false;
  bool any = false;
  unsigned char buf[64];
  for (;;) {
    const ssize_t n = ::read(FReadFd, buf, sizeof buf);
    if (n > 0) {
      any = true;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    return any;
  }
}
