#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <memory>
#include <string>
#include <vector>

#include "core/controller.h"
#include "platform/adapters.h"
#include "platform/registry.h"

namespace {

struct FakeBoxes : IMessageBoxes {
  std::vector<std::string> asked;
  std::vector<TMsgAnswer> answers;  // consumed front first; Yes when empty
  void ShowError(const std::string&) override {}
  void ShowWarning(const std::string&) override {}
  void ShowInformation(const std::string&) override {}
  TMsgAnswer AskYesNo(const std::string& text) override {
    asked.push_back(text);
    if (answers.empty()) return TMsgAnswer::Yes;
    const TMsgAnswer a = answers.front();
    answers.erase(answers.begin());
    return a;
  }
};

struct FakeView : TMainWindowView {
  TMainController* controller = nullptr;
  bool interactive = true;
  bool visible = false;
  bool minimized = false;
  bool trayIcon = false;
  bool minimizeToTray = false;
  bool trayShutdownEnabled = true;
  bool loopEnded = false;
  bool processEnded = false;
  bool hiddenToTray = false;
  TWindowState state = TWindowState::Normal;

  bool Interactive() const override { return interactive; }
  void SetTrayIconVisible(bool v) override { trayIcon = v; }
  void SetMinimizeToTray(bool on) override { minimizeToTray = on; }
  void MinimizeApplication() override {
    minimized = true;
    if (minimizeToTray) {
      visible = false;
      hiddenToTray = true;
    }
  }
  void ShowServer() override {
    minimized = false;
    hiddenToTray = false;
    const bool wasVisible = visible;
    visible = true;
    if (!wasVisible && controller) controller->FormShow();
  }
  void SetTrayShutdownEnabled(bool e) override { trayShutdownEnabled = e; }
  void EndMessageLoop() override { loopEnded = true; }
  void EndProcessNow() override { processEnded = true; }
  void SetWindowState(TWindowState s) override { state = s; }
  TWindowState WindowState() const override { return state; }
};

struct FakeHooks : TServerHooks {
  TMainController* controller = nullptr;
  std::vector<std::string> log;
  int plcs = 1;
  int clients = 0;
  bool passwordOk = false;
  int passwordAsked = 0;

  void Note(const std::string& s) { log.push_back(s); }
  bool Did(const std::string& s) const { return std::find(log.begin(), log.end(), s) != log.end(); }

  void OpenDebugLog(const std::string& name, bool enabled) override {
    Note("debuglog " + name + (enabled ? " on" : " off"));
  }
  void CreateSessionLog() override { Note("sessionlog"); }
  void CreateProjectSet() override { Note("projectset"); }
  void ReadConfiguration() override { Note("readconfig"); }
  void LoadAllProjects() override { Note("load"); }
  int PlcCount() const override { return plcs; }
  void SetCommunication(bool on) override { Note(on ? "comm on" : "comm off"); }
  bool AskPasswordDialog() override {
    ++passwordAsked;
    return passwordOk;
  }
  int ConnectedClientCount() const override { return clients; }
  void WriteConfiguration() override { Note("writeconfig"); }
  void SaveSettings() override { Note("savesettings"); }
  void SaveMonitors() override { Note("savemonitors"); }
  void ShutdownClients(const std::string& reason) override { Note("shutdown clients: " + reason); }
  void RemoveAllProjects() override {
    Note("remove projects");
    throw std::runtime_error("freeing failed");
  }
  void FreeSessionLog() override { Note("free sessionlog"); }
};

struct NoAdapters : INetworkAdapters {
  std::optional<std::vector<TNetworkAdapter>> List() const override { return std::nullopt; }
};

// The operator's options as the registry holds them.
struct StoredSettings {
  bool showTray = true;
  bool doNotAutoConnect = false;
  std::string password;
};

struct Server {
  std::string registryDir;
  StoredSettings settings;
  NoAdapters adapters;
  FakeClock clock;
  FakeBoxes boxes;
  FakeView view;
  FakeHooks hooks;
  std::unique_ptr<TMainController> c;

