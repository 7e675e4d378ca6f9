// VariantChangeType outcomes: tables of source, target and expected result.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <vector>

#include "platform/variant.h"
#include "test_variant_support.h"

using namespace vt_build;

namespace {

constexpr HRESULT MM = DISP_E_TYPEMISMATCH;
constexpr HRESULT OVF = DISP_E_OVERFLOW;

struct Case {
  const char* label;
  ComVariant src;
  VARTYPE target;
  HRESULT hr;
  ComVariant expected;  // ignored unless hr is S_OK
  LCID lcid = LOCALE_USER_DEFAULT;
  uint16_t flags = 0;
};

Case Ok(const char* label, ComVariant src, VARTYPE target, ComVariant expected, LCID lcid = LOCALE_USER_DEFAULT,
        uint16_t flags = 0) {
  return Case{label, std::move(src), target, S_OK, std::move(expected), lcid, flags};
}
Case Fails(const char* label, ComVariant src, VARTYPE target, HRESULT hr, LCID lcid = LOCALE_USER_DEFAULT,
           uint16_t flags = 0) {
  return Case{label, std::move(src), target, hr, ComVariant(), lcid, flags};
}

class CoerceTest : public TaskMemTest {
 protected:
  void Run(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.label);
      ComVariant dst;
      const HRESULT hr = VariantChangeTypeEx(dst.get(), c.src.get(), c.lcid, c.flags, c.target);
      EXPECT_EQ(hr, c.hr) << Describe(*c.src.get()) << " -> " << c.target;
      if (c.hr == S_OK) {
        EXPECT_EQ(Describe(*dst.get()), Describe(*c.expected.get()));
      } else {
        EXPECT_EQ(dst->vt, VT_EMPTY);
      }
    }
  }
};

TEST_F(CoerceTest, IntegerToInteger) {
  Run({
      Ok("I2 -1 to UI2 reinterprets", I2(-1), VT_UI2, UI2(65535)),
      Fails("I4 -1 to UI2", I4(-1), VT_UI2, OVF),
      Fails("I4 40000 to I2", I4(40000), VT_I2, OVF),
      Ok("I4 40000 to UI2", I4(40000), VT_UI2, UI2(40000)),
      Ok("UI2 40000 to I2 reinterprets", UI2(40000), VT_I2, I2(-25536)),
      Fails("I4 65535 to I2", I4(65535), VT_I2, OVF),
      Ok("I4 65535 to UI2", I4(65535), VT_UI2, UI2(65535)),
      Ok("UI2 65535 to I2", UI2(65535), VT_I2, I2(-1)),
      Ok("UINT all ones to I4", UInt(0xFFFFFFFFu), VT_I4, I4(-1)),
      Ok("INT to UI4 reinterprets", Int(-1), VT_UI4, UI4(0xFFFFFFFFu)),
      Ok("I4 to INT keeps INT", I4(5), VT_INT, Int(5)),
      Fails("I8 -1 to UI4", I8(-1), VT_UI4, OVF),
      Ok("I8 -1 to UI8 reinterprets", I8(-1), VT_UI8, UI8(UINT64_MAX)),
      Ok("I1 -128 to I8", I1(-128), VT_I8, I8(-128)),
      Ok("UI1 200 to I1 same width", UI1(200), VT_I1, I1(-56)),
      Fails("I2 -129 to I1", I2(-129), VT_I1, OVF),
      Ok("I2 -128 to I1", I2(-128), VT_I1, I1(-128)),
      Fails("UI8 2^63 to I4", UI8(uint64_t{1} << 63), VT_I4, OVF),
      Fails("I8 65536 to UI2", I8(65536), VT_UI2, OVF),
      Ok("I4 min to I8", I4(INT32_MIN), VT_I8, I8(INT32_MIN)),
  });
}

