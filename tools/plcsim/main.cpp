// plcsim: simulated Q-net PLCs on UDP or a serial line, driven by a single
// poll loop, with control lines on stdin.
#include <poll.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "sim_engine.h"
#include "sim_io.h"
#include "sim_options.h"

namespace {

volatile sig_atomic_t gStop = 0;

void OnSignal(int) { gStop = 1; }

uint32_t NowMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u);
}

std::string Hex(std::span<const uint8_t> b) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string s;
  for (uint8_t x : b) {
    s.push_back(kHex[x >> 4]);
    s.push_back(kHex[x & 15]);
    s.push_back(' ');
  }
  return s;
}

void InstallSignals() {
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;  // no restart: poll returns so the loop sees the flag
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

}  // namespace

int main(int argc, char** argv) {
  TSimOptions opt;
  std::string error;
  if (!ParseSimOptions(argc, argv, opt, error)) {
    std::fprintf(stderr, "plcsim: %s\n", error.c_str());
    return 2;
  }
  if (opt.FHelp) {
    std::fputs(SimHelpText(), stdout);
    return 0;
  }
  TSimulator sim;
  std::vector<std::string> notes;
  if (!ApplySimOptions(opt, sim, error, &notes)) {
    std::fprintf(stderr, "plcsim: %s\n", error.c_str());
    return 2;
  }
  // Stdout carries the address line and control replies only.
  for (const std::string& n : notes) std::fprintf(stderr, "plcsim: %s\n", n.c_str());

  const bool serial = opt.FPty || !opt.FSerial.empty();
  TSimUdp udp;
  TSimSerial line;
  sim.SetTransport(serial ? TQnetTransport::Serial : TQnetTransport::Udp);
  if (serial) {
    std::string name = opt.FSerial;
    const bool ok = opt.FPty ? line.OpenPty(opt.FBaud, name, error) : line.OpenDevice(opt.FSerial, opt.FBaud, error);
    if (!ok) {
      std::fprintf(stderr, "plcsim: %s\n", error.c_str());
      return 1;
    }
    std::printf("plcsim: %s %s\n", opt.FPty ? "pty" : "serial", name.c_str());
  } else {
    if (!udp.Open(opt.FUdp.FHost, opt.FUdp.FPort, opt.FAllow, opt.FPeer.FHost, opt.FPeer.FPort, error)) {
      std::fprintf(stderr, "plcsim: %s\n", error.c_str());
      return 1;
    }
    if (!opt.FBroadcast.empty()) {
      if (!udp.OpenBroadcast(opt.FBroadcast, error)) {
        std::fprintf(stderr, "plcsim: %s\n", error.c_str());
        return 1;
      }
      // Stdout keeps one address line: scripts read the port from it.
      std::fprintf(stderr, "plcsim: hearing broadcasts on %s:%u\n", SimIPv4Text(udp.BroadcastIp()).c_str(),
                   udp.BoundPort());
    }
    std::printf("plcsim: udp %s:%u\n", SimIPv4Text(udp.BoundIp()).c_str(), udp.BoundPort());
  }
  std::fflush(stdout);
  InstallSignals();

  const int ioFd = serial ? line.Fd() : udp.Fd();
  bool stdinOpen = true;
  std::string pendingLine;
  std::vector<uint8_t> buf;
  const uint32_t start = NowMs();
  bool quit = false;

  while (!quit && !gStop) {
    uint32_t now = NowMs();
    if (opt.FDurationMs && TickDiff(now, start) >= opt.FDurationMs) break;
    sim.Tick(now);
    for (TSimOutput& out : sim.TakeDue(now)) {
      if (opt.FVerbose) std::fprintf(stderr, "tx %s\n", Hex(out.FBytes).c_str());
      if (serial) line.Queue(out.FBytes, now);
      else udp.Send(out.FBytes, out.FTo);
    }
    if (serial) line.Pump(now);
    for (const std::string& e : sim.TakeEvents()) std::fprintf(stderr, "plcsim: %s\n", e.c_str());

    uint32_t timeout = sim.MsUntilNextWork(now, 100);
    if (serial && line.Pending()) timeout = std::min(timeout, std::max<uint32_t>(1, line.MsUntilNextByte()));
    if (opt.FDurationMs) timeout = std::min(timeout, opt.FDurationMs - std::min(opt.FDurationMs, TickDiff(now, start)));
    pollfd fds[3] = {
        {ioFd, POLLIN, 0}, {stdinOpen ? 0 : -1, POLLIN, 0}, {serial ? -1 : udp.BroadcastFd(), POLLIN, 0}};
    const int r = ::poll(fds, 3, static_cast<int>(timeout));
    if (r < 0) {
      if (errno == EINTR) continue;
      std::perror("plcsim: poll");
      return 1;
    }
    now = NowMs();
    if ((fds[0].revents | fds[2].revents) & (POLLIN | POLLERR | POLLHUP)) {
      // Bounded per pass, so a flood cannot starve the control lines.
      for (int i = 0; i < 64; ++i) {
        TSimEndpoint from;
        bool got = serial ? line.Read(buf) : udp.Receive(buf, from);
        if (!got) {
          if (serial && buf.empty() && (fds[0].revents & (POLLERR | POLLHUP))) {
            std::fprintf(stderr, "plcsim: serial line closed\n");
            quit = true;
          }
          break;
        }
        if (buf.empty()) continue;
        if (opt.FVerbose) std::fprintf(stderr, "rx %s\n", Hex(buf).c_str());
        sim.Receive(buf, now, from);
      }
    }
    if (stdinOpen && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) {
      char chunk[1024];
      const ssize_t n = ::read(0, chunk, sizeof chunk);
      if (n <= 0) {
        stdinOpen = false;  // no more control lines; keep simulating
      } else {
        pendingLine.append(chunk, static_cast<size_t>(n));
        size_t nl;
        while (!quit && (nl = pendingLine.find('\n')) != std::string::npos) {
          const std::string cmd = pendingLine.substr(0, nl);
          pendingLine.erase(0, nl + 1);
          std::printf("%s\n", sim.Control(cmd, quit).c_str());
        }
        if (pendingLine.size() > 4096) {
          std::printf("error: line too long\n");
          pendingLine.clear();
        }
        std::fflush(stdout);
      }
    }
  }
  std::fprintf(stderr, "plcsim: stopped\n");
  return 0;
}
