// The assembled engine with the PLC simulator as a child process on the
// loopback address: a temporary registry, data and runtime folder, the demo
// configuration pointed at the simulator's port, and a bounded loop that
// calls the timer entry points with short real waits between passes.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/demo_config.h"
#include "comm/comm_driver.h"
#include "core/opc_project.h"
#include "fakes/com_client.h"
#include "model/norvo_model.h"
#include "model/norvo_var.h"
#include "opc/opc_da.h"
#include "app/server_engine.h"
#include "core/connection_config.h"
#include "core/controller.h"
#include "fakes/fake_adapters.h"
#include "fakes/fake_message_boxes.h"
#include "fakes/temp_folder.h"
#include "opc/opc_server_collection.h"
#include "platform/registry.h"
#include "platform/serial_device_names.h"
#include "settings/settings.h"

extern char** environ;

// Whether a UDP socket can be bound to Address:Port (host order) right now;
// Why says what the kernel answered otherwise. Nothing is sent.
inline bool UdpBindable(uint32_t Address, uint16_t Port, std::string& Why) {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(Port);
  a.sin_addr.s_addr = htonl(Address);
  const bool ok = fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  if (!ok) {
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &a.sin_addr, text, sizeof text);
    Why = std::string("cannot bind UDP ") + text + ":" + std::to_string(Port) + ": " + std::strerror(errno);
  }
  if (fd >= 0) close(fd);
  return ok;
}

// plcsim as a child, bound to 127.0.0.1 on a port of its choosing; killed
// with the object.
class TSimulatorProcess {
 public:
  // Args follow "--udp 127.0.0.1:0" (a later --udp overrides it); false
  // when it did not start or did not name its port within TimeoutMs.
  bool Start(const std::vector<std::string>& Args, int TimeoutMs = 5000) {
    return Spawn(Args, "plcsim: udp 127.0.0.1:", TimeoutMs) && (FPort = std::atoi(FAnnounced.c_str())) > 0;
  }

  // On a pseudo-terminal of its own instead; DevicePath() names it.
  bool StartPty(const std::vector<std::string>& Args, int TimeoutMs = 5000) {
    std::vector<std::string> args{"--pty"};
    args.insert(args.end(), Args.begin(), Args.end());
    return Spawn(args, "plcsim: pty ", TimeoutMs) && !FAnnounced.empty();
  }

  const std::string& DevicePath() const { return FAnnounced; }

