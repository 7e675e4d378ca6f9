// A project set with hand-made drivers and PLCs, a fake clock and fake
// transports, for the view tick's judgements and the system tag values.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "comm/comm_driver.h"
#include "comm/serial_transport.h"
#include "comm/qnet_codec.h"
#include "core/comm_status.h"
#include "core/opc_project.h"
#include "core/scheduler.h"
#include "fakes/fake_message_boxes.h"
#include "fakes/fake_tag_environment.h"
#include "model/norvo_model.h"
#include "platform/clock.h"
#include "settings/applied_settings.h"

class FakeStatusHooks final : public ICommStatusHooks {
 public:
  int IndicatorState(const TCommDriver& Driver) const override {
    const auto it = indicator.find(&Driver);
    return it != indicator.end() ? it->second : kIndicatorDsrHigh;
  }
  std::optional<bool> ReadDSR(TCommDriver& Driver) override {
    ++dsrReads;
    const auto it = dsr.find(&Driver);
    return it != dsr.end() ? it->second : std::nullopt;
  }
  void RefreshIndicator(TCommDriver& Driver) override { refreshed.push_back(&Driver); }
  void QueueSwitchToDedicatedIP() override { ++switches; }
  bool TreeFocusAttached() const override { return focusAttached; }
  int32_t ClientsConnected() const override { return clients; }
  int32_t MonitoredItems() const override { return items; }

  std::map<const TCommDriver*, int> indicator;
  std::map<const TCommDriver*, std::optional<bool>> dsr;
  std::vector<const TCommDriver*> refreshed;
  int dsrReads = 0;
  int switches = 0;
  bool focusAttached = true;
  int32_t clients = 0;
  int32_t items = 0;
};

class CommStatusTest : public ::testing::Test {
 protected:
  CommStatusTest() {
    scheduler.SetProjectSet(&set);
    clock.SetTick(100000);
    state.ResetReferences(clock.TickCount());
    state.StartUptime(clock.TickCount());
  }

  TCommDriver& AddDriver(uint8_t type, int port = 1, const std::string& target = "127.0.0.1") {
    TCommunicationSettings s;
    s.FDriverType = type;
    s.FCommPort = port;
    s.FTargetAddress = target;
    s.FTimeOut = 1000;
    set.FDrivers.push_back(std::make_unique<TCommDriver>(s));
    set.FDrivers.back()->Attach(&scheduler);
    return *set.FDrivers.back();
  }

  TNorvoModel& AddPLC(int nad, TCommDriver* driver, int tags = 1, const std::string& name = "") {
    const std::string plcName = name.empty() ? "U." + std::to_string(nad) : name;
    auto plc = std::make_unique<TNorvoModel>(nullptr, "", "U", nad, plcName, nullptr);
    plc->FDriver = driver;
    for (int i = 0; i < tags; ++i) {
      auto t = std::make_unique<TNorvoVar>(plc.get(), "v" + std::to_string(i));
      t->FVarType = ntLong;
      t->FAddress = 4 * i;
      plc->AddTag(std::move(t));
    }
    set.FPLCs.push_back(std::move(plc));
    return *set.FPLCs.back();
  }

  // One view tick, after moving the clock on by Ms.
  void Tick(uint32_t ms = kViewTimerInterval) {
    clock.Advance(ms);
    env.tick = clock.TickCount();
    env.now = clock.Now();
    status.ViewTick(clock.TickCount(), clock.Now(), commActive, startedAt);
  }

  // A valid frame from Sender reaching the command layer now (a permission
  // for another station: it answers nothing and sends nothing).
  void Frame(uint32_t sender) {
    TQnetTxBuffer f;
    EncodePermission(f, sender, 5);
    FrameDriver().ReceiveChunk(f.Bytes());
  }
  // A preparation for the server's own NAD at Tick, as PrepareRequest notes it.
  void Prepared(uint32_t tick) {
    counters.FLastPermissionTick = tick;
    counters.FHasPermissionTick = true;
  }
  // Traffic that keeps every judgement content: a frame and a preparation now.
  void Traffic() {
    Frame(1);
    Prepared(clock.TickCount());
  }
  // The driver frames are fed through: the first one, or a spare one
  // that no PLC uses.
  TCommDriver& FrameDriver() {
    if (set.FDrivers.empty()) {
      spare = std::make_unique<TCommDriver>(TCommunicationSettings{});
      spare->Attach(&scheduler);
      set.FDrivers.push_back(std::move(spare));
    }
    return *set.FDrivers.front();
  }

  FakeTagEnvironment env;
  FakeClock clock;
  FakeMessageBoxes boxes;
  TAppliedSettings applied;
  TOPCProject set{TProjectSetContext{applied, boxes, clock}};
  TCommScheduler scheduler{TSchedulerContext{applied, clock, nullptr, {}, {}, {}, {}}};
  TServerCommCounters& counters = scheduler.FCounters;
  TServerComState state{counters};
  std::unique_ptr<TCommDriver> spare;
  FakeStatusHooks hooks;
  TCommStatus status{state, applied, hooks, [this] { return &set; }};
  bool commActive = true;
  TDateTime startedAt = 0;
};