  void Start(std::vector<std::string> args = {}) {
    struct NoRegistration : TRegistrationHooks {
      void RegisterServer(const std::string&) override {}
      void UnregisterServer(const std::string&) override {}
    } reg;
    TStartFlags flags;
    ParseCommandLine(args, flags, reg);
    char tmpl[] = "/tmp/norvoopc-ctl-XXXXXX";
    registryDir = ::mkdtemp(tmpl);
    SetRegistryLocation(RegistryLocation::InFolder(registryDir));
    {
      TRegistry r(RegRoot::LocalMachine);
      r.OpenKey(kSettingsKeyPath, true);
      r.WriteInteger("cbShowTrayIcon", settings.showTray ? -1 : 0);
      r.WriteInteger("cbDoNotAutoConnect", settings.doNotAutoConnect ? -1 : 0);
      r.WriteString("SettID300", settings.password);
    }
    c = std::make_unique<TMainController>(clock, boxes, view, hooks, adapters, flags, "/opt/norvo/");
    view.controller = c.get();
    hooks.controller = c.get();
    view.ShowServer();  // the loop's first action shows the window
    c->DispatchMessages();
  }
  ~Server() {
    c.reset();
    if (!registryDir.empty()) std::filesystem::remove_all(registryDir);
  }
  // Runs view ticks, then whatever they queued.
  void ViewTicks(int n) {
    for (int i = 0; i < n; ++i) {
      c->ViewTimerTick();
      c->DispatchMessages();
    }
  }
};

}  // namespace

TEST(Controller, FirstShowBringsTheServerUpInOrder) {
  Server s;
  s.Start({"-DEBUGLOG"});
  const std::vector<std::string> expected = {"debuglog /opt/norvo/NorvoOPCDebug.Log on", "sessionlog",
                                             "projectset", "readconfig", "load", "comm on"};
  EXPECT_EQ(s.hooks.log, expected);
  EXPECT_TRUE(s.c->Shown());
  EXPECT_TRUE(s.c->CommActive());
  EXPECT_TRUE(s.view.visible);
  EXPECT_TRUE(s.view.trayIcon);
}

TEST(Controller, EmbeddingHidesToTrayUnlessShowFollows) {
  Server hidden;
  hidden.Start({"-SHOW", "-EMBEDDING"});
  EXPECT_TRUE(hidden.view.hiddenToTray);
  EXPECT_FALSE(hidden.view.minimizeToTray);  // switched off again after hiding
  Server shown;
  shown.Start({"-EMBEDDING", "-SHOW"});
  EXPECT_FALSE(shown.view.hiddenToTray);
  EXPECT_TRUE(shown.view.visible);
}

TEST(Controller, WaitingForClientStartsNoCommunication) {
  Server s;
  s.settings.doNotAutoConnect = true;
  s.Start();
  s.ViewTicks(200);
  EXPECT_FALSE(s.c->CommActive());
  s.hooks.plcs = 0;
  s.c->AddItemsCalled();
  s.ViewTicks(67);
  EXPECT_FALSE(s.c->CommActive()) << "nothing loaded, nothing to start";
}

TEST(Controller, AddItemsStartsCommunicationAfter67ViewTicksRestartedByAnother) {
  Server s;
  s.settings.doNotAutoConnect = true;
  s.Start();
  s.c->AddItemsCalled();
  s.ViewTicks(40);
  s.c->AddItemsCalled();  // restarts the 20 s
  s.ViewTicks(66);
  EXPECT_FALSE(s.c->CommActive());
  EXPECT_GT(s.c->AutoConnectCountdown(), 0);
  s.ViewTicks(1);
  EXPECT_TRUE(s.c->CommActive());
  EXPECT_EQ(s.c->AutoConnectCountdown(), 0);
}

TEST(Controller, AddItemsWithAutoConnectSetsNoCountdown) {
  Server s;
  s.Start();
  s.c->AddItemsCalled();
  EXPECT_EQ(s.c->AutoConnectCountdown(), 0);
}