TEST_F(CoerceTest, FloatToIntegerRoundsHalfToEven) {
  Run({
      Ok("0.5", R8(0.5), VT_I4, I4(0)),
      Ok("1.5", R8(1.5), VT_I4, I4(2)),
      Ok("2.5", R8(2.5), VT_I4, I4(2)),
      Ok("-1.5", R8(-1.5), VT_I4, I4(-2)),
      Ok("-0.5", R8(-0.5), VT_I4, I4(0)),
      Ok("0.6", R8(0.6), VT_I4, I4(1)),
      Ok("-0.6", R8(-0.6), VT_I4, I4(-1)),
      Ok("32767.49", R8(32767.49), VT_I2, I2(32767)),
      Fails("32767.5", R8(32767.5), VT_I2, OVF),
      Ok("-32768.5", R8(-32768.5), VT_I2, I2(-32768)),
      Fails("-32768.51", R8(-32768.51), VT_I2, OVF),
      Ok("UI1 -0.5", R8(-0.5), VT_UI1, UI1(0)),
      Fails("UI1 -0.51", R8(-0.51), VT_UI1, OVF),
      Ok("UI1 255.49", R8(255.49), VT_UI1, UI1(255)),
      Fails("R4 255.5 to UI1", R4(255.5f), VT_UI1, OVF),
      Ok("DATE 1.5 to I4", Date(1.5), VT_I4, I4(2)),
      Fails("NaN", R8(NAN), VT_I4, OVF),
      Fails("infinity", R8(INFINITY), VT_I8, OVF),
      Ok("-2^63 to I8", R8(-9223372036854775808.0), VT_I8, I8(INT64_MIN)),
      Fails("2^63 to I8", R8(9223372036854775808.0), VT_I8, OVF),
      Ok("2^63 to UI8", R8(9223372036854775808.0), VT_UI8, UI8(uint64_t{1} << 63)),
      Fails("2^64 to UI8", R8(18446744073709551616.0), VT_UI8, OVF),
  });
}

TEST_F(CoerceTest, FloatingPoint) {
  Run({
      Fails("1e39 to R4", R8(1e39), VT_R4, OVF),
      Fails("infinity to R4", R8(INFINITY), VT_R4, OVF),
      Ok("1.5 to R4", R8(1.5), VT_R4, R4(1.5f)),
      Ok("FLT_MAX to R4", R8(FLT_MAX), VT_R4, R4(FLT_MAX)),
      Ok("0.1f widens exactly", R4(0.1f), VT_R8, R8(static_cast<double>(0.1f))),
      Ok("I4 max to R4 rounds", I4(INT32_MAX), VT_R4, R4(2147483648.0f)),
      Ok("UI8 max to R8", UI8(UINT64_MAX), VT_R8, R8(18446744073709551616.0)),
      Ok("I4 to R8", I4(-7), VT_R8, R8(-7.0)),
  });
}

TEST_F(CoerceTest, Bool) {
  Run({
      Ok("TRUE to I4", Bool(VARIANT_TRUE), VT_I4, I4(-1)),
      Ok("TRUE to I1", Bool(VARIANT_TRUE), VT_I1, I1(-1)),
      Ok("TRUE to UI1 wraps", Bool(VARIANT_TRUE), VT_UI1, UI1(255)),
      Ok("TRUE to UI2 wraps", Bool(VARIANT_TRUE), VT_UI2, UI2(65535)),
      Ok("TRUE to UI4 wraps", Bool(VARIANT_TRUE), VT_UI4, UI4(4294967295u)),
      Ok("TRUE to UI8 wraps", Bool(VARIANT_TRUE), VT_UI8, UI8(UINT64_MAX)),
      Ok("TRUE to R8", Bool(VARIANT_TRUE), VT_R8, R8(-1.0)),
      Ok("TRUE to CY", Bool(VARIANT_TRUE), VT_CY, Cy(-10000)),
      Ok("TRUE to DATE", Bool(VARIANT_TRUE), VT_DATE, Date(-1.0)),
      Ok("TRUE to DECIMAL is +1", Bool(VARIANT_TRUE), VT_DECIMAL, Dec(1, 0)),
      Ok("raw 1 stays 1", Bool(1), VT_BOOL, Bool(1)),
      Ok("I4 7", I4(7), VT_BOOL, Bool(VARIANT_TRUE)),
      Ok("I4 5", I4(5), VT_BOOL, Bool(VARIANT_TRUE)),
      Ok("I4 0", I4(0), VT_BOOL, Bool(VARIANT_FALSE)),
      Ok("R8 0.4 is not rounded", R8(0.4), VT_BOOL, Bool(VARIANT_TRUE)),
      Ok("R8 -0.0", R8(-0.0), VT_BOOL, Bool(VARIANT_FALSE)),
      Ok("CY 0.0001", Cy(1), VT_BOOL, Bool(VARIANT_TRUE)),
      Ok("DECIMAL 0.01", Dec(1, 2), VT_BOOL, Bool(VARIANT_TRUE)),
      Ok("\"True\"", Str("True"), VT_BOOL, Bool(VARIANT_TRUE)),
      Ok("\"false\"", Str("false"), VT_BOOL, Bool(VARIANT_FALSE)),
      Ok("\"#TRUE#\"", Str("#TRUE#"), VT_BOOL, Bool(VARIANT_TRUE)),
      Ok("\"#FALSE#\"", Str("#FALSE#"), VT_BOOL, Bool(VARIANT_FALSE)),
      Fails("\"#True#\"", Str("#True#"), VT_BOOL, MM),
      Fails("\"Yes\"", Str("Yes"), VT_BOOL, MM),
      Fails("\"\"", Str(""), VT_BOOL, MM),
      Ok("\"0.1\"", Str("0.1"), VT_BOOL, Bool(VARIANT_TRUE)),
      Ok("\"-1\"", Str("-1"), VT_BOOL, Bool(VARIANT_TRUE)),
      Ok("\"&H1\"", Str("&H1"), VT_BOOL, Bool(VARIANT_TRUE)),
      Ok("\"0\"", Str("0"), VT_BOOL, Bool(VARIANT_FALSE)),
      Fails("\"Faux\" without LOCALBOOL", Str("Faux"), VT_BOOL, MM, LOCALE_FR_FR),
      Ok("\"Faux\" with LOCALBOOL", Str("Faux"), VT_BOOL, Bool(VARIANT_FALSE), LOCALE_FR_FR, VARIANT_LOCALBOOL),
      Ok("English always accepted", Str("TRUE"), VT_BOOL, Bool(VARIANT_TRUE), LOCALE_FR_FR, VARIANT_LOCALBOOL),
  });
}

