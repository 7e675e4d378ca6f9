#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "fakes/opc_io_fixture.h"
#include "model/norvo_model.h"
#include "model/same_text.h"
#include "opc/browse_object.h"

namespace {

using com_client::W;

std::unique_ptr<TNorvoVar> MakeTag(TNorvoModel* owner, const std::string& id, bool system = false) {
  auto t = std::make_unique<TNorvoVar>(owner, id);
  t->FItemID = id;
  t->FVarType = system ? ntString : ntInt;
  t->FIsSystem = system;
  return t;
}

class BrowseSpace final : public IOPCAddressSpace {
 public:
  TNorvoVar* FindItem(const std::string& id) override {
    for (auto& t : sys)
      if (SameText(t->FItemID, id)) return t.get();
    for (auto& p : plcs)
      for (auto* list : {&p->FSysTags, &p->FTags})
        for (auto& t : *list)
          if (SameText(t->FItemID, id)) return t.get();
    return nullptr;
  }
  void TagUnreferenced(TNorvoVar*) override {}
  std::span<const std::unique_ptr<TNorvoVar>> ServerSysTags() const override { return sys; }
  std::span<const std::unique_ptr<TNorvoModel>> PLCs() const override { return plcs; }

  TNorvoModel& AddPLC(const std::string& name, std::vector<std::string> tags) {
    plcs.push_back(std::make_unique<TNorvoModel>());
    TNorvoModel& p = *plcs.back();
    p.FName = name;
    p.FSysTags.push_back(MakeTag(&p, name + ".Sys.NAD", true));
    p.FSysTags.push_back(MakeTag(&p, name + ".Sys.ComStatus", true));
    for (const auto& t : tags) p.FTags.push_back(MakeTag(&p, name + "." + t));
    return p;
  }

  std::vector<std::unique_ptr<TNorvoVar>> sys;
  std::vector<std::unique_ptr<TNorvoModel>> plcs;
};

class Browse : public ::testing::Test {
 protected:
  void SetUp() override {
    space.sys.push_back(MakeTag(nullptr, "Sys.Version", true));
    space.sys.push_back(MakeTag(nullptr, "Sys.ComStatus", true));
    TNorvoModel& a = space.AddPLC("PLC_a.1", {"zeta", "Arr", "Arr[0]", "Arr[1]", "alpha"});
    a.FTags[2]->FArrayHead = a.FTags[1].get();
    a.FTags[3]->FArrayHead = a.FTags[1].get();
    space.AddPLC("PLC_b.2", {});
    s.collection.Env().addressSpace = &space;
    s.collection.Env().host = &host;
    server = s.Connect();
    browse = com_client::Query<IOPCBrowseServerAddressSpace>(server);
  }
  std::vector<std::string> List(OPCBROWSETYPE type) {
    ComPtr<IEnumString> e;
    EXPECT_EQ(browse->BrowseOPCItemIDs(type, u"*", VT_I2, 3, e.put()), S_OK);
    std::vector<std::string> out;
    OLECHAR* item = nullptr;
    uint32_t fetched = 0;
    while (e && e->Next(1, &item, &fetched) == S_OK) {
      out.push_back(Utf16ToUtf8(OleView(item)));
      CoTaskMemFree(item);
    }
    return out;
  }
  HRESULT Move(OPCBROWSEDIRECTION d, const std::string& name) { return browse->ChangeBrowsePosition(d, W(name).c_str()); }

