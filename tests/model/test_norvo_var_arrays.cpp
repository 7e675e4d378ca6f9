// Array tags: element walk, VARIANT arrays out and client arrays in.
#include "test_norvo_var_fixture.h"

namespace {

using ArrayTest = TagTest;

// The plain rule: every tag of the owner's list whose head is this one.
std::vector<TNorvoVar*> WalkWholeList(const TNorvoModel& plc, const TNorvoVar& head) {
  std::vector<TNorvoVar*> out;
  for (const auto& t : plc.FTags)
    if (t->FArrayHead == &head) out.push_back(t.get());
  return out;
}

// Builds a one-dimensional client array of 32-bit integers.
ComVariant I4Array(const std::vector<int32_t>& values, int32_t lower = 0) {
  SAFEARRAYBOUND bound{static_cast<uint32_t>(values.size()), lower};
  ComVariant v;
  v->parray = SafeArrayCreate(VT_I4, 1, &bound);
  v->vt = VT_ARRAY | VT_I4;
  for (size_t i = 0; i < values.size(); ++i) {
    const int32_t index = lower + static_cast<int32_t>(i);
    SafeArrayPutElement(v->parray, &index, &values[i]);
  }
  return v;
}

ComVariant VariantArray(std::vector<ComVariant> values) {
  ComVariant v;
  v->parray = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<uint32_t>(values.size()));
  v->vt = VT_ARRAY | VT_VARIANT;
  for (size_t i = 0; i < values.size(); ++i) {
    const int32_t index = static_cast<int32_t>(i);
    SafeArrayPutElement(v->parray, &index, values[i].get());
  }
  return v;
}

TEST_F(ArrayTest, ElementWalkMatchesTheWholeListRule) {
  Add("before", ntLong);
  TNorvoVar& a = AddArray("a", ntIntArray, ntInt, 3);
  Add("w[0]", ntWord);  // word arrays have elements but no array tag
  Add("w[1]", ntWord);
  TNorvoVar& b = AddArray("b", ntBitArray, ntBit, 2);
  TNorvoVar& empty = Add("empty", ntLongArray);
  TNorvoVar& c = AddArray("c", ntRealArray, ntReal, 4);
  Add("after", ntInt);

  auto check = [&] {
    for (TNorvoVar* head : {&a, &b, &empty, &c}) EXPECT_EQ(Elements(*head), WalkWholeList(plc, *head)) << head->FName;
  };
  check();
  // The remembered position goes stale when the list shifts; results must not.
  plc.FTags.insert(plc.FTags.begin(), std::make_unique<TNorvoVar>(&plc, "first"));
  check();
  plc.FTags.erase(plc.FTags.begin(), plc.FTags.begin() + 2);
  check();

  TNorvoVar loose(nullptr, "x");
  loose.FVarType = ntIntArray;
  EXPECT_TRUE(Elements(loose).empty());
}

TEST_F(ArrayTest, ValueVariantHoldsEveryElementAndGrowsPastTheFirstRoom) {
  const int64_t blocksBefore = CoTaskMemLiveBlocks();
  {
    TNorvoVar& ints = AddArray("ints", ntIntArray, ntInt, 250);
    auto el = Elements(ints);
    for (int i = 0; i < 250; ++i) el[i]->UpdateFromPLC(i - 100);
    ComVariant v;
    ints.GetValueVariant(v.get());
    ASSERT_EQ(v->vt, VT_ARRAY | VT_I2);
    int32_t lower = -1, upper = -1;
    SafeArrayGetLBound(v->parray, 1, &lower);
    SafeArrayGetUBound(v->parray, 1, &upper);
    EXPECT_EQ(lower, 0);
    EXPECT_EQ(upper, 249);
    for (int32_t i : {0, 100, 101, 200, 249}) {
      int16_t got = 0;
      SafeArrayGetElement(v->parray, &i, &got);
      EXPECT_EQ(got, i - 100);
    }

    struct Case {
      uint8_t arrayCode, elemCode;
      int count;
      VARTYPE vt;
    };
    const Case cases[] = {
        {ntBitArray, ntBit, 101, VT_BOOL},  // exactly the first room
        {ntLongArray, ntLong, 102, VT_I4},  // one past it
        {ntRealArray, ntReal, 5, VT_R4},
    };
    for (const Case& c : cases) {
      TNorvoVar& arr = AddArray("arr", c.arrayCode, c.elemCode, c.count);
      auto els = Elements(arr);
      for (int i = 0; i < c.count; ++i) {
        const int32_t raw = c.elemCode == ntReal ? RealBits(i * 0.5f) : c.elemCode == ntBit ? i % 2 : -i;
        els[i]->UpdateFromPLC(raw);
      }
      arr.GetValueVariant(v.get());
      ASSERT_EQ(v->vt, VT_ARRAY | c.vt);
      int32_t ub = -1;
      SafeArrayGetUBound(v->parray, 1, &ub);
      EXPECT_EQ(ub, c.count - 1);
      const int32_t last = c.count - 1;
      if (c.vt == VT_BOOL) {
        VARIANT_BOOL b = 0;
        SafeArrayGetElement(v->parray, &last, &b);
        EXPECT_EQ(b, last % 2 ? VARIANT_TRUE : VARIANT_FALSE);
      } else if (c.vt == VT_I4) {
        int32_t x = 0;
        SafeArrayGetElement(v->parray, &last, &x);
        EXPECT_EQ(x, -last);
      } else {
        float f = 0;
        SafeArrayGetElement(v->parray, &last, &f);
        EXPECT_EQ(f, last * 0.5f);
      }
    }

    TNorvoVar& empty = Add("empty", ntIntArray);
    empty.GetValueVariant(v.get());
    EXPECT_EQ(v->vt, VT_I4);
    EXPECT_EQ(v->lVal, 0);
  }
  plc.FTags.clear();
  EXPECT_EQ(CoTaskMemLiveBlocks(), blocksBefore);
}