TEST_F(CoerceTest, Currency) {
  Run({
      Ok("I4 to CY", I4(-3), VT_CY, Cy(-30000)),
      Fails("I8 922337203685477", I8(922337203685477), VT_CY, OVF),
      Ok("I8 922337203685476", I8(922337203685476), VT_CY, Cy(9223372036854760000)),
      Ok("UI8 922337203685477", UI8(922337203685477), VT_CY, Cy(9223372036854770000)),
      Ok("R4 1.00009", R4(1.00009f), VT_CY, Cy(10001)),
      Ok("R4 -0.00005", R4(-0.00005f), VT_CY, Cy(0)),
      Fails("R8 1e20", R8(1e20), VT_CY, OVF),
      Ok("DECIMAL 1.23456 rounds", Dec(123456, 5), VT_CY, Cy(12346)),
      Ok("CY 1.5 to I4", Cy(15000), VT_I4, I4(2)),
      Ok("CY 2.5 to I2", Cy(25000), VT_I2, I2(2)),
      Ok("CY -0.5 to I4", Cy(-5000), VT_I4, I4(0)),
      Ok("CY -1.5 to I4", Cy(-15000), VT_I4, I4(-2)),
      Ok("CY -0.5 to UI8", Cy(-5000), VT_UI8, UI8(0)),
      Fails("CY -0.6 to UI8", Cy(-6000), VT_UI8, OVF),
      // The native runtime subtracts one from negative values here; we round.
      Ok("CY -1 to I8", Cy(-10000), VT_I8, I8(-1)),
      Ok("CY -1.5 to I8", Cy(-15000), VT_I8, I8(-2)),
      Ok("CY to R8", Cy(12345), VT_R8, R8(1.2345)),
      Ok("CY 1 to DECIMAL", Cy(10000), VT_DECIMAL, Dec(10000, 4)),
      Ok("\"$1,234.56\"", Str("$1,234.56"), VT_CY, Cy(12345600)),
      Ok("\"0.00005\" rounds to even", Str("0.00005"), VT_CY, Cy(0)),
      Ok("\"0.00015\" rounds to even", Str("0.00015"), VT_CY, Cy(2)),
      Ok("CY max text", Str("922337203685477.5807"), VT_CY, Cy(INT64_MAX)),
      Fails("past CY max", Str("922337203685477.5808"), VT_CY, OVF),
      Ok("CY min text", Str("-922337203685477.5808"), VT_CY, Cy(INT64_MIN)),
  });
}