 private:
  bool Spawn(const std::vector<std::string>& Args, const std::string& Prefix, int TimeoutMs) {
    int out[2];
    int in[2];
    if (pipe(out) != 0) return false;
    if (pipe(in) != 0) {
      close(out[0]);
      close(out[1]);
      return false;
    }
    std::vector<std::string> argv{std::string(NORVOOPC_BIN_DIR) + "/plcsim", "--udp", "127.0.0.1:0"};
    argv.insert(argv.end(), Args.begin(), Args.end());
    std::vector<char*> cargv;
    for (auto& a : argv) cargv.push_back(a.data());
    cargv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addclose(&actions, in[1]);
    const int rc = posix_spawn(&FPid, cargv[0], &actions, nullptr, cargv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(in[0]);
    FOut = out[0];
    FIn = in[1];
    if (rc != 0) {
      FPid = -1;
      return false;
    }
    fcntl(FOut, F_SETFL, fcntl(FOut, F_GETFL) | O_NONBLOCK);
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
    while (std::chrono::steady_clock::now() < until) {
      if (auto line = ReadLine()) {
        if (line->rfind(Prefix, 0) == 0) {
          FAnnounced = line->substr(Prefix.size());
          return true;
        }
        continue;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

 public:
  // One control line and its reply (bounded by TimeoutMs).
  std::optional<std::string> Control(const std::string& Line, int TimeoutMs = 2000) {
    const std::string text = Line + "\n";
    if (FIn < 0 || write(FIn, text.data(), text.size()) != static_cast<ssize_t>(text.size())) return std::nullopt;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
    while (std::chrono::steady_clock::now() < until) {
      if (auto line = ReadLine()) return line;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return std::nullopt;
  }

  int Port() const { return FPort; }

  ~TSimulatorProcess() {
    if (FIn >= 0) close(FIn);
    if (FPid > 0) {
      kill(FPid, SIGKILL);
      int status = 0;
      waitpid(FPid, &status, 0);
    }
    if (FOut >= 0) close(FOut);
  }

 private:
  std::optional<std::string> ReadLine() {
    char buf[256];
    for (;;) {
      const size_t nl = FBuffer.find('\n');
      if (nl != std::string::npos) {
        std::string line = FBuffer.substr(0, nl);
        FBuffer.erase(0, nl + 1);
        return line;
      }
      const ssize_t n = read(FOut, buf, sizeof buf);
      if (n <= 0) return std::nullopt;
      FBuffer.append(buf, static_cast<size_t>(n));
    }
  }

  pid_t FPid = -1;
  int FOut = -1;
  int FIn = -1;
  int FPort = 0;
  std::string FAnnounced;  // the port or device from the first stdout line
  std::string FBuffer;
};

// The server's window side for a run without one.
class THarnessView final : public TMainWindowView {
 public:
  bool Interactive() const override { return false; }
  void EndMessageLoop() override { FEnded = true; }
  void EndProcessNow() override { FEnded = true; }
  bool FEnded = false;
};

// The engine and its controller over a temporary registry and data folder.
// The registry location is the process's: one harness at a time.
class TEngineHarness {
 public:
  TEngineHarness() : FPrevious(GetRegistryLocation()) {
    for (const char* sub : {"/registry", "/data", "/runtime"}) std::filesystem::create_directories(FTmp.Path() + sub);
    SetRegistryLocation(RegistryLocation::InFolder(FTmp.Path() + "/registry"));
    FAdapters.adapters = std::vector<TNetworkAdapter>{{"lo", "lo", 0x7F000001u, 0xFF000000u}};
  }
  ~TEngineHarness() {
    Stop();
    SetRegistryLocation(FPrevious);
  }
  TEngineHarness(const TEngineHarness&) = delete;
  TEngineHarness& operator=(const TEngineHarness&) = delete;

  // The demo registry for a simulator on Port.
  bool Configure(int Port, const std::string& ProjectFile) {
    TDemoConfig c;
    c.ProjectFile = ProjectFile;
    c.RemotePort = Port;
    std::string error;
    return WriteDemoConfiguration(c, true, error);
  }

  // The demo registry, then Adjust's changes to the connections and the
  // operator options.
  bool Configure(int Port, const std::string& ProjectFile,
                 const std::function<void(TConnectionConfig&, TSettings&)>& Adjust) {
    if (!Configure(Port, ProjectFile)) return false;
    TConnectionConfig config;
    ReadConfiguration(config);
    bool armed = true;
    TSettings settings(FBoxes, armed);
    RegisterSettingsCatalogue(settings);
    settings.LoadFromRegistry();
    Adjust(config, settings);
    return WriteConfiguration(config, armed, FBoxes) && settings.SaveToRegistry(true, true);
  }

  // "COM Number" opens Device.
  static bool MapSerialPort(int Number, const std::string& Device) {
    TRegistry reg(RegRoot::LocalMachine);
    return reg.OpenKey(kSerialPortsKey, true) && reg.WriteString("COM" + std::to_string(Number), Device);
  }

  // Constructs and shows the server (first show: settings, projects,
  // communication).
  void Start() {
    TServerEngineOptions o;
    o.DataFolder = FTmp.Path() + "/data/";
    o.RuntimeFolder = FTmp.Path() + "/runtime";
    o.RealWaits = false;
    FEngine = std::make_unique<TServerEngine>(FClock, FBoxes, FCollection, o);
    TStartFlags flags;
    flags.Headless = true;
    FController = std::make_unique<TMainController>(FClock, FBoxes, FView, *FEngine, FAdapters, flags, o.DataFolder);
    FEngine->Attach(*FController);
    FController->FormShow();
    FLastView = FLastGroup = std::chrono::steady_clock::now();
  }

  // One pass of the event loop: readable sockets, the master timer, queued
  // calls, and the group and view timers when their periods are due.
  void Pass() {
    const auto now = std::chrono::steady_clock::now();
    for (int fd : FEngine->WatchedFds()) FEngine->Readable(fd);
    FController->MasterTimerTick();
    FController->DispatchMessages();
    if (now - FLastGroup >= std::chrono::milliseconds(TOPCServerCollection::kTimerInterval)) {
      FLastGroup = now;
      FEngine->GroupTimerTick();
    }
    if (now - FLastView >= std::chrono::milliseconds(kViewTimerInterval)) {
      FLastView = now;
      FController->ViewTimerTick();
    }
  }

  // Passes every 5 ms until Done answers true or TimeoutMs ran out.
  bool RunUntil(const std::function<bool()>& Done, int TimeoutMs) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
    while (std::chrono::steady_clock::now() < until) {
      Pass();
      if (Done()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
  }

  // Closes as "Server Shutdown" would, then destroys.
  void Stop() {
    if (!FController) return;
    FController->mnuServerShutDownClick();
    FController->FormDestroy();
    FEngine->Detach();
    FController.reset();
    FEngine.reset();
  }

  TServerEngine& Engine() { return *FEngine; }
  TMainController& Controller() { return *FController; }
  FakeMessageBoxes& Boxes() { return FBoxes; }
  TOPCServerCollection& Collection() { return FCollection; }
  const std::string& Folder() const { return FTmp.Path(); }

 private:
  TempFolder FTmp;
  RegistryLocation FPrevious;
  SystemClock FClock;
  FakeMessageBoxes FBoxes;
  FakeNetworkAdapters FAdapters;
  THarnessView FView;
  TOPCServerCollection FCollection;
  std::unique_ptr<TServerEngine> FEngine;
  std::unique_ptr<TMainController> FController;
  std::chrono::steady_clock::time_point FLastView;
  std::chrono::steady_clock::time_point FLastGroup;
};

// The requests a PLC's driver sent, taken after each pass: a preparation
// sends at most one frame per pass, so nothing is missed.
struct TSentRequest {
  uint8_t Kind = 0;
  std::vector<std::string> Tags;  // names of the tags carried
  bool Has(const std::string& Name) const {
    for (const auto& t : Tags)
      if (t == Name) return true;
    return false;
  }
};

class TSendLog {
 public:
  explicit TSendLog(TNorvoModel& PLC) : FPLC(PLC), FSeen(PLC.FTransmitCount) {}
  // True when a frame left since the last sample.
  bool Sample() {
    if (FPLC.FTransmitCount == FSeen || !FPLC.FDriver) return false;
    FSeen = FPLC.FTransmitCount;
    TSentRequest r;
    r.Kind = FPLC.FDriver->FLastSentKind;
    for (const TNorvoVar* v : FPLC.FDriver->FRequestVars) r.Tags.push_back(v->FName);
    FSent.push_back(std::move(r));
    return true;
  }
  const std::vector<TSentRequest>& Sent() const { return FSent; }

 private:
  TNorvoModel& FPLC;
  int32_t FSeen;
  std::vector<TSentRequest> FSent;
};

// A client's view of one group of the engine's server objects.
class TEngineClient {
 public:
  explicit TEngineClient(TOPCServerCollection& Collection) {
    EXPECT_EQ(Collection.CreateServer(IID_IOPCServer, FServer.put_void()), S_OK);
  }

  template <class I = IOPCItemMgt>
  ComPtr<I> AddGroup(const std::string& Name, uint32_t Rate, OPCHANDLE ClientHandle = 7, int32_t Active = 1) {
    ComPtr<I> group;
    OPCHANDLE h = 0;
    uint32_t revised = 0;
    const std::u16string w = com_client::W(Name);
    EXPECT_EQ(FServer->AddGroup(w.c_str(), Active, Rate, ClientHandle, nullptr, nullptr, 0x409, &h, &revised,
                                IidOf<I>(), reinterpret_cast<IUnknown**>(group.put())),
              S_OK);
    return group;
  }

  // Server handles of the items, 0 where refused; client handles count
  // from 100 in the given order.
  static std::vector<OPCHANDLE> AddItems(IOPCItemMgt* Group, const std::vector<std::string>& IDs) {
    std::vector<std::u16string> wide;
    for (const auto& id : IDs) wide.push_back(com_client::W(id));
    std::vector<OPCITEMDEF> defs(IDs.size());
    for (size_t i = 0; i < IDs.size(); ++i)
      defs[i] = OPCITEMDEF{nullptr, wide[i].data(), 1, static_cast<OPCHANDLE>(100 + i), 0, nullptr, VT_EMPTY, 0};
    com_client::TaskOut<OPCITEMRESULT> res;
    com_client::TaskOut<HRESULT> err;
    EXPECT_EQ(Group->AddItems(static_cast<uint32_t>(defs.size()), defs.data(), res.put(), err.put()), S_OK);
    res.SetCount(IDs.size());
    std::vector<OPCHANDLE> handles;
    for (size_t i = 0; res && i < IDs.size(); ++i) handles.push_back(err[i] == S_OK ? res[i].hServer : 0);
    return handles;
  }

  IOPCServer* Server() { return FServer.get(); }
  void Release() { FServer = nullptr; }

 private:
  ComPtr<IOPCServer> FServer;
};
