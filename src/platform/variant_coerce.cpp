// VariantChangeType: the OLE coercion rules. Each target type has one
// converter taking a dereferenced, non-owning source; the result is built in
// a fresh VARIANT and only then replaces the destination, so a failure leaves
// the destination untouched and in-place conversion is safe.
#include <cfloat>
#include <cmath>
#include <cstring>

#include "platform/variant.h"
#include "platform/variant_date.h"
#include "platform/variant_internal.h"
#include "platform/variant_text.h"

using namespace variant_internal;

namespace {

using Int128 = __int128;
using UInt128 = unsigned __int128;

struct IntRange {
  Int128 min;
  Int128 max;
  int bytes;
};

IntRange RangeOf(VARTYPE vt) {
  switch (vt) {
    case VT_I1:
      return {INT8_MIN, INT8_MAX, 1};
    case VT_UI1:
      return {0, UINT8_MAX, 1};
    case VT_I2:
      return {INT16_MIN, INT16_MAX, 2};
    case VT_UI2:
      return {0, UINT16_MAX, 2};
    case VT_I4:
      return {INT32_MIN, INT32_MAX, 4};
    case VT_UI4:
      return {0, UINT32_MAX, 4};
    case VT_I8:
      return {INT64_MIN, INT64_MAX, 8};
    default:  // VT_UI8
      return {0, UINT64_MAX, 8};
  }
}

VARTYPE MapIntTypes(VARTYPE vt) {
  if (vt == VT_INT) return VT_I4;
  if (vt == VT_UINT) return VT_UI4;
  return vt;
}

bool IsIntegerType(VARTYPE vt) {
  switch (vt) {
    case VT_I1:
    case VT_UI1:
    case VT_I2:
    case VT_UI2:
    case VT_I4:
    case VT_UI4:
    case VT_I8:
    case VT_UI8:
    case VT_INT:
    case VT_UINT:
      return true;
    default:
      return false;
  }
}

// Integer sources as one wide value.
Int128 IntegerValue(const VARIANT& s) {
  switch (s.vt) {
    case VT_I1:
      return s.cVal;
    case VT_UI1:
      return s.bVal;
    case VT_I2:
      return s.iVal;
    case VT_UI2:
      return s.uiVal;
    case VT_I4:
    case VT_INT:
      return s.lVal;
    case VT_UI4:
    case VT_UINT:
      return s.ulVal;
    case VT_I8:
      return s.llVal;
    default:  // VT_UI8
      return s.ullVal;
  }
}

// Stores the low bytes of `v` in the field of integer type `vt`.
void StoreInteger(VARIANT* out, VARTYPE vt, Int128 v) {
  switch (RangeOf(vt).bytes) {
    case 1:
      out->bVal = static_cast<uint8_t>(v);
      break;
    case 2:
      out->uiVal = static_cast<uint16_t>(v);
      break;
    case 4:
      out->ulVal = static_cast<uint32_t>(v);
      break;
    default:
      out->ullVal = static_cast<uint64_t>(v);
      break;
  }
}

HRESULT StoreChecked(VARIANT* out, VARTYPE vt, Int128 v) {
  const IntRange r = RangeOf(vt);
  if (v < r.min || v > r.max) return DISP_E_OVERFLOW;
  StoreInteger(out, vt, v);
  return S_OK;
}

bool IsValidDecimal(const DECIMAL& d) { return d.scale <= 28 && (d.sign == 0 || d.sign == 0x80); }

UInt128 DecimalMagnitude(const DECIMAL& d) { return (static_cast<UInt128>(d.Hi32) << 64) | d.Lo64; }

Int128 DecimalSignedMagnitude(const DECIMAL& d) {
  const Int128 m = static_cast<Int128>(DecimalMagnitude(d));
  return d.sign ? -m : m;
}

double DecimalToDouble(const DECIMAL& d) {
  const long double v = static_cast<long double>(DecimalMagnitude(d)) / static_cast<long double>(Pow10(d.scale));
  return static_cast<double>(d.sign ? -v : v);
}

// Rounds half to even, integral result as a wide integer; false on NaN or a
// magnitude far beyond every integer type.
bool RoundDouble(double x, Int128* out) {
  if (std::isnan(x) || std::fabs(x) >= 0x1p100) return false;
  double whole = std::floor(x);
  const double diff = x - whole;
  if (diff > 0.5 || (diff == 0.5 && std::fmod(whole, 2.0) != 0.0)) whole += 1.0;
  *out = static_cast<Int128>(whole);
  return true;
}

void StoreDecimal(VARIANT* out, bool negative, UInt128 magnitude, int scale) {
  out->decVal.scale = static_cast<uint8_t>(scale);
  out->decVal.sign = negative && magnitude != 0 ? 0x80 : 0;
  out->decVal.Hi32 = static_cast<uint32_t>(magnitude >> 64);
  out->decVal.Lo64 = static_cast<uint64_t>(magnitude);
}

// R8 keeps 15 significant digits and R4 7 when they become decimals.
HRESULT DoubleToDecimal(double x, int significant, VARIANT* out) {
  if (!std::isfinite(x)) return DISP_E_OVERFLOW;
  if (x == 0) {
    StoreDecimal(out, false, 0, 0);
    return S_OK;
  }
  char text[48];
  const size_t len = FormatReal(x, significant, text);
  // FormatReal may use exponent form; reparse its exact digits.
  std::u16string_view view;
  char16_t wide[48];
  for (size_t i = 0; i < len; ++i) wide[i] = static_cast<char16_t>(text[i]);
  view = std::u16string_view(wide, len);
  ParsedNumber pn;
  HRESULT hr = ParseNumber(view, EnglishLocale(), &pn);
  if (FAILED(hr)) return DISP_E_OVERFLOW;
  DECIMAL d;
  hr = ParsedToDecimal(pn, &d);
  if (FAILED(hr)) return hr;
  out->decVal.scale = d.scale;
  out->decVal.sign = d.sign;
  out->decVal.Hi32 = d.Hi32;
  out->decVal.Lo64 = d.Lo64;
  return S_OK;
}

// Floating-point sources (R4 widened, R8, DATE) as a double.
double FloatValue(const VARIANT& s) { return s.vt == VT_R4 ? static_cast<double>(s.fltVal) : s.dblVal; }

HRESULT ParseSource(const VARIANT& s, const LocaleInfo& loc, ParsedNumber* pn) {
  if (!s.bstrVal) return DISP_E_TYPEMISMATCH;
  return ParseNumber(std::u16string_view(s.bstrVal, SysStringLen(s.bstrVal)), loc, pn);
}

// ---- converters, one per target -------------------------------------------

HRESULT ToInteger(const VARIANT& s, VARTYPE target, const LocaleInfo& loc, VARIANT* out) {
  if (IsIntegerType(s.vt)) {
    const Int128 v = IntegerValue(s);
    // Same width, other signedness: the bits are reinterpreted, unchecked.
    if (RangeOf(MapIntTypes(s.vt)).bytes == RangeOf(target).bytes) {
      StoreInteger(out, target, v);
      return S_OK;
    }
    return StoreChecked(out, target, v);
  }
  switch (s.vt) {
    case VT_EMPTY:
      StoreInteger(out, target, 0);
      return S_OK;
    case VT_BOOL:
      // Taken as a signed 16-bit number and cast, so TRUE wraps to all ones.
      StoreInteger(out, target, s.boolVal);
      return S_OK;
    case VT_R4:
    case VT_R8:
    case VT_DATE: {
      Int128 v;
      if (!RoundDouble(FloatValue(s), &v)) return DISP_E_OVERFLOW;
      return StoreChecked(out, target, v);
    }
    case VT_CY:
      return StoreChecked(out, target, DivRoundHalfEven(s.cyVal.int64, 10000));
    case VT_DECIMAL:
      if (!IsValidDecimal(s.decVal)) return E_INVALIDARG;
      return StoreChecked(out, target,
                          DivRoundHalfEven(DecimalSignedMagnitude(s.decVal), static_cast<Int128>(Pow10(s.decVal.scale))));
    case VT_BSTR: {
      ParsedNumber pn;
      const HRESULT hr = ParseSource(s, loc, &pn);
      if (FAILED(hr)) return hr;
      Int128 v;
      if (!ParsedToInteger(pn, &v)) return DISP_E_OVERFLOW;
      if (pn.radix) {
        // A hex/octal pattern is stored as-is when it fits the width.
        const IntRange r = RangeOf(target);
        if (r.bytes < 8 && v >= (static_cast<Int128>(1) << (8 * r.bytes))) return DISP_E_OVERFLOW;
        StoreInteger(out, target, v);
        return S_OK;
      }
      return StoreChecked(out, target, v);
    }
    default:
      return DISP_E_TYPEMISMATCH;
  }
}

HRESULT ToDouble(const VARIANT& s, const LocaleInfo& loc, double* out) {
  if (IsIntegerType(s.vt)) {
    *out = static_cast<double>(IntegerValue(s));
    return S_OK;
  }
  switch (s.vt) {
    case VT_EMPTY:
      *out = 0.0;
      return S_OK;
    case VT_BOOL:
      *out = s.boolVal;
      return S_OK;
    case VT_R4:
    case VT_R8:
    case VT_DATE:
      *out = FloatValue(s);
      return S_OK;
    case VT_CY:
      *out = static_cast<double>(s.cyVal.int64) / 10000.0;
      return S_OK;
    case VT_DECIMAL:
      if (!IsValidDecimal(s.decVal)) return E_INVALIDARG;
      *out = DecimalToDouble(s.decVal);
      return S_OK;
    case VT_BSTR: {
      ParsedNumber pn;
      const HRESULT hr = ParseSource(s, loc, &pn);
      if (FAILED(hr)) return hr;
      return ParsedToDouble(pn, out);
    }
    default:
      return DISP_E_TYPEMISMATCH;
  }
}

HRESULT ToR4(const VARIANT& s, const LocaleInfo& loc, VARIANT* out) {
  if (s.vt == VT_BSTR) {
    // Parsed straight to float so the text is rounded once.
    ParsedNumber pn;
    HRESULT hr = ParseSource(s, loc, &pn);
    if (FAILED(hr)) return hr;
    return ParsedToFloat(pn, &out->fltVal);
  }
  double d;
  const HRESULT hr = ToDouble(s, loc, &d);
  if (FAILED(hr)) return hr;
  if (std::fabs(d) > FLT_MAX) return DISP_E_OVERFLOW;
  out->fltVal = static_cast<float>(d);
  return S_OK;
}

HRESULT ToCy(const VARIANT& s, const LocaleInfo& loc, VARIANT* out) {
  Int128 v;
  if (IsIntegerType(s.vt)) {
    v = IntegerValue(s);
    // OLE turns away 64-bit values one unit short of the CY limit.
    if (s.vt == VT_I8 && (v > 922337203685476 || v < -922337203685476)) return DISP_E_OVERFLOW;
    v *= 10000;
  } else {
    switch (s.vt) {
      case VT_EMPTY:
        v = 0;
        break;
      case VT_BOOL:
        v = static_cast<Int128>(s.boolVal) * 10000;
        break;
      case VT_R4:
      case VT_R8:
      case VT_DATE:
        if (!RoundDouble(FloatValue(s) * 10000.0, &v)) return DISP_E_OVERFLOW;
        break;
      case VT_DECIMAL:
        if (!IsValidDecimal(s.decVal)) return E_INVALIDARG;
        v = DecimalSignedMagnitude(s.decVal);
        v = s.decVal.scale <= 4 ? v * static_cast<Int128>(Pow10(4 - s.decVal.scale))
                                : DivRoundHalfEven(v, static_cast<Int128>(Pow10(s.decVal.scale - 4)));
        break;
      case VT_BSTR: {
        ParsedNumber pn;
        const HRESULT hr = ParseSource(s, loc, &pn);
        if (FAILED(hr)) return hr;
        UInt128 mag;
        if (!ParsedToScaledMagnitude(pn, 4, &mag) || mag > (static_cast<UInt128>(1) << 64)) return DISP_E_OVERFLOW;
        v = pn.negative && !pn.radix ? -static_cast<Int128>(mag) : static_cast<Int128>(mag);
        break;
      }
      default:
        return DISP_E_TYPEMISMATCH;
    }
  }
  if (v < INT64_MIN || v > INT64_MAX) return DISP_E_OVERFLOW;
  out->cyVal.int64 = static_cast<int64_t>(v);
  return S_OK;
}

HRESULT ToDecimal(const VARIANT& s, const LocaleInfo& loc, VARIANT* out) {
  if (IsIntegerType(s.vt)) {
    const Int128 v = IntegerValue(s);
    StoreDecimal(out, v < 0, static_cast<UInt128>(v < 0 ? -v : v), 0);
    return S_OK;
  }
  switch (s.vt) {
    case VT_EMPTY:
      StoreDecimal(out, false, 0, 0);
      return S_OK;
    case VT_BOOL:
      // Through this path TRUE is +1, unlike the raw -1 of the BOOL.
      StoreDecimal(out, false, s.boolVal != 0 ? 1 : 0, 0);
      return S_OK;
    case VT_R4:
      return DoubleToDecimal(s.fltVal, 7, out);
    case VT_R8:
    case VT_DATE:
      return DoubleToDecimal(s.dblVal, 15, out);
    case VT_CY: {
      const Int128 v = s.cyVal.int64;
      StoreDecimal(out, v < 0, static_cast<UInt128>(v < 0 ? -v : v), 4);
      return S_OK;
    }
    case VT_BSTR: {
      ParsedNumber pn;
      HRESULT hr = ParseSource(s, loc, &pn);
      if (FAILED(hr)) return hr;
      DECIMAL d;
      hr = ParsedToDecimal(pn, &d);
      if (FAILED(hr)) return hr;
      StoreDecimal(out, d.sign != 0, DecimalMagnitude(d), d.scale);
      return S_OK;
    }
    default:
      return DISP_E_TYPEMISMATCH;
  }
}

HRESULT ToDate(const VARIANT& s, const LocaleInfo& loc, VARIANT* out) {
  if (IsIntegerType(s.vt)) {
    const Int128 v = IntegerValue(s);
    if (v < static_cast<Int128>(kMinDate) || v > static_cast<Int128>(kMaxDateDay)) return DISP_E_OVERFLOW;
    out->date = static_cast<double>(v);
    return S_OK;
  }
  if (s.vt == VT_BSTR) {
    if (!s.bstrVal) return DISP_E_TYPEMISMATCH;
    return ParseDate(std::u16string_view(s.bstrVal, SysStringLen(s.bstrVal)), loc, &out->date);
  }
  double d;
  const HRESULT hr = ToDouble(s, loc, &d);
  if (FAILED(hr)) return hr;
  if (!(d > kMinDate - 1.0 && d < kMaxDateDay + 1.0)) return DISP_E_OVERFLOW;
  out->date = d;
  return S_OK;
}

HRESULT ToBool(const VARIANT& s, const LocaleInfo& loc, uint16_t flags, VARIANT* out) {
  bool value;
  if (IsIntegerType(s.vt)) {
    value = IntegerValue(s) != 0;
  } else {
    switch (s.vt) {
      case VT_EMPTY:
        value = false;
        break;
      case VT_R4:
      case VT_R8:
      case VT_DATE:
        value = FloatValue(s) != 0.0;  // -0.0 is false, NaN true
        break;
      case VT_CY:
        value = s.cyVal.int64 != 0;
        break;
      case VT_DECIMAL:
        if (!IsValidDecimal(s.decVal)) return E_INVALIDARG;
        value = DecimalMagnitude(s.decVal) != 0;
        break;
      case VT_BSTR: {
        if (!s.bstrVal) return DISP_E_TYPEMISMATCH;
        const std::u16string_view text(s.bstrVal, SysStringLen(s.bstrVal));
        const LocaleInfo& en = EnglishLocale();
        if (EqualsNoCase(text, en.trueWord) ||
            ((flags & VARIANT_LOCALBOOL) && EqualsNoCase(text, loc.trueWord)) || text == u"#TRUE#") {
          value = true;
        } else if (EqualsNoCase(text, en.falseWord) ||
                   ((flags & VARIANT_LOCALBOOL) && EqualsNoCase(text, loc.falseWord)) || text == u"#FALSE#") {
          value = false;
        } else {
          ParsedNumber pn;
          HRESULT hr = ParseNumber(text, loc, &pn);
          if (FAILED(hr)) return hr;
          double d;
          hr = ParsedToDouble(pn, &d);
          if (FAILED(hr)) return hr;
          value = d != 0.0;
        }
        break;
      }
      default:
        return DISP_E_TYPEMISMATCH;
    }
  }
  out->boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}

HRESULT ToBstr(const VARIANT& s, const LocaleInfo& loc, uint16_t flags, VARIANT* out) {
  char text[64];
  size_t len;
  if (IsIntegerType(s.vt)) {
    len = FormatInteger(IntegerValue(s), text);
  } else {
    switch (s.vt) {
      case VT_EMPTY:
        len = 0;
        break;
      case VT_R4:
        len = FormatReal(s.fltVal, 7, text);
        break;
      case VT_R8:
        len = FormatReal(s.dblVal, 15, text);
        break;
      case VT_CY: {
        const int64_t v = s.cyVal.int64;
        const UInt128 mag = v < 0 ? static_cast<UInt128>(-static_cast<Int128>(v)) : static_cast<UInt128>(v);
        len = FormatScaled(v < 0, mag, 4, text);
        break;
      }
      case VT_DECIMAL:
        if (!IsValidDecimal(s.decVal)) return E_INVALIDARG;
        len = FormatScaled(s.decVal.sign != 0, DecimalMagnitude(s.decVal), s.decVal.scale, text);
        break;
      case VT_DATE:
        return FormatDate(s.date, loc, flags, &out->bstrVal);
      case VT_BOOL:
        if (flags & (VARIANT_ALPHABOOL | VARIANT_LOCALBOOL)) {
          const LocaleInfo& words = (flags & VARIANT_LOCALBOOL) ? loc : EnglishLocale();
          const std::u16string_view w = s.boolVal ? words.trueWord : words.falseWord;
          out->bstrVal = SysAllocStringLen(w.data(), static_cast<uint32_t>(w.size()));
          return out->bstrVal ? S_OK : E_OUTOFMEMORY;
        }
        len = FormatInteger(s.boolVal, text);
        break;
      default:
        return DISP_E_TYPEMISMATCH;
    }
  }
  out->bstrVal = AsciiToBstr(text, len, loc.decimal);
  return out->bstrVal ? S_OK : E_OUTOFMEMORY;
}

// Array rules: identical type copies, UI1 arrays and BSTRs trade bytes.
HRESULT ConvertArray(const VARIANT& s, VARTYPE target, VARIANT* out) {
  if (s.vt == target) return SafeArrayCopy(s.parray, &out->parray);
  if (s.vt == (VT_ARRAY | VT_UI1) && target == VT_BSTR) {
    const SAFEARRAY* sa = s.parray;
    if (!sa || sa->cDims != 1) return DISP_E_TYPEMISMATCH;
    out->bstrVal = SysAllocStringByteLen(static_cast<const char*>(sa->pvData), sa->rgsabound[0].cElements);
    return out->bstrVal ? S_OK : E_OUTOFMEMORY;
  }
  if (s.vt == VT_BSTR && target == (VT_ARRAY | VT_UI1)) {
    const uint32_t bytes = SysStringByteLen(s.bstrVal);
    SAFEARRAY* sa = SafeArrayCreateVector(VT_UI1, 0, bytes);
    if (!sa) return E_OUTOFMEMORY;
    if (bytes) std::memcpy(sa->pvData, s.bstrVal, bytes);
    out->parray = sa;
    return S_OK;
  }
  return DISP_E_TYPEMISMATCH;
}

// Reads a by-reference source into a shallow, non-owning VARIANT.
HRESULT Dereference(const VARIANT& src, VARIANT* s, bool allowVariant) {
  if (!(src.vt & VT_BYREF)) {
    *s = src;
    return S_OK;
  }
  if (!src.byref) return DISP_E_TYPEMISMATCH;
  const VARTYPE vt = src.vt & ~VT_BYREF;
  VariantInit(s);
  if (vt & VT_ARRAY) {
    s->parray = *static_cast<SAFEARRAY* const*>(src.byref);
  } else {
    switch (vt) {
      case VT_VARIANT: {
        if (!allowVariant) return E_INVALIDARG;
        const VARIANT& inner = *src.pvarVal;
        if (inner.vt == (VT_VARIANT | VT_BYREF)) return E_INVALIDARG;
        if (!IsValidVartype(inner.vt)) return DISP_E_BADVARTYPE;
        return Dereference(inner, s, false);
      }
      case VT_DECIMAL:
        s->decVal = *src.pdecVal;
        break;
      case VT_I1:
      case VT_UI1:
        s->bVal = *src.pbVal;
        break;
      case VT_I2:
      case VT_UI2:
      case VT_BOOL:
        std::memcpy(&s->uiVal, src.byref, 2);
        break;
      case VT_I4:
      case VT_UI4:
      case VT_INT:
      case VT_UINT:
      case VT_R4:
      case VT_ERROR:
        std::memcpy(&s->ulVal, src.byref, 4);
        break;
      case VT_I8:
      case VT_UI8:
      case VT_R8:
      case VT_DATE:
      case VT_CY:
        std::memcpy(&s->ullVal, src.byref, 8);
        break;
      case VT_BSTR:
      case VT_UNKNOWN:
      case VT_DISPATCH:
        std::memcpy(&s->byref, src.byref, sizeof(void*));
        break;
      default:
        return DISP_E_TYPEMISMATCH;
    }
  }
  s->vt = vt;
  return S_OK;
}

HRESULT Convert(const VARIANT& s, VARTYPE target, const LocaleInfo& loc, uint16_t flags, VARIANT* out) {
  if (s.vt == VT_ERROR || target == VT_ERROR) return DISP_E_TYPEMISMATCH;
  switch (target) {
    case VT_EMPTY:
      // Any value may be dropped, except that NULL is not nothing.
      return s.vt == VT_NULL || s.vt == VT_RECORD ? DISP_E_TYPEMISMATCH : S_OK;
    case VT_NULL:
      return s.vt == VT_RECORD ? DISP_E_TYPEMISMATCH : S_OK;
    default:
      break;
  }
  if (s.vt == VT_NULL) return DISP_E_TYPEMISMATCH;
  switch (target) {
    case VT_I1:
    case VT_UI1:
    case VT_I2:
    case VT_UI2:
    case VT_I4:
    case VT_UI4:
    case VT_I8:
    case VT_UI8:
      return ToInteger(s, target, loc, out);
    case VT_R4:
      return ToR4(s, loc, out);
    case VT_R8:
      return ToDouble(s, loc, &out->dblVal);
    case VT_CY:
      return ToCy(s, loc, out);
    case VT_DATE:
      return ToDate(s, loc, out);
    case VT_BSTR:
      return ToBstr(s, loc, flags, out);
    case VT_BOOL:
      return ToBool(s, loc, flags, out);
    case VT_DECIMAL:
      return ToDecimal(s, loc, out);
    case VT_UNKNOWN:
      if (s.vt == VT_DISPATCH) {
        out->punkVal = s.pdispVal;
        if (out->punkVal) out->punkVal->AddRef();
        return S_OK;
      }
      return DISP_E_TYPEMISMATCH;
    default:  // VT_DISPATCH, VT_VARIANT, VT_RECORD
      return DISP_E_TYPEMISMATCH;
  }
}

// Integer or floating source to R8 needs no locale, no allocation and no
// range check; tag reads go through here all the time.
bool FastToR8(VARIANT* dst, const VARIANT* src) {
  double d;
  switch (src->vt) {
    case VT_I4:
    case VT_INT:
      d = src->lVal;
      break;
    case VT_I2:
      d = src->iVal;
      break;
    case VT_UI2:
      d = src->uiVal;
      break;
    case VT_R4:
      d = src->fltVal;
      break;
    case VT_BOOL:
      d = src->boolVal;
      break;
    default:
      return false;
  }
  if (!HoldsNothingToRelease(dst->vt) || !IsValidVartype(dst->vt)) return false;
  dst->vt = VT_R8;
  dst->wReserved1 = dst->wReserved2 = dst->wReserved3 = 0;
  dst->dblVal = d;
  return true;
}

}  // namespace

