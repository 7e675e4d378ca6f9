#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakes/com_client.h"
#include "fakes/opc_session.h"
#include "opc/opc_group.h"
#include "opc/server_ids.h"

namespace {

using com_client::TaskMemLeakCheck;
using com_client::TaskOut;
using com_client::TaskText;
using com_client::W;

struct State {
  uint32_t rate = 0;
  int32_t active = 0;
  std::string name;
  int32_t bias = 0;
  float deadband = 0;
  LCID lcid = 0;
  OPCHANDLE client = 0, server = 0;
};

State GetState(IOPCGroupStateMgt* g) {
  State st;
  TaskText name;
  EXPECT_EQ(g->GetState(&st.rate, &st.active, name.put(), &st.bias, &st.deadband, &st.lcid, &st.client, &st.server),
            S_OK);
  st.name = name.Utf8();
  return st;
}

class GroupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server = s.Connect();
    group = s.AddGroup(server.get(), "Main", &handle, 1, 1000);
  }
  opc_session::Session s;
  TaskMemLeakCheck leaks;
  ComPtr<IOPCServer> server;
  ComPtr<IOPCGroupStateMgt> group;
  OPCHANDLE handle = 0;
};

TEST_F(GroupTest, SetStateRevisesRatesToTheTimerInterval) {
  struct Case {
    uint32_t requested, revised;
    HRESULT result;
  };
  const Case cases[] = {{10, 25, OPC_S_UNSUPPORTEDRATE}, {0, 25, OPC_S_UNSUPPORTEDRATE},
                        {25, 25, S_OK},                  {26, 50, OPC_S_UNSUPPORTEDRATE},
                        {1000, 1000, S_OK},              {1001, 1025, OPC_S_UNSUPPORTEDRATE},
                        {0xFFFFFFFF, 4294967275u, OPC_S_UNSUPPORTEDRATE}};
  for (const auto& c : cases) {
    uint32_t requested = c.requested, revised = 0;
    EXPECT_EQ(group->SetState(&requested, &revised, nullptr, nullptr, nullptr, nullptr, nullptr), c.result)
        << c.requested;
    EXPECT_EQ(revised, c.revised) << c.requested;
    EXPECT_EQ(GetState(group.get()).rate, c.revised);
  }
}

