#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakes/com_client.h"
#include "fakes/opc_session.h"
#include "opc/opc_group.h"
#include "opc/server_ids.h"
#include "opc/server_registration.h"
#include "platform/date_time.h"

namespace {

using com_client::RefCount;
using com_client::TaskMemLeakCheck;
using com_client::TaskOut;
using com_client::TaskText;
using com_client::W;

class ServerTest : public ::testing::Test {
 protected:
  opc_session::Session s;
  TaskMemLeakCheck leaks;
};

// Group names, in list order, as the string enumerator reports them.
std::vector<std::string> GroupNames(IOPCServer* server, OPCENUMSCOPE scope = OPC_ENUM_ALL) {
  ComPtr<IEnumString> e;
  EXPECT_EQ(server->CreateGroupEnumerator(scope, IID_IEnumString, reinterpret_cast<IUnknown**>(e.put())), S_OK);
  std::vector<std::string> names;
  OLECHAR* item = nullptr;
  uint32_t fetched = 0;
  while (e && e->Next(1, &item, &fetched) == S_OK) {
    names.push_back(Utf16ToUtf8(OleView(item)));
    CoTaskMemFree(item);
  }
  return names;
}

TEST(ServerActivation, ByClsidAndProgIdGivesAListedServerObject) {
  com_client::ScopedTempRegistry registry;
  TComServer& framework = ComServer();
  TOPCServerCollection collection;
  RegisterDA2Factory(framework, collection);
  ASSERT_TRUE(framework.RegisterStandardEntries(nullptr));

  ComPtr<IOPCServer> byClsid;
  ASSERT_EQ(com_client::Activate(CLSID_DA2, &byClsid), S_OK);
  ComPtr<IOPCCommon> byProgId;
  ASSERT_EQ(com_client::Activate("ZeltaOPC.DA2", &byProgId), S_OK);
  EXPECT_EQ(collection.Count(), 2u);
  // Every interface of the session answers, and the identity stays put.
  auto cpc = com_client::Query<IConnectionPointContainer>(byClsid);
  ComPtr<IUnknown> dual;
  EXPECT_EQ(byClsid->QueryInterface(IID_IDA2, dual.put_void()), S_OK);
  EXPECT_EQ(byClsid.As<IUnknown>().get(), cpc.As<IUnknown>().get());
  ComPtr<IOPCItemMgt> none;
  EXPECT_EQ(byClsid.As(&none), E_NOINTERFACE);
  EXPECT_EQ(none, nullptr);
  cpc = nullptr;
  dual = nullptr;
  byClsid = nullptr;
  EXPECT_EQ(collection.Count(), 1u);
  byProgId = nullptr;
  EXPECT_EQ(collection.Count(), 0u);
  framework.SetCreator(CLSID_DA2, {});
}

TEST_F(ServerTest, StatusRecordAndVendorTextComeFromTheTaskAllocator) {
  auto server = s.Connect();
  auto g = s.AddGroup(server.get(), "A");
  TaskOut<OPCSERVERSTATUS> st;
  ASSERT_EQ(server->GetStatus(st.put()), S_OK);
  st.SetCount(1);
  EXPECT_EQ(FileTimeToUint64(st[0].ftStartTime), FileTimeToUint64(LocalDateTimeToUtcFileTime(s.host.startTime)));
  EXPECT_EQ(FileTimeToUint64(st[0].ftCurrentTime), FileTimeToUint64(LocalDateTimeToUtcFileTime(s.clock.Now())));
  EXPECT_EQ(FileTimeToUint64(st[0].ftLastUpdateTime), FileTimeToUint64(st[0].ftCurrentTime));
  EXPECT_EQ(st[0].dwServerState, OPC_STATUS_RUNNING);
  EXPECT_EQ(st[0].dwGroupCount, 1u);
  EXPECT_EQ(st[0].dwBandWidth, 100u);
  EXPECT_EQ(st[0].wMajorVersion, 1);
  EXPECT_EQ(st[0].wMinorVersion, 8);
  EXPECT_EQ(st[0].wBuildNumber, 0);
  EXPECT_EQ(Utf16ToUtf8(OleView(st[0].szVendorInfo)), "NorvoOPC Data Access Server");
  EXPECT_EQ(server->GetStatus(nullptr), E_INVALIDARG);
}

TEST_F(ServerTest, LocalesAndErrorTexts) {
  auto server = s.Connect();
  auto common = com_client::Query<IOPCCommon>(server);
  LCID lcid = 0;
  ASSERT_EQ(common->GetLocaleID(&lcid), S_OK);
  EXPECT_EQ(lcid, 2048u);
  EXPECT_EQ(common->SetLocaleID(0x409), E_INVALIDARG);
  EXPECT_EQ(common->GetLocaleID(&lcid), S_OK);
  EXPECT_EQ(lcid, 2048u);
  EXPECT_EQ(common->SetLocaleID(1024), S_OK);
  EXPECT_EQ(common->GetLocaleID(&lcid), S_OK);
  EXPECT_EQ(lcid, 1024u);
  EXPECT_EQ(common->GetLocaleID(nullptr), E_INVALIDARG);

  uint32_t count = 0;
  TaskOut<LCID> ids;
  ASSERT_EQ(common->QueryAvailableLocaleIDs(&count, ids.put()), S_OK);
  ASSERT_EQ(count, 2u);
  EXPECT_EQ(ids[0], 2048u);
  EXPECT_EQ(ids[1], 1024u);
  EXPECT_EQ(common->QueryAvailableLocaleIDs(nullptr, ids.put()), E_INVALIDARG);
  EXPECT_FALSE(ids);

  TaskText text;
  EXPECT_EQ(server->GetErrorString(OPC_E_UNKNOWNITEMID, 0x409, text.put()), S_OK);
  EXPECT_EQ(text.Utf8(), "The item is no longer available in the server address space.");
  EXPECT_EQ(common->GetErrorString(E_FAIL, text.put()), S_OK);
  EXPECT_EQ(text.Utf8(), "Unspecified error");
  EXPECT_EQ(common->GetErrorString(MakeHResult(0x87654321), text.put()), S_OK);
  EXPECT_EQ(text.Utf8(), "");
  EXPECT_EQ(common->GetErrorString(S_OK, nullptr), E_INVALIDARG);
}

TEST_F(ServerTest, ClientNameAppearsInTheSessionLogUpToTheDisconnect) {
  auto server = s.Connect();
  auto common = com_client::Query<IOPCCommon>(server);
  const std::u16string name = W("Wizcon 9");
  EXPECT_EQ(common->SetClientName(name.c_str()), S_OK);
  EXPECT_TRUE(s.SessionHas("Client identifies itself as Wizcon 9"));
  auto g = s.AddGroup(server.get(), "Fast");
  EXPECT_TRUE(s.SessionHas("Client Wizcon 9 created group Fast at " + s.NowText()));
  g = nullptr;
  common = nullptr;
  server = nullptr;
  EXPECT_TRUE(s.SessionHas("Client Wizcon 9 disconnected at " + s.NowText()));
}

TEST_F(ServerTest, DisconnectIsNotLoggedBeforeTheWindowIsShown) {
  s.host.shown = false;
  s.Connect();
  for (const auto& line : s.SessionLines()) EXPECT_EQ(line.find("disconnected"), std::string::npos) << line;
}

TEST_F(ServerTest, UnnamedGroupsCountFromTheListSizeAndSkipTakenNames) {
  auto server = s.Connect();
  auto a = s.AddGroup(server.get(), "");
  auto b = s.AddGroup(server.get(), "");
  EXPECT_EQ(GroupNames(server.get()), (std::vector<std::string>{"Group1", "Group0"}));

  auto other = s.Connect();
  auto named = s.AddGroup(other.get(), "Group1");
  auto next = s.AddGroup(other.get(), "");
  EXPECT_EQ(GroupNames(other.get()), (std::vector<std::string>{"Group2", "Group1"}));
}

TEST_F(ServerTest, AddGroupNamesRatesAndBias) {
  auto server = s.Connect();
  // Names of any length and content, and names differing in case only.
  const std::string longName(5000, 'x');
  std::vector<ComPtr<IOPCGroupStateMgt>> held;
  for (const std::string& name : {longName, std::string("grüße / \\ \"%s\" \t"), std::string("A"), std::string("a")}) {
    held.push_back(s.AddGroup(server.get(), name));
    TaskText got;
    uint32_t rate;
    int32_t active, bias;
    float deadband;
    LCID lcid;
    OPCHANDLE client, handle;
    ASSERT_EQ(held.back()->GetState(&rate, &active, got.put(), &bias, &deadband, &lcid, &client, &handle), S_OK);
    EXPECT_EQ(got.Utf8(), name);
  }
  ComPtr<IUnknown> dup;
  OPCHANDLE h = 0;
  uint32_t revised = 0;
  const std::u16string a = W("A");
  EXPECT_EQ(server->AddGroup(a.c_str(), 1, 10, 1, nullptr, nullptr, 0, &h, &revised, IID_IOPCGroupStateMgt, dup.put()),
            OPC_E_DUPLICATENAME);
  EXPECT_EQ(dup, nullptr);
  EXPECT_EQ(server->AddGroup(a.c_str(), 1, 10, 1, nullptr, nullptr, 0, nullptr, &revised, IID_IOPCGroupStateMgt,
                             dup.put()),
            E_INVALIDARG);

  // The rate is stored as asked; without a bias the zone's own is used.
  ComPtr<IOPCGroupStateMgt> g;
  const std::u16string name = W("Rate");
  ASSERT_EQ(server->AddGroup(name.c_str(), 0, 10, 3, nullptr, nullptr, 0x407, &h, &revised, IID_IOPCGroupStateMgt,
                             reinterpret_cast<IUnknown**>(g.put())),
            S_OK);
  EXPECT_EQ(revised, 10u);
  uint32_t rate = 0;
  int32_t active = 1, bias = 1;
  float deadband = 1;
  LCID lcid = 0;
  OPCHANDLE client = 0, serverHandle = 0;
  TaskText groupName;
  ASSERT_EQ(g->GetState(&rate, &active, groupName.put(), &bias, &deadband, &lcid, &client, &serverHandle), S_OK);
  EXPECT_EQ(rate, 10u);
  EXPECT_EQ(active, 0);
  EXPECT_EQ(bias, TimeZoneBiasMinutes());
  EXPECT_EQ(deadband, 0.0f);
  EXPECT_EQ(lcid, 0x407u);
  EXPECT_EQ(client, 3u);
  EXPECT_EQ(serverHandle, h);
  EXPECT_EQ(groupName.Utf8(), "Rate");
}

TEST_F(ServerTest, AddGroupForAnUnofferedInterfaceLeavesNoGroupBehind) {
  auto server = s.Connect();
  ComPtr<IUnknown> g;
  OPCHANDLE h = 0;
  uint32_t revised = 0;
  const std::u16string name = W("X");
  EXPECT_EQ(server->AddGroup(name.c_str(), 1, 100, 1, nullptr, nullptr, 0, &h, &revised, IID_IOPCServer, g.put()),
            E_NOINTERFACE);
  EXPECT_EQ(g, nullptr);
  EXPECT_TRUE(GroupNames(server.get()).empty());
  s.AddGroup(server.get(), "X");
}

TEST_F(ServerTest, GetGroupByNameIsExactAndChecksItsArguments) {
  auto server = s.Connect();
  auto g = s.AddGroup(server.get(), "Line");
  const std::u16string line = W("Line"), lower = W("line"), empty;
  ComPtr<IOPCItemMgt> found;
  EXPECT_EQ(server->GetGroupByName(line.c_str(), IID_IOPCItemMgt, reinterpret_cast<IUnknown**>(found.put())), S_OK);
  EXPECT_EQ(found.As<IUnknown>().get(), g.As<IUnknown>().get());
  ComPtr<IUnknown> none;
  EXPECT_EQ(server->GetGroupByName(lower.c_str(), IID_IUnknown, none.put()), E_FAIL);
  EXPECT_EQ(server->GetGroupByName(empty.c_str(), IID_IUnknown, none.put()), E_INVALIDARG);
  EXPECT_EQ(server->GetGroupByName(nullptr, IID_IUnknown, none.put()), E_INVALIDARG);
  EXPECT_EQ(server->GetGroupByName(line.c_str(), IID_IOPCServer, none.put()), E_NOINTERFACE);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(server->GetGroupByName(line.c_str(), IID_IUnknown, nullptr), E_INVALIDARG);
}

TEST_F(ServerTest, RemoveGroupInUseForcedAndPurged) {
  auto server = s.Connect();
  OPCHANDLE h = 0;
  auto g = s.AddGroup(server.get(), "G", &h);
  auto second = com_client::Query<IOPCItemMgt>(g);  // the client holds it twice
  EXPECT_EQ(server->RemoveGroup(h, 0), OPC_S_INUSE);
  EXPECT_EQ(GroupNames(server.get()), std::vector<std::string>{"G"});
  EXPECT_EQ(server->RemoveGroup(h, 1), S_OK);
  EXPECT_TRUE(s.SessionHas("Group G deleted at " + s.NowText()));
  // Still listed while held twice; gone from the list at the next pass once
  // the client holds it only once.
  s.collection.TimerTick();
  EXPECT_EQ(GroupNames(server.get()).size(), 1u);
  second = nullptr;
  s.collection.TimerTick();
  EXPECT_TRUE(GroupNames(server.get()).empty());
  // The group keeps working for the client that still holds it.
  uint32_t revised = 0;
  uint32_t rate = 50;
  EXPECT_EQ(g->SetState(&rate, &revised, nullptr, nullptr, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(server->RemoveGroup(h, 1), E_INVALIDARG);
}

TEST_F(ServerTest, RemoveGroupRefusesHandlesItNeverGave) {
  auto server = s.Connect();
  OPCHANDLE h = 0;
  auto g = s.AddGroup(server.get(), "G", &h);
  auto other = s.Connect();
  OPCHANDLE foreign = 0;
  auto og = s.AddGroup(other.get(), "G", &foreign);
  for (OPCHANDLE bad : {OPCHANDLE{0}, h + 1000, foreign, OPCHANDLE{0xFFFFFFFF}}) {
    EXPECT_EQ(server->RemoveGroup(bad, 1), E_INVALIDARG) << bad;
  }
  EXPECT_EQ(server->RemoveGroup(h, 0), S_OK);
}

TEST_F(ServerTest, GroupEnumeratorsByScopeAndInterface) {
  auto server = s.Connect();
  auto a = s.AddGroup(server.get(), "A");
  auto b = s.AddGroup(server.get(), "B");
  for (OPCENUMSCOPE scope : {OPC_ENUM_PRIVATE_CONNECTIONS, OPC_ENUM_ALL_CONNECTIONS, OPC_ENUM_PRIVATE, OPC_ENUM_ALL})
    EXPECT_EQ(GroupNames(server.get(), scope), (std::vector<std::string>{"B", "A"})) << scope;
  for (OPCENUMSCOPE scope : {OPC_ENUM_PUBLIC_CONNECTIONS, OPC_ENUM_PUBLIC})
    EXPECT_TRUE(GroupNames(server.get(), scope).empty()) << scope;

  ComPtr<IUnknown> e;
  for (int scope : {0, 7, -1}) {
    EXPECT_EQ(server->CreateGroupEnumerator(static_cast<OPCENUMSCOPE>(scope), IID_IEnumString, e.put()),
              E_INVALIDARG);
    EXPECT_EQ(server->CreateGroupEnumerator(static_cast<OPCENUMSCOPE>(scope), IID_IEnumUnknown, e.put()),
              E_INVALIDARG);
    EXPECT_EQ(e, nullptr);
  }
  EXPECT_EQ(server->CreateGroupEnumerator(OPC_ENUM_ALL, IID_IOPCServer, e.put()), E_NOINTERFACE);
  EXPECT_EQ(e, nullptr);

  // The object enumerator hands out the groups themselves, newest first.
  ComPtr<IEnumUnknown> objects;
  ASSERT_EQ(server->CreateGroupEnumerator(OPC_ENUM_ALL, IID_IEnumUnknown, reinterpret_cast<IUnknown**>(objects.put())),
            S_OK);
  IUnknown* got[3] = {};
  uint32_t fetched = 0;
  EXPECT_EQ(objects->Next(3, got, &fetched), RPC_X_ENUM_VALUE_OUT_OF_RANGE);
  ASSERT_EQ(fetched, 2u);
  EXPECT_EQ(got[0], b.As<IUnknown>().get());
  EXPECT_EQ(got[1], a.As<IUnknown>().get());
  for (uint32_t i = 0; i < fetched; ++i) got[i]->Release();
}

TEST_F(ServerTest, EnumeratorKeepsGroupsAliveAfterTheClientLetsGo) {
  auto server = s.Connect();
  auto g = s.AddGroup(server.get(), "Held");
  ComPtr<IEnumUnknown> objects;
  ASSERT_EQ(server->CreateGroupEnumerator(OPC_ENUM_ALL, IID_IEnumUnknown, reinterpret_cast<IUnknown**>(objects.put())),
            S_OK);
  g = nullptr;
  server = nullptr;
  IUnknown* got = nullptr;
  uint32_t fetched = 0;
  ASSERT_EQ(objects->Next(1, &got, &fetched), S_OK);
  ComPtr<IOPCGroupStateMgt> state;
  ASSERT_EQ(got->QueryInterface(IID_IOPCGroupStateMgt, state.put_void()), S_OK);
  got->Release();
  const std::u16string name = W("Renamed");
  EXPECT_EQ(state->SetName(name.c_str()), S_OK);
}

TEST_F(ServerTest, ShutdownRequestReachesTheAdvisedSink) {
  struct Sink : ComObject<IOPCShutdown> {
    HRESULT ShutdownRequest(const OLECHAR* reason) override {
      reasons.push_back(Utf16ToUtf8(OleView(reason)));
      return answer;
    }
    std::vector<std::string> reasons;
    HRESULT answer = S_OK;
  };
  auto first = s.Connect();
  auto second = s.Connect();
  auto sinkA = MakeComObject<Sink>();
  auto sinkB = MakeComObject<Sink>();
  ComPtr<IConnectionPoint> point;
  ASSERT_EQ(com_client::Query<IConnectionPointContainer>(first)->FindConnectionPoint(IID_IOPCShutdown, point.put()),
            S_OK);
  uint32_t cookie = 0, cookie2 = 0;
  ASSERT_EQ(point->Advise(sinkA->Identity(), &cookie), S_OK);
  EXPECT_EQ(point->Advise(sinkB->Identity(), &cookie2), CONNECT_E_ADVISELIMIT);  // one sink per session
  ComPtr<IConnectionPoint> point2;
  ASSERT_EQ(com_client::Query<IConnectionPointContainer>(second)->FindConnectionPoint(IID_IOPCShutdown, point2.put()),
            S_OK);
  ASSERT_EQ(point2->Advise(sinkB->Identity(), &cookie2), S_OK);

  // From the last server object to the first, stopping at a failure.
  sinkB->answer = E_FAIL;
  EXPECT_EQ(s.collection.SendShutdownRequests("NorvoOPC server is shutting down"), E_FAIL);
  EXPECT_EQ(sinkB->reasons, std::vector<std::string>{"NorvoOPC server is shutting down"});
  EXPECT_TRUE(sinkA->reasons.empty());
  sinkB->answer = S_OK;
  EXPECT_EQ(s.collection.SendShutdownRequests("bye"), S_OK);
  EXPECT_EQ(sinkA->reasons, std::vector<std::string>{"bye"});

  ASSERT_EQ(point->Unadvise(cookie), S_OK);
  EXPECT_EQ(s.collection.SendShutdownRequests("again"), S_OK);
  EXPECT_EQ(sinkA->reasons.size(), 1u);
}

// A client may let go of its references in any order; the server never
// touches a freed object (AddressSanitizer checks this run).
TEST_F(ServerTest, ReleaseInEveryOrder) {
  enum Piece { Server, Group, Items, Enum };
  std::vector<std::vector<Piece>> orders = {{Server, Group, Items, Enum}, {Enum, Items, Group, Server},
                                            {Group, Server, Enum, Items}, {Items, Server, Enum, Group},
                                            {Server, Enum, Group, Items}};
  for (const auto& order : orders) {
    auto server = s.Connect();
    auto group = s.AddGroup(server.get(), "G");
    auto items = com_client::Query<IOPCItemMgt>(group);
    s.AddItems(items.get(), {"PLC_unit.1.Int", "PLC_unit.1.Real"});
    ComPtr<IUnknown> e;
    ASSERT_EQ(items->CreateEnumerator(IID_IEnumOPCItemAttributes, e.put()), S_OK);
    for (Piece p : order) {
      switch (p) {
        case Server: server = nullptr; break;
        case Group: group = nullptr; break;
        case Items: items = nullptr; break;
        case Enum: e = nullptr; break;
      }
      s.collection.TimerTick();
    }
    EXPECT_EQ(s.collection.Count(), 0u);
    EXPECT_EQ(s.Tag("PLC_unit.1.Int").FRefCount, 0);
  }
}

TEST_F(ServerTest, ServerOutlivingItsCollectionIsDetached) {
  ComPtr<IOPCServer> server;
  ComPtr<IOPCGroupStateMgt> group;
  {
    TOPCServerCollection local;
    local.Env() = s.collection.Env();
    ASSERT_EQ(local.CreateServer(IID_IOPCServer, server.put_void()), S_OK);
    group = s.AddGroup(server.get(), "G");
  }
  TaskOut<OPCSERVERSTATUS> st;
  EXPECT_EQ(server->GetStatus(st.put()), S_OK);
  st.SetCount(1);
  const std::u16string name = W("H");
  EXPECT_EQ(group->SetName(name.c_str()), S_OK);
}

TEST_F(ServerTest, TimerPassDrivesOnlyLiveReferencedGroupsWithItems) {
  auto server = s.Connect();
  auto withItems = s.AddGroup<IOPCItemMgt>(server.get(), "Items");
  s.AddItems(withItems.get(), {"PLC_unit.1.Int"});
  auto empty = s.AddGroup<IOPCItemMgt>(server.get(), "Empty");
  OPCHANDLE removedHandle = 0;
  auto removed = s.AddGroup<IOPCItemMgt>(server.get(), "Removed", &removedHandle);
  s.AddItems(removed.get(), {"PLC_unit.1.Int"});
  auto extra = com_client::Query<IUnknown>(removed);
  ASSERT_EQ(server->RemoveGroup(removedHandle, 1), S_OK);

  std::vector<std::string> ticked;
  std::vector<uint32_t> ticks;
  s.collection.FAfterGroupTick = [&](TOPCGroup& g, uint32_t t) {
    ticked.push_back(g.FName);
    ticks.push_back(t);
  };
  s.clock.SetTick(12345);
  s.collection.TimerTick();
  EXPECT_EQ(ticked, std::vector<std::string>{"Items"});
  EXPECT_EQ(ticks, std::vector<uint32_t>{12345});
  EXPECT_TRUE(s.collection.TimerEnabled());
}

TEST_F(ServerTest, TimerPassSurvivesGroupsAndServersReleasedDuringIt) {
  auto first = s.Connect();
  auto second = s.Connect();
  ComPtr<IOPCItemMgt> groups[3];
  for (int i = 0; i < 3; ++i) {
    groups[i] = s.AddGroup<IOPCItemMgt>(i < 2 ? second.get() : first.get(), "G" + std::to_string(i));
    s.AddItems(groups[i].get(), {"PLC_unit.1.Int"});
  }
  std::vector<std::string> ticked;
  // The first group ticked releases everything the client holds, and a
  // nested pass is refused while this one runs.
  s.collection.FAfterGroupTick = [&](TOPCGroup& g, uint32_t) {
    ticked.push_back(g.FName);
    EXPECT_FALSE(s.collection.TimerEnabled());
    s.collection.TimerTick();
    for (auto& gr : groups) gr = nullptr;
    first = nullptr;
    second = nullptr;
  };
  s.collection.TimerTick();
  EXPECT_EQ(ticked, std::vector<std::string>{"G0"});
  EXPECT_EQ(s.collection.Count(), 0u);
  EXPECT_TRUE(s.collection.TimerEnabled());
}

TEST_F(ServerTest, RemoveGroupDuringAPassSeesOnlyTheClientsReferences) {
  auto server = s.Connect();
  OPCHANDLE h = 0;
  auto g = s.AddGroup<IOPCItemMgt>(server.get(), "G", &h);
  s.AddItems(g.get(), {"PLC_unit.1.Int"});
  HRESULT during = E_FAIL;
  s.collection.FAfterGroupTick = [&](TOPCGroup&, uint32_t) { during = server->RemoveGroup(h, 0); };
  s.collection.TimerTick();
  EXPECT_EQ(during, S_OK);
}

TEST_F(ServerTest, DebugLogTracesBlocksAndLines) {
  s.logger.FEnabled = true;
  auto server = s.Connect();
  auto g = s.AddGroup(server.get(), "G");
  auto common = com_client::Query<IOPCCommon>(server);
  common->SetLocaleID(5);
  ComPtr<IUnknown> e;
  server->CreateGroupEnumerator(OPC_ENUM_ALL, IID_IEnumUnknown, e.put());
  const std::string log = s.DebugLog();
  for (const char* text : {"| Call start | IOPCServer::AddGroup", "| Call end   | IOPCServer::AddGroup=S_OK",
                           "| Call | IOPCCommon::SetLocaleID=E_INVALIDARG", "| Call start | EnumerateUnknown",
                           "| Call end   | EnumerateUnknown=S_OK", "| Call end   | IOPCServer::CreateGroupEnumerator=S_OK"}) {
    EXPECT_NE(log.find(text), std::string::npos) << text;
  }
  EXPECT_EQ(s.logger.Depth(), 1u);
}

}  // namespace
