// The serial transport over a real pseudo-terminal: the frame goes out whole
// and the answer comes back through the polls.
#include <gtest/gtest.h>
#include <poll.h>

#include "comm/serial_transport.h"
#include "fakes/fake_transport_host.h"
#include "platform/pty_pair.h"
#include "platform/serial_port.h"

namespace {

TEST(SerialTransportPty, RequestOutAnswerInThroughPolls) {
  TPtyPair pty;
  if (!pty.IsValid()) GTEST_SKIP() << "no pseudo-terminal: " << pty.Error();
  TFakeTransportHost host;
  TQnetRxStamp stamp;
  FakeClock clock;
  const std::string path = pty.SlavePath();
  TSerialTransport t(1, std::make_unique<TPosixSerialPort>(), host, stamp, clock, [&](int) { return path; });
  t.SetActive(true);
  ASSERT_TRUE(t.IsOpen()) << t.OpenError();
  // A pseudo-terminal has no DSR: the indicator keeps what it showed.
  EXPECT_EQ(t.PortIndicatorState(true, kIndicatorDsrHigh), kIndicatorDsrHigh);

  const auto request = AnswerFrame(100, 1000);
  t.SendSerial(request);
  EXPECT_EQ(pty.ReadMaster(request.size(), 2000), request);

  const auto answer = AnswerFrame(1000, 100, {1, 2, 3, 4});
  ASSERT_TRUE(pty.WriteMaster(answer));
  for (int i = 0; i < 200 && host.Frames.empty(); ++i) {
    pollfd p{t.Port()->Fd(), POLLIN, 0};
    ::poll(&p, 1, 10);
    clock.Advance(10);
    t.PollReceive();
  }
  ASSERT_EQ(host.Frames.size(), 1u);
  EXPECT_EQ(host.Frames[0], answer);
  t.SetActive(false);
  EXPECT_FALSE(t.IsOpen());
}

}  // namespace
