// SAFEARRAY: create, element access, bounds, redimension, copy and locks,
// with BSTR and VARIANT elements owning their values.
#include <gtest/gtest.h>

#include <string>

#include "platform/variant.h"
#include "test_variant_support.h"

namespace {

class SafeArrayTest : public TaskMemTest {};

std::string GetText(SAFEARRAY* sa, int32_t index) {
  BSTR s = nullptr;
  EXPECT_EQ(SafeArrayGetElement(sa, &index, &s), S_OK);
  std::string out = BstrToUtf8(s);
  SysFreeString(s);
  return out;
}

TEST_F(SafeArrayTest, CreateDescribesTheArray) {
  struct {
    VARTYPE vt;
    uint32_t size;
    uint16_t flag;
  } cases[] = {{VT_BOOL, 2, 0},   {VT_I1, 1, 0},         {VT_UI1, 1, 0},           {VT_I2, 2, 0},
               {VT_UI2, 2, 0},    {VT_I4, 4, 0},         {VT_UI4, 4, 0},           {VT_R4, 4, 0},
               {VT_R8, 8, 0},     {VT_DATE, 8, 0},       {VT_CY, 8, 0},            {VT_ERROR, 4, 0},
               {VT_I8, 8, 0},     {VT_UI8, 8, 0},        {VT_BSTR, sizeof(BSTR), FADF_BSTR},
               {VT_VARIANT, 16, FADF_VARIANT}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.vt);
    SAFEARRAY* sa = SafeArrayCreateVector(c.vt, -2, 3);
    ASSERT_NE(sa, nullptr);
    EXPECT_EQ(SafeArrayGetDim(sa), 1u);
    EXPECT_EQ(SafeArrayGetElemsize(sa), c.size);
    EXPECT_EQ(sa->fFeatures & c.flag, c.flag);
    VARTYPE vt = 0;
    EXPECT_EQ(SafeArrayGetVartype(sa, &vt), S_OK);
    EXPECT_EQ(vt, c.vt);
    int32_t lb = 0, ub = 0;
    EXPECT_EQ(SafeArrayGetLBound(sa, 1, &lb), S_OK);
    EXPECT_EQ(SafeArrayGetUBound(sa, 1, &ub), S_OK);
    EXPECT_EQ(lb, -2);
    EXPECT_EQ(ub, 0);
    EXPECT_EQ(SafeArrayGetLBound(sa, 2, &lb), DISP_E_BADINDEX);
    EXPECT_EQ(SafeArrayGetUBound(sa, 0, &ub), DISP_E_BADINDEX);
    EXPECT_EQ(SafeArrayDestroy(sa), S_OK);
  }
  EXPECT_EQ(SafeArrayCreateVector(VT_EMPTY, 0, 1), nullptr);
  EXPECT_EQ(SafeArrayCreateVector(VT_NULL, 0, 1), nullptr);
  EXPECT_EQ(SafeArrayCreate(VT_I4, 0, nullptr), nullptr);
  EXPECT_EQ(SafeArrayCreateVector(VT_R8, 0, 0xFFFFFFFFu), nullptr);  // 32 GiB refused, not attempted
}

TEST_F(SafeArrayTest, EmptyArrayIsValid) {
  SAFEARRAY* sa = SafeArrayCreateVector(VT_I4, 0, 0);
  ASSERT_NE(sa, nullptr);
  int32_t ub = 99;
  SafeArrayGetUBound(sa, 1, &ub);
  EXPECT_EQ(ub, -1);
  int32_t i = 0, x = 0;
  EXPECT_EQ(SafeArrayGetElement(sa, &i, &x), DISP_E_BADINDEX);
  EXPECT_EQ(SafeArrayDestroy(sa), S_OK);
}

