// Shared helpers for the VARIANT runtime tests: a leak-checking fixture and
// builders for typed values.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/variant.h"

// Every test starts and ends with the same number of task-allocator blocks.
class TaskMemTest : public ::testing::Test {
 protected:
  void SetUp() override { start_ = CoTaskMemLiveBlocks(); }
  void TearDown() override { EXPECT_EQ(CoTaskMemLiveBlocks(), start_) << "task memory leaked"; }

 private:
  int64_t start_ = 0;
};

namespace vt_build {

template <typename Setter>
inline ComVariant Make(VARTYPE vt, Setter set) {
  ComVariant v;
  set(*v.get());
  v->vt = vt;
  return v;
}

inline ComVariant Empty() { return ComVariant(); }
inline ComVariant Null() { return Make(VT_NULL, [](VARIANT&) {}); }
inline ComVariant I1(int8_t x) { return Make(VT_I1, [=](VARIANT& v) { v.cVal = x; }); }
inline ComVariant UI1(uint8_t x) { return Make(VT_UI1, [=](VARIANT& v) { v.bVal = x; }); }
inline ComVariant I2(int16_t x) { return Make(VT_I2, [=](VARIANT& v) { v.iVal = x; }); }
inline ComVariant UI2(uint16_t x) { return Make(VT_UI2, [=](VARIANT& v) { v.uiVal = x; }); }
inline ComVariant I4(int32_t x) { return Make(VT_I4, [=](VARIANT& v) { v.lVal = x; }); }
inline ComVariant UI4(uint32_t x) { return Make(VT_UI4, [=](VARIANT& v) { v.ulVal = x; }); }
inline ComVariant Int(int32_t x) { return Make(VT_INT, [=](VARIANT& v) { v.intVal = x; }); }
inline ComVariant UInt(uint32_t x) { return Make(VT_UINT, [=](VARIANT& v) { v.uintVal = x; }); }
inline ComVariant I8(int64_t x) { return Make(VT_I8, [=](VARIANT& v) { v.llVal = x; }); }
inline ComVariant UI8(uint64_t x) { return Make(VT_UI8, [=](VARIANT& v) { v.ullVal = x; }); }
inline ComVariant R4(float x) { return Make(VT_R4, [=](VARIANT& v) { v.fltVal = x; }); }
inline ComVariant R8(double x) { return Make(VT_R8, [=](VARIANT& v) { v.dblVal = x; }); }
inline ComVariant Date(double x) { return Make(VT_DATE, [=](VARIANT& v) { v.date = x; }); }
inline ComVariant Cy(int64_t scaled) { return Make(VT_CY, [=](VARIANT& v) { v.cyVal.int64 = scaled; }); }
inline ComVariant Bool(VARIANT_BOOL b) { return Make(VT_BOOL, [=](VARIANT& v) { v.boolVal = b; }); }
inline ComVariant Error(SCODE e) { return Make(VT_ERROR, [=](VARIANT& v) { v.scode = e; }); }
inline ComVariant Str(const std::string& s) { return ComVariant::FromString(s); }
inline ComVariant Dec(uint64_t lo, uint8_t scale, bool negative = false, uint32_t hi = 0) {
  return Make(VT_DECIMAL, [=](VARIANT& v) {
    v.decVal.Lo64 = lo;
    v.decVal.Hi32 = hi;
    v.decVal.scale = scale;
    v.decVal.sign = negative ? 0x80 : 0;
  });
}

// Readable text of a value for failure messages and comparisons.
inline std::string Describe(const VARIANT& v) {
  std::string out = "vt=" + std::to_string(v.vt) + " ";
  switch (v.vt) {
    case VT_EMPTY:
    case VT_NULL:
      return out;
    case VT_I1:
      return out + std::to_string(v.cVal);
    case VT_UI1:
      return out + std::to_string(v.bVal);
    case VT_I2:
      return out + std::to_string(v.iVal);
    case VT_UI2:
      return out + std::to_string(v.uiVal);
    case VT_I4:
    case VT_INT:
      return out + std::to_string(v.lVal);
    case VT_UI4:
    case VT_UINT:
      return out + std::to_string(v.ulVal);
    case VT_I8:
      return out + std::to_string(v.llVal);
    case VT_UI8:
      return out + std::to_string(v.ullVal);
    case VT_R4: {
      char buf[64];
      std::snprintf(buf, sizeof buf, "%.9g", v.fltVal);
      return out + buf;
    }
    case VT_R8:
    case VT_DATE: {
      char buf[64];
      std::snprintf(buf, sizeof buf, "%.17g", v.dblVal);
      return out + buf;
    }
    case VT_CY:
      return out + std::to_string(v.cyVal.int64) + "e-4";
    case VT_BOOL:
      return out + std::to_string(v.boolVal);
    case VT_ERROR:
      return out + std::to_string(v.scode);
    case VT_BSTR:
      return out + (v.bstrVal ? "\"" + BstrToUtf8(v.bstrVal) + "\"" : "null");
    case VT_DECIMAL:
      return out + (v.decVal.sign ? "-" : "") + std::to_string(v.decVal.Hi32) + ":" +
             std::to_string(v.decVal.Lo64) + "e-" + std::to_string(v.decVal.scale);
    default:
      return out + "?";
  }
}

}  // namespace vt_build
