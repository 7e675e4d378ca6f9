// The UDP transport's algorithms, driven through a scripted socket.
#include <gtest/gtest.h>

#include "comm/udp_transport.h"
#include "fakes/fake_transport_host.h"
#include "fakes/fake_udp_socket.h"

namespace {

constexpr uint32_t kLocal = 0x7F000001;      // 127.0.0.1
constexpr uint32_t kBroadcast = 0x7FFFFFFF;  // 127.255.255.255
constexpr uint32_t kPlcAddress = 0x7F000007;  // 127.0.0.7

class UdpTransportTest : public ::testing::Test {
 protected:
  UdpTransportTest() {
        host.Settings.FLocalAddress = TIPv4SocketAddress{true, kLocal, 0};
    host.Settings.FBroadcastAddress = kBroadcast;
    host.Settings.FAdapterName = "lo";
    settings.FDriverType = kDriverUDP;
    settings.FRemoteUDPPort = 9000;
    settings.FIPAdrAutodetect = false;
    settings.FTargetAddress = "127.0.0.7";
  }
  TUdpTransport& Make() {
    counter.Reset();
    transport = std::make_unique<TUdpTransport>(settings, std::make_unique<TFakeUdpSocket>(sock), host, stamp,
                                                counter, clock);
    EXPECT_TRUE(transport->OpenUdp());
    return *transport;
  }
  void Autodetect() {
    settings.FIPAdrAutodetect = true;
    settings.FTargetAddress = "127.255.255.255";
  }
  std::shared_ptr<TFakeUdpState> sock = std::make_shared<TFakeUdpState>();
  TFakeTransportHost host;
  TCommunicationSettings settings;
  TQnetRxStamp stamp;
  TUdpPortCounter counter;
  FakeClock clock;
  std::unique_ptr<TUdpTransport> transport;
};

TEST_F(UdpTransportTest, OpenBindsTheAdapterAddressOnAnyPort) {
  auto& t = Make();
  ASSERT_EQ(sock->Binds.size(), 1u);
  EXPECT_EQ(sock->Binds[0].Address, kLocal);
  EXPECT_EQ(sock->Binds[0].Port, 0);
  EXPECT_EQ(t.BoundAdapterName(), "lo");
  EXPECT_GE(t.Fd(), 0);
  transport.reset();
  EXPECT_EQ(sock->Closes, 1);
}

TEST_F(UdpTransportTest, RemotePortAndTargetRules) {
  struct Case {
    bool autodetect;
    const char* target;
    int remotePort;
    std::optional<TUdpEndpoint> sentTo;
  } cases[] = {
      {false, "127.0.0.7", 9000, TUdpEndpoint{kPlcAddress, 9000}},
      {true, "127.255.255.255", 9000, TUdpEndpoint{kBroadcast, 8442}},  // detection always uses 8442
      {false, "", 9000, std::nullopt},
      {false, "plc.example", 9000, std::nullopt},  // no name lookups
      {false, "0.0.0.0", 9000, std::nullopt},
      {false, "127.0.0.7", 0, std::nullopt},
      {false, "127.0.0.7", 70000, std::nullopt},
  };
  for (const auto& c : cases) {
    sock = std::make_shared<TFakeUdpState>();
    settings.FIPAdrAutodetect = c.autodetect;
    settings.FTargetAddress = c.target;
    settings.FRemoteUDPPort = c.remotePort;
    auto& t = Make();
    const auto frame = AnswerFrame(100, 7);
    t.SendUdp(frame);
    if (c.sentTo) {
      ASSERT_EQ(sock->Sent.size(), 1u) << c.target;
      EXPECT_EQ(sock->Sent[0].Peer.Address, c.sentTo->Address) << c.target;
      EXPECT_EQ(sock->Sent[0].Peer.Port, c.sentTo->Port) << c.target;
      EXPECT_EQ(sock->Sent[0].Bytes, frame);
    } else {
      EXPECT_TRUE(sock->Sent.empty()) << c.target << " " << c.remotePort;
    }
    EXPECT_FALSE(t.IsUdpBusy());
  }
  EXPECT_EQ(host.TransmittedFrames, 0);  // UDP sends are not counted there
}

TEST_F(UdpTransportTest, NewPortForEachMessageCountsFrom12001AndWraps) {
  host.Settings.FNewPortPerMessage = true;
  auto& t = Make();
  const auto frame = AnswerFrame(100, 7);
  for (int i = 0; i < 3; ++i) t.SendUdp(frame);
  ASSERT_EQ(sock->Sent.size(), 3u);
  EXPECT_EQ(sock->Sent[0].LocalPort, 12001);
  EXPECT_EQ(sock->Sent[1].LocalPort, 12002);
  EXPECT_EQ(sock->Sent[2].LocalPort, 12003);
  EXPECT_EQ(sock->Binds.back().Address, kLocal);

  counter.FValue = 12998;
  t.SendUdp(frame);
  t.SendUdp(frame);
  EXPECT_EQ(sock->Sent[3].LocalPort, 12999);
  EXPECT_EQ(sock->Sent[4].LocalPort, 12000);

  // A port someone else holds: the datagram leaves from the previous one.
  sock->RefusedPorts.insert(12001);
  t.SendUdp(frame);
  ASSERT_EQ(sock->Sent.size(), 6u);
  EXPECT_EQ(sock->Sent[5].LocalPort, 12000);
}

TEST_F(UdpTransportTest, FramesAreReassembledAcrossAndSplitWithinDatagrams) {
  auto& t = Make();
  const auto a = AnswerFrame(7, 100, {1, 2});
  const auto b = AnswerFrame(8, 100, {3});
  sock->Receive({a.begin(), a.begin() + 6}, kPlcAddress);
  sock->Receive({a.begin() + 6, a.end()}, kPlcAddress);
  std::vector<uint8_t> both(b);
  both.insert(both.end(), a.begin(), a.end());
  sock->Receive(both, kPlcAddress);
  t.OnReadable();
  ASSERT_EQ(host.Frames.size(), 3u);
  EXPECT_EQ(host.Frames[0], a);
  EXPECT_EQ(host.Frames[1], b);
  EXPECT_EQ(host.Frames[2], a);
  EXPECT_EQ(host.RxSignals, 3);
}

TEST_F(UdpTransportTest, AddressDetectionTakesTheOpenPlcsAnswerFromTheBroadcast) {
  struct Case {
    const char* name;
    bool autodetect;
    uint32_t broadcast;
    std::optional<uint32_t> openNAD;
    uint32_t sender;
    bool detected;
  } cases[] = {
      {"open PLC answers the broadcast request", true, kBroadcast, 7, 7, true},
      {"fixed host address", false, kBroadcast, 7, 7, false},
      {"another PLC answers", true, kBroadcast, 7, 8, false},
      {"no request open", true, kBroadcast, std::nullopt, 7, false},
      {"no broadcast address", true, 0, 7, 7, false},
      {"target is not the broadcast", true, 0x7F0000FF, 7, 7, false},
  };
  for (const auto& c : cases) {
    host.Frames.clear();
    host.Dedicated.clear();
    sock = std::make_shared<TFakeUdpState>();
    settings.FIPAdrAutodetect = c.autodetect;
    settings.FTargetAddress = c.autodetect ? "127.255.255.255" : "127.0.0.7";
    host.Settings.FBroadcastAddress = c.broadcast;
    host.OpenNAD = c.openNAD;
    auto& t = Make();
    t.SendUdp(AnswerFrame(100, 7));
    sock->Receive(AnswerFrame(c.sender, 100, {0, 2}), kPlcAddress);
    t.OnReadable();
    if (c.detected) {
      EXPECT_TRUE(host.Frames.empty()) << c.name;
      EXPECT_EQ(host.Dedicated, std::vector<uint32_t>{kPlcAddress}) << c.name;
    } else {
      EXPECT_EQ(host.Frames.size(), 1u) << c.name;
      EXPECT_TRUE(host.Dedicated.empty()) << c.name;
    }
  }
}

TEST_F(UdpTransportTest, DatagramsWhileCommunicationIsOffAreDroppedNotKeptForLater) {
  auto& t = Make();
  host.Comm = false;
  sock->Receive(AnswerFrame(7, 100), kPlcAddress);
  t.OnReadable();
  EXPECT_TRUE(host.Frames.empty());
  EXPECT_TRUE(sock->Incoming.empty());
  EXPECT_EQ(host.RxSignals, 0);
  host.Comm = true;
  t.OnReadable();
  EXPECT_TRUE(host.Frames.empty());
  EXPECT_EQ(t.RxBuffer().FCount, 0u);
}

TEST_F(UdpTransportTest, BusyGuardsAgainstReentry) {
  Autodetect();
  auto& t = Make();
  sock->Receive(AnswerFrame(7, 100), kPlcAddress);
  sock->Receive(AnswerFrame(8, 100), kPlcAddress);
  int nestedReads = -1;
  bool first = true;
  host.OnFrame = [&] {
    if (!first) return;
    first = false;
    EXPECT_TRUE(t.IsUdpBusy());
    // A nested event does not read the next datagram under the running one.
    const int before = sock->Reads;
    t.OnReadable();
    nestedReads = sock->Reads - before;
    t.SetActive(false);
  };
  t.OnReadable();
  EXPECT_EQ(nestedReads, 0);
  EXPECT_EQ(host.Frames.size(), 2u);  // the second waited for the outer loop
  EXPECT_EQ(host.Waiting, std::vector<std::string>{"Waiting 127.255.255.255..."});
  EXPECT_FALSE(t.IsUdpBusy());
  t.SetActive(false);  // idle: nothing to wait for
  EXPECT_EQ(host.Waiting.size(), 1u);
}

TEST_F(UdpTransportTest, OneEventTakesABoundedNumberOfDatagrams) {
  auto& t = Make();
  for (int i = 0; i < kUdpDatagramsPerEvent + 3; ++i) sock->Receive(AnswerFrame(7, 100), kPlcAddress);
  t.OnReadable();
  EXPECT_EQ(host.Frames.size(), static_cast<size_t>(kUdpDatagramsPerEvent));
  t.OnReadable();
  EXPECT_EQ(host.Frames.size(), static_cast<size_t>(kUdpDatagramsPerEvent + 3));
}

TEST_F(UdpTransportTest, StaleHalfFrameIsDroppedAfter2500Ms) {
  host.Settings.FLogSerialComm = true;
  auto& t = Make();
  const auto a = AnswerFrame(7, 100, {1, 2});
  sock->Receive({a.begin(), a.begin() + 6}, kPlcAddress);
  t.OnReadable();
  clock.Advance(3000);
  sock->Receive({a.begin() + 6, a.end()}, kPlcAddress);
  t.OnReadable();
  EXPECT_TRUE(host.Frames.empty());
  EXPECT_NE(std::find(host.Lines.begin(), host.Lines.end(), "Reseted rx buffer"), host.Lines.end());
}

TEST_F(UdpTransportTest, FailedBindLeavesTheDriverMute) {
  sock->RefusedPorts.insert(0);
  counter.Reset();
  TUdpTransport t(settings, std::make_unique<TFakeUdpSocket>(sock), host, stamp, counter, clock);
  EXPECT_FALSE(t.OpenUdp());
  EXPECT_FALSE(t.LastError().empty());
  t.SendUdp(AnswerFrame(100, 7));
  t.OnReadable();
  EXPECT_TRUE(sock->Sent.empty());
}

}  // namespace