TEST_F(GroupTest, SetStateWithNullPointersChangesNothing) {
  const State before = GetState(group.get());
  EXPECT_EQ(group->SetState(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), S_OK);
  uint32_t revised = 0;
  EXPECT_EQ(group->SetState(nullptr, &revised, nullptr, nullptr, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(revised, 1000u);
  const State after = GetState(group.get());
  EXPECT_EQ(after.rate, before.rate);
  EXPECT_EQ(after.active, before.active);
  EXPECT_EQ(after.bias, before.bias);
  EXPECT_EQ(after.client, before.client);

  int32_t active = 0, bias = -60;
  float deadband = 2.5f;
  LCID lcid = 0x407;
  OPCHANDLE client = 99;
  EXPECT_EQ(group->SetState(nullptr, nullptr, &active, &bias, &deadband, &lcid, &client), S_OK);
  const State changed = GetState(group.get());
  EXPECT_EQ(changed.active, 0);
  EXPECT_EQ(changed.bias, -60);
  EXPECT_EQ(changed.deadband, 2.5f);
  EXPECT_EQ(changed.lcid, 0x407u);
  EXPECT_EQ(changed.client, 99u);
  EXPECT_EQ(changed.server, handle);
  active = 5;
  group->SetState(nullptr, nullptr, &active, nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(GetState(group.get()).active, -1);  // TRUE as -1
}

TEST_F(GroupTest, GetStateNeedsEveryPointer) {
  uint32_t rate;
  int32_t active, bias;
  float deadband;
  LCID lcid;
  OPCHANDLE client, serverHandle;
  TaskText name;
  EXPECT_EQ(group->GetState(&rate, &active, name.put(), &bias, &deadband, &lcid, &client, nullptr), E_INVALIDARG);
  EXPECT_EQ(name.get(), nullptr);
  EXPECT_EQ(group->GetState(&rate, &active, nullptr, &bias, &deadband, &lcid, &client, &serverHandle), E_INVALIDARG);
}

TEST_F(GroupTest, SetNameRefusesEmptyAndTakenNamesIncludingItsOwn) {
  auto other = s.AddGroup(server.get(), "Other");
  const std::u16string own = W("Main"), taken = W("Other"), empty, fresh = W("Fresh");
  EXPECT_EQ(group->SetName(own.c_str()), OPC_E_DUPLICATENAME);
  EXPECT_EQ(group->SetName(taken.c_str()), OPC_E_DUPLICATENAME);
  EXPECT_EQ(group->SetName(empty.c_str()), E_INVALIDARG);
  EXPECT_EQ(group->SetName(nullptr), E_INVALIDARG);
  EXPECT_EQ(group->SetName(fresh.c_str()), S_OK);
  EXPECT_EQ(GetState(group.get()).name, "Fresh");
  // The old name is free again.
  s.AddGroup(server.get(), "Main");
}

TEST_F(GroupTest, CloneCopiesStateAndItemsInactive) {
  auto items = com_client::Query<IOPCItemMgt>(group);
  auto handles = s.AddItems(items.get(), {"PLC_unit.1.Int", "PLC_unit.1.Real"}, VT_R8);
  int32_t bias = 30;
  float deadband = 1.5f;
  group->SetState(nullptr, nullptr, nullptr, &bias, &deadband, nullptr, nullptr);
  auto source = s.collection.Servers()[0]->FindGroup("Main");
  source->Items()[0]->FHasLast = true;

  s.clock.SetTick(777);
  ComPtr<IOPCGroupStateMgt> clone;
  const std::u16string empty;
  ASSERT_EQ(group->CloneGroup(empty.c_str(), IID_IOPCGroupStateMgt, reinterpret_cast<IUnknown**>(clone.put())), S_OK);
  const State st = GetState(clone.get());
  EXPECT_EQ(st.name, "777");
  EXPECT_EQ(st.active, 0);
  EXPECT_EQ(st.client, 0u);
  EXPECT_EQ(st.rate, 1000u);
  EXPECT_EQ(st.bias, 30);
  EXPECT_EQ(st.deadband, 1.5f);
  EXPECT_NE(st.server, handle);
  EXPECT_EQ(s.Tag("PLC_unit.1.Int").FRefCount, 2);
  EXPECT_FALSE(source->Items()[0]->FHasLast);  // the source reports again

  auto cloneGroup = s.collection.Servers()[0]->FindGroup("777");
  ASSERT_EQ(cloneGroup->Items().size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    const TOPCItem& c = *cloneGroup->Items()[i];
    const TOPCItem& o = *source->Items()[i];
    EXPECT_FALSE(c.FActive);
    EXPECT_EQ(c.FItemID, o.FItemID);
    EXPECT_EQ(c.FClientHandle, o.FClientHandle);
    EXPECT_EQ(c.FRequestedType, VT_R8);
    EXPECT_EQ(c.Tag(), o.Tag());
    EXPECT_NE(c.Handle(), o.Handle());
  }
  EXPECT_FALSE(cloneGroup->FCallbackEnabled);

  // A second unnamed clone at the same tick still gets a free name.
  ComPtr<IUnknown> again;
  ASSERT_EQ(group->CloneGroup(empty.c_str(), IID_IUnknown, again.put()), S_OK);
  EXPECT_NE(s.collection.Servers()[0]->FindGroup("778"), nullptr);
}

TEST_F(GroupTest, CloneRefusals) {
  ComPtr<IUnknown> clone;
  const std::u16string main = W("Main"), fresh = W("Fresh");
  EXPECT_EQ(group->CloneGroup(main.c_str(), IID_IOPCGroupStateMgt, clone.put()), OPC_E_DUPLICATENAME);
  EXPECT_EQ(group->CloneGroup(fresh.c_str(), IID_IOPCServer, clone.put()), E_NOINTERFACE);
  EXPECT_EQ(group->CloneGroup(fresh.c_str(), IID_IUnknown, nullptr), E_INVALIDARG);
  EXPECT_EQ(clone, nullptr);
  EXPECT_EQ(s.collection.Servers()[0]->Groups().size(), 1u);
  ComPtr<IUnknown> named;
  EXPECT_EQ(group->CloneGroup(fresh.c_str(), IID_IOPCItemMgt, named.put()), S_OK);
  EXPECT_TRUE(s.SessionHas("Client Client name unknown created group Main at " + s.NowText()));
  for (const auto& line : s.SessionLines()) EXPECT_EQ(line.find("group Fresh"), std::string::npos);
}

TEST_F(GroupTest, GroupAnswersItsInterfacesOnly) {
  for (const IID& iid : {IID_IOPCGroupStateMgt, IID_IOPCItemMgt, IID_IConnectionPointContainer, IID_IOPCGroup}) {
    ComPtr<IUnknown> p;
    EXPECT_EQ(group->QueryInterface(iid, p.put_void()), S_OK);
  }
  ComPtr<IUnknown> p;
  EXPECT_EQ(group->QueryInterface(IID_IOPCPublicGroupStateMgt, p.put_void()), E_NOINTERFACE);
  ComPtr<IConnectionPoint> point;
  EXPECT_EQ(com_client::Query<IConnectionPointContainer>(group)->FindConnectionPoint(IID_IOPCDataCallback,
                                                                                     point.put()),
            S_OK);
}

}  // namespace
