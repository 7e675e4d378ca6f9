#include <gtest/gtest.h>

#include <cstring>

#include "fakes/opc_io_fixture.h"
#include "platform/date_time.h"

namespace {

using com_client::TaskOut;
using opc_sinks::Bytes;

class DataObject : public opc_io::GroupIo {
 protected:
  void SetUp() override {
    GroupIo::SetUp();
    advise = MakeComObject<opc_sinks::AdviseSink>();
  }
  HRESULT DAdvise(CLIPFORMAT format, uint32_t* connection) {
    FORMATETC fe{format, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    return As<IDataObject>()->DAdvise(&fe, 0, advise.get(), connection);
  }
  void ReadCache(uint32_t connection, std::vector<OPCHANDLE> h, uint32_t* tid) {
    TaskOut<HRESULT> err;
    ASSERT_EQ(As<IOPCAsyncIO>()->Read(connection, OPC_DS_CACHE, static_cast<uint32_t>(h.size()), h.data(), tid,
                                      err.put()),
              S_OK);
    Pass();
  }
  static Bytes Variant(VARTYPE vt, const void* value, size_t n) {
    Bytes b;
    b.U16(vt).U16(0).U16(0).U16(0);
    uint8_t v[8] = {};
    std::memcpy(v, value, n);
    return b.Put(v, 8);
  }
  // The block that answers the transaction (data changes carry 0).
  std::vector<uint8_t> Answer(uint32_t tid) {
    for (const auto& b : advise->blocks) {
      uint32_t t = 0;
      if (b.size() >= 16) std::memcpy(&t, b.data() + 12, 4);
      if (t == tid) return b;
    }
    return {};
  }
  ComPtr<opc_sinks::AdviseSink> advise;
};

TEST_F(DataObject, AdviseTakesTheThreeFormatsOnceEach) {
  struct Case {
    const char* format;
    HRESULT first;
    uint32_t connection;
    const char* log;
  };
  const Case cases[] = {
      {OPCSTMFORMATDATATIME, S_OK, 1, "Client established AsyncIO callback for group G with timestamp"},
      {OPCSTMFORMATDATA, S_OK, 2, "Client established AsyncIO callback for group G without timestamp"},
      {OPCSTMFORMATWRITECOMPLETE, S_OK, 3, "Client established AsyncIO callback for group G type write complete"},
  };
  for (const auto& c : cases) {
    uint32_t connection = 99;
    EXPECT_EQ(DAdvise(RegisterClipboardFormat(c.format), &connection), c.first) << c.format;
    EXPECT_EQ(connection, c.connection);
    EXPECT_EQ(DAdvise(RegisterClipboardFormat(c.format), &connection), CONNECT_E_ADVISELIMIT) << c.format;
    EXPECT_EQ(connection, 0u);
    EXPECT_TRUE(s.SessionHas(c.log)) << c.log;
  }
  uint32_t connection = 0;
  EXPECT_EQ(DAdvise(1 /* CF_TEXT */, &connection), E_FAIL);
  auto data = As<IDataObject>();
  EXPECT_EQ(data->DUnadvise(2), S_OK);
  EXPECT_EQ(data->DUnadvise(2), E_FAIL);
  EXPECT_EQ(data->DUnadvise(4), E_FAIL);
  EXPECT_EQ(DAdvise(RegisterClipboardFormat(OPCSTMFORMATDATA), &connection), S_OK);
  EXPECT_EQ(data->GetData(nullptr, nullptr), E_NOTIMPL);
  IEnumSTATDATA* e = reinterpret_cast<IEnumSTATDATA*>(1);
  EXPECT_EQ(data->EnumDAdvise(&e), E_NOTIMPL);
  EXPECT_EQ(e, nullptr);
}

TEST_F(DataObject, StreamsMatchTheDA10Layouts) {
  Reply(Tag(0), -2);
  Reply(Tag(2), 1);
  const uint64_t stamp = FileTimeToUint64(LocalDateTimeToUtcFileTime(Tag(0).FTimestamp));
  uint32_t withTime = 0, plain = 0, tid = 0;
  ASSERT_EQ(DAdvise(RegisterClipboardFormat(OPCSTMFORMATDATATIME), &withTime), S_OK);
  ASSERT_EQ(DAdvise(RegisterClipboardFormat(OPCSTMFORMATDATA), &plain), S_OK);
  // The second item is inactive: a cache answer marks it out of service.
  TaskOut<HRESULT> err;
  ASSERT_EQ(group->SetActiveState(1, &handles[2], 0, err.put()), S_OK);
  const int16_t i2 = -2;
  const VARIANT_BOOL b = VARIANT_TRUE;

  ReadCache(withTime, {handles[0], handles[2]}, &tid);
  Bytes t;
  t.U32(20 + 36 * 2).U32(2).U32(kClientGroup).U32(tid).U32(0);
  t.U32(100).U32(60).U16(0xC0).U16(0).U32(static_cast<uint32_t>(stamp)).U32(static_cast<uint32_t>(stamp >> 32));
  t.U32(102).U32(76).U16(0x1C).U16(0).U32(static_cast<uint32_t>(stamp)).U32(static_cast<uint32_t>(stamp >> 32));
  Bytes v1 = Variant(VT_I2, &i2, 2), v2 = Variant(VT_BOOL, &b, 2);
  t.Put(v1.data.data(), 16).Put(v2.data.data(), 16);
  EXPECT_EQ(Answer(tid), t.data);

  ReadCache(plain, {handles[0], handles[2]}, &tid);
  Bytes d;
  d.U32(20 + 28 * 2).U32(2).U32(kClientGroup).U32(tid).U32(0);
  d.U32(100).U32(44).U16(0xC0).U16(0);
  d.U32(102).U32(60).U16(0x1C).U16(0);
  d.Put(v1.data.data(), 16).Put(v2.data.data(), 16);
  EXPECT_EQ(Answer(tid), d.data);
  EXPECT_EQ(GlobalLiveBlocks(), 0);
}

TEST_F(DataObject, StringValuesFollowTheirVariant) {
  uint32_t plain = 0, tid = 0;
  ASSERT_EQ(DAdvise(RegisterClipboardFormat(OPCSTMFORMATDATA), &plain), S_OK);
  Tag(3).FStrValue = "Ab";
  ReadCache(plain, {handles[3], handles[0]}, &tid);
  Bytes d;
  const uint32_t size = 20 + 12 * 2 + 16 + 4 + 4 + 2 + 16;
  d.U32(size).U32(2).U32(kClientGroup).U32(tid).U32(0);
  d.U32(103).U32(44).U16(0x00).U16(0);
  d.U32(100).U32(44 + 16 + 10).U16(0x00).U16(0);
  d.U16(VT_BSTR).U16(0).U16(0).U16(0).U32(0).U32(0);
  d.U32(4).U16(u'A').U16(u'b').U16(0);
  const int16_t zero = 0;
  Bytes v = Variant(VT_I2, &zero, 2);
  d.Put(v.data.data(), 16);
  EXPECT_EQ(Answer(tid), d.data);
}

TEST_F(DataObject, RemovedItemStopsTheStreamAndDataChangesGoToBothSubscriptions) {
  uint32_t withTime = 0, plain = 0, tid = 0;
  ASSERT_EQ(DAdvise(RegisterClipboardFormat(OPCSTMFORMATDATATIME), &withTime), S_OK);
  ASSERT_EQ(DAdvise(RegisterClipboardFormat(OPCSTMFORMATDATA), &plain), S_OK);
  TaskOut<HRESULT> err;
  ASSERT_EQ(As<IOPCAsyncIO>()->Read(plain, OPC_DS_CACHE, 2, handles.data(), &tid, err.put()), S_OK);
  ASSERT_EQ(group->RemoveItems(1, &handles[1], err.put()), S_OK);
  Pass();  // the read: nothing sent; then the first boundary
  EXPECT_TRUE(advise->blocks.empty());
  Pass();  // the data change, once per subscription
  ASSERT_EQ(advise->blocks.size(), 2u);
  EXPECT_EQ(advise->formats[0], RegisterClipboardFormat(OPCSTMFORMATDATATIME));
  EXPECT_EQ(advise->formats[1], RegisterClipboardFormat(OPCSTMFORMATDATA));
  uint32_t count = 0;
  std::memcpy(&count, advise->blocks[1].data() + 4, 4);
  EXPECT_EQ(count, 3u);
}

}  // namespace
