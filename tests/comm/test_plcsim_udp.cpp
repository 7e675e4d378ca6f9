// Runs the built plcsim on 127.0.0.1 with a port the kernel picks and asks
// it for its status over UDP. Every wait is bounded; the child is killed at
// the end whatever happened.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "comm/qnet_codec.h"
#include "comm/qnet_frame.h"
#include "sim_io.h"

extern char** environ;

namespace {

class Child {
 public:
  ~Child() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    for (int fd : {in_, out_})
      if (fd >= 0) ::close(fd);
  }
  bool Start(std::vector<std::string> args) {
    int inPipe[2], outPipe[2];
    if (::pipe(inPipe) != 0 || ::pipe(outPipe) != 0) return false;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, inPipe[0], 0);
    posix_spawn_file_actions_adddup2(&fa, outPipe[1], 1);
    posix_spawn_file_actions_addclose(&fa, inPipe[1]);
    posix_spawn_file_actions_addclose(&fa, outPipe[0]);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int rc = ::posix_spawn(&pid_, argv[0], &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    ::close(inPipe[0]);
    ::close(outPipe[1]);
    in_ = inPipe[1];
    out_ = outPipe[0];
    if (rc != 0) pid_ = -1;
    return rc == 0;
  }
  // One line of the child's stdout, waiting at most timeoutMs.
  bool ReadLine(std::string& line, int timeoutMs) {
    line.clear();
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
      pollfd p{out_, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      char c;
      if (::read(out_, &c, 1) != 1) return false;
      if (c == '\n') return true;
      line.push_back(c);
    }
    return false;
  }
  void Write(const std::string& s) { ASSERT_EQ(::write(in_, s.data(), s.size()), static_cast<ssize_t>(s.size())); }
  // Waits for the exit for at most timeoutMs; returns the exit status or -1.
  int Wait(int timeoutMs) {
    for (int waited = 0; waited <= timeoutMs; waited += 10) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
  }

 private:
  pid_t pid_ = -1;
  int in_ = -1, out_ = -1;
};

TEST(PlcsimProcess, AnswersStatusOverLoopbackUdp) {
  Child sim;
  ASSERT_TRUE(sim.Start({NORVOOPC_BIN_DIR "/plcsim", "--udp", "127.0.0.1:0", "--nad", "1000", "--status",
                         "1000:1:3"}));
  std::string line;
  ASSERT_TRUE(sim.ReadLine(line, 5000));
  const std::string prefix = "plcsim: udp 127.0.0.1:";
  ASSERT_EQ(line.rfind(prefix, 0), 0u) << line;
  const int port = std::stoi(line.substr(prefix.size()));
  ASSERT_GT(port, 0);

  const int s = ::socket(AF_INET, SOCK_DGRAM, 0);
  ASSERT_GE(s, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(port));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  TQnetTxBuffer tx;
  ASSERT_TRUE(EncodeReadStatus(tx, 100, 1000, 0));
  ASSERT_EQ(::sendto(s, tx.FTxBuffer.data(), tx.FTxLength, 0, reinterpret_cast<sockaddr*>(&to), sizeof to),
            static_cast<ssize_t>(tx.FTxLength));
  pollfd p{s, POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 5000), 1);
  uint8_t buf[2048];
  const ssize_t n = ::recv(s, buf, sizeof buf, 0);
  ::close(s);
  TQnetFrame f;
  ASSERT_TRUE(ParseQnetFrame({buf, static_cast<size_t>(n)}, f));
  EXPECT_EQ(f.FSenderNAD, 1000u);
  EXPECT_EQ(f.FReceiverNAD, 100u);
  ASSERT_EQ(f.FDataLength, 2u);
  EXPECT_EQ(f.FData[0], 1);
  EXPECT_EQ(f.FData[1], 3);

  sim.Write("stats\nquit\n");
  ASSERT_TRUE(sim.ReadLine(line, 5000));
  EXPECT_EQ(line.rfind("frames 1 errors 0 answers 1", 0), 0u) << line;
  EXPECT_EQ(sim.Wait(5000), 0);
}

