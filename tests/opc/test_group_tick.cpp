// The group timer's walk over many items: changes it must not miss, read
// requests raised in the same walk, values built without the general
// coercion, and time stamps converted through a small cache.
#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "fakes/opc_io_fixture.h"
#include "platform/date_time.h"

namespace {

// Keeps the elements of array values, which the recording sink leaves out.
class ArraySink final : public ComObject<IOPCDataCallback> {
 public:
  HRESULT OnDataChange(uint32_t, OPCHANDLE, HRESULT, HRESULT, uint32_t count, OPCHANDLE* h, VARIANT* v, uint16_t*,
                       FILETIME*, HRESULT*) override {
    for (uint32_t i = 0; i < count; ++i) {
      std::vector<int16_t> elements;
      if (v[i].vt == (VT_ARRAY | VT_I2)) {
        int32_t upper = -1;
        SafeArrayGetUBound(v[i].parray, 1, &upper);
        for (int32_t k = 0; k <= upper; ++k) {
          int16_t e = 0;
          SafeArrayGetElement(v[i].parray, &k, &e);
          elements.push_back(e);
        }
      }
      reports.push_back({h[i], elements});
    }
    return S_OK;
  }
  HRESULT OnReadComplete(uint32_t, OPCHANDLE, HRESULT, HRESULT, uint32_t, OPCHANDLE*, VARIANT*, uint16_t*, FILETIME*,
                         HRESULT*) override {
    return S_OK;
  }
  HRESULT OnWriteComplete(uint32_t, OPCHANDLE, HRESULT, uint32_t, OPCHANDLE*, HRESULT*) override { return S_OK; }
  HRESULT OnCancelComplete(uint32_t, OPCHANDLE) override { return S_OK; }

