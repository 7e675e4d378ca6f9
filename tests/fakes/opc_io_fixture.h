// A client session with one active group for read, write and callback
// tests: tags owned by a PLC (so device requests wait for it), a tag
// environment and clock the test moves, and a recording data callback.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakes/com_client.h"
#include "fakes/fake_tag_environment.h"
#include "fakes/opc_session.h"
#include "fakes/opc_sinks.h"
#include "model/norvo_model.h"
#include "opc/opc_group.h"

namespace opc_io {

class TestHost final : public IOPCServerHost {
 public:
  TDateTime ServerStartTime() const override { return 46000.0; }
  bool MainWindowShown() const override { return true; }
  bool WaitForClient() const override { return false; }
  void RestartAutoConnectCountdown() override {}
  bool QualityIndependentSyncRead() const override { return qualityIndependent; }
  bool HideArrayElements() const override { return hideArrayElements; }

  bool qualityIndependent = false;
  bool hideArrayElements = true;
};

class GroupIo : public ::testing::Test {
 protected:
  static constexpr OPCHANDLE kClientGroup = 7;

  void SetUp() override {
    s.collection.Env().host = &host;
    for (auto& t : s.space.tags) t->FOwner = &plc;
    s.clock.SetTick(100000);
    tagEnv.now = s.clock.Now();
    server = s.Connect();
    group = s.AddGroup<IOPCItemMgt>(server.get(), "G", nullptr, 1, 1000);
    handles = s.AddItems(group.get(), ids);
  }

  TOPCGroup& G() { return *static_cast<TOPCGroup*>(group.get()); }
  TNorvoVar& Tag(size_t i) { return s.Tag(ids[i]); }
  template <class I>
  ComPtr<I> As() {
    return com_client::Query<I>(group);
  }

  uint32_t Advise(opc_sinks::DataCallback* cb) {
    ComPtr<IConnectionPoint> point;
    EXPECT_EQ(As<IConnectionPointContainer>()->FindConnectionPoint(IID_IOPCDataCallback, point.put()), S_OK);
    uint32_t cookie = 0;
    EXPECT_EQ(point->Advise(cb->Identity(), &cookie), S_OK);
    return cookie;
  }
  void Unadvise(uint32_t cookie) {
    ComPtr<IConnectionPoint> point;
    As<IConnectionPointContainer>()->FindConnectionPoint(IID_IOPCDataCallback, point.put());
    EXPECT_EQ(point->Unadvise(cookie), S_OK);
  }

  // One group-timer pass, ms after the last.
  void Pass(uint32_t ms = 25) {
    s.clock.Advance(ms);
    s.collection.TimerTick();
  }
  // A reply from the PLC for the tag, stamped with the present time.
  void Reply(TNorvoVar& tag, int32_t raw) {
    tagEnv.now = s.clock.Now();
    tag.UpdateFromPLC(raw);
  }

  FakeTagEnvironment tagEnv;
  TNorvoModel plc;  // owns no tags; gives them a PLC to wait for
  opc_session::Session s;
  TestHost host;
  com_client::TaskMemLeakCheck leaks;
  ComPtr<IOPCServer> server;
  ComPtr<IOPCItemMgt> group;
  std::vector<std::string> ids{"PLC_unit.1.Int", "PLC_unit.1.Real", "PLC_unit.1.Bit", "Sys.Version"};
  std::vector<OPCHANDLE> handles;
};

}  // namespace opc_io