TEST_F(SafeArrayTest, PutAndGetScalarsWithBoundsChecks) {
  SAFEARRAY* sa = SafeArrayCreateVector(VT_R8, 5, 3);
  for (int32_t i = 5; i <= 7; ++i) {
    const double x = i * 1.5;
    ASSERT_EQ(SafeArrayPutElement(sa, &i, &x), S_OK);
  }
  for (int32_t i : {4, 8, INT32_MIN, INT32_MAX}) {
    double x = 0;
    EXPECT_EQ(SafeArrayGetElement(sa, &i, &x), DISP_E_BADINDEX) << i;
    EXPECT_EQ(SafeArrayPutElement(sa, &i, &x), DISP_E_BADINDEX) << i;
  }
  void* data = nullptr;
  ASSERT_EQ(SafeArrayAccessData(sa, &data), S_OK);
  EXPECT_EQ(static_cast<double*>(data)[2], 10.5);
  EXPECT_EQ(SafeArrayUnaccessData(sa), S_OK);
  EXPECT_EQ(SafeArrayUnaccessData(sa), E_UNEXPECTED);
  SafeArrayDestroy(sa);
}

TEST_F(SafeArrayTest, StringElementsAreOwnedCopies) {
  SAFEARRAY* sa = SafeArrayCreateVector(VT_BSTR, 0, 2);
  ComBstr a("alpha");
  int32_t i = 0;
  ASSERT_EQ(SafeArrayPutElement(sa, &i, a.get()), S_OK);
  ASSERT_EQ(SafeArrayPutElement(sa, &i, a.get()), S_OK);  // replacing frees the old copy
  BSTR stored = static_cast<BSTR*>(sa->pvData)[0];
  EXPECT_NE(stored, a.get());
  ASSERT_EQ(SafeArrayPutElement(sa, &i, stored), S_OK);  // putting its own value back
  EXPECT_EQ(GetText(sa, 0), "alpha");
  EXPECT_EQ(GetText(sa, 1), "");  // never set: a null BSTR

  SAFEARRAY* copy = nullptr;
  ASSERT_EQ(SafeArrayCopy(sa, &copy), S_OK);
  EXPECT_NE(static_cast<BSTR*>(copy->pvData)[0], static_cast<BSTR*>(sa->pvData)[0]);
  EXPECT_EQ(GetText(copy, 0), "alpha");
  SafeArrayDestroy(sa);
  EXPECT_EQ(GetText(copy, 0), "alpha");
  SafeArrayDestroy(copy);
}

TEST_F(SafeArrayTest, VariantElementsAreOwnedCopies) {
  SAFEARRAY* sa = SafeArrayCreateVector(VT_VARIANT, 1, 2);
  int32_t i = 1;
  ComVariant text = ComVariant::FromString("v1");
  ASSERT_EQ(SafeArrayPutElement(sa, &i, text.get()), S_OK);
  ComVariant number = ComVariant::FromI4(9);
  ASSERT_EQ(SafeArrayPutElement(sa, &i, number.get()), S_OK);
  i = 2;
  ASSERT_EQ(SafeArrayPutElement(sa, &i, text.get()), S_OK);

  ComVariant out;
  ASSERT_EQ(SafeArrayGetElement(sa, &i, out.get()), S_OK);
  EXPECT_EQ(BstrToUtf8(out->bstrVal), "v1");
  EXPECT_NE(out->bstrVal, text->bstrVal);
  i = 1;
  VARIANT first;
  ASSERT_EQ(SafeArrayGetElement(sa, &i, &first), S_OK);
  EXPECT_EQ(first.vt, VT_I4);
  EXPECT_EQ(first.lVal, 9);
  SafeArrayDestroy(sa);
}

