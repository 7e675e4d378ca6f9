// Scalar values: VARIANT forms, client and operator writes, replies and
// display texts.
#include <cmath>
#include <limits>

#include "test_norvo_var_fixture.h"

namespace {

using ValueTest = TagTest;

TEST_F(ValueTest, CreateTakesItemIdFromOwner) {
  TNorvoVar& tag = Add("Var_name", ntNone);
  EXPECT_EQ(tag.FItemID, "PLC_unit.5.Var_name");
  EXPECT_EQ(tag.FColor, clNone);
  EXPECT_EQ(tag.FArrayQuality, 0xC0);
  EXPECT_EQ(tag.FAccessRights, 3);
  TNorvoVar loose(nullptr, "Clock");
  EXPECT_EQ(loose.FItemID, "");
}

TEST_F(ValueTest, ValueVariantPerType) {
  struct Case {
    uint8_t code;
    int32_t raw;
    VARTYPE vt;
    int64_t expected;  // integer payload, sign-extended from the VARIANT
  };
  const Case cases[] = {
      {ntNone, 5, VT_EMPTY, 0},
      {ntBit, 0, VT_BOOL, VARIANT_FALSE},
      {ntBit, 1, VT_BOOL, VARIANT_TRUE},
      {ntBit, 200, VT_BOOL, VARIANT_TRUE},
      {ntWord, 65535, VT_UI2, 65535},
      {ntInt, -1, VT_I2, -1},
      {ntInt, 40000, VT_I2, -25536},  // an over-wide operator raw keeps its low bytes
      {ntLong, -2147483647 - 1, VT_I4, -2147483647 - 1},
  };
  for (const Case& c : cases) {
    TNorvoVar& tag = Add("v", c.code);
    tag.FValue = c.raw;
    ComVariant v;
    tag.GetValueVariant(v.get());
    ASSERT_EQ(v->vt, c.vt) << int(c.code) << " " << c.raw;
    int64_t got = 0;
    if (c.vt == VT_BOOL) got = v->boolVal;
    if (c.vt == VT_UI2) got = v->uiVal;
    if (c.vt == VT_I2) got = v->iVal;
    if (c.vt == VT_I4) got = v->lVal;
    EXPECT_EQ(got, c.expected) << int(c.code) << " " << c.raw;
  }

  TNorvoVar& real = Add("r", ntReal);
  real.FValue = RealBits(1.5f);
  ComVariant v;
  real.GetValueVariant(v.get());
  ASSERT_EQ(v->vt, VT_R4);
  EXPECT_EQ(v->fltVal, 1.5f);

  TNorvoVar& text = Add("s", ntString);
  text.UpdateText("Zürich");
  text.GetValueVariant(v.get());  // replaces the previous content without a leak
  ASSERT_EQ(v->vt, VT_BSTR);
  EXPECT_EQ(BstrToUtf8(v->bstrVal), "Zürich");
}

TEST_F(ValueTest, ClientWritesAreCoercedOrRefused) {
  auto i4 = [](int32_t x) { return ComVariant::FromI4(x); };
  struct Case {
    const char* name;
    uint8_t code;
    ComVariant value;
    bool accepted;
    int32_t raw;
  };
  const Case cases[] = {
      {"40000 to int", ntInt, i4(40000), false, 0},
      {"40000 to word", ntWord, i4(40000), true, 40000},
      {"-1 to word", ntWord, i4(-1), false, 0},
      {"-32768 to int", ntInt, i4(-32768), true, -32768},
      {"true to bit", ntBit, ComVariant::FromBool(true), true, 1},
      {"false to bit", ntBit, ComVariant::FromBool(false), true, 0},
      {"7 to bit", ntBit, i4(7), true, 1},
      {"text to long", ntLong, ComVariant::FromString("123"), true, 123},
      {"letters to long", ntLong, ComVariant::FromString("abc"), false, 0},
      {"2.5 to int rounds to even", ntInt, ComVariant::FromR8(2.5), true, 2},
      {"1.5 to real", ntReal, ComVariant::FromR8(1.5), true, RealBits(1.5f)},
      {"1e39 to real", ntReal, ComVariant::FromR8(1e39), false, 0},
      {"anything to none", ntNone, i4(9), true, 0},
  };
  for (const Case& c : cases) {
    TNorvoVar& tag = Add("v", c.code);
    tag.FValue = 77;
    EXPECT_EQ(tag.SetFromVariant(*c.value.get()), c.accepted) << c.name;
    EXPECT_EQ(tag.FValue, c.accepted ? c.raw : 77) << c.name;
    EXPECT_EQ(tag.FWriteRequest, c.accepted) << c.name;
    EXPECT_EQ(tag.FWritePending, c.accepted) << c.name;
    EXPECT_EQ(tag.FValid, c.accepted) << c.name;
  }
}

TEST_F(ValueTest, ReplyStoresValueUnlessAWriteIsPending) {
  TNorvoVar& head = Add("arr", ntIntArray);
  TNorvoVar& tag = Add("arr[0]", ntInt, &head);
  tag.FReadRequest = true;
  tag.FNakError = true;
  env.now = 46001.5;
  env.tick = 1234;
  tag.UpdateFromPLC(-3);
  EXPECT_EQ(tag.FValue, -3);
  EXPECT_TRUE(tag.FValid);
  EXPECT_FALSE(tag.FReadRequest);
  EXPECT_FALSE(tag.FNakError);
  EXPECT_EQ(tag.FTimestamp, 46001.5);
  EXPECT_EQ(head.FTimestamp, 46001.5);
  EXPECT_EQ(tag.FUpdateTick, 1234u);

  ASSERT_TRUE(tag.SetFromVariant(*ComVariant::FromI4(10).get()));
  tag.FReadRequest = true;
  env.now = 46002.0;
  env.tick = 2000;
  tag.UpdateFromPLC(-4);
  EXPECT_EQ(tag.FValue, 10) << "the written value stays until acknowledged";
  EXPECT_TRUE(tag.FReadRequest);
  EXPECT_EQ(tag.FTimestamp, 46002.0);
  EXPECT_EQ(tag.FUpdateTick, 2000u);
}

TEST_F(ValueTest, SocketDataLeavesANegativeAcknowledgeStanding) {
  TNorvoVar& tag = Add("v", ntWord);
  tag.FNakError = true;
  tag.UpdateFromSocket(5);
  EXPECT_EQ(tag.FValue, 5);
  EXPECT_TRUE(tag.FNakError);
  tag.UpdateFromPLC(6);
  EXPECT_FALSE(tag.FNakError);
}

TEST_F(ValueTest, TagWaitingToBeFreedIgnoresReplies) {
  TNorvoVar& tag = Add("v", ntLong);
  tag.FDeletePending = true;
  tag.FWritePending = true;
  tag.UpdateFromPLC(5);
  tag.UpdateFromSocket(5);
  tag.UpdateText("x");
  tag.WriteConfirmed();
  EXPECT_FALSE(tag.FValid);
  EXPECT_EQ(tag.FValue, 0);
  EXPECT_EQ(tag.FStrValue, "");
  EXPECT_EQ(tag.FTimestamp, 0);
  EXPECT_TRUE(tag.FWritePending);
}

TEST_F(ValueTest, ValueWrittenTwiceIsAcknowledgedOnlyByItsOwnAcknowledge) {
  TNorvoVar& tag = Add("v", ntInt);
  ASSERT_TRUE(tag.SetFromVariant(*ComVariant::FromI4(1).get()));
  tag.FWriteRequest = false;  // first value goes into a frame
  ASSERT_TRUE(tag.SetFromVariant(*ComVariant::FromI4(2).get()));
  tag.FNakError = true;

  tag.WriteConfirmed();  // acknowledge of the first frame
  EXPECT_TRUE(tag.FWritePending);
  EXPECT_TRUE(tag.FNakError);
  EXPECT_EQ(tag.FWriteAckTime, env.present) << "stamped from the clock, not the cache";

  tag.FWriteRequest = false;  // second value goes into a frame
  tag.WriteConfirmed();
  EXPECT_FALSE(tag.FWritePending);
  EXPECT_FALSE(tag.FNakError);
  EXPECT_EQ(tag.FValue, 2);
}

TEST_F(ValueTest, ValueText) {
  struct Case {
    uint8_t code;
    int32_t raw;
    bool hex;
    const char* text;
  };
  const Case cases[] = {
      {ntReal, RealBits(1.5f), false, "1.5"},
      {ntReal, RealBits(1.5f), true, "H3FC00000"},
      {ntReal, RealBits(0.1f), false, "0.100000001490116"},
      {ntReal, RealBits(-2.5f), false, "-2.5"},
      {ntReal, RealBits(0.0f), false, "0"},
      {ntReal, RealBits(-0.0f), false, "0"},
      {ntReal, RealBits(100.0f), false, "100"},
      {ntReal, RealBits(0x1p49f), false, "562949953421312"},         // 15 digits: fixed
      {ntReal, RealBits(0x1p50f), false, "1.12589990684262E15"},     // 16: exponent form
      {ntReal, RealBits(1e20f), false, "1.00000002004088E20"},
      {ntReal, RealBits(0x1p-10f), false, "0.0009765625"},
      {ntReal, RealBits(0x1p-16f), false, "0.0000152587890625"},     // at least 0.00001: fixed
      {ntReal, RealBits(0x1p-17f), false, "7.62939453125E-6"},
      {ntReal, RealBits(-0x1p-20f), false, "-9.5367431640625E-7"},
      {ntReal, RealBits(std::numeric_limits<float>::infinity()), false, "INF"},
      {ntReal, RealBits(std::numeric_limits<float>::quiet_NaN()), false, "NAN"},
      {ntLong, 255, true, "H000000FF"},
      {ntLong, -1, true, "HFFFFFFFF"},
      {ntLong, -1, false, "-1"},
      {ntWord, 255, true, "H00FF"},
      {ntWord, 65535, false, "65535"},
      {ntInt, -1, true, "HFFFFFFFF"},
      {ntInt, 0x1234, true, "H1234"},
      {ntInt, -5, false, "-5"},
      {ntBit, 1, true, "H0001"},
      {ntBit, 1, false, "1"},
  };
  for (const Case& c : cases) {
    TNorvoVar& tag = Add("v", c.code);
    tag.UpdateFromPLC(c.raw);
    tag.FShowHex = c.hex;
    EXPECT_EQ(tag.ValueText(true), c.text) << int(c.code) << " raw " << c.raw;
  }
  TNorvoVar& text = Add("s", ntString);
  text.UpdateText("run");
  text.FShowHex = true;
  EXPECT_EQ(text.ValueText(true), "run");
}

}  // namespace