TEST(Controller, PlainCloseWithTrayIconHidesAndKeepsRunning) {
  Server s;
  s.hooks.clients = 2;
  s.Start();
  s.c->acCloseMainWindowExecute();
  EXPECT_FALSE(s.c->Closed());
  EXPECT_TRUE(s.view.hiddenToTray);
  EXPECT_FALSE(s.view.loopEnded);
  EXPECT_FALSE(s.c->ShutdownOnPasswordFail());
  EXPECT_TRUE(s.boxes.asked.empty());
  EXPECT_FALSE(s.hooks.Did("writeconfig"));
}

TEST(Controller, PlainCloseWithoutTrayIconEndsAfterAskingClients) {
  Server s;
  s.settings.showTray = false;
  s.hooks.clients = 1;
  s.Start();
  EXPECT_FALSE(s.view.trayIcon);
  s.boxes.answers = {TMsgAnswer::No};
  s.c->acCloseMainWindowExecute();
  EXPECT_FALSE(s.c->Closed());
  EXPECT_EQ(s.boxes.asked, std::vector<std::string>{kClientsConnectedQuestion});
  s.c->acCloseMainWindowExecute();  // now Yes
  EXPECT_TRUE(s.c->Closed());
  EXPECT_TRUE(s.view.loopEnded);
  EXPECT_FALSE(s.c->CommActive());
  // Every write runs although freeing the projects threw.
  const std::vector<std::string> tail(s.hooks.log.end() - 6, s.hooks.log.end());
  const std::vector<std::string> expected = {"comm off", "writeconfig", "savesettings", "savemonitors",
                                             "shutdown clients: NorvoOPC server is shutting down",
                                             "remove projects"};
  EXPECT_EQ(tail, expected);
}

TEST(Controller, RefusedShutdownFallsBackToThePlainClose) {
  Server s;
  s.hooks.clients = 1;
  s.Start();
  s.boxes.answers = {TMsgAnswer::No};
  s.c->mnuServerShutDownClick();
  EXPECT_FALSE(s.c->Closed());
  s.c->acCloseMainWindowExecute();  // the shutdown request was dropped with the No
  EXPECT_FALSE(s.c->Closed());
  EXPECT_TRUE(s.view.hiddenToTray);
  EXPECT_EQ(s.boxes.asked.size(), 1u);
}

TEST(Controller, HeadlessCloseEndsTheServerWhateverTheTraySetting) {
  Server s;
  s.view.interactive = false;
  s.settings.password = "secret";
  s.Start();
  s.ViewTicks(3);
  EXPECT_EQ(s.hooks.passwordAsked, 0) << "no operator to ask";
  EXPECT_FALSE(s.view.trayIcon);
  s.c->acCloseMainWindowExecute();
  EXPECT_TRUE(s.c->Closed());
}

TEST(Controller, WatchdogEndsTheProcess5000msAfterTheClose) {
  Server s;
  s.Start();
  s.c->MasterTimerTick();
  s.c->mnuServerShutDownClick();
  ASSERT_TRUE(s.c->CloseWatchdogArmed());
  s.clock.Advance(5000);
  s.c->MasterTimerTick();
  EXPECT_FALSE(s.view.processEnded);
  s.clock.Advance(1);
  s.c->MasterTimerTick();
  EXPECT_TRUE(s.view.processEnded);
}

TEST(Controller, WatchdogCountsAcrossTheTickWrap) {
  Server s;
  s.clock.SetTick(0xFFFFF000u);
  s.Start();
  s.c->mnuServerShutDownClick();
  s.clock.Advance(4000);
  s.c->MasterTimerTick();
  EXPECT_FALSE(s.view.processEnded);
  s.clock.Advance(1001);
  s.c->MasterTimerTick();
  EXPECT_TRUE(s.view.processEnded);
}

TEST(Controller, CancelledPasswordOnVisibleStartEndsTheServer) {
  Server s;
  s.settings.password = "secret";
  s.hooks.clients = 1;
  s.Start();
  EXPECT_FALSE(s.view.trayShutdownEnabled);
  s.ViewTicks(1);
  EXPECT_EQ(s.hooks.passwordAsked, 1);
  EXPECT_EQ(s.boxes.asked.size(), 1u);  // the clients question first
  EXPECT_TRUE(s.c->Closed());
}