HRESULT VariantChangeTypeEx(VARIANT* dst, const VARIANT* src, LCID lcid, uint16_t flags, VARTYPE vt) {
  if (!dst || !src) return E_INVALIDARG;
  if (vt == VT_R8 && FastToR8(dst, src)) return S_OK;
  if (vt == VT_CLSID) return DISP_E_BADVARTYPE;
  if (!IsValidVartype(src->vt) || !IsValidVartype(vt)) return DISP_E_BADVARTYPE;
  if (vt & VT_BYREF) return DISP_E_TYPEMISMATCH;

  VARIANT s;
  HRESULT hr = Dereference(*src, &s, true);
  if (FAILED(hr)) return hr;

  VARIANT result;
  VariantInit(&result);
  if ((s.vt | vt) & VT_ARRAY) {
    hr = ConvertArray(s, vt, &result);
  } else if (MapIntTypes(s.vt) == MapIntTypes(vt)) {
    if (dst == src && !(src->vt & VT_BYREF)) {
      dst->vt = vt;  // same value, only the INT/I4 spelling may change
      return S_OK;
    }
    hr = VariantCopy(&result, &s);
  } else if ((flags & VARIANT_NOVALUEPROP) && s.vt == VT_DISPATCH && vt != VT_UNKNOWN) {
    hr = DISP_E_TYPEMISMATCH;
  } else {
    hr = Convert(s, MapIntTypes(vt), LocaleFor(lcid), flags, &result);
  }
  if (FAILED(hr)) return hr;
  result.vt = vt;
  if (!HoldsNothingToRelease(dst->vt) || !IsValidVartype(dst->vt)) {
    hr = VariantClear(dst);
    if (FAILED(hr)) {
      VariantClear(&result);
      return hr;
    }
  }
  *dst = result;
  return S_OK;
}

HRESULT VariantChangeType(VARIANT* dst, const VARIANT* src, uint16_t flags, VARTYPE vt) {
  return VariantChangeTypeEx(dst, src, LOCALE_USER_DEFAULT, flags, vt);
}