  BrowseSpace space;
  opc_session::Session s;
  opc_io::TestHost host;
  com_client::TaskMemLeakCheck leaks;
  ComPtr<IOPCServer> server;
  ComPtr<IOPCBrowseServerAddressSpace> browse;
};

using Names = std::vector<std::string>;

TEST_F(Browse, WalksTheBranches) {
  OPCNAMESPACETYPE org{};
  EXPECT_EQ(browse->QueryOrganization(&org), S_OK);
  EXPECT_EQ(org, OPC_NS_HIERARCHIAL);
  EXPECT_EQ(List(OPC_BRANCH), (Names{"Sys", "PLC_a.1", "PLC_b.2"}));
  EXPECT_EQ(List(OPC_LEAF), Names{});
  EXPECT_EQ(Move(OPC_BROWSE_UP, ""), E_FAIL);
  EXPECT_EQ(Move(OPC_BROWSE_TO, "PLC_a.1"), E_FAIL);
  EXPECT_EQ(Move(OPC_BROWSE_DOWN, "nope"), E_FAIL);

  ASSERT_EQ(Move(OPC_BROWSE_DOWN, "SYS"), S_OK);
  EXPECT_EQ(List(OPC_LEAF), (Names{"Sys.Version", "Sys.ComStatus"}));
  EXPECT_EQ(Move(OPC_BROWSE_DOWN, "Sys"), E_FAIL);
  ASSERT_EQ(Move(OPC_BROWSE_UP, ""), S_OK);

  ASSERT_EQ(Move(OPC_BROWSE_DOWN, "plc_A.1"), S_OK);
  EXPECT_EQ(List(OPC_BRANCH), Names{"Sys"});
  EXPECT_EQ(List(OPC_LEAF), (Names{"PLC_a.1.alpha", "PLC_a.1.Arr", "PLC_a.1.zeta"}));
  host.hideArrayElements = false;
  EXPECT_EQ(List(OPC_LEAF),
            (Names{"PLC_a.1.alpha", "PLC_a.1.Arr", "PLC_a.1.Arr[0]", "PLC_a.1.Arr[1]", "PLC_a.1.zeta"}));
  host.hideArrayElements = true;
  ASSERT_EQ(Move(OPC_BROWSE_DOWN, "sys"), S_OK);
  EXPECT_EQ(List(OPC_LEAF), (Names{"PLC_a.1.Sys.NAD", "PLC_a.1.Sys.ComStatus"}));
  EXPECT_EQ(Move(OPC_BROWSE_DOWN, "sys"), E_FAIL);
  ASSERT_EQ(Move(OPC_BROWSE_UP, ""), S_OK);
  EXPECT_EQ(List(OPC_BRANCH), Names{"Sys"});
  ASSERT_EQ(Move(OPC_BROWSE_UP, ""), S_OK);
  EXPECT_EQ(List(OPC_BRANCH).size(), 3u);

  // The whole list is sorted; the last PLC has system tags only, which stay behind.
  EXPECT_EQ(List(OPC_FLAT), (Names{"PLC_a.1.alpha", "PLC_a.1.Arr", "PLC_a.1.Sys.ComStatus", "PLC_a.1.Sys.NAD",
                                   "PLC_a.1.zeta", "Sys.ComStatus", "Sys.Version", "PLC_b.2.Sys.NAD",
                                   "PLC_b.2.Sys.ComStatus"}));
}

TEST_F(Browse, ItemIDsAndAccessPaths) {
  com_client::TaskText id;
  EXPECT_EQ(browse->GetItemID(const_cast<OLECHAR*>(u"x"), id.put()), S_OK);
  EXPECT_EQ(id.Utf8(), "");
  ASSERT_EQ(Move(OPC_BROWSE_DOWN, "PLC_b.2"), S_OK);
  EXPECT_EQ(browse->GetItemID(const_cast<OLECHAR*>(u"PLC_b.2.whatever"), id.put()), S_OK);
  EXPECT_EQ(id.Utf8(), "PLC_b.2.whatever");
  IEnumString* paths = reinterpret_cast<IEnumString*>(1);
  EXPECT_EQ(browse->BrowseAccessPaths(u"x", &paths), E_NOTIMPL);
  EXPECT_EQ(paths, nullptr);
}

TEST_F(Browse, APLCFreedByAReloadSendsThePositionToTheRoot) {
  ASSERT_EQ(Move(OPC_BROWSE_DOWN, "PLC_a.1"), S_OK);
  ASSERT_EQ(Move(OPC_BROWSE_DOWN, "Sys"), S_OK);
  space.plcs.erase(space.plcs.begin());
  EXPECT_EQ(List(OPC_LEAF), Names{});
  EXPECT_EQ(List(OPC_BRANCH), (Names{"Sys", "PLC_b.2"}));
}

// The list as first built: sorted anew after every PLC tag, with a stable
// sort in which an entry without a tag is passed by nothing.
void ReferenceOrder(std::vector<TBrowseEntry>& in) {
  std::vector<TBrowseEntry> list;
  auto less = [](const TBrowseEntry& a, const TBrowseEntry& b) {
    if (!a.tag || !b.tag) return false;
    std::string x = a.tag->FItemID, y = b.tag->FItemID;
    for (auto* s : {&x, &y})
      for (char& c : *s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return x < y;
  };
  for (auto& e : in) {
    list.push_back(e);
    if (!e.plcTag) continue;
    for (size_t i = 1; i < list.size(); ++i)
      for (size_t j = i; j > 0 && less(list[j], list[j - 1]); --j) std::swap(list[j], list[j - 1]);
  }
  in = list;
}

TEST(BrowseOrder, OneSortGivesTheOrderOfSortingAfterEveryTag) {
  std::mt19937 rng(12345);
  std::vector<std::unique_ptr<TNorvoVar>> pool;
  const char* keys[] = {"a", "B", "b", "c", "A", "d", "e"};
  for (int i = 0; i < 40; ++i) pool.push_back(MakeTag(nullptr, keys[i % 7] + std::to_string(i % 3)));
  for (int round = 0; round < 2000; ++round) {
    std::vector<TBrowseEntry> list;
    const int n = static_cast<int>(rng() % 12);
    for (int i = 0; i < n; ++i) {
      const unsigned kind = rng() % 5;
      const TNorvoVar* t = pool[rng() % pool.size()].get();
      if (kind == 0) {
        list.push_back({"branch" + std::to_string(i)});
      } else {
        list.push_back({t->FItemID + "#" + std::to_string(i), t, kind >= 3});
      }
    }
    std::vector<TBrowseEntry> expected = list, actual = list;
    ReferenceOrder(expected);
    SortBrowseList(actual);
    std::vector<std::string> e, a;
    for (auto& x : expected) e.push_back(x.text);
    for (auto& x : actual) a.push_back(x.text);
    ASSERT_EQ(a, e) << "round " << round;
  }
}

TEST(BrowseOrder, ALargePLCIsListedSorted) {
  BrowseSpace space;
  std::vector<std::string> names;
  for (int i = 100000; i-- > 0;) names.push_back("T" + std::to_string(i));
  space.AddPLC("P.1", names);
  TBrowseObject b;
  ASSERT_EQ(b.ChangeBrowsePosition(space, OPC_BROWSE_DOWN, "P.1"), S_OK);
  const auto list = b.Browse(space, OPC_LEAF, true);
  ASSERT_EQ(list.size(), 100000u);
  EXPECT_TRUE(std::is_sorted(list.begin(), list.end()));
}

}  // namespace
