#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakes/com_client.h"
#include "fakes/opc_session.h"
#include "opc/opc_group.h"

namespace {

using com_client::TaskMemLeakCheck;
using com_client::TaskOut;
using com_client::W;

class ItemsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server = s.Connect();
    items = s.AddGroup<IOPCItemMgt>(server.get(), "Main");
  }
  TOPCGroup& Group() { return *s.collection.Servers()[0]->FindGroup("Main"); }

  opc_session::Session s;
  TaskMemLeakCheck leaks;
  ComPtr<IOPCServer> server;
  ComPtr<IOPCItemMgt> items;
};

TEST_F(ItemsTest, AddItemsChecksEachEntry) {
  struct Case {
    const char* id;
    VARTYPE type;
    HRESULT error;
  };
  const Case cases[] = {
      {"PLC_unit.1.Int", VT_EMPTY, S_OK},
      {"plc_UNIT.1.int", VT_I4, S_OK},  // the address space ignores case
      {"Sys", VT_EMPTY, OPC_E_INVALIDITEMID},
      {"", VT_EMPTY, OPC_E_INVALIDITEMID},
      {"PLC_unit.1.Nothing", VT_EMPTY, OPC_E_UNKNOWNITEMID},
      {"Sys.Version", VT_I4, OPC_E_BADTYPE},  // "vv" is no number
      {"Sys.Version", VT_BSTR, S_OK},
      {"PLC_unit.1.Int", VT_R8, S_OK},
      {"PLC_unit.1.Int", VT_ARRAY | VT_I2, OPC_E_BADTYPE},
      {"PLC_unit.1.IntArr", VT_ARRAY | VT_I2, OPC_E_BADTYPE},
      {"PLC_unit.1.Int", VT_UI8, OPC_E_BADTYPE},
      {"PLC_unit.1.Int", VT_BYREF | VT_I4, OPC_E_BADTYPE},
      {"PLC_unit.1.Real", VT_DISPATCH, OPC_E_BADTYPE},
      {"PLC_unit.1.Bit", VT_BSTR, S_OK},
  };
  for (const auto& c : cases) {
    std::vector<HRESULT> errors;
    HRESULT hr = E_FAIL;
    auto handles = s.AddItems(items.get(), {c.id}, c.type, &errors, &hr);
    ASSERT_EQ(errors.size(), 1u) << c.id;
    EXPECT_EQ(errors[0], c.error) << c.id << " type " << c.type;
    EXPECT_EQ(hr, c.error == S_OK ? S_OK : S_FALSE) << c.id;
    EXPECT_EQ(handles[0] != 0, c.error == S_OK) << c.id;
  }
}

TEST_F(ItemsTest, AddItemsResultsAndItemRecord) {
  s.Tag("Sys.Version").FAccessRights = 1;
  std::vector<std::u16string> ids = {W("PLC_unit.1.real"), W("Sys.Version"), W("PLC_unit.1.IntArr")};
  std::vector<OPCITEMDEF> defs = {{nullptr, ids[0].data(), 1, 11, 0, nullptr, VT_EMPTY, 0},
                                  {nullptr, ids[1].data(), 0, 12, 0, nullptr, VT_EMPTY, 0},
                                  {nullptr, ids[2].data(), 1, 13, 0, nullptr, VT_EMPTY, 0}};
  TaskOut<OPCITEMRESULT> res;
  TaskOut<HRESULT> err;
  ASSERT_EQ(items->AddItems(3, defs.data(), res.put(), err.put()), S_OK);
  res.SetCount(3);
  const VARTYPE canonical[] = {VT_R4, VT_BSTR, VT_ARRAY | VT_I2};
  const uint32_t rights[] = {3, 1, 3};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(err[i], S_OK);
    EXPECT_NE(res[i].hServer, 0u);
    EXPECT_EQ(res[i].vtCanonicalDataType, canonical[i]);
    EXPECT_EQ(res[i].dwAccessRights, rights[i]);
    EXPECT_EQ(res[i].dwBlobSize, 0u);
    EXPECT_EQ(res[i].pBlob, nullptr);
    const TOPCItem* item = Group().FindItem(res[i].hServer);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->FRequestedType, canonical[i]);  // 0 asks for the canonical type
    EXPECT_EQ(item->FClientHandle, 11u + i);
    EXPECT_EQ(item->FActive, i != 1);
  }
  EXPECT_EQ(Group().FindItem(res[0].hServer)->FItemID, "PLC_unit.1.real");  // as the client spelt it
}

TEST_F(ItemsTest, SameIdTwiceGivesTwoItemsAndTwoReferences) {
  auto handles = s.AddItems(items.get(), {"PLC_unit.1.Int", "PLC_unit.1.Int"});
  ASSERT_EQ(handles.size(), 2u);
  EXPECT_NE(handles[0], handles[1]);
  EXPECT_EQ(s.Tag("PLC_unit.1.Int").FRefCount, 2);
  items = nullptr;
  server = nullptr;
  EXPECT_EQ(s.Tag("PLC_unit.1.Int").FRefCount, 0);
  EXPECT_EQ(s.space.unreferenced.size(), 1u);  // told once, when the last item let go
}

