#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakes/com_client.h"
#include "fakes/opc_session.h"
#include "opc/enum_item_attributes.h"
#include "opc/enum_string.h"
#include "opc/enum_unknown.h"
#include "opc/opc_group.h"

namespace {

using com_client::TaskMemLeakCheck;
using com_client::TaskOut;

constexpr HRESULT kOutOfRange = RPC_X_ENUM_VALUE_OUT_OF_RANGE;

// Fetches up to n strings; the texts are freed as a client would.
HRESULT NextStrings(IEnumString* e, uint32_t n, std::vector<std::string>* got, uint32_t* fetched) {
  std::vector<OLECHAR*> out(n + 1, nullptr);
  HRESULT hr = e->Next(n, out.data(), fetched);
  for (uint32_t i = 0; i < *fetched; ++i) {
    got->push_back(Utf16ToUtf8(OleView(out[i])));
    CoTaskMemFree(out[i]);
  }
  return hr;
}

class StringEnumTest : public ::testing::Test {
 protected:
  TaskMemLeakCheck leaks;
  ComPtr<TOPCStringsEnumerator> e = TOPCStringsEnumerator::FromUtf8({"one", "two", "three"});
};

TEST_F(StringEnumTest, NextOneAtATimeThen1781) {
  std::vector<std::string> got;
  uint32_t fetched = 9;
  for (int i = 0; i < 3; ++i) EXPECT_EQ(NextStrings(e.get(), 1, &got, &fetched), S_OK);
  EXPECT_EQ(got, (std::vector<std::string>{"one", "two", "three"}));
  EXPECT_EQ(NextStrings(e.get(), 1, &got, &fetched), kOutOfRange);
  EXPECT_EQ(fetched, 0u);
}

TEST_F(StringEnumTest, NextPastTheEndHandsOutWhatIsLeft) {
  std::vector<std::string> got;
  uint32_t fetched = 0;
  EXPECT_EQ(NextStrings(e.get(), 5, &got, &fetched), kOutOfRange);
  EXPECT_EQ(fetched, 3u);
  EXPECT_EQ(got.size(), 3u);
}

TEST_F(StringEnumTest, ZeroAndNegativeCountsAndMissingPointers) {
  OLECHAR* out[2] = {};
  uint32_t fetched = 7;
  EXPECT_EQ(e->Next(0, out, &fetched), kOutOfRange);
  EXPECT_EQ(fetched, 0u);
  EXPECT_EQ(e->Next(0x80000000u, out, &fetched), kOutOfRange);
  EXPECT_EQ(e->Next(2, out, nullptr), E_INVALIDARG);
  EXPECT_EQ(e->Next(2, nullptr, &fetched), E_INVALIDARG);
  EXPECT_EQ(e->Next(1, out, nullptr), E_INVALIDARG);
  EXPECT_EQ(out[0], nullptr);
}

TEST_F(StringEnumTest, SkipResetAndClone) {
  std::vector<std::string> got;
  uint32_t fetched = 0;
  EXPECT_EQ(e->Skip(2), S_OK);
  EXPECT_EQ(NextStrings(e.get(), 5, &got, &fetched), kOutOfRange);
  EXPECT_EQ(got, std::vector<std::string>{"three"});
  EXPECT_EQ(e->Reset(), S_OK);
  EXPECT_EQ(e->Skip(10), S_FALSE);
  got.clear();
  EXPECT_EQ(NextStrings(e.get(), 1, &got, &fetched), kOutOfRange);
  EXPECT_EQ(e->Skip(0xFFFFFFFF), S_FALSE);

  e->Reset();
  NextStrings(e.get(), 1, &got, &fetched);
  NextStrings(e.get(), 1, &got, &fetched);
  ComPtr<IEnumString> clone;
  ASSERT_EQ(e->Clone(clone.put()), S_OK);
  got.clear();
  EXPECT_EQ(NextStrings(clone.get(), 1, &got, &fetched), S_OK);
  EXPECT_EQ(got, std::vector<std::string>{"one"});
  EXPECT_EQ(e->Clone(nullptr), E_INVALIDARG);
}

TEST(UnknownEnum, HandsOutAddedReferencesAndKeepsItsOwn) {
  TaskMemLeakCheck leaks;
  auto a = MakeComObject<TOPCStringsEnumerator>(std::vector<std::u16string>{});
  IUnknown* raw = a->Identity();
  auto e = MakeComObject<TS3UnknownEnumerator>(std::vector<ComPtr<IUnknown>>{ComPtr<IUnknown>(raw)});
  EXPECT_EQ(com_client::RefCount(raw), 2u);
  IUnknown* out[2] = {};
  uint32_t fetched = 0;
  EXPECT_EQ(e->Next(2, out, &fetched), kOutOfRange);
  ASSERT_EQ(fetched, 1u);
  EXPECT_EQ(out[0], raw);
  EXPECT_EQ(com_client::RefCount(raw), 3u);
  out[0]->Release();
  EXPECT_EQ(e->Next(0, out, &fetched), kOutOfRange);
  ComPtr<IEnumUnknown> clone;
  ASSERT_EQ(e->Clone(clone.put()), S_OK);
  EXPECT_EQ(clone->Next(1, out, &fetched), S_OK);
  out[0]->Release();
  EXPECT_EQ(clone->Skip(1), S_FALSE);
}

class AttributeEnumTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server = s.Connect();
    items = s.AddGroup<IOPCItemMgt>(server.get(), "Main");
    handles = s.AddItems(items.get(), {"PLC_unit.1.Int", "PLC_unit.1.Real", "Sys.Version", "PLC_unit.1.Bit"});
    s.Tag("Sys.Version").FAccessRights = 1;
    ComPtr<IUnknown> u;
    ASSERT_EQ(items->CreateEnumerator(IID_IEnumOPCItemAttributes, u.put()), S_OK);
    ASSERT_EQ(u.As(&e), S_OK);
  }
  opc_session::Session s;
  TaskMemLeakCheck leaks;
  ComPtr<IOPCServer> server;
  ComPtr<IOPCItemMgt> items;
  std::vector<OPCHANDLE> handles;
  ComPtr<IEnumOPCItemAttributes> e;
};

