#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <future>
#include <thread>

#include "comm/comm_driver.h"
#include "core/com_port_handover.h"
#include "core/deferred_queue.h"
#include "core/opc_project.h"
#include "fakes/fake_message_boxes.h"
#include "fakes/fake_serial_port.h"
#include "fakes/fake_tag_environment.h"
#include "fakes/temp_folder.h"
#include "settings/applied_settings.h"

namespace {

class HandoverTest : public ::testing::Test {
 protected:
  void AddDriver(uint8_t type, int port) {
    TCommunicationSettings s;
    s.FDriverType = type;
    s.FCommPort = port;
    set.FDrivers.push_back(std::make_unique<TCommDriver>(s));
  }

  // Serves Server from this thread until the request made on another
  // thread is answered; bounded in time.
  std::optional<int64_t> Ask(TComPortHandoverServer& server, const std::string& name, int64_t w, int64_t l) {
    auto answer = std::async(std::launch::async, [&] { return SendComPortHandover(tmp.Path(), name, w, l, 3000); });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (answer.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready &&
           std::chrono::steady_clock::now() < deadline) {
      std::vector<pollfd> fds{{server.ListenFd(), POLLIN, 0}};
      for (int fd : server.ConnectionFds()) fds.push_back({fd, POLLIN, 0});
      ::poll(fds.data(), fds.size(), 20);
      server.Serve();
    }
    return answer.get();
  }