TEST_F(CoerceTest, Decimal) {
  Run({
      Ok("I4 -5", I4(-5), VT_DECIMAL, Dec(5, 0, true)),
      Ok("UI8 max", UI8(UINT64_MAX), VT_DECIMAL, Dec(UINT64_MAX, 0)),
      Ok("R8 0.5", R8(0.5), VT_DECIMAL, Dec(5, 1)),
      Ok("R8 -0.6", R8(-0.6), VT_DECIMAL, Dec(6, 1, true)),
      Ok("R8 1/3 keeps 15 digits", R8(1.0 / 3), VT_DECIMAL, Dec(333333333333333, 15)),
      Ok("R4 0.1 keeps 7 digits", R4(0.1f), VT_DECIMAL, Dec(1, 1)),
      Ok("R8 1e20", R8(1e20), VT_DECIMAL, Dec(7766279631452241920ull, 0, false, 5)),
      Fails("R8 infinity", R8(INFINITY), VT_DECIMAL, OVF),
      Fails("R8 1e30", R8(1e30), VT_DECIMAL, OVF),
      Ok("2.5 to I4", Dec(25, 1), VT_I4, I4(2)),
      Ok("127.00 to I1", Dec(12700, 2), VT_I1, I1(127)),
      Fails("2^64 to I8", Dec(0, 0, false, 1), VT_I8, OVF),
      Fails("-1 to UI8", Dec(1, 0, true), VT_UI8, OVF),
      Ok("-1.5 to R8", Dec(15, 1, true), VT_R8, R8(-1.5)),
      Fails("scale 29", Dec(25, 29), VT_I4, E_INVALIDARG),
      Fails("bad sign byte", Make(VT_DECIMAL, [](VARIANT& v) { v.decVal.sign = 1; }), VT_R8, E_INVALIDARG),
      Fails("scale 29 to BSTR", Dec(25, 29), VT_BSTR, E_INVALIDARG),
      Ok("\"0.5\"", Str("0.5"), VT_DECIMAL, Dec(5, 1)),
      Ok("\"18446744073709551616\"", Str("18446744073709551616"), VT_DECIMAL, Dec(0, 0, false, 1)),
      Ok("\"-1.50\"", Str("-1.50"), VT_DECIMAL, Dec(15, 1, true)),
      Ok("2^96-1 text", Str("79228162514264337593543950335"), VT_DECIMAL,
         Dec(UINT64_MAX, 0, false, UINT32_MAX)),
      Fails("2^96 text", Str("79228162514264337593543950336"), VT_DECIMAL, OVF),
      Ok("too many places are rounded", Str("0.12345678901234567890123456789"), VT_DECIMAL,
         Dec(7888470988696384335ull, 28, false, 66926059)),
  });
}

TEST_F(CoerceTest, Date) {
  Run({
      Ok("I4 to DATE", I4(25570), VT_DATE, Date(25570.0)),
      Fails("I4 -657435", I4(-657435), VT_DATE, OVF),
      Ok("I4 -657434", I4(-657434), VT_DATE, Date(-657434.0)),
      Fails("I4 2958466", I4(2958466), VT_DATE, OVF),
      Ok("R8 2958465.5", R8(2958465.5), VT_DATE, Date(2958465.5)),
      Fails("R8 2958466", R8(2958466.0), VT_DATE, OVF),
      Fails("R8 -657435", R8(-657435.0), VT_DATE, OVF),
      Fails("R4 beyond range", R4(3e6f), VT_DATE, OVF),
      Ok("DATE to R8", Date(1.25), VT_R8, R8(1.25)),
  });
}

