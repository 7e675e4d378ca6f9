// The POSIX serial port against a real pseudo-terminal pair.
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>

#include <chrono>
#include <numeric>
#include <thread>
#include <vector>

#include "platform/pty_pair.h"
#include "platform/serial_port.h"

namespace {

// Bytes written to the master reach the slave through a kernel work queue;
// wait (bounded) until the port sees the expected count.
std::optional<size_t> WaitForCount(TPosixSerialPort& port, size_t want) {
  std::optional<size_t> count;
  for (int i = 0; i < 200; ++i) {
    count = port.InputCount();
    if (!count || *count >= want) return count;
    pollfd p{port.Fd(), POLLIN, 0};
    ::poll(&p, 1, 10);
  }
  return count;
}

class SerialPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!pty.IsValid()) GTEST_SKIP() << "no pseudo-terminal: " << pty.Error();
    ASSERT_TRUE(port.Open(pty.SlavePath())) << port.LastError();
  }
  TPtyPair pty;
  TPosixSerialPort port;
};

TEST_F(SerialPortTest, OpensRaw19200EightNoneOneWithoutFlowControl) {
  termios tio{};
  ASSERT_EQ(::tcgetattr(pty.SlaveFd(), &tio), 0);
  EXPECT_EQ(::cfgetospeed(&tio), B19200);
  EXPECT_EQ(::cfgetispeed(&tio), B19200);
  EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
  EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | IXANY | ICRNL), 0u);
  EXPECT_EQ(tio.c_oflag & OPOST, 0u);
  EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
}

TEST_F(SerialPortTest, BytesTravelBothWaysAndAreCountedBeforeReading) {
  const std::vector<uint8_t> in = {0xAA, 0x55, 0x00, 0x0A, 0x0D, 0x11, 0x13, 0xFF};
  ASSERT_TRUE(pty.WriteMaster(in));
  EXPECT_EQ(WaitForCount(port, in.size()), in.size());

  std::vector<uint8_t> got(16);
  auto n = port.Read(got);
  ASSERT_TRUE(n);
  got.resize(*n);
  EXPECT_EQ(got, in);  // no byte translated: CR, LF, XON and XOFF pass as data
  EXPECT_EQ(port.InputCount(), 0u);
  EXPECT_EQ(port.Read(got), 0u);  // nothing waits: returns at once

  const std::vector<uint8_t> out = {0x01, 0x0A, 0x0D, 0x03, 0x7F};
  ASSERT_TRUE(port.StartWrite(out));
  EXPECT_TRUE(port.WaitWriteDone());
  EXPECT_EQ(pty.ReadMaster(out.size(), 2000), out);
}

TEST_F(SerialPortTest, DiscardDropsWaitingInput) {
  ASSERT_TRUE(pty.WriteMaster(std::vector<uint8_t>(100, 0x42)));
  ASSERT_EQ(WaitForCount(port, 100), 100u);
  EXPECT_TRUE(port.PurgeInput());
  EXPECT_EQ(port.InputCount(), 0u);
}

TEST_F(SerialPortTest, PseudoTerminalHasNoModemLines) {
  EXPECT_EQ(port.DSR(), std::nullopt);
  EXPECT_EQ(port.LastError(), "cannot read the lines");
}

TEST_F(SerialPortTest, CloseAwaitsALongWriteTheDeviceTakesInPieces) {
  // More than the pseudo-terminal buffers, so the write cannot finish at once.
  std::vector<uint8_t> data(200000);
  std::iota(data.begin(), data.end(), uint8_t{0});
  ASSERT_TRUE(port.StartWrite(data));
  EXPECT_TRUE(port.WritePending());

  std::vector<uint8_t> received;
  std::thread reader([&] { received = pty.ReadMaster(data.size(), 10000); });
  port.Close();
  reader.join();
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(received.size(), data.size());
  EXPECT_TRUE(received == data);
}

TEST_F(SerialPortTest, ASecondUserFindsThePortInUseUntilItIsClosed) {
  TPosixSerialPort other;
  EXPECT_FALSE(other.Open(pty.SlavePath()));
  EXPECT_NE(other.LastError().find("busy"), std::string::npos) << other.LastError();
  port.Close();
  EXPECT_TRUE(other.Open(pty.SlavePath())) << other.LastError();
}

TEST(SerialPort, FailuresOfAClosedOrMissingPortAreReported) {
  TPosixSerialPort port;
  EXPECT_FALSE(port.Open("/dev/norvoopc-no-such-tty"));
  EXPECT_NE(port.LastError().find("/dev/norvoopc-no-such-tty"), std::string::npos);
  EXPECT_FALSE(port.Open("/dev/null"));  // not a tty
  EXPECT_FALSE(port.Open(""));
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(port.InputCount(), std::nullopt);
  uint8_t b[4];
  EXPECT_EQ(port.Read(b), std::nullopt);
  EXPECT_FALSE(port.StartWrite(b));
  EXPECT_EQ(port.DSR(), std::nullopt);
  port.Close();  // harmless
}

TEST(SerialPort, WriteBoundCoversTheLineTime) {
  // A full 1213-byte frame takes 632 ms at 19200 baud.
  EXPECT_GE(TPosixSerialPort::WriteBoundMs(1213), 632);
  EXPECT_GE(TPosixSerialPort::WriteBoundMs(0), 1);
}

}  // namespace
