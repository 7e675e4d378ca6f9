// VARIANT lifetime (init, clear, copy, RAII owners) and the coercion rules
// that concern the destination: in place, untouched on failure, arrays.
#include <gtest/gtest.h>

#include "platform/variant.h"
#include "test_variant_support.h"

using namespace vt_build;

namespace {

// Counts references so copies and clears can be checked.
struct CountedUnknown : IUnknown {
  uint32_t refs = 1;
  HRESULT QueryInterface(const IID&, void** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  uint32_t AddRef() override { return ++refs; }
  uint32_t Release() override { return --refs; }
};

class VariantTest : public TaskMemTest {};

TEST_F(VariantTest, CopyIsDeepAndClearReleases) {
  CountedUnknown unk;
  {
    ComVariant text = ComVariant::FromString("h\xC3\xA9llo");
    ComVariant copy(text);
    EXPECT_NE(copy->bstrVal, text->bstrVal);
    EXPECT_EQ(copy.get()->vt, VT_BSTR);
    EXPECT_EQ(BstrToUtf8(copy->bstrVal), "h\xC3\xA9llo");

    ComVariant obj = Make(VT_UNKNOWN, [&](VARIANT& v) { v.punkVal = &unk; });
    unk.refs = 1;  // the reference the variant above owns
    ComVariant objCopy = obj;
    EXPECT_EQ(unk.refs, 2u);
    objCopy = text;  // releases the interface, takes a string
    EXPECT_EQ(unk.refs, 1u);
    EXPECT_EQ(BstrToUtf8(objCopy->bstrVal), "h\xC3\xA9llo");
  }
  EXPECT_EQ(unk.refs, 0u);
}

TEST_F(VariantTest, CopyKeepsEmbeddedNulsAndOddByteLengths) {
  ComVariant v = Make(VT_BSTR, [](VARIANT& x) { x.bstrVal = SysAllocStringByteLen("a\0b", 3); });
  ComVariant copy(v);
  ASSERT_EQ(SysStringByteLen(copy->bstrVal), 3u);
  EXPECT_EQ(std::memcmp(copy->bstrVal, "a\0b", 3), 0);
}

TEST_F(VariantTest, CopyAndClearRefuseCorruptTypes) {
  VARIANT bad;
  VariantInit(&bad);
  bad.vt = 15;
  ComVariant dst = ComVariant::FromI4(3);
  EXPECT_EQ(VariantCopy(dst.get(), &bad), DISP_E_BADVARTYPE);
  EXPECT_EQ(dst->lVal, 3);
  EXPECT_EQ(VariantClear(&bad), DISP_E_BADVARTYPE);
  EXPECT_EQ(bad.vt, 15);
}

TEST_F(VariantTest, MoveAndDetachTransferOwnership) {
  ComVariant a = ComVariant::FromString("x");
  ComVariant b(std::move(a));
  EXPECT_EQ(a->vt, VT_EMPTY);
  VARIANT raw = b.Detach();
  EXPECT_EQ(b->vt, VT_EMPTY);
  EXPECT_EQ(BstrToUtf8(raw.bstrVal), "x");
  VariantClear(&raw);

  ComBstr s("abc");
  ComBstr t = std::move(s);
  EXPECT_EQ(s.get(), nullptr);
  EXPECT_EQ(t.Utf8(), "abc");
  *t.out() = SysAllocString(u"new");
  EXPECT_EQ(t.Utf8(), "new");
}

TEST_F(VariantTest, InPlaceConversion) {
  ComVariant v = ComVariant::FromString("  -42 ");
  ASSERT_EQ(VariantChangeType(v.get(), v.get(), 0, VT_I4), S_OK);
  EXPECT_EQ(v->vt, VT_I4);
  EXPECT_EQ(v->lVal, -42);
  ASSERT_EQ(VariantChangeType(v.get(), v.get(), 0, VT_BSTR), S_OK);
  EXPECT_EQ(BstrToUtf8(v->bstrVal), "-42");
  ASSERT_EQ(VariantChangeType(v.get(), v.get(), 0, VT_BSTR), S_OK);
  EXPECT_EQ(BstrToUtf8(v->bstrVal), "-42");
  ASSERT_EQ(VariantChangeType(v.get(), v.get(), 0, VT_INT), S_OK);
  EXPECT_EQ(v->vt, VT_INT);
  ASSERT_EQ(VariantChangeType(v.get(), v.get(), 0, VT_I4), S_OK);
  EXPECT_EQ(v->vt, VT_I4);
  EXPECT_EQ(v->lVal, -42);
}

TEST_F(VariantTest, FailureLeavesDestinationUntouched) {
  ComVariant dst = ComVariant::FromString("keep");
  BSTR before = dst->bstrVal;
  for (auto [src, vt] : {std::pair{ComVariant::FromString("abc"), VARTYPE{VT_I2}},
                         std::pair{ComVariant::FromI4(40000), VARTYPE{VT_I2}},
                         std::pair{ComVariant::FromI4(1), VARTYPE{VT_VOID}}}) {
    EXPECT_NE(VariantChangeType(dst.get(), src.get(), 0, vt), S_OK);
    EXPECT_EQ(dst->vt, VT_BSTR);
    EXPECT_EQ(dst->bstrVal, before);
  }
  // Failing in place leaves the source as it was too.
  ComVariant v = ComVariant::FromString("12abc");
  EXPECT_EQ(VariantChangeType(v.get(), v.get(), 0, VT_I4), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(BstrToUtf8(v->bstrVal), "12abc");
}

TEST_F(VariantTest, SuccessReplacesAndFreesDestination) {
  ComVariant dst = ComVariant::FromString("old value");
  ComVariant src = ComVariant::FromR8(2.5);
  ASSERT_EQ(VariantChangeType(dst.get(), src.get(), 0, VT_I2), S_OK);
  EXPECT_EQ(dst->vt, VT_I2);
  EXPECT_EQ(dst->iVal, 2);
  // The leak check of the fixture proves the old string was freed.
}

TEST_F(VariantTest, CorruptDestinationIsReportedOnlyWhenStoring) {
  ComVariant src = ComVariant::FromString("test");
  VARIANT dst;
  VariantInit(&dst);
  dst.vt = 0xFF;
  EXPECT_EQ(VariantChangeType(&dst, src.get(), 0, VT_INT), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(VariantChangeType(&dst, src.get(), 0, VT_BSTR), DISP_E_BADVARTYPE);
  EXPECT_EQ(dst.vt, 0xFF);
}

SAFEARRAY* MakeI2Array(std::initializer_list<int16_t> values) {
  SAFEARRAY* sa = SafeArrayCreateVector(VT_I2, 1, static_cast<uint32_t>(values.size()));
  int32_t i = 1;
  for (int16_t x : values) SafeArrayPutElement(sa, &i, &x), ++i;
  return sa;
}

TEST_F(VariantTest, Arrays) {
  ComVariant arr = Make(VT_ARRAY | VT_I2, [](VARIANT& v) { v.parray = MakeI2Array({1, -2, 3}); });

  ComVariant same;
  ASSERT_EQ(VariantChangeType(same.get(), arr.get(), 0, VT_ARRAY | VT_I2), S_OK);
  ASSERT_NE(same->parray, arr->parray);
  int16_t x = 0;
  int32_t idx = 2;
  ASSERT_EQ(SafeArrayGetElement(same->parray, &idx, &x), S_OK);
  EXPECT_EQ(x, -2);
  int32_t lb = 0;
  SafeArrayGetLBound(same->parray, 1, &lb);
  EXPECT_EQ(lb, 1);

  ComVariant dst;
  for (VARTYPE to : {VARTYPE(VT_ARRAY | VT_R4), VARTYPE(VT_ARRAY | VT_UI2), VARTYPE{VT_BSTR}, VARTYPE{VT_I2},
                     VARTYPE{VT_EMPTY}, VARTYPE{VT_NULL}}) {
    EXPECT_EQ(VariantChangeType(dst.get(), arr.get(), 0, to), DISP_E_TYPEMISMATCH) << to;
  }
  ComVariant scalar = ComVariant::FromI4(1);
  EXPECT_EQ(VariantChangeType(dst.get(), scalar.get(), 0, VT_ARRAY | VT_I4), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(VariantChangeType(dst.get(), scalar.get(), 0, VT_VECTOR | VT_I4), DISP_E_BADVARTYPE);
  EXPECT_EQ(dst->vt, VT_EMPTY);
}

TEST_F(VariantTest, ByteArraysAndStringsTradeRawBytes) {
  ComVariant bytes = Make(VT_ARRAY | VT_UI1, [](VARIANT& v) {
    v.parray = SafeArrayCreateVector(VT_UI1, 0, 5);
    std::memcpy(v.parray->pvData, "Hi\0!x", 5);
  });
  ComVariant text;
  ASSERT_EQ(VariantChangeType(text.get(), bytes.get(), 0, VT_BSTR), S_OK);
  ASSERT_EQ(SysStringByteLen(text->bstrVal), 5u);
  EXPECT_EQ(std::memcmp(text->bstrVal, "Hi\0!x", 5), 0);

  ComVariant back;
  ASSERT_EQ(VariantChangeType(back.get(), text.get(), 0, VT_ARRAY | VT_UI1), S_OK);
  ASSERT_EQ(back->parray->rgsabound[0].cElements, 5u);
  EXPECT_EQ(std::memcmp(back->parray->pvData, "Hi\0!x", 5), 0);
}

TEST_F(VariantTest, DispatchBecomesUnknownUnlessValuePropIsAsked) {
  struct Disp : IDispatch {
    uint32_t refs = 1;
    HRESULT QueryInterface(const IID&, void**) override { return E_NOINTERFACE; }
    uint32_t AddRef() override { return ++refs; }
    uint32_t Release() override { return --refs; }
  } disp;
  VARIANT src;
  VariantInit(&src);
  src.vt = VT_DISPATCH;
  src.pdispVal = &disp;
  ComVariant dst;
  ASSERT_EQ(VariantChangeType(dst.get(), &src, VARIANT_NOVALUEPROP, VT_UNKNOWN), S_OK);
  EXPECT_EQ(disp.refs, 2u);
  EXPECT_EQ(VariantChangeType(dst.get(), &src, VARIANT_NOVALUEPROP, VT_I4), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(VariantChangeType(dst.get(), &src, 0, VT_I4), DISP_E_TYPEMISMATCH);
  VariantClear(dst.get());
  EXPECT_EQ(disp.refs, 1u);
}

}  // namespace
