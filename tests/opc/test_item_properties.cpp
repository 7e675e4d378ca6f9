#include <gtest/gtest.h>

#include <cstring>

#include "fakes/opc_io_fixture.h"

namespace {

using com_client::TaskOut;

class ItemProperties : public ::testing::Test {
 protected:
  void SetUp() override {
    server = s.Connect();
    props = com_client::Query<IOPCItemProperties>(server);
  }
  opc_session::Session s;
  com_client::TaskMemLeakCheck leaks;
  ComPtr<IOPCServer> server;
  ComPtr<IOPCItemProperties> props;
};

TEST_F(ItemProperties, ListsFivePropertiesWithTheTagsTypes) {
  uint32_t n = 0;
  TaskOut<uint32_t> ids;
  TaskOut<OLECHAR*> texts;
  TaskOut<VARTYPE> types;
  ASSERT_EQ(props->QueryAvailableProperties(const_cast<OLECHAR*>(u"Sys.Version"), &n, ids.put(), texts.put(),
                                            types.put()),
            S_OK);
  texts.SetCount(n);
  ASSERT_EQ(n, 5u);
  const uint32_t expectedIds[] = {1, 2, 5, 101, 5000};
  const VARTYPE expectedTypes[] = {VT_I2, VT_BSTR, VT_I4, VT_BSTR, VT_BSTR};
  for (uint32_t i = 0; i < n; ++i) {
    EXPECT_EQ(ids[i], expectedIds[i]);
    EXPECT_EQ(types[i], expectedTypes[i]);
  }
  EXPECT_EQ(Utf16ToUtf8(OleView(texts[0])), "Item Canonical DataType");
  EXPECT_EQ(Utf16ToUtf8(OleView(texts[4])), "Item value copy");
  EXPECT_EQ(props->QueryAvailableProperties(const_cast<OLECHAR*>(u""), &n, ids.put(), texts.put(), types.put()),
            E_INVALIDARG);
  EXPECT_EQ(props->QueryAvailableProperties(const_cast<OLECHAR*>(u"No.Such"), &n, ids.put(), texts.put(),
                                            types.put()),
            OPC_E_INVALIDITEMID);
  EXPECT_FALSE(ids);
}

TEST_F(ItemProperties, ValuesByID) {
  TNorvoVar& real = s.Tag("PLC_unit.1.Real");
  const float f = 1.5f;
  std::memcpy(&real.FValue, &f, 4);
  real.FValid = true;
  real.FDescription = "Tank level";
  real.FTimestamp = 46000.5;
  std::vector<uint32_t> ids{1, 2, 3, 4, 5, 6, 7, 101, 5000, 5001};
  TaskOut<VARIANT> values;
  TaskOut<HRESULT> err;
  ASSERT_EQ(props->GetItemProperties(const_cast<OLECHAR*>(u"plc_unit.1.real"), static_cast<uint32_t>(ids.size()),
                                     ids.data(), values.put(), err.put()),
            S_OK);
  values.SetCount(ids.size());
  EXPECT_EQ(values[0].vt, VT_I4);
  EXPECT_EQ(values[0].lVal, VT_R4);
  EXPECT_EQ(values[1].vt, VT_R4);
  EXPECT_FLOAT_EQ(values[1].fltVal, 1.5f);
  EXPECT_EQ(values[3].vt, VT_DATE);
  EXPECT_DOUBLE_EQ(values[3].date, 46000.5);
  EXPECT_EQ(values[4].lVal, 3);
  EXPECT_EQ(err[6], OPC_E_INVALID_PID);
  EXPECT_EQ(values[6].vt, VT_I4);
  EXPECT_EQ(values[7].vt, VT_BSTR);
  EXPECT_EQ(BstrToUtf8(values[7].bstrVal), "Tank level");
  EXPECT_EQ(values[8].vt, VT_R4);
  for (size_t i = 0; i < ids.size(); ++i)
    if (i != 6) {
      EXPECT_EQ(err[i], S_OK) << ids[i];
    }
  // The harness frees arrays of plain VARIANTs without clearing them.
  for (size_t i = 0; i < ids.size(); ++i) VariantClear(&values[i]);
  EXPECT_EQ(props->GetItemProperties(const_cast<OLECHAR*>(u"PLC_unit.1.Real"), 0, ids.data(), values.put(),
                                     err.put()),
            E_INVALIDARG);
}

TEST_F(ItemProperties, LookupGivesEmptyIDs) {
  std::vector<uint32_t> ids{1, 2, 3};
  TaskOut<OLECHAR*> out;
  TaskOut<HRESULT> err;
  ASSERT_EQ(props->LookupItemIDs(const_cast<OLECHAR*>(u"PLC_unit.1.Int"), 3, ids.data(), out.put(), err.put()), S_OK);
  out.SetCount(3);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(Utf16ToUtf8(OleView(out[i])), "");
    EXPECT_EQ(err[i], S_OK);
  }
  EXPECT_EQ(props->LookupItemIDs(const_cast<OLECHAR*>(u"x.y"), 3, ids.data(), out.put(), err.put()),
            OPC_E_INVALIDITEMID);
}

}  // namespace
