// The UDP transport on real sockets, loopback only: a request out, the
// answer back in, and address detection through the loopback broadcast.
#include <gtest/gtest.h>
#include <poll.h>

#include "comm/udp_transport.h"
#include "fakes/fake_transport_host.h"
#include "platform/udp_socket.h"

namespace {

constexpr uint32_t kLoopback = 0x7F000001;
constexpr uint32_t kLoopbackBroadcast = 0x7FFFFFFF;

bool WaitReadable(int fd, int ms = 2000) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, ms) == 1;
}

class UdpLoopback : public ::testing::Test {
 protected:
  UdpLoopback() {
        host.Settings.FLocalAddress = TIPv4SocketAddress{true, kLoopback, 0};
    host.Settings.FBroadcastAddress = kLoopbackBroadcast;
    settings.FDriverType = kDriverUDP;
  }
  // The PLC side: takes one request and answers from its own socket.
  std::vector<uint8_t> AnswerOnce(TPosixUdpSocket& plc, uint32_t plcNAD) {
    EXPECT_TRUE(WaitReadable(plc.Fd()));
    std::vector<uint8_t> request(2900);
    TUdpEndpoint from;
    auto n = plc.ReceiveFrom(request, from);
    if (!n) return {};
    request.resize(*n);
    EXPECT_TRUE(plc.SendTo(AnswerFrame(plcNAD, 100, {0x2A}), from));
    return request;
  }
  TFakeTransportHost host;
  TCommunicationSettings settings;
  TQnetRxStamp stamp;
  TUdpPortCounter counter;
  FakeClock clock;
};

TEST_F(UdpLoopback, RequestAndAnswerWithAFixedHost) {
  TPosixUdpSocket plc;
  ASSERT_TRUE(plc.Bind(kLoopback, 0));
  settings.FIPAdrAutodetect = false;
  settings.FTargetAddress = "127.0.0.1";
  settings.FRemoteUDPPort = plc.Local().Port;
  TUdpTransport t(settings, std::make_unique<TPosixUdpSocket>(), host, stamp, counter, clock);
  ASSERT_TRUE(t.OpenUdp()) << t.LastError();

  const auto request = AnswerFrame(100, 7);
  t.SendUdp(request);
  EXPECT_EQ(AnswerOnce(plc, 7), request);
  ASSERT_TRUE(WaitReadable(t.Fd()));
  t.OnReadable();
  ASSERT_EQ(host.Frames.size(), 1u);
  EXPECT_EQ(host.Frames[0], AnswerFrame(7, 100, {0x2A}));
  t.OnReadable();  // nothing more: returns at once
  EXPECT_EQ(host.Frames.size(), 1u);
}

TEST_F(UdpLoopback, BroadcastRequestAndDetectedAddress) {
  TPosixUdpSocket plc;
  if (!plc.Bind(kLoopbackBroadcast, kPlcUdpPort))
    GTEST_SKIP() << "cannot listen on 127.255.255.255:8442: " << plc.LastError();
  settings.FIPAdrAutodetect = true;
  settings.FTargetAddress = "127.255.255.255";
  host.OpenNAD = 7;
  TUdpTransport t(settings, std::make_unique<TPosixUdpSocket>(), host, stamp, counter, clock);
  ASSERT_TRUE(t.OpenUdp()) << t.LastError();

  t.SendUdp(AnswerFrame(100, 7));
  if (!WaitReadable(plc.Fd(), 1000)) GTEST_SKIP() << "loopback broadcast was not delivered";
  AnswerOnce(plc, 7);
  ASSERT_TRUE(WaitReadable(t.Fd()));
  t.OnReadable();
  EXPECT_TRUE(host.Frames.empty());
  EXPECT_EQ(host.Dedicated, std::vector<uint32_t>{kLoopback});
}

}  // namespace