TEST_F(ArrayTest, ClientArrayWritesLeadingElements) {
  TNorvoVar& arr = AddArray("arr", ntIntArray, ntInt, 10);
  auto el = Elements(arr);
  ASSERT_TRUE(arr.SetFromVariant(*I4Array({7, -8, 9}).get()));
  EXPECT_EQ(el[0]->FValue, 7);
  EXPECT_EQ(el[1]->FValue, -8);
  EXPECT_EQ(el[2]->FValue, 9);
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(el[i]->FWriteRequest && el[i]->FWritePending && el[i]->FValid);
  for (int i = 3; i < 10; ++i) EXPECT_FALSE(el[i]->FWriteRequest || el[i]->FValid) << i;
  EXPECT_FALSE(arr.FWriteRequest || arr.FWritePending || arr.FValid);

  // More values than elements: the extra ones are ignored.
  std::vector<int32_t> many(15, 4);
  ASSERT_TRUE(arr.SetFromVariant(*I4Array(many).get()));
  EXPECT_EQ(el[9]->FValue, 4);
}

TEST_F(ArrayTest, ClientArrayWritesRefused) {
  TNorvoVar& arr = AddArray("arr", ntIntArray, ntInt, 4);
  auto el = Elements(arr);
  TNorvoVar orphan(nullptr, "gone");
  orphan.FVarType = ntIntArray;

  ComVariant twoDims;
  SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
  twoDims->parray = SafeArrayCreate(VT_I4, 2, bounds);
  twoDims->vt = VT_ARRAY | VT_I4;
  ComVariant nullArray;
  nullArray->vt = VT_ARRAY | VT_I4;

  struct Case {
    const char* name;
    TNorvoVar* tag;
    ComVariant value;
  };
  const Case cases[] = {
      {"one element", &arr, I4Array({5})},
      {"empty", &arr, I4Array({})},
      {"scalar", &arr, ComVariant::FromI4(5)},
      {"first element overflows", &arr, I4Array({40000, 1})},
      {"first element not a number", &arr,
       VariantArray({ComVariant::FromString("x"), ComVariant::FromI4(1)})},
      {"two dimensions", &arr, twoDims},
      {"null array", &arr, nullArray},
      {"no owner", &orphan, I4Array({1, 2})},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(c.tag->SetFromVariant(*c.value.get())) << c.name;
    for (TNorvoVar* e : el) EXPECT_FALSE(e->FWriteRequest || e->FValid) << c.name;
  }
}

TEST_F(ArrayTest, ClientArrayWriteStopsAtTheFirstBadElementKeepingEarlierOnes) {
  TNorvoVar& arr = AddArray("arr", ntIntArray, ntInt, 4);
  auto el = Elements(arr);
  ComVariant value =
      VariantArray({ComVariant::FromI4(1), ComVariant::FromString("2"), ComVariant::FromString("x"), ComVariant::FromI4(4)});
  EXPECT_TRUE(arr.SetFromVariant(*value.get()));
  EXPECT_EQ(el[0]->FValue, 1);
  EXPECT_EQ(el[1]->FValue, 2);
  EXPECT_FALSE(el[2]->FValid);
  EXPECT_FALSE(el[3]->FValid);
}

TEST_F(ArrayTest, ClientArrayWithOtherLowerBoundOrByReference) {
  TNorvoVar& arr = AddArray("arr", ntRealArray, ntReal, 3);
  auto el = Elements(arr);
  ComVariant oneBased = I4Array({10, 20, 30}, 1);
  ASSERT_TRUE(arr.SetFromVariant(*oneBased.get()));
  EXPECT_EQ(el[0]->FValue, RealBits(10.0f));
  EXPECT_EQ(el[2]->FValue, RealBits(30.0f));

  ComVariant target = I4Array({-1, -2});
  VARIANT byRef;
  VariantInit(&byRef);
  byRef.vt = VT_ARRAY | VT_I4 | VT_BYREF;
  byRef.byref = &target->parray;
  ASSERT_TRUE(arr.SetFromVariant(byRef));
  EXPECT_EQ(el[1]->FValue, RealBits(-2.0f));
}

}  // namespace
