// The assembled engine with the PLC simulator as a child process on the
// loopback address: a temporary registry, data and runtime folder, the demo
// configuration pointed at the simulator's port, and a bounded loop that
// calls the timer entry points with short real waits between passes.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/demo_config.h"
#include "app/server_engine.h"
#include "core/controller.h"
#include "fakes/fake_adapters.h"
#include "fakes/fake_message_boxes.h"
#include "fakes/temp_folder.h"
#include "opc/opc_server_collection.h"
#include "platform/registry.h"

extern char** environ;

// plcsim as a child, bound to 127.0.0.1 on a port of its choosing; killed
// with the object.
class TSimulatorProcess {
 public:
  // Args follow "--udp 127.0.0.1:0"; false when it did not start or did
  // not name its port within TimeoutMs.
  bool Start(const std::vector<std::string>& Args, int TimeoutMs = 5000) {
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
        const std::string prefix = "plcsim: udp 127.0.0.1:";
        if (line->rfind(prefix, 0) == 0) {
          FPort = std::atoi(line->c_str() + prefix.size());
          return FPort > 0;
        }
        continue;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

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