TEST_F(SafeArrayTest, RedimGrowsWithZerosAndCutsReleasingElements) {
  SAFEARRAY* sa = SafeArrayCreateVector(VT_BSTR, 0, 3);
  for (int32_t i = 0; i < 3; ++i) {
    ComBstr s("s" + std::to_string(i));
    SafeArrayPutElement(sa, &i, s.get());
  }
  const int64_t withThree = CoTaskMemLiveBlocks();
  SAFEARRAYBOUND cut{1, 0};
  ASSERT_EQ(SafeArrayRedim(sa, &cut), S_OK);
  EXPECT_EQ(CoTaskMemLiveBlocks(), withThree - 2);
  EXPECT_EQ(GetText(sa, 0), "s0");
  int32_t gone = 1;
  BSTR s = nullptr;
  EXPECT_EQ(SafeArrayGetElement(sa, &gone, &s), DISP_E_BADINDEX);

  SAFEARRAYBOUND grow{4, 10};  // a new lower bound comes with it
  ASSERT_EQ(SafeArrayRedim(sa, &grow), S_OK);
  EXPECT_EQ(GetText(sa, 10), "s0");
  for (int32_t i = 11; i <= 13; ++i) {
    BSTR e = reinterpret_cast<BSTR>(1);
    ASSERT_EQ(SafeArrayGetElement(sa, &i, &e), S_OK);
    EXPECT_EQ(e, nullptr);
  }
  SAFEARRAYBOUND none{0, 0};
  ASSERT_EQ(SafeArrayRedim(sa, &none), S_OK);
  ASSERT_EQ(SafeArrayRedim(sa, &grow), S_OK);
  EXPECT_EQ(GetText(sa, 10), "");
  SafeArrayDestroy(sa);

  SAFEARRAY* numbers = SafeArrayCreateVector(VT_I2, 0, 2);
  static_cast<int16_t*>(numbers->pvData)[1] = 7;
  SAFEARRAYBOUND more{1000, 0};
  ASSERT_EQ(SafeArrayRedim(numbers, &more), S_OK);
  EXPECT_EQ(static_cast<int16_t*>(numbers->pvData)[1], 7);
  EXPECT_EQ(static_cast<int16_t*>(numbers->pvData)[999], 0);
  SafeArrayDestroy(numbers);
}

TEST_F(SafeArrayTest, LockedArrayRefusesDestroyAndRedim) {
  SAFEARRAY* sa = SafeArrayCreateVector(VT_I4, 0, 2);
  void* data = nullptr;
  SafeArrayAccessData(sa, &data);
  SAFEARRAYBOUND b{5, 0};
  EXPECT_EQ(SafeArrayDestroy(sa), DISP_E_ARRAYISLOCKED);
  EXPECT_EQ(SafeArrayRedim(sa, &b), DISP_E_ARRAYISLOCKED);
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_ARRAY | VT_I4;
  v.parray = sa;
  EXPECT_EQ(VariantClear(&v), DISP_E_ARRAYISLOCKED);
  SafeArrayUnaccessData(sa);
  EXPECT_EQ(VariantClear(&v), S_OK);
}

TEST_F(SafeArrayTest, TwoDimensions) {
  const SAFEARRAYBOUND bounds[2] = {{2, 0}, {3, 1}};
  SAFEARRAY* sa = SafeArrayCreate(VT_I4, 2, bounds);
  ASSERT_NE(sa, nullptr);
  for (int32_t r = 0; r < 2; ++r) {
    for (int32_t c = 1; c <= 3; ++c) {
      const int32_t idx[2] = {r, c};
      const int32_t x = r * 10 + c;
      ASSERT_EQ(SafeArrayPutElement(sa, idx, &x), S_OK);
    }
  }
  const int32_t at[2] = {1, 3};
  int32_t x = 0;
  ASSERT_EQ(SafeArrayGetElement(sa, at, &x), S_OK);
  EXPECT_EQ(x, 13);
  const int32_t outside[2] = {2, 1};
  EXPECT_EQ(SafeArrayGetElement(sa, outside, &x), DISP_E_BADINDEX);
  SAFEARRAYBOUND longer{4, 1};
  ASSERT_EQ(SafeArrayRedim(sa, &longer), S_OK);
  ASSERT_EQ(SafeArrayGetElement(sa, at, &x), S_OK);
  EXPECT_EQ(x, 13);
  SAFEARRAY* copy = nullptr;
  ASSERT_EQ(SafeArrayCopy(sa, &copy), S_OK);
  ASSERT_EQ(SafeArrayGetElement(copy, at, &x), S_OK);
  EXPECT_EQ(x, 13);
  SafeArrayDestroy(copy);
  SafeArrayDestroy(sa);
}

}  // namespace