TEST_F(CoerceTest, StringToNumber) {
  Run({
      Fails("\"abc\" to I2", Str("abc"), VT_I2, MM),
      Fails("\"abc\" to I4", Str("abc"), VT_I4, MM),
      Fails("\"\" to R8", Str(""), VT_R8, MM),
      Fails("blanks only", Str("  \t"), VT_R8, MM),
      Fails("null BSTR", Make(VT_BSTR, [](VARIANT& v) { v.bstrVal = nullptr; }), VT_I4, MM),
      Ok("\" 42 \"", Str(" 42 "), VT_I4, I4(42)),
      Ok("tabs and NBSP", Str("\t42\xC2\xA0"), VT_I4, I4(42)),
      Ok("\" - 5\"", Str(" - 5"), VT_I4, I4(-5)),
      Fails("\"--5\"", Str("--5"), VT_I4, MM),
      Fails("\"+ +0\"", Str("+ +0"), VT_I4, MM),
      Ok("\"(12)\"", Str("(12)"), VT_I4, I4(-12)),
      Fails("\"(12\"", Str("(12"), VT_I4, MM),
      Ok("\"12-\"", Str("12-"), VT_I4, I4(-12)),
      Ok("\"$12\"", Str("$12"), VT_I4, I4(12)),
      Ok("\"12$\"", Str("12$"), VT_I4, I4(12)),
      Ok("\"1.\"", Str("1."), VT_R8, R8(1.0)),
      Ok("\".5\"", Str(".5"), VT_R8, R8(0.5)),
      Fails("\".\"", Str("."), VT_R8, MM),
      Fails("\"1.2.3\"", Str("1.2.3"), VT_R8, MM),
      Ok("\"1,000\"", Str("1,000"), VT_I4, I4(1000)),
      Ok("\"1,00,0,,\"", Str("1,00,0,,"), VT_I4, I4(1000)),
      Ok("\"1,5\" is fifteen", Str("1,5"), VT_R8, R8(15.0)),
      Fails("\",5\"", Str(",5"), VT_R8, MM),
      Ok("de-DE \"1,5\"", Str("1,5"), VT_R8, R8(1.5), LOCALE_DE_DE),
      Ok("de-DE \"1.5\"", Str("1.5"), VT_R8, R8(15.0), LOCALE_DE_DE),
      Ok("fr-FR space grouping", Str("1 000,5"), VT_R8, R8(1000.5), LOCALE_FR_FR),
      Ok("\"1e3\"", Str("1e3"), VT_I4, I4(1000)),
      Ok("\"1.5E-3\"", Str("1.5E-3"), VT_R8, R8(0.0015)),
      Ok("\"1e+05\"", Str("1e+05"), VT_R8, R8(100000.0)),
      Ok("\"1.5e2\"", Str("1.5e2"), VT_I4, I4(150)),
      Fails("\"1e\"", Str("1e"), VT_I4, MM),
      Ok("underflowing exponent", Str("1e-94938484"), VT_R8, R8(0.0)),
      Fails("\"1e400\" to R8", Str("1e400"), VT_R8, OVF),
      Fails("\"1e39\" to R4", Str("1e39"), VT_R4, OVF),
      Ok("\"0.1\" to R4 rounds once", Str("0.1"), VT_R4, R4(0.1f)),
      Ok("\"&HFF\"", Str("&HFF"), VT_I4, I4(255)),
      Ok("\"&O17\"", Str("&O17"), VT_I4, I4(15)),
      Ok("\"&hff\" lower case", Str("&hff"), VT_I4, I4(255)),
      Ok("\"&HFFFF\" to I2", Str("&HFFFF"), VT_I2, I2(-1)),
      Ok("\"&HFFFF\" to I4", Str("&HFFFF"), VT_I4, I4(65535)),
      Fails("\"&H10000\" to I2", Str("&H10000"), VT_I2, OVF),
      Ok("\"&HFFFFFFFFFFFFFFFF\" to I8", Str("&HFFFFFFFFFFFFFFFF"), VT_I8, I8(-1)),
      Fails("\"&H1.5\"", Str("&H1.5"), VT_I4, MM),
      Fails("\"0x1F\"", Str("0x1F"), VT_I4, MM),
      Fails("\"12abc\"", Str("12abc"), VT_I4, MM),
      Fails("\"1 2\"", Str("1 2"), VT_I4, MM),
      Fails("\"True\" to I4", Str("True"), VT_I4, MM),
      Ok("\"2.5\" to I2", Str("2.5"), VT_I2, I2(2)),
      Ok("\"3.5\" to I2", Str("3.5"), VT_I2, I2(4)),
      Ok("\"2.50000000000000000001\" to I2", Str("2.50000000000000000001"), VT_I2, I2(3)),
      Ok("\"-0.5\" to UI1", Str("-0.5"), VT_UI1, UI1(0)),
      Fails("\"-0.6\" to UI1", Str("-0.6"), VT_UI1, OVF),
      Fails("\"32768\" to I2", Str("32768"), VT_I2, OVF),
      Ok("\"-32768\" to I2", Str("-32768"), VT_I2, I2(-32768)),
      Fails("\"-1\" to UI4", Str("-1"), VT_UI4, OVF),
      Fails("\"65536\" to UI2", Str("65536"), VT_UI2, OVF),
      Ok("\"18446744073709551615\" to UI8", Str("18446744073709551615"), VT_UI8, UI8(UINT64_MAX)),
      Fails("\"18446744073709551616\" to UI8", Str("18446744073709551616"), VT_UI8, OVF),
      Fails("fifty digits", Str("12345678901234567890123456789012345678901234567890"), VT_I8, OVF),
      Ok("many leading zeros", Str("0000000000000000000000000000000000000000007"), VT_I1, I1(7)),
      Ok("long exact decimal to R8", Str("0.1000000000000000055511151231257827021181583404541015625"), VT_R8,
         R8(0.1)),
  });
}

