// The POSIX UDP socket on the loopback interface only.
#include <gtest/gtest.h>
#include <poll.h>

#include <vector>

#include "platform/udp_socket.h"

namespace {

constexpr uint32_t kLoopback = 0x7F000001;           // 127.0.0.1
constexpr uint32_t kLoopbackBroadcast = 0x7FFFFFFF;  // 127.255.255.255

bool WaitReadable(int fd, int ms = 2000) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, ms) == 1;
}

TEST(UdpSocket, TwoLoopbackSocketsExchangeDatagrams) {
  TPosixUdpSocket a, b;
  ASSERT_TRUE(a.Bind(kLoopback, 0)) << a.LastError();
  ASSERT_TRUE(b.Bind(kLoopback, 0)) << b.LastError();
  EXPECT_EQ(a.Local().Address, kLoopback);
  EXPECT_NE(a.Local().Port, 0);

  const std::vector<uint8_t> msg = {0xAA, 0x55, 1, 2, 3};
  ASSERT_TRUE(a.SendTo(msg, b.Local())) << a.LastError();
  ASSERT_TRUE(WaitReadable(b.Fd()));
  std::vector<uint8_t> buf(64);
  TUdpEndpoint from;
  auto n = b.ReceiveFrom(buf, from);
  ASSERT_TRUE(n);
  buf.resize(*n);
  EXPECT_EQ(buf, msg);
  EXPECT_EQ(from.Address, kLoopback);
  EXPECT_EQ(from.Port, a.Local().Port);

  // Nothing more waits: the receive returns at once.
  EXPECT_EQ(b.ReceiveFrom(buf, from), std::nullopt);
}

TEST(UdpSocket, LongDatagramIsCutToTheBuffer) {
  TPosixUdpSocket a, b;
  ASSERT_TRUE(a.Bind(kLoopback, 0));
  ASSERT_TRUE(b.Bind(kLoopback, 0));
  ASSERT_TRUE(a.SendTo(std::vector<uint8_t>(3000, 7), b.Local()));
  ASSERT_TRUE(WaitReadable(b.Fd()));
  std::vector<uint8_t> buf(2900);
  TUdpEndpoint from;
  EXPECT_EQ(b.ReceiveFrom(buf, from), 2900u);
  EXPECT_EQ(b.ReceiveFrom(buf, from), std::nullopt);  // the rest is gone, not a second datagram
}

TEST(UdpSocket, MovingToAnotherPortKeepsTheDescriptorNumber) {
  TPosixUdpSocket a, peer, squatter;
  ASSERT_TRUE(a.Bind(kLoopback, 0));
  ASSERT_TRUE(peer.Bind(kLoopback, 0));
  ASSERT_TRUE(squatter.Bind(kLoopback, 0));
  const int fd = a.Fd();
  const uint16_t first = a.Local().Port;

  // A port that is taken: the old binding stays.
  EXPECT_FALSE(a.Bind(kLoopback, squatter.Local().Port));
  EXPECT_EQ(a.Local().Port, first);

  ASSERT_TRUE(a.Bind(kLoopback, 0));
  EXPECT_EQ(a.Fd(), fd);
  EXPECT_NE(a.Local().Port, first);

  ASSERT_TRUE(peer.SendTo(std::vector<uint8_t>{9}, a.Local()));
  ASSERT_TRUE(WaitReadable(fd));
  std::vector<uint8_t> buf(8);
  TUdpEndpoint from;
  EXPECT_EQ(a.ReceiveFrom(buf, from), 1u);
}

TEST(UdpSocket, ClosedSocketRefusesQuietly) {
  TPosixUdpSocket s;
  std::vector<uint8_t> buf(8);
  TUdpEndpoint from;
  EXPECT_FALSE(s.IsBound());
  EXPECT_EQ(s.Fd(), -1);
  EXPECT_FALSE(s.SendTo(buf, {kLoopback, 9}));
  EXPECT_EQ(s.ReceiveFrom(buf, from), std::nullopt);
  ASSERT_TRUE(s.Bind(kLoopback, 0));
  s.Close();
  EXPECT_FALSE(s.IsBound());
}

TEST(UdpSocket, BroadcastOnTheLoopbackNetwork) {
  TPosixUdpSocket receiver, sender;
  if (!receiver.Bind(kLoopbackBroadcast, 0))
    GTEST_SKIP() << "kernel refuses a socket on 127.255.255.255: " << receiver.LastError();
  ASSERT_TRUE(sender.Bind(kLoopback, 0));
  if (!sender.SendTo(std::vector<uint8_t>{1, 2}, {kLoopbackBroadcast, receiver.Local().Port}))
    GTEST_SKIP() << "kernel refuses broadcast on the loopback: " << sender.LastError();
  if (!WaitReadable(receiver.Fd(), 1000)) GTEST_SKIP() << "loopback broadcast was not delivered";
  std::vector<uint8_t> buf(8);
  TUdpEndpoint from;
  EXPECT_EQ(receiver.ReceiveFrom(buf, from), 2u);
  EXPECT_EQ(from.Address, kLoopback);
  EXPECT_EQ(from.Port, sender.Local().Port);
}

TEST(UdpSocket, ParsesDottedAddressesOnly) {
  struct Case {
    const char* text;
    std::optional<uint32_t> want;
  } cases[] = {
      {"127.0.0.1", kLoopback},       {"198.51.100.255", 0xC63364FF}, {"0.0.0.0", 0u},
      {"255.255.255.255", 0xFFFFFFFF}, {"", std::nullopt},            {"localhost", std::nullopt},
      {"1.2.3", std::nullopt},         {"1.2.3.256", std::nullopt},   {" 1.2.3.4", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseIPv4(c.text), c.want) << c.text;
}

}  // namespace