TEST_F(ItemsTest, OnlyTheFirstUnknownIdOfACallIsLogged) {
  s.AddItems(items.get(), {"A.b", "PLC_unit.1.Int", "C.d"});
  EXPECT_TRUE(s.SessionHas("Client tried to access non-existing location (A.b...)"));
  EXPECT_FALSE(s.SessionHas("Client tried to access non-existing location (C.d...)"));
  s.AddItems(items.get(), {"C.d"});
  EXPECT_TRUE(s.SessionHas("Client tried to access non-existing location (C.d...)"));
}

TEST_F(ItemsTest, AddItemsRestartsTheAutoConnectCountdownWhenWaitingForAClient) {
  s.AddItems(items.get(), {"PLC_unit.1.Int"});
  EXPECT_EQ(s.host.countdownRestarts, 0);
  s.host.waitForClient = true;
  s.AddItems(items.get(), {"PLC_unit.1.Int"});
  EXPECT_EQ(s.host.countdownRestarts, 2);
  TaskOut<OPCITEMRESULT> res;
  TaskOut<HRESULT> err;
  EXPECT_EQ(items->AddItems(0, nullptr, res.put(), err.put()), E_INVALIDARG);
  EXPECT_EQ(s.host.countdownRestarts, 4);
  EXPECT_FALSE(Group().FAddingItems);
}

TEST_F(ItemsTest, ListCallsRefuseBadArgumentsWithoutAllocating) {
  OPCITEMDEF def{};
  OPCHANDLE h = 1;
  VARTYPE vt = VT_I4;
  TaskOut<OPCITEMRESULT> res;
  TaskOut<HRESULT> err;
  const uint32_t absurd = 0x80000000u;
  for (uint32_t count : {0u, absurd}) {
    EXPECT_EQ(items->AddItems(count, &def, res.put(), err.put()), E_INVALIDARG) << count;
    EXPECT_EQ(items->ValidateItems(count, &def, 0, res.put(), err.put()), E_INVALIDARG) << count;
    EXPECT_EQ(items->RemoveItems(count, &h, err.put()), E_INVALIDARG) << count;
    EXPECT_EQ(items->SetActiveState(count, &h, 1, err.put()), E_INVALIDARG) << count;
    EXPECT_EQ(items->SetClientHandles(count, &h, &h, err.put()), E_INVALIDARG) << count;
    EXPECT_EQ(items->SetDatatypes(count, &h, &vt, err.put()), E_INVALIDARG) << count;
  }
  EXPECT_EQ(items->AddItems(1, nullptr, res.put(), err.put()), E_INVALIDARG);
  EXPECT_EQ(items->AddItems(1, &def, nullptr, err.put()), E_INVALIDARG);
  EXPECT_EQ(items->AddItems(1, &def, res.put(), nullptr), E_INVALIDARG);
  EXPECT_EQ(items->RemoveItems(1, nullptr, err.put()), E_INVALIDARG);
  EXPECT_EQ(items->SetClientHandles(1, &h, nullptr, err.put()), E_INVALIDARG);
  EXPECT_EQ(items->SetDatatypes(1, &h, nullptr, err.put()), E_INVALIDARG);
  EXPECT_FALSE(res);
  EXPECT_FALSE(err);
}

TEST_F(ItemsTest, ValidateItemsCreatesNothing) {
  std::vector<HRESULT> expected = {S_OK, OPC_E_INVALIDITEMID, OPC_E_UNKNOWNITEMID, S_OK};
  std::vector<std::u16string> ids = {W("PLC_unit.1.Bit"), W(""), W("X.y"), W("Sys.Version")};
  std::vector<OPCITEMDEF> defs(ids.size());
  for (size_t i = 0; i < ids.size(); ++i) defs[i] = {nullptr, ids[i].data(), 1, 0, 0, nullptr, VT_ARRAY | VT_I4, 0};
  TaskOut<OPCITEMRESULT> res;
  TaskOut<HRESULT> err;
  ASSERT_EQ(items->ValidateItems(4, defs.data(), 1, res.put(), err.put()), S_FALSE);
  res.SetCount(4);
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(err[i], expected[i]) << i;
    EXPECT_EQ(res[i].hServer, 0u);
  }
  EXPECT_EQ(res[0].vtCanonicalDataType, VT_BOOL);
  EXPECT_EQ(res[0].dwAccessRights, 3u);
  EXPECT_EQ(res[3].vtCanonicalDataType, VT_BSTR);
  EXPECT_TRUE(Group().Items().empty());
  EXPECT_EQ(s.Tag("PLC_unit.1.Bit").FRefCount, 0);
}