TEST_F(CoerceTest, NumberToString) {
  Run({
      Ok("I4 min", I4(INT32_MIN), VT_BSTR, Str("-2147483648")),
      Ok("UI8 max", UI8(UINT64_MAX), VT_BSTR, Str("18446744073709551615")),
      Ok("R8 0.1", R8(0.1), VT_BSTR, Str("0.1")),
      Ok("R8 1/3", R8(1.0 / 3), VT_BSTR, Str("0.333333333333333")),
      Ok("R8 999999999999999", R8(999999999999999.0), VT_BSTR, Str("999999999999999")),
      Ok("R8 1e15", R8(1e15), VT_BSTR, Str("1E+15")),
      Ok("R8 1.234e16", R8(1.234e16), VT_BSTR, Str("1.234E+16")),
      Ok("R8 5.6789e-11", R8(5.6789e-11), VT_BSTR, Str("0.000000000056789")),
      Ok("R8 5.6789e-12", R8(5.6789e-12), VT_BSTR, Str("5.6789E-12")),
      Ok("R8 -2.5", R8(-2.5), VT_BSTR, Str("-2.5")),
      Ok("R8 1e-300", R8(1e-300), VT_BSTR, Str("1E-300")),
      Ok("R8 -0.0", R8(-0.0), VT_BSTR, Str("0")),
      Ok("R8 123.456", R8(123.456), VT_BSTR, Str("123.456")),
      Ok("R4 1.5", R4(1.5f), VT_BSTR, Str("1.5")),
      Ok("R4 0.1", R4(0.1f), VT_BSTR, Str("0.1")),
      Ok("R4 pi", R4(3.14159265f), VT_BSTR, Str("3.141593")),
      Ok("R4 1e8", R4(1e8f), VT_BSTR, Str("1E+08")),
      Ok("R4 123456789", R4(123456789.0f), VT_BSTR, Str("1.234568E+08")),
      Ok("R4 0.000005", R4(0.000005f), VT_BSTR, Str("0.000005")),
      Ok("es-ES decimal comma", R8(0.5), VT_BSTR, Str("0,5"), LOCALE_ES_ES),
      Ok("es-ES CY", Cy(9), VT_BSTR, Str("0,0009"), LOCALE_ES_ES),
      Ok("CY 1.5", Cy(15000), VT_BSTR, Str("1.5")),
      Ok("CY -1.5", Cy(-15000), VT_BSTR, Str("-1.5")),
      Ok("CY 0.0009", Cy(9), VT_BSTR, Str("0.0009")),
      Ok("CY 0", Cy(0), VT_BSTR, Str("0")),
      Ok("CY max", Cy(INT64_MAX), VT_BSTR, Str("922337203685477.5807")),
      Ok("CY min", Cy(INT64_MIN), VT_BSTR, Str("-922337203685477.5808")),
      Ok("DECIMAL 1.500", Dec(1500, 3), VT_BSTR, Str("1.5")),
      Ok("DECIMAL 2^96-1", Dec(UINT64_MAX, 0, false, UINT32_MAX), VT_BSTR, Str("79228162514264337593543950335")),
      Ok("DECIMAL -0.05", Dec(5, 2, true), VT_BSTR, Str("-0.05")),
      Ok("DECIMAL 100 scale 0", Dec(100, 0), VT_BSTR, Str("100")),
      Ok("BOOL TRUE", Bool(VARIANT_TRUE), VT_BSTR, Str("-1")),
      Ok("BOOL FALSE", Bool(VARIANT_FALSE), VT_BSTR, Str("0")),
      Ok("BOOL raw 1", Bool(1), VT_BSTR, Str("1")),
      Ok("ALPHABOOL TRUE", Bool(VARIANT_TRUE), VT_BSTR, Str("True"), LOCALE_USER_DEFAULT, VARIANT_ALPHABOOL),
      Ok("ALPHABOOL is English in fr-FR", Bool(VARIANT_FALSE), VT_BSTR, Str("False"), LOCALE_FR_FR,
         VARIANT_ALPHABOOL),
      Ok("LOCALBOOL fr-FR", Bool(VARIANT_FALSE), VT_BSTR, Str("Faux"), LOCALE_FR_FR, VARIANT_LOCALBOOL),
      Ok("LOCALBOOL fr-FR true", Bool(VARIANT_TRUE), VT_BSTR, Str("Vrai"), LOCALE_FR_FR,
         VARIANT_LOCALBOOL | VARIANT_ALPHABOOL),
  });
}