  FakeTagEnvironment env;
  FakeClock clock;
  FakeMessageBoxes boxes;
  TAppliedSettings applied;
  TOPCProject set{TProjectSetContext{applied, boxes, clock}};
  TempFolder tmp;
};

TEST_F(HandoverTest, AnswerRows) {
  AddDriver(kDriverSerial, 1);
  AddDriver(kDriverUDP, 0);
  AddDriver(kDriverSerial, 2);
  const struct {
    bool active;
    bool allow;
    int64_t lParam;
    int64_t answer;
    bool stop;
  } rows[] = {
      {true, true, 1, 2, false},  // the last serial driver
      {false, true, 1, 0, false},
      {true, false, 1, 2, false},  // a query is answered whatever the setting
      {true, true, 2, 1, true},
      {true, true, 7, 1, true},  // every other LParam is a release
      {false, true, 2, 1, false},
      {true, false, 2, 0, false},
  };
  for (const auto& r : rows) {
    bool stop = !r.stop;
    EXPECT_EQ(ComPortHandoverAnswer(&set, r.active, r.allow, r.lParam, stop), r.answer)
        << r.active << r.allow << r.lParam;
    EXPECT_EQ(stop, r.stop) << r.active << r.allow << r.lParam;
  }
  TOPCProject empty{TProjectSetContext{applied, boxes, clock}};
  bool stop = false;
  EXPECT_EQ(ComPortHandoverAnswer(&empty, true, true, 1, stop), 0);
  EXPECT_EQ(ComPortHandoverAnswer(nullptr, true, true, 1, stop), 0);
}

TEST_F(HandoverTest, RequestsOverTheSocketCarryBothParameters) {
  TComPortHandoverServer server;
  std::vector<std::pair<int64_t, int64_t>> seen;
  ASSERT_TRUE(server.Listen(tmp.Path(), [&](int64_t w, int64_t l) {
    seen.emplace_back(w, l);
    return l == 1 ? w * 10 : -1;
  })) << server.LastError();
  EXPECT_EQ(Ask(server, kHandoverSocketName, 3, 1), 30);
  EXPECT_EQ(Ask(server, kHandoverSocketName, 0, 2), -1);
  EXPECT_EQ(seen, (std::vector<std::pair<int64_t, int64_t>>{{3, 1}, {0, 2}}));

  // A second listener on the same folder is refused while this one lives.
  TComPortHandoverServer second;
  EXPECT_FALSE(second.Listen(tmp.Path(), [](int64_t, int64_t) { return 0; }));
  server.Close();
  EXPECT_FALSE(std::filesystem::exists(tmp.Path() + "/" + kHandoverSocketName));
  EXPECT_EQ(SendComPortHandover(tmp.Path(), kHandoverSocketName, 1, 1, 100), std::nullopt);
}

TEST_F(HandoverTest, StaleSocketFileIsReplaced) {
  {
    // A socket file whose listener is gone, as a crashed server leaves it.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::string path = tmp.Path() + "/" + kHandoverSocketName;
    std::strcpy(addr.sun_path, path.c_str());
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ::close(fd);
  }
  TComPortHandoverServer server;
  ASSERT_TRUE(server.Listen(tmp.Path(), [](int64_t, int64_t) { return 5; })) << server.LastError();
  EXPECT_EQ(Ask(server, kHandoverSocketName, 0, 1), 5);
}

TEST_F(HandoverTest, StrangerMessageDropsTheLinkWithoutAnswer) {
  TComPortHandoverServer server;
  int calls = 0;
  ASSERT_TRUE(server.Listen(tmp.Path(), [&](int64_t, int64_t) { return ++calls; }));
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strcpy(addr.sun_path, (tmp.Path() + "/" + kHandoverSocketName).c_str());
  ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  char request[24] = {};
  const uint32_t msg = 0x123;
  std::memcpy(request, &msg, 4);
  ASSERT_EQ(::send(fd, request, sizeof request, MSG_NOSIGNAL), 24);
  server.Serve();
  char byte = 0;
  timeval tv{2, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  EXPECT_EQ(::recv(fd, &byte, 1, 0), 0);  // closed
  EXPECT_EQ(calls, 0);
  EXPECT_TRUE(server.ConnectionFds().empty());
  ::close(fd);
}

class FakeProbeHost final : public IProbeHost {
 public:
  explicit FakeProbeHost(std::shared_ptr<TFakeSerialState> s) : port(std::move(s)) {}
  ISerialPort& ProbePort() override { return port; }
  std::string DeviceName(int n) override { return "/dev/fake" + std::to_string(n); }
  std::optional<int64_t> AskTool(int64_t w, int64_t l) override {
    asked.emplace_back(w, l);
    if (l == kHandoverQuery) return toolPort;
    return 1;
  }
  void SetHourglass(bool on) override { hourglass.push_back(on); }
  void Wait(uint32_t ms) override { waits.push_back(ms); }

  TFakeSerialPort port;
  std::optional<int64_t> toolPort;
  std::vector<std::pair<int64_t, int64_t>> asked;
  std::vector<bool> hourglass;
  std::vector<uint32_t> waits;
};

TEST_F(HandoverTest, ProbeAsksTheToolOnlyForPortsItHolds) {
  AddDriver(kDriverSerial, 1);
  AddDriver(kDriverUDP, 0);
  AddDriver(kDriverSerial, 2);
  AddDriver(kDriverSerial, 3);
  auto state = std::make_shared<TFakeSerialState>();
  state->Busy = {"/dev/fake2", "/dev/fake3"};
  FakeProbeHost host(state);
  host.toolPort = 2;  // the tool holds COM2; COM3 is someone else's
  ProbeSerialPorts(set, host);
  EXPECT_EQ(state->Opened, (std::vector<std::string>{"/dev/fake1", "/dev/fake2", "/dev/fake3"}));
  EXPECT_EQ(host.asked, (std::vector<std::pair<int64_t, int64_t>>{{2, 1}, {0, 2}, {3, 1}}));
  EXPECT_FALSE(state->Open);
  EXPECT_EQ(state->Closes, 1);
  EXPECT_EQ(host.waits, (std::vector<uint32_t>{70}));
  EXPECT_EQ(host.hourglass, (std::vector<bool>{true, false}));

  host.asked.clear();
  host.toolPort = std::nullopt;  // no tool running
  ProbeSerialPorts(set, host);
  EXPECT_EQ(host.asked.size(), 2u);
}

// The running server's host with the device names and the pause of a test.
class SocketProbeHost final : public TRuntimeProbeHost {
 public:
  using TRuntimeProbeHost::TRuntimeProbeHost;
  std::string DeviceName(int n) override { return "/dev/fake" + std::to_string(n); }
  void Wait(uint32_t) override {}
};

TEST_F(HandoverTest, ProbeAsksAToolListeningInTheRuntimeFolder) {
  AddDriver(kDriverSerial, 4);
  // The tool holds COM4 and gives it up when asked.
  TComPortHandoverServer tool;
  std::vector<std::pair<int64_t, int64_t>> toolSaw;
  ASSERT_TRUE(tool.Listen(
      tmp.Path(),
      [&](int64_t w, int64_t l) {
        toolSaw.emplace_back(w, l);
        return l == kHandoverQuery ? 4 : 1;
      },
      kZeltaSocketName));
  auto state = std::make_shared<TFakeSerialState>();
  state->Busy = {"/dev/fake4"};
  TFakeSerialPort port(state);
  SocketProbeHost host(port, tmp.Path());
  auto probing = std::async(std::launch::async, [&] { ProbeSerialPorts(set, host); });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (probing.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready &&
         std::chrono::steady_clock::now() < deadline) {
    std::vector<pollfd> fds{{tool.ListenFd(), POLLIN, 0}};
    for (int fd : tool.ConnectionFds()) fds.push_back({fd, POLLIN, 0});
    ::poll(fds.data(), fds.size(), 20);
    tool.Serve();
  }
  probing.get();
  EXPECT_EQ(toolSaw, (std::vector<std::pair<int64_t, int64_t>>{{4, 1}, {0, 2}}));

  // Without the tool the probe goes on.
  tool.Close();
  toolSaw.clear();
  ProbeSerialPorts(set, host);
  EXPECT_TRUE(toolSaw.empty());
}

}  // namespace