TEST_F(ItemsTest, RemoveItemsFreesOwnItemsOnly) {
  auto mine = s.AddItems(items.get(), {"PLC_unit.1.Int", "PLC_unit.1.Real", "PLC_unit.1.Bit"});
  auto other = s.AddGroup<IOPCItemMgt>(server.get(), "Other");
  auto theirs = s.AddItems(other.get(), {"PLC_unit.1.Long"});
  std::vector<OPCHANDLE> handles = {mine[1], theirs[0], 0, mine[1], 0xDEADBEEF, mine[0]};
  TaskOut<HRESULT> err;
  ASSERT_EQ(items->RemoveItems(static_cast<uint32_t>(handles.size()), handles.data(), err.put()), S_FALSE);
  const HRESULT expected[] = {S_OK, OPC_E_INVALIDHANDLE, OPC_E_INVALIDHANDLE,
                              OPC_E_INVALIDHANDLE, OPC_E_INVALIDHANDLE, S_OK};
  for (size_t i = 0; i < handles.size(); ++i) EXPECT_EQ(err[i], expected[i]) << i;
  ASSERT_EQ(Group().Items().size(), 1u);
  EXPECT_EQ(Group().Items()[0]->Handle(), mine[2]);
  EXPECT_EQ(s.Tag("PLC_unit.1.Real").FRefCount, 0);
  EXPECT_EQ(s.Tag("PLC_unit.1.Long").FRefCount, 1);
  OPCHANDLE last = mine[2];
  EXPECT_EQ(items->RemoveItems(1, &last, err.put()), S_OK);
  EXPECT_TRUE(Group().Items().empty());
}

TEST_F(ItemsTest, SetActiveStateClientHandlesAndDataTypes) {
  auto h = s.AddItems(items.get(), {"PLC_unit.1.Int", "PLC_unit.1.Real"});
  std::vector<OPCHANDLE> handles = {h[0], 0, h[1]};
  TaskOut<HRESULT> err;
  ASSERT_EQ(items->SetActiveState(3, handles.data(), 0, err.put()), S_FALSE);
  EXPECT_EQ(err[1], OPC_E_INVALIDHANDLE);
  EXPECT_FALSE(Group().FindItem(h[0])->FActive);
  EXPECT_FALSE(Group().FindItem(h[1])->FActive);

  std::vector<OPCHANDLE> clients = {501, 502, 503};
  ASSERT_EQ(items->SetClientHandles(3, handles.data(), clients.data(), err.put()), S_FALSE);
  EXPECT_EQ(Group().FindItem(h[0])->FClientHandle, 501u);
  EXPECT_EQ(Group().FindItem(h[1])->FClientHandle, 503u);

  // A type above 20 is refused per entry without making the call S_FALSE.
  std::vector<OPCHANDLE> two = {h[0], h[1]};
  std::vector<VARTYPE> types = {21, VT_EMPTY};
  ASSERT_EQ(items->SetDatatypes(2, two.data(), types.data(), err.put()), S_OK);
  EXPECT_EQ(err[0], OPC_E_BADTYPE);
  EXPECT_EQ(err[1], S_OK);
  EXPECT_EQ(Group().FindItem(h[1])->FRequestedType, VT_R4);
  types = {VT_BSTR, VT_I4};
  handles = {h[0], 0};
  ASSERT_EQ(items->SetDatatypes(2, handles.data(), types.data(), err.put()), S_FALSE);
  EXPECT_EQ(err[1], OPC_E_INVALIDHANDLE);
  EXPECT_EQ(Group().FindItem(h[0])->FRequestedType, VT_BSTR);
}

TEST_F(ItemsTest, CreateEnumeratorNeedsItemsAndTheRightInterface) {
  ComPtr<IUnknown> e;
  EXPECT_EQ(items->CreateEnumerator(IID_IEnumOPCItemAttributes, e.put()), S_FALSE);
  EXPECT_EQ(e, nullptr);
  s.AddItems(items.get(), {"PLC_unit.1.Int"});
  EXPECT_EQ(items->CreateEnumerator(IID_IEnumUnknown, e.put()), E_INVALIDARG);
  EXPECT_EQ(e, nullptr);
  EXPECT_EQ(items->CreateEnumerator(IID_IEnumOPCItemAttributes, nullptr), E_INVALIDARG);
  EXPECT_EQ(items->CreateEnumerator(IID_IEnumOPCItemAttributes, e.put()), S_OK);
  EXPECT_NE(e, nullptr);
}

TEST_F(ItemsTest, AddItemsIsTracedWithItsDebugLines) {
  s.logger.FEnabled = true;
  s.options.FLogToFile = true;
  s.options.FLogDebugData = true;
  s.sessionLog.ApplyLogSettings();
  s.AddItems(items.get(), {"PLC_unit.1.Int", "x"});
  EXPECT_NE(s.DebugLog().find("| Call end   | IOPCItemMgt::AddItems=S_FALSE"), std::string::npos);
  const std::string file = TempFolder::ReadFile(s.sessionLog.FileName());
  EXPECT_NE(file.find("DEBUG_XXXX_AddItemsIn 2"), std::string::npos);
  EXPECT_NE(file.find("DEBUG_XXXX_AddItemsOUT "), std::string::npos);
}

}  // namespace