TEST(Controller, CancelledPasswordAfterAPlainCloseOnlyHidesAgain) {
  Server s;
  s.settings.password = "secret";
  s.hooks.passwordOk = true;
  s.Start();
  s.ViewTicks(1);
  EXPECT_TRUE(s.view.trayShutdownEnabled);
  s.c->acCloseMainWindowExecute();
  EXPECT_FALSE(s.view.trayShutdownEnabled) << "password set: shutdown from the tray needs it again";
  s.hooks.passwordOk = false;
  s.c->ShowServer1Click();
  s.ViewTicks(1);
  EXPECT_EQ(s.hooks.passwordAsked, 2);
  EXPECT_FALSE(s.c->Closed());
  EXPECT_TRUE(s.view.hiddenToTray);
}

TEST(Controller, EmbeddedWithPasswordAsksOnFirstShowServerAndEndsOnCancel) {
  Server s;
  s.settings.password = "secret";
  s.Start({"-EMBEDDING"});
  s.ViewTicks(5);
  EXPECT_EQ(s.hooks.passwordAsked, 0);
  s.c->ShowServer1Click();
  s.ViewTicks(1);
  EXPECT_EQ(s.hooks.passwordAsked, 1);
  EXPECT_TRUE(s.c->Closed());
}

TEST(Controller, InstanceMessages) {
  Server s;
  s.settings.showTray = false;
  s.Start({"-EMBEDDING"});
  EXPECT_EQ(s.c->HandleInstanceMessage(WM_INSTANCE_QUERY, "", 0), 0);
  EXPECT_EQ(s.c->HandleInstanceMessage(WM_INSTANCE_ENABLE_SHOW, "", 0), 0);
  EXPECT_FALSE(s.view.trayIcon);
  EXPECT_TRUE(s.view.hiddenToTray);
  s.c->HandleInstanceMessage(WM_INSTANCE_ACTIVATE, "", 0);
  EXPECT_TRUE(s.view.visible);

  Server plain;
  plain.Start();
  EXPECT_EQ(plain.c->HandleInstanceMessage(WM_INSTANCE_ENABLE_SHOW, "", 0), 1);
}

TEST(Controller, DestructionRunsOnceAlsoWithoutAClose) {
  Server s;
  s.Start();
  s.c->FormDestroy();
  s.c.reset();
  EXPECT_EQ(std::count(s.hooks.log.begin(), s.hooks.log.end(), "free sessionlog"), 1);
  EXPECT_FALSE(s.hooks.Did("writeconfig"));
}

TEST(DeferredQueue, RunsInOrderOneHolderPerMessage) {
  TDeferredQueue q;
  int wakes = 0;
  q.SetWakeHook([&] { ++wakes; });
  std::vector<int> ran;
  const int ownerA = 0;
  q.PostDeferred([&] {
    ran.push_back(1);
    q.PostDeferred([&] { ran.push_back(4); });  // waits for the next dispatch
  });
  q.PostDeferred([&] { ran.push_back(2); }, &ownerA);
  q.Post(WM_SELECTION_CHANGED, [&] { ran.push_back(3); });
  EXPECT_EQ(wakes, 1);
  q.DropFor(&ownerA);
  EXPECT_EQ(q.Dispatch(), 2u);  // the dropped holder went with its message
  EXPECT_EQ(ran, (std::vector<int>{1, 3}));
  q.Dispatch();
  EXPECT_EQ(ran, (std::vector<int>{1, 3, 4}));
  EXPECT_TRUE(q.Empty());
  EXPECT_EQ(q.PendingProcs(), 0u);
}

TEST(Controller, SignalShutdownDoesNotWaitForAnAnswer) {
  Server s;
  s.hooks.clients = 3;
  s.Start();
  s.boxes.answers = {TMsgAnswer::No};
  s.c->SignalShutdown();
  EXPECT_TRUE(s.boxes.asked.empty());
  EXPECT_TRUE(s.c->Closed());
  EXPECT_TRUE(s.hooks.Did("shutdown clients: NorvoOPC server is shutting down"));
}