TEST_F(AttributeEnumTest, RecordsAreFilledFromTheItems) {
  TaskOut<OPCITEMATTRIBUTES> a;
  uint32_t fetched = 0;
  ASSERT_EQ(e->Next(10, a.put(), &fetched), kOutOfRange);
  a.SetCount(fetched);
  ASSERT_EQ(fetched, 4u);
  const VARTYPE types[] = {VT_I2, VT_R4, VT_BSTR, VT_BOOL};
  for (uint32_t i = 0; i < 4; ++i) {
    EXPECT_EQ(Utf16ToUtf8(OleView(a[i].szAccessPath)), "");
    EXPECT_EQ(a[i].bActive, -1);
    EXPECT_EQ(a[i].hClient, 100u + i);
    EXPECT_EQ(a[i].hServer, handles[i]);
    EXPECT_EQ(a[i].vtRequestedDataType, types[i]);
    EXPECT_EQ(a[i].vtCanonicalDataType, types[i]);
    EXPECT_EQ(a[i].dwBlobSize, 0u);
    EXPECT_EQ(a[i].pBlob, nullptr);
    EXPECT_EQ(a[i].dwEUType, OPC_NOENUM);
    EXPECT_EQ(a[i].vEUInfo.vt, VT_I4);
    EXPECT_EQ(a[i].vEUInfo.lVal, 0);
  }
  EXPECT_EQ(Utf16ToUtf8(OleView(a[2].szItemID)), "Sys.Version");
  EXPECT_EQ(a[2].dwAccessRights, 1u);
  EXPECT_EQ(a[0].dwAccessRights, 3u);

  TaskOut<OPCITEMATTRIBUTES> more;
  EXPECT_EQ(e->Next(10, more.put(), &fetched), kOutOfRange);
  EXPECT_EQ(fetched, 0u);
  EXPECT_FALSE(more);
}

TEST_F(AttributeEnumTest, FollowsTheLiveItemList) {
  TaskOut<OPCITEMATTRIBUTES> a;
  uint32_t fetched = 0;
  ASSERT_EQ(e->Skip(4), S_OK);
  auto added = s.AddItems(items.get(), {"PLC_unit.1.Long"});
  ASSERT_EQ(e->Next(1, a.put(), &fetched), S_OK);
  a.SetCount(fetched);
  EXPECT_EQ(a[0].hServer, added[0]);

  ComPtr<IEnumOPCItemAttributes> clone;
  ASSERT_EQ(e->Clone(clone.put()), S_OK);
  OPCHANDLE first = handles[0];
  TaskOut<HRESULT> err;
  ASSERT_EQ(items->RemoveItems(1, &first, err.put()), S_OK);
  ASSERT_EQ(clone->Next(1, a.put(), &fetched), S_OK);
  a.SetCount(fetched);
  EXPECT_EQ(a[0].hServer, handles[1]);
}

TEST_F(AttributeEnumTest, HugeCountsAndMissingPointers) {
  TaskOut<OPCITEMATTRIBUTES> a;
  uint32_t fetched = 0;
  EXPECT_EQ(e->Next(0, a.put(), &fetched), kOutOfRange);
  EXPECT_EQ(e->Next(2, a.put(), nullptr), E_INVALIDARG);
  EXPECT_EQ(e->Next(1, nullptr, &fetched), E_INVALIDARG);
  EXPECT_FALSE(a);
  ASSERT_EQ(e->Next(0xFFFFFFFFu, a.put(), &fetched), kOutOfRange);
  a.SetCount(fetched);
  EXPECT_EQ(fetched, 4u);
}

TEST_F(AttributeEnumTest, EnumeratorKeepsItsGroupAlive) {
  items = nullptr;
  server = nullptr;
  TaskOut<OPCITEMATTRIBUTES> a;
  uint32_t fetched = 0;
  ASSERT_EQ(e->Next(1, a.put(), &fetched), S_OK);
  a.SetCount(fetched);
  EXPECT_EQ(s.Tag("PLC_unit.1.Int").FRefCount, 1);
  e = nullptr;
  EXPECT_EQ(s.Tag("PLC_unit.1.Int").FRefCount, 0);
  EXPECT_EQ(s.collection.Count(), 0u);
}

}  // namespace