TEST_F(CoerceTest, DateText) {
  Run({
      Ok("\"1/2/1970\"", Str("1/2/1970"), VT_DATE, Date(25570.0)),
      Ok("\"2 January 1970\"", Str("2 January 1970"), VT_DATE, Date(25570.0)),
      Ok("\"Jan 2, 1970\"", Str("Jan 2, 1970"), VT_DATE, Date(25570.0)),
      Ok("with a day name", Str("Friday, January 2, 1970"), VT_DATE, Date(25570.0)),
      Ok("\"13-1-1970\"", Str("13-1-1970"), VT_DATE, Date(25581.0)),
      Ok("\"1970-1-13\"", Str("1970-1-13"), VT_DATE, Date(25581.0)),
      Ok("\"6/30/2011 01:20:34 PM\"", Str("6/30/2011 01:20:34 PM"), VT_DATE,
         Date(40724.0 + (13 * 3600 + 20 * 60 + 34) / 86400.0)),
      Ok("\"2013-05-14 02:04:12\"", Str("2013-05-14 02:04:12"), VT_DATE,
         Date(41408.0 + (2 * 3600 + 4 * 60 + 12) / 86400.0)),
      Ok("\"2.5\" is a time", Str("2.5"), VT_DATE, Date((2 * 3600 + 5 * 60) / 86400.0)),
      Ok("\"13:00 AM\"", Str("13:00 AM"), VT_DATE, Date(13 / 24.0)),
      Ok("\"12:00:00 AM\"", Str("12:00:00 AM"), VT_DATE, Date(0.0)),
      Ok("\"1 1 100\"", Str("1 1 100"), VT_DATE, Date(-657434.0)),
      Ok("\"1/1/49\" pivots to 2049", Str("1/1/49"), VT_DATE, Date(54424.0)),
      Ok("\"1/1/50\" pivots to 1950", Str("1/1/50"), VT_DATE, Date(18264.0)),
      Ok("before 1899 with a time", Str("12/29/1899 6:00 AM"), VT_DATE, Date(-1.25)),
      Ok("de-DE \"02.01.1970\"", Str("02.01.1970"), VT_DATE, Date(25570.0), LOCALE_DE_DE),
      Fails("en-US \"02.01.1970\"", Str("02.01.1970"), VT_DATE, MM),
      Fails("\"0.0\"", Str("0.0"), VT_DATE, MM),
      Fails("\"45000\"", Str("45000"), VT_DATE, MM),
      Fails("\"1\"", Str("1"), VT_DATE, MM),
      Fails("\"True\"", Str("True"), VT_DATE, MM),
      Fails("hour 24", Str("24:00"), VT_DATE, MM),
      Fails("minute 60", Str("1:60"), VT_DATE, MM),
      Fails("fractional seconds", Str("1:02:03.5"), VT_DATE, MM),
      Fails("February 30", Str("2/30/2001"), VT_DATE, MM),
      Fails("trailing separator", Str("1:"), VT_DATE, MM),
      Ok("DATE 25570", Date(25570.0), VT_BSTR, Str("1/2/1970")),
      Ok("DATE 365", Date(365.0), VT_BSTR, Str("12/30/1900")),
      Ok("DATE 0.25", Date(0.25), VT_BSTR, Str("6:00:00 AM")),
      Ok("DATE 0", Date(0.0), VT_BSTR, Str("12:00:00 AM")),
      Ok("DATE 3.34", Date(3.34), VT_BSTR, Str("1/2/1900 8:09:36 AM")),
      Ok("DATE -49192.24", Date(-49192.24), VT_BSTR, Str("4/24/1765 5:45:36 AM")),
      Ok("DATE afternoon", Date(40724.0 + 0.75), VT_BSTR, Str("6/30/2011 6:00:00 PM")),
      Ok("USE_NLS prints both parts", Date(25570.0), VT_BSTR, Str("1/2/1970 12:00:00 AM"), LOCALE_USER_DEFAULT,
         VARIANT_USE_NLS),
      Ok("de-DE format", Date(25570.5), VT_BSTR, Str("02.01.1970 12:00:00"), LOCALE_DE_DE),
      Fails("DATE 3000000", Date(3000000.0), VT_BSTR, E_INVALIDARG),
      Fails("DATE NaN", Date(NAN), VT_BSTR, E_INVALIDARG),
  });
}

