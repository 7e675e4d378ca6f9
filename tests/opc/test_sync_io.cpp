#include <gtest/gtest.h>

#include "fakes/opc_io_fixture.h"
#include "platform/date_time.h"

namespace {

using com_client::TaskOut;

class SyncIo : public opc_io::GroupIo {
 protected:
  HRESULT Read(std::vector<OPCHANDLE> h, TaskOut<OPCITEMSTATE>& states, TaskOut<HRESULT>& errors) {
    HRESULT hr = As<IOPCSyncIO>()->Read(OPC_DS_DEVICE, static_cast<uint32_t>(h.size()), h.data(), states.put(),
                                        errors.put());
    states.SetCount(h.size());
    return hr;
  }
};

TEST_F(SyncIo, ReadAnswersFromTheCacheAndAsksForAFreshValue) {
  Reply(Tag(0), -7);
  Reply(Tag(1), 0x3FC00000);  // 1.5f
  const FILETIME stamp = LocalDateTimeToUtcFileTime(Tag(0).FTimestamp);
  TaskOut<OPCITEMSTATE> st;
  TaskOut<HRESULT> err;
  ASSERT_EQ(Read({handles[0], 0xDEAD, handles[1], handles[2]}, st, err), S_FALSE);

  EXPECT_EQ(err[0], S_OK);
  EXPECT_EQ(st[0].hClient, 100u);
  EXPECT_EQ(st[0].vDataValue.vt, VT_I2);
  EXPECT_EQ(st[0].vDataValue.iVal, -7);
  EXPECT_EQ(st[0].wQuality, OPC_QUALITY_GOOD);
  EXPECT_EQ(FileTimeToUint64(st[0].ftTimeStamp), FileTimeToUint64(stamp));
  EXPECT_TRUE(Tag(0).FReadRequest);
  // An unknown handle keeps the fill: value 1 as VT_I4, nothing else.
  EXPECT_EQ(err[1], OPC_E_INVALIDHANDLE);
  EXPECT_EQ(st[1].vDataValue.vt, VT_I4);
  EXPECT_EQ(st[1].vDataValue.lVal, 1);
  EXPECT_EQ(st[1].wQuality, 0);
  EXPECT_EQ(st[1].hClient, 0u);
  EXPECT_EQ(st[2].vDataValue.vt, VT_R4);
  EXPECT_FLOAT_EQ(st[2].vDataValue.fltVal, 1.5f);
  // Never received: the quality says so.
  EXPECT_EQ(st[3].wQuality, kQualityBad);
}

TEST_F(SyncIo, QualityIndependentReadReportsGoodAndNow) {
  for (bool on : {false, true}) {
    host.qualityIndependent = on;
    TaskOut<OPCITEMSTATE> st;
    TaskOut<HRESULT> err;
    ASSERT_EQ(Read({handles[2]}, st, err), S_OK);
    EXPECT_EQ(st[0].wQuality, on ? OPC_QUALITY_GOOD : kQualityBad) << on;
    const uint64_t expected = on ? FileTimeToUint64(LocalDateTimeToUtcFileTime(s.clock.Now()))
                                 : FileTimeToUint64(LocalDateTimeToUtcFileTime(0));
    EXPECT_EQ(FileTimeToUint64(st[0].ftTimeStamp), expected) << on;
  }
}

TEST_F(SyncIo, AValueThatDoesNotConvertIsLeftEmpty) {
  std::vector<HRESULT> e;
  const auto h = s.AddItems(group.get(), {"PLC_unit.1.Long", "PLC_unit.1.Int"}, VT_I1, &e);
  ASSERT_EQ(e, (std::vector<HRESULT>{S_OK, S_OK}));
  Reply(s.Tag("PLC_unit.1.Long"), 100000);
  Reply(s.Tag("PLC_unit.1.Int"), 5);
  TaskOut<OPCITEMSTATE> st;
  TaskOut<HRESULT> err;
  ASSERT_EQ(Read({h[0], h[1]}, st, err), S_OK);
  EXPECT_EQ(st[0].vDataValue.vt, VT_EMPTY);
  EXPECT_EQ(st[1].vDataValue.vt, VT_I1);
  EXPECT_EQ(st[1].vDataValue.cVal, 5);
}

TEST_F(SyncIo, WriteStoresAcceptedValuesAndRefusesTheRest) {
  auto sync = As<IOPCSyncIO>();
  ComVariant ok = ComVariant::FromI4(42), text = ComVariant::FromString("abc"), any = ComVariant::FromI4(1);
  std::vector<OPCHANDLE> h{handles[0], handles[0], handles[3], 0};
  VARIANT values[] = {*ok.get(), *text.get(), *any.get(), *any.get()};
  TaskOut<HRESULT> err;
  ASSERT_EQ(sync->Write(4, h.data(), values, err.put()), S_FALSE);
  EXPECT_EQ(err[0], S_OK);
  EXPECT_EQ(err[1], OPC_E_BADTYPE);
  EXPECT_EQ(err[2], OPC_E_BADRIGHTS);
  EXPECT_EQ(err[3], OPC_E_INVALIDHANDLE);
  EXPECT_EQ(Tag(0).FValue, 42);

  EXPECT_EQ(sync->Write(0, h.data(), values, err.put()), E_INVALIDARG);
  EXPECT_EQ(sync->Write(1, nullptr, values, err.put()), E_INVALIDARG);
  EXPECT_FALSE(err);
  TaskOut<OPCITEMSTATE> st;
  EXPECT_EQ(sync->Read(OPC_DS_CACHE, 0, h.data(), st.put(), err.put()), E_INVALIDARG);
}

}  // namespace