  struct Report {
    OPCHANDLE client;
    std::vector<int16_t> elements;
  };
  std::vector<Report> reports;
};

class GroupTick : public opc_io::GroupIo {
 protected:
  // Client handles are 100 + the position in ids.
  GroupTick() {
    ids = {"PLC_unit.1.Int", "PLC_unit.1.Real", "PLC_unit.1.Bit", "PLC_unit.1.Long",
           "PLC_unit.1.Word", "Sys.Version", "PLC_unit.1.IntArr"};
  }
  void SetUp() override {
    GroupIo::SetUp();
    sink = MakeComObject<opc_sinks::DataCallback>();
    for (size_t i = 0; i < ids.size(); ++i) Reply(Tag(i), 1);
  }
  void SetRate(uint32_t ms) {
    uint32_t revised = 0;
    ASSERT_EQ(As<IOPCGroupStateMgt>()->SetState(&ms, &revised, nullptr, nullptr, nullptr, nullptr, nullptr), S_OK);
  }
  void SetActive(size_t i, bool active) {
    com_client::TaskOut<HRESULT> err;
    ASSERT_EQ(As<IOPCItemMgt>()->SetActiveState(1, &handles[i], active ? 1 : 0, err.put()), S_OK);
  }
  // The client handles of the next data change, after a whole period.
  std::vector<OPCHANDLE> NextReport() {
    sink->calls.clear();
    for (int i = 0; i < 40; ++i) Pass();
    std::vector<OPCHANDLE> out;
    for (const auto& c : sink->calls)
      for (const auto& e : c.entries) out.push_back(e.client);
    return out;
  }
  ComPtr<opc_sinks::DataCallback> sink;
};

TEST_F(GroupTick, ChangesOfQualityOrRawBitsAreReportedAndStampsAloneAreNot) {
  Advise(sink.get());
  NextReport();  // everything once
  // Strings and arrays come every period whatever happens.
  const std::vector<OPCHANDLE> always{105, 106};
  ASSERT_EQ(NextReport(), always);

  struct Case {
    const char* name;
    size_t tag;
    void (*step)(TNorvoVar&);
    bool reported;
  };
  const Case cases[] = {
      {"override, same value", 0, [](TNorvoVar& t) { t.SetByOperator(t.FValue); }, true},
      {"negative acknowledge", 3, [](TNorvoVar& t) { t.FNakError = true; }, true},
      {"aged", 4, [](TNorvoVar& t) { t.FAge = 5000; }, true},
      {"new stamp only", 2, [](TNorvoVar& t) { t.FTimestamp += 1.0; }, false},
      {"0.0 to -0.0", 1, [](TNorvoVar& t) { t.FValue = std::bit_cast<int32_t>(-0.0f); }, true},
  };
  Tag(1).FValue = std::bit_cast<int32_t>(0.0f);
  NextReport();
  for (const Case& c : cases) {
    c.step(Tag(c.tag));
    std::vector<OPCHANDLE> expected;
    if (c.reported) expected.push_back(static_cast<OPCHANDLE>(100 + c.tag));
    expected.insert(expected.end(), always.begin(), always.end());
    EXPECT_EQ(NextReport(), expected) << c.name;
    EXPECT_EQ(NextReport(), always) << c.name << ": reported once only";
  }
}

TEST_F(GroupTick, AnArrayIsReportedWithItsChangedElement) {
  TNorvoVar& head = Tag(6);
  for (int16_t v : {10, 20, 30}) {
    auto e = std::make_unique<TNorvoVar>(&plc, "IntArr_" + std::to_string(v / 10));
    e->FVarType = ntInt;
    e->FArrayHead = &head;
    e->FValid = true;
    e->FValue = v;
    plc.FTags.push_back(std::move(e));
  }
  auto arrays = MakeComObject<ArraySink>();
  ComPtr<IConnectionPoint> point;
  ASSERT_EQ(As<IConnectionPointContainer>()->FindConnectionPoint(IID_IOPCDataCallback, point.put()), S_OK);
  uint32_t cookie = 0;
  ASSERT_EQ(point->Advise(arrays->Identity(), &cookie), S_OK);
  for (int i = 0; i < 80; ++i) Pass();
  plc.FTags[1]->FValue = 21;
  arrays->reports.clear();
  for (int i = 0; i < 40; ++i) Pass();
  std::vector<int16_t> seen;
  for (const auto& r : arrays->reports)
    if (r.client == 106) seen = r.elements;
  EXPECT_EQ(seen, (std::vector<int16_t>{10, 21, 30}));
}

TEST_F(GroupTick, BoundaryReadRequestsSkipInactiveItemsAndWaitForTheClient) {
  SetRate(25);  // a gathering pass is also a boundary
  Advise(sink.get());
  // Left out: the bit, and the string and array that would be reported always.
  com_client::TaskOut<HRESULT> err;
  OPCHANDLE off[] = {handles[2], handles[5], handles[6]};
  ASSERT_EQ(As<IOPCItemMgt>()->SetActiveState(3, off, 0, err.put()), S_OK);
  Pass();
  Pass();  // everything reported once
  for (size_t i = 0; i < 5; ++i) Tag(i).FReadRequest = false;
  sink->calls.clear();
  Pass();
  EXPECT_TRUE(sink->calls.empty());
  for (size_t i : {0, 1, 3, 4}) EXPECT_TRUE(Tag(i).FReadRequest) << i;
  EXPECT_FALSE(Tag(2).FReadRequest) << "inactive item";

  // A change goes out first: the client sees the requests as they were and
  // may deactivate an item before the boundary asks for it.
  for (size_t i = 0; i < 5; ++i) Tag(i).FReadRequest = false;
  std::vector<bool> seenInCall;
  sink->during = [&] {
    for (size_t i = 0; i < 5; ++i) seenInCall.push_back(Tag(i).FReadRequest);
    SetActive(0, false);
  };
  Reply(Tag(4), 7);  // the last active item: the others are walked first
  Pass();
  ASSERT_EQ(sink->calls.size(), 1u);
  EXPECT_EQ(seenInCall, std::vector<bool>(5, false));
  EXPECT_FALSE(Tag(0).FReadRequest) << "deactivated in the call";
  for (size_t i : {1, 3, 4}) EXPECT_TRUE(Tag(i).FReadRequest) << i;
}

// Raw values and requested types against the general coercion of the raw
// value, byte for byte: the common cases take a shorter road.
TEST_F(GroupTick, ValuesMatchTheGeneralCoercion) {
  const int32_t raws[] = {0,     1,      -1,         32767,      32768,      -32768, -32769,
                          65535, 65536,  INT32_MIN,  INT32_MAX,  std::bit_cast<int32_t>(1.5f),
                          std::bit_cast<int32_t>(-0.0f), std::bit_cast<int32_t>(std::numeric_limits<float>::quiet_NaN())};
  const VARTYPE types[] = {VT_EMPTY, VT_I4, VT_I2, VT_UI2, VT_BOOL, VT_R4, VT_R8, VT_UI1, VT_BSTR};
  for (size_t t = 0; t < 5; ++t) {
    TOPCItem& item = *G().Items()[t];
    TNorvoVar& tag = *item.Tag();
    for (VARTYPE vt : types) {
      item.SetRequestedType(vt);
      const VARTYPE target = vt == VT_EMPTY ? VarTypeVT(tag.FVarType) : vt;
      for (int32_t raw : raws) {
        tag.FValue = raw;
        ComVariant source;
        if (tag.FVarType == ntReal) {
          source->vt = VT_R4;
          source->fltVal = std::bit_cast<float>(raw);
        } else {
          source = ComVariant::FromI4(raw);
        }
        ComVariant expected;
        if (FAILED(VariantChangeType(expected.get(), source.get(), 0, target))) VariantClear(expected.get());
        ComVariant got;
        item.GetValue(got.get());
        const std::string where = ids[t] + " vt " + std::to_string(vt) + " raw " + std::to_string(raw);
        ASSERT_EQ(got->vt, expected->vt) << where;
        if (got->vt == VT_BSTR) {
          EXPECT_EQ(OleView(got->bstrVal), OleView(expected->bstrVal)) << where;
        } else {
          EXPECT_EQ(std::memcmp(got.get(), expected.get(), sizeof(VARIANT)), 0) << where;
        }
      }
    }
  }
}

TEST(UtcStampCache, EveryStampGetsItsOwnConversion) {
  // More distinct stamps than slots, revisited in a scattered order, so that
  // slots are shared and overwritten.
  std::vector<TDateTime> stamps;
  for (int i = 0; i < 50; ++i) stamps.push_back(46000.25 + i / 86400.0);
  stamps.push_back(-0.0);
  stamps.push_back(0.0);
  TUtcStampCache cache;
  for (int round = 0; round < 3; ++round) {
    for (size_t k = 0; k < stamps.size(); ++k) {
      const TDateTime s = stamps[(k * 7 + static_cast<size_t>(round)) % stamps.size()];
      const FILETIME want = LocalDateTimeToUtcFileTime(s);
      const FILETIME got = cache.Convert(s);
      ASSERT_EQ(FileTimeToUint64(got), FileTimeToUint64(want)) << s;
    }
  }
}

}  // namespace