TEST(PlcsimProcess, ServesTheDemoProject) {
  Child sim;
  ASSERT_TRUE(sim.Start({NORVOOPC_BIN_DIR "/plcsim", "--project", NORVOOPC_SOURCE_DIR "/examples/demo/demo.alc",
                         "--udp", "127.0.0.1:0", "--socket-period", "50"}));
  std::string line;
  ASSERT_TRUE(sim.ReadLine(line, 5000));
  const std::string prefix = "plcsim: udp 127.0.0.1:";
  ASSERT_EQ(line.rfind(prefix, 0), 0u) << line;
  const int port = std::stoi(line.substr(prefix.size()));

  const int s = ::socket(AF_INET, SOCK_DGRAM, 0);
  ASSERT_GE(s, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(port));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  TQnetTxBuffer tx;
  // Speed of CONVEYOR NAD 3, an int at 0x12: any value, but an answer of two bytes.
  for (uint32_t nad : {1u, 2u, 3u, 4u}) {
    ASSERT_TRUE(nad == 3 ? EncodeReadBlock(tx, 100, nad, 0x12, 2, 0) : EncodeReadStatus(tx, 100, nad, 0));
    ASSERT_EQ(::sendto(s, tx.FTxBuffer.data(), tx.FTxLength, 0, reinterpret_cast<sockaddr*>(&to), sizeof to),
                       static_cast<ssize_t>(tx.FTxLength));
  }
  // Answers from all four, and socket frames sent to the last sender.
  std::vector<uint32_t> answered, socketSenders;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while ((answered.size() < 4 || socketSenders.size() < 2) && std::chrono::steady_clock::now() < end) {
    pollfd p{s, POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    uint8_t buf[2048];
    const ssize_t n = ::recv(s, buf, sizeof buf, 0);
    TQnetFrame f;
    if (n <= 0 || !ParseQnetFrame({buf, static_cast<size_t>(n)}, f)) continue;
    if (f.FMsgTyp == kMsgTypSocket) {
      socketSenders.push_back(f.FSenderNAD);
    } else {
      EXPECT_EQ(f.FMsgDir, kMsgDirAnswer);
      EXPECT_EQ(f.FDataLength, 2u);
      answered.push_back(f.FSenderNAD);
    }
  }
  ::close(s);
  EXPECT_EQ(answered, (std::vector<uint32_t>{1, 2, 3, 4}));
  ASSERT_GE(socketSenders.size(), 2u);
  for (uint32_t sender : socketSenders) EXPECT_TRUE(sender == 1 || sender == 4) << sender;

  sim.Write("quit\n");
  ASSERT_TRUE(sim.ReadLine(line, 5000));
  EXPECT_EQ(sim.Wait(5000), 0);
}

// Whether this kernel lets a socket sit on the loopback broadcast address.
bool CanBindLoopbackBroadcast(std::string& Why) {
  const int s = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(0x7FFFFFFFu);
  const bool ok = s >= 0 && ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  if (!ok) Why = std::string("cannot bind to 127.255.255.255: ") + std::strerror(errno);
  if (s >= 0) ::close(s);
  return ok;
}

TEST(PlcsimBroadcast, RefusesAnythingButABroadcastOfItsLoopbackNetwork) {
  TSimUdp unopened;
  std::string error;
  EXPECT_FALSE(unopened.OpenBroadcast("127.255.255.255", error)) << "needs the loopback bind first";

  TSimUdp udp;
  ASSERT_TRUE(udp.Open("127.0.0.1", 0, {}, "", 0, error)) << error;
  for (const char* bad : {"192.0.2.255", "255.255.255.255", "0.0.0.0", "224.0.0.1", "127.0.0.1", "127.0.0.2",
                          "127.255.255.254", "127.0.0.0", "128.255.255.255", "localhost", ""}) {
    EXPECT_FALSE(udp.OpenBroadcast(bad, error)) << bad;
    EXPECT_LT(udp.BroadcastFd(), 0) << bad;
  }
}

// A request sent to the loopback broadcast address reaches the simulator,
// and the answer comes from its own address and port, as a detecting
// server needs.
TEST(PlcsimBroadcast, HearsTheLoopbackBroadcastAndAnswersFromItsOwnAddress) {
  std::string why;
  if (!CanBindLoopbackBroadcast(why)) GTEST_SKIP() << why;
  Child sim;
  ASSERT_TRUE(sim.Start({NORVOOPC_BIN_DIR "/plcsim", "--udp", "127.0.0.1:0", "--broadcast", "127.255.255.255",
                         "--nad", "1000", "--status", "1000:1:3"}));
  std::string line;
  ASSERT_TRUE(sim.ReadLine(line, 5000));
  const std::string prefix = "plcsim: udp 127.0.0.1:";
  ASSERT_EQ(line.rfind(prefix, 0), 0u) << line;
  const int port = std::stoi(line.substr(prefix.size()));

  const int s = ::socket(AF_INET, SOCK_DGRAM, 0);
  ASSERT_GE(s, 0);
  const int on = 1;
  ::setsockopt(s, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(port));
  to.sin_addr.s_addr = htonl(0x7FFFFFFFu);
  TQnetTxBuffer tx;
  ASSERT_TRUE(EncodeReadStatus(tx, 100, 1000, 0));
  if (::sendto(s, tx.FTxBuffer.data(), tx.FTxLength, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) < 0) {
    const std::string error = std::strerror(errno);
    ::close(s);
    GTEST_SKIP() << "the kernel refused a datagram to 127.255.255.255: " << error;
  }
  pollfd p{s, POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 5000), 1) << "no answer to the broadcast request";
  uint8_t buf[2048];
  sockaddr_in from{};
  socklen_t fromLen = sizeof from;
  const ssize_t n = ::recvfrom(s, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
  ::close(s);
  EXPECT_EQ(ntohl(from.sin_addr.s_addr), INADDR_LOOPBACK);
  EXPECT_EQ(ntohs(from.sin_port), port);
  TQnetFrame f;
  ASSERT_TRUE(ParseQnetFrame({buf, static_cast<size_t>(n)}, f));
  EXPECT_EQ(f.FSenderNAD, 1000u);
  EXPECT_EQ(f.FMsgDir, kMsgDirAnswer);

  sim.Write("stats\nquit\n");
  ASSERT_TRUE(sim.ReadLine(line, 5000));
  EXPECT_EQ(line.rfind("frames 1 errors 0 answers 1", 0), 0u) << "heard once: " << line;
  EXPECT_EQ(sim.Wait(5000), 0);
}

}  // namespace