TEST_F(CoerceTest, EmptyNullErrorAndObjects) {
  Run({
      Ok("EMPTY to BSTR", Empty(), VT_BSTR, Str("")),
      Ok("EMPTY to I4", Empty(), VT_I4, I4(0)),
      Ok("EMPTY to DATE", Empty(), VT_DATE, Date(0.0)),
      Ok("EMPTY to BOOL", Empty(), VT_BOOL, Bool(VARIANT_FALSE)),
      Ok("EMPTY to DECIMAL", Empty(), VT_DECIMAL, Dec(0, 0)),
      Ok("EMPTY to NULL", Empty(), VT_NULL, Null()),
      Fails("EMPTY to ERROR", Empty(), VT_ERROR, MM),
      Fails("EMPTY to VARIANT", Empty(), VT_VARIANT, MM),
      Fails("NULL to EMPTY", Null(), VT_EMPTY, MM),
      Fails("NULL to I4", Null(), VT_I4, MM),
      Fails("NULL to BSTR", Null(), VT_BSTR, MM),
      Ok("NULL to NULL", Null(), VT_NULL, Null()),
      Ok("BSTR to EMPTY drops it", Str("abc"), VT_EMPTY, Empty()),
      Ok("R8 to NULL drops it", R8(1.5), VT_NULL, Null()),
      Fails("ERROR to I4", Error(5), VT_I4, MM),
      Fails("ERROR to EMPTY", Error(5), VT_EMPTY, MM),
      Ok("ERROR to ERROR", Error(5), VT_ERROR, Error(5)),
      Fails("I4 to ERROR", I4(5), VT_ERROR, MM),
      Fails("I4 to VT_VOID", I4(1), VT_VOID, DISP_E_BADVARTYPE),
      Fails("I4 to 15", I4(1), 15, DISP_E_BADVARTYPE),
      Fails("I4 to VT_CLSID", I4(1), VT_CLSID, DISP_E_BADVARTYPE),
      Fails("I4 to VECTOR", I4(1), VT_VECTOR | VT_UI1, DISP_E_BADVARTYPE),
      Fails("I4 to 0xFF", I4(1), 0xFF, DISP_E_BADVARTYPE),
      Fails("I4 to DISPATCH", I4(1), VT_DISPATCH, MM),
      Fails("I4 to UNKNOWN", I4(1), VT_UNKNOWN, MM),
      Fails("I4 to I4|BYREF", I4(1), VT_I4 | VT_BYREF, MM),
  });
}

TEST_F(CoerceTest, ByReference) {
  int16_t i2 = 7;
  double r8 = 2.5;
  ComVariant inner = R8(2.5);
  ComVariant innerRef = Make(VT_R8 | VT_BYREF, [&](VARIANT& v) { v.pdblVal = &r8; });
  ComVariant nested = Make(VT_VARIANT | VT_BYREF, [&](VARIANT& v) { v.pvarVal = innerRef.get(); });
  ComVariant twice = Make(VT_VARIANT | VT_BYREF, [&](VARIANT& v) { v.pvarVal = nested.get(); });
  BSTR text = SysAllocString(u"12");
  Run({
      Ok("I2 by ref", Make(VT_I2 | VT_BYREF, [&](VARIANT& v) { v.piVal = &i2; }), VT_I4, I4(7)),
      Ok("same type by ref", Make(VT_I2 | VT_BYREF, [&](VARIANT& v) { v.piVal = &i2; }), VT_I2, I2(7)),
      Fails("null pointer", Make(VT_I4 | VT_BYREF, [](VARIANT&) {}), VT_I4, MM),
      Ok("VARIANT by ref", Make(VT_VARIANT | VT_BYREF, [&](VARIANT& v) { v.pvarVal = inner.get(); }), VT_I2, I2(2)),
      Ok("VARIANT by ref to a reference", nested, VT_I2, I2(2)),
      Fails("VARIANT by ref twice", twice, VT_I2, E_INVALIDARG),
      Ok("BSTR by ref", Make(VT_BSTR | VT_BYREF, [&](VARIANT& v) { v.pbstrVal = &text; }), VT_I4, I4(12)),
  });
  EXPECT_EQ(i2, 7);
  EXPECT_EQ(r8, 2.5);
  EXPECT_EQ(BstrToUtf8(text), "12");
  SysFreeString(text);
}

// Raw VARIANTs: a table would copy them, and copying refuses these types.
TEST_F(CoerceTest, InvalidSourceTypes) {
  int32_t target = 0;
  for (VARTYPE vt : {VARTYPE{15}, VARTYPE{VT_VOID}, VARTYPE{0xFF}, VARTYPE(VT_VECTOR | VT_I4),
                     VARTYPE(VT_EMPTY | VT_BYREF), VARTYPE(VT_NULL | VT_ARRAY)}) {
    SCOPED_TRACE(vt);
    VARIANT src;
    VariantInit(&src);
    src.vt = vt;
    src.byref = &target;
    VARIANT dst;
    VariantInit(&dst);
    EXPECT_EQ(VariantChangeType(&dst, &src, 0, VT_I4), DISP_E_BADVARTYPE);
    EXPECT_EQ(dst.vt, VT_EMPTY);
  }
}

// The two checks every other module relies on.
TEST_F(CoerceTest, HotPathConversions) {
  Run({
      Ok("I4 to R8", I4(123456), VT_R8, R8(123456.0)),
      Ok("BSTR to I4", Str("-98765"), VT_I4, I4(-98765)),
  });
}

}  // namespace
