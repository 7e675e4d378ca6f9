// The serial transport's algorithms, driven through a scripted port.
#include <gtest/gtest.h>

#include "comm/serial_transport.h"
#include "comm/transport_text.h"
#include "fakes/fake_serial_port.h"
#include "fakes/fake_transport_host.h"
#include "platform/date_time.h"

namespace {

class SerialTransportTest : public ::testing::Test {
 protected:
  SerialTransportTest() {
    clock.SetNow(*TryEncodeDate(2024, 3, 5) + *TryEncodeTime(13, 7, 9, 45));
    host.Settings.FLogSerialComm = false;
  }
  TSerialTransport& Make() {
    transport = std::make_unique<TSerialTransport>(
        3, std::make_unique<TFakeSerialPort>(port), host, stamp, clock,
        [](int n) { return "/dev/fake" + std::to_string(n); });
    return *transport;
  }
  std::shared_ptr<TFakeSerialState> port = std::make_shared<TFakeSerialState>();
  TFakeTransportHost host;
  TQnetRxStamp stamp;
  FakeClock clock;
  std::unique_ptr<TSerialTransport> transport;
};

TEST_F(SerialTransportTest, PortInUseStaysClosedAndEachSendRetriesTheOpen) {
  port->Busy.insert("/dev/fake3");
  auto& t = Make();
  t.SetActive(true);
  EXPECT_FALSE(t.IsOpen());
  EXPECT_FALSE(t.OpenError().empty());
  EXPECT_EQ(t.PortIndicatorState(true, kIndicatorDsrHigh), kIndicatorCantOpen);
  EXPECT_EQ(host.PortChanges, 1);

  const auto frame = AnswerFrame(100, 1);
  t.SendSerial(frame);
  EXPECT_EQ(port->Opened.size(), 2u);
  port->Busy.clear();  // the other program lets go
  t.SendSerial(frame);  // opens, but this frame is not sent
  EXPECT_TRUE(t.IsOpen());
  EXPECT_TRUE(t.OpenError().empty());
  EXPECT_TRUE(port->Writes.empty());
  EXPECT_EQ(host.TransmittedFrames, 0);
  t.SendSerial(frame);
  ASSERT_EQ(port->Writes.size(), 1u);
  EXPECT_EQ(port->Writes[0], frame);
  EXPECT_EQ(host.TransmittedFrames, 1);
  EXPECT_EQ(port->Opened, (std::vector<std::string>{"/dev/fake3", "/dev/fake3", "/dev/fake3"}));
}

TEST_F(SerialTransportTest, FrameAnsweredInTwoChunksIsAssembledFromTwoPolls) {
  auto& t = Make();
  t.SetActive(true);
  const auto frame = AnswerFrame(1000, 100, {1, 2, 3});
  port->Receive(std::vector<uint8_t>(frame.begin(), frame.begin() + 9));
  t.PollReceive();
  EXPECT_TRUE(host.Frames.empty());
  clock.Advance(10);
  port->Receive(std::vector<uint8_t>(frame.begin() + 9, frame.end()));
  t.PollReceive();
  ASSERT_EQ(host.Frames.size(), 1u);
  EXPECT_EQ(host.Frames[0], frame);
  EXPECT_EQ(host.RxSignals, 2);
  EXPECT_EQ(host.DebugLines, (std::vector<std::string>{"    DEBUG_XXXX_PolledCount: 9",
                                                       "    DEBUG_XXXX_PolledCount: " +
                                                           std::to_string(frame.size() - 9)}));
}

TEST_F(SerialTransportTest, ReceiveDumpShowsControlBytesShiftedAndHex) {
  host.Settings.FLogSerialComm = true;
  auto& t = Make();
  t.SetActive(true);
  port->Receive({0x05, 'A', 0x00, 0x0E, 0x0F, 0xAA});
  t.PollReceive();
  ASSERT_FALSE(host.Lines.empty());
  // 0x05 -> 0xE4 (a-umlaut), 0x00 -> 0xDF, 0x0E -> 0xED; 0x0F and up as themselves.
  EXPECT_EQ(host.Lines[0], "[Rx] COM3 [13:07:09:045] \xC3\xA4" "A\xC3\x9F\xC3\xAD\x0F\xC2\xAA  (05 41 00 0E 0F AA )");
  EXPECT_EQ(host.ImportantLines, 0);

  host.Lines.clear();
  host.Settings.FLogSerialComm = false;
  port->Receive({0x05});
  t.PollReceive();
  EXPECT_TRUE(host.Lines.empty());
}

TEST_F(SerialTransportTest, SendDropsLeftoverBytesAwaitsThePreviousWriteAndLogs) {
  host.Settings.FLogTxMessages = true;
  auto& t = Make();
  t.SetActive(true);
  const auto answer = AnswerFrame(1000, 100);
  port->Receive(std::vector<uint8_t>(answer.begin(), answer.begin() + 5));
  t.PollReceive();
  EXPECT_EQ(t.RxBuffer().FCount, 5u);

  const std::vector<uint8_t> request = {0xAA, 0x55, 0x01};
  t.SendSerial(request);
  EXPECT_EQ(t.RxBuffer().FCount, 0u);
  EXPECT_EQ(port->WriteWaits, 0);
  t.SendSerial(request);
  EXPECT_EQ(port->WriteWaits, 1);  // the first write completed before the second began
  EXPECT_EQ(host.TransmittedFrames, 2);
  EXPECT_EQ(host.TxSignals, 2);
  ASSERT_EQ(host.Lines.size(), 4u);
  EXPECT_EQ(host.Lines[0], "");
  EXPECT_EQ(host.Lines[1], "[Tx] COM3 [13:07:09:045] \xC2\xAAU\xC3\xA0  ( AA 55 01 )");
  EXPECT_EQ(host.DebugLines.back(), "    DEBUG_XXXX_SerialSendOut");

  // The rest of the old answer now lacks its start and cannot pass as a frame.
  port->Receive(std::vector<uint8_t>(answer.begin() + 5, answer.end()));
  t.PollReceive();
  EXPECT_TRUE(host.Frames.empty());
}

TEST_F(SerialTransportTest, PortFailuresCloseThePort) {
  struct Case {
    const char* name;
    void (*fail)(TFakeSerialState&);
    bool send;
  } cases[] = {
      {"count", [](TFakeSerialState& s) { s.FailCount = true; }, false},
      {"read", [](TFakeSerialState& s) { s.FailRead = true; s.Receive({1}); }, false},
      {"write", [](TFakeSerialState& s) { s.FailWrite = true; }, true},
  };
  for (const auto& c : cases) {
    port = std::make_shared<TFakeSerialState>();
    auto& t = Make();
    t.SetActive(true);
    ASSERT_TRUE(t.IsOpen()) << c.name;
    c.fail(*port);
    if (c.send)
      t.SendSerial(AnswerFrame(100, 1));
    else
      t.PollReceive();
    EXPECT_FALSE(t.IsOpen()) << c.name;
  }
}

TEST_F(SerialTransportTest, FloodIsPurgedAndOneReceiveTakesAtMost2899Bytes) {
  auto& t = Make();
  t.SetActive(true);
  port->Receive(std::vector<uint8_t>(100, 0));
  port->ExtraCount = 2800;  // 2900 waiting
  t.PollReceive();
  EXPECT_EQ(port->Purges, 1);
  EXPECT_EQ(host.DebugLines.back(), "    DEBUG_XXXX_PolledPURGED");
  EXPECT_EQ(host.RxSignals, 0);

  port->Receive(std::vector<uint8_t>(3000, 0x11));
  t.ReceiveSerial(3000);
  EXPECT_EQ(port->Input.size(), 101u);
}

TEST_F(SerialTransportTest, NothingIsTakenWhileCommunicationIsOffOrWhileReceiving) {
  auto& t = Make();
  t.SetActive(true);
  host.Comm = false;
  const auto frame = AnswerFrame(1000, 100);
  port->Receive(frame);
  t.PollReceive();
  EXPECT_EQ(port->Input.size(), frame.size());
  EXPECT_TRUE(host.Frames.empty());

  host.Comm = true;
  // A dispatch that lets the poll run again must not read under itself.
  const auto second = AnswerFrame(1001, 100);
  host.OnFrame = [&] {
    port->Receive(second);
    t.PollReceive();
  };
  t.PollReceive();
  EXPECT_EQ(host.Frames.size(), 1u);
  EXPECT_EQ(port->Input.size(), second.size());
  host.OnFrame = nullptr;
  t.PollReceive();
  EXPECT_EQ(host.Frames.size(), 2u);
}

TEST_F(SerialTransportTest, StoppingAwaitsThePendingWriteAndIndicatorFollowsThePort) {
  auto& t = Make();
  EXPECT_EQ(t.PortIndicatorState(false, kIndicatorCantOpen), kIndicatorHidden);
  EXPECT_EQ(t.PortIndicatorState(true, kIndicatorHidden), kIndicatorCantOpen);
  t.SetActive(true);
  port->Dsr = true;
  EXPECT_EQ(t.PortIndicatorState(true, kIndicatorCantOpen), kIndicatorDsrHigh);
  port->Dsr = false;
  EXPECT_EQ(t.PortIndicatorState(false, kIndicatorCantOpen), kIndicatorDsrLow);
  port->Dsr = std::nullopt;  // lines unreadable: the state stays
  EXPECT_EQ(t.PortIndicatorState(true, kIndicatorDsrHigh), kIndicatorDsrHigh);

  t.SendSerial(AnswerFrame(100, 1));
  t.SetActive(false);
  EXPECT_EQ(port->WriteWaits, 1);
  EXPECT_FALSE(port->Open);
  EXPECT_EQ(host.PortChanges, 2);

  TSerialTransport noPort(4, nullptr, host, stamp, clock);
  EXPECT_EQ(noPort.PortIndicatorState(false, kIndicatorHidden), kIndicatorCantOpen);
  noPort.SendSerial(AnswerFrame(100, 1));  // nothing happens
  noPort.PollReceive();
}

TEST_F(SerialTransportTest, OpeningEmptiesTheReceiveBuffer) {
  auto& t = Make();
  t.SetActive(true);
  port->Receive({0xAA, 0x55, 0x02});
  t.PollReceive();
  EXPECT_EQ(t.RxBuffer().FCount, 3u);
  t.SetActive(false);
  t.SetActive(true);
  EXPECT_EQ(t.RxBuffer().FCount, 0u);
}

}  // namespace
