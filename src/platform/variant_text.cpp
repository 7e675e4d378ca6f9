// Locale data and the numeric text parser and formatter of the coercions.
// Parsing works on the exact decimal digits so rounding is decided on the
// text, never on a binary approximation; nothing here touches the C locale.
#include "platform/variant_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

namespace variant_internal {

namespace {
constexpr std::u16string_view kEnglishMonths[12] = {
    u"January", u"February", u"March",     u"April",   u"May",      u"June",
    u"July",    u"August",   u"September", u"October", u"November", u"December"};

const LocaleInfo kEnUs{u'.', u',', u"$", u'.', u'/', DateOrder::MDY, false, false, false,
                       u"AM", u"PM", u"True", u"False", kEnglishMonths};
const LocaleInfo kDeDe{u',', u'.', u"\u20AC", u',', u'.', DateOrder::DMY, true, true, true,
                       u"", u"", u"Wahr", u"Falsch", nullptr};
const LocaleInfo kFrFr{u',', u'\u00A0', u"\u20AC", u',', u'/', DateOrder::DMY, true, true, true,
                       u"", u"", u"Vrai", u"Faux", nullptr};
const LocaleInfo kEsEs{u',', u'.', u"\u20AC", u',', u'/', DateOrder::DMY, true, true, false,
                       u"", u"", u"Verdadero", u"Falso", nullptr};

char16_t Lower(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c; }

bool StartsWith(std::u16string_view text, std::u16string_view prefix) {
  return !prefix.empty() && text.substr(0, prefix.size()) == prefix;
}

// Value of the first `keep` significant digits (zeros past the end), rounded
// half to even by the digits after them. False when over 38 digits.
bool RoundedPrefix(const ParsedNumber& pn, int64_t keep, unsigned __int128* out) {
  if (keep > 38) return false;
  unsigned __int128 v = 0;
  for (int64_t i = 0; i < keep; ++i) {
    v = v * 10 + (i < pn.ndigits ? static_cast<unsigned>(pn.digits[i] - '0') : 0u);
  }
  if (keep < 0 || keep >= pn.ndigits) {
    // keep < 0: the value is below a tenth of the last unit; rounds to zero.
    *out = v;
    return true;
  }
  const int first = pn.digits[keep] - '0';
  bool up;
  if (first != 5) {
    up = first > 5;
  } else {
    bool rest = pn.sticky;
    for (int i = static_cast<int>(keep) + 1; i < pn.ndigits && !rest; ++i) rest = pn.digits[i] != '0';
    up = rest || (v & 1) != 0;
  }
  if (up) ++v;
  *out = v;
  return true;
}
}  // namespace

const LocaleInfo& EnglishLocale() { return kEnUs; }

const LocaleInfo& LocaleFor(LCID lcid) {
  switch (lcid & 0x3FF) {  // primary language
    case 0x07:
      return kDeDe;
    case 0x0C:
      return kFrFr;
    case 0x0A:
      return kEsEs;
    default:
      return kEnUs;
  }
}

bool IsBlank(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\v' || c == u'\f' ||
         c == u'\u00A0';
}

bool EqualsNoCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

HRESULT ParseNumber(std::u16string_view t, const LocaleInfo& loc, ParsedNumber* out) {
  ParsedNumber& pn = *out;
  pn.negative = pn.radix = pn.radixTooWide = pn.sticky = false;
  pn.bits = 0;
  pn.ndigits = 0;
  pn.exponent = 0;
  const size_t n = t.size();
  size_t i = 0;
  bool sign = false, paren = false, currency = false;

  for (;;) {
    while (i < n && IsBlank(t[i])) ++i;
    if (i >= n) break;
    const char16_t c = t[i];
    if ((c == u'+' || c == u'-') && !sign && !paren) {
      sign = true;
      pn.negative = c == u'-';
      ++i;
    } else if (c == u'(' && !paren && !sign) {
      paren = true;
      ++i;
    } else if (!currency && StartsWith(t.substr(i), loc.currency)) {
      currency = true;
      i += loc.currency.size();
    } else {
      break;
    }
  }
  if (i >= n) return DISP_E_TYPEMISMATCH;

  if (t[i] == u'&' && i + 1 < n) {
    const char16_t r = Lower(t[i + 1]);
    if (r != u'h' && r != u'o') return DISP_E_TYPEMISMATCH;
    if (sign || paren || currency) return DISP_E_TYPEMISMATCH;
    const unsigned shift = r == u'h' ? 4 : 3;
    i += 2;
    bool any = false;
    for (; i < n; ++i) {
      const char16_t c = Lower(t[i]);
      unsigned d;
      if (c >= u'0' && c <= u'7') {
        d = c - u'0';
      } else if (shift == 4 && c >= u'8' && c <= u'9') {
        d = c - u'0';
      } else if (shift == 4 && c >= u'a' && c <= u'f') {
        d = c - u'a' + 10;
      } else {
        break;
      }
      any = true;
      if (pn.bits >> (64 - shift)) pn.radixTooWide = true;
      pn.bits = (pn.bits << shift) | d;
    }
    while (i < n && IsBlank(t[i])) ++i;
    if (!any || i != n) return DISP_E_TYPEMISMATCH;
    pn.radix = true;
    return S_OK;
  }

  const bool grouping = loc.thousands != loc.decimal;
  bool anyDigit = false, point = false;
  for (; i < n; ++i) {
    const char16_t c = t[i];
    if (c >= u'0' && c <= u'9') {
      anyDigit = true;
      if (pn.ndigits == 0 && c == u'0') {
        if (point) --pn.exponent;
      } else if (pn.ndigits < ParsedNumber::kMaxDigits) {
        pn.digits[pn.ndigits++] = static_cast<char>(c);
        if (point) --pn.exponent;
      } else {
        if (c != u'0') pn.sticky = true;
        if (!point) ++pn.exponent;
      }
    } else if (!point && (c == loc.decimal || c == loc.currencyDecimal)) {
      point = true;
    } else if (grouping && anyDigit && !point &&
               (c == loc.thousands || (loc.thousands == u'\u00A0' && c == u' '))) {
      // Separators after the first digit are taken on trust, as OLE does.
    } else {
      break;
    }
  }
  if (!anyDigit) return DISP_E_TYPEMISMATCH;

  if (i < n && (t[i] == u'e' || t[i] == u'E')) {
    ++i;
    bool expNegative = false;
    if (i < n && (t[i] == u'+' || t[i] == u'-')) expNegative = t[i++] == u'-';
    if (i >= n || t[i] < u'0' || t[i] > u'9') return DISP_E_TYPEMISMATCH;
    int64_t e = 0;
    for (; i < n && t[i] >= u'0' && t[i] <= u'9'; ++i) {
      if (e < 100000000) e = e * 10 + (t[i] - u'0');
    }
    pn.exponent += expNegative ? -e : e;
  }

  bool closed = false;
  for (;;) {
    while (i < n && IsBlank(t[i])) ++i;
    if (i >= n) break;
    const char16_t c = t[i];
    if ((c == u'+' || c == u'-') && !sign && !paren) {
      sign = true;
      pn.negative = c == u'-';
      ++i;
    } else if (c == u')' && paren && !closed) {
      closed = true;
      ++i;
    } else if (!currency && StartsWith(t.substr(i), loc.currency)) {
      currency = true;
      i += loc.currency.size();
    } else {
      return DISP_E_TYPEMISMATCH;
    }
  }
  if (paren) {
    if (!closed) return DISP_E_TYPEMISMATCH;
    pn.negative = true;
  }
  while (pn.ndigits > 0 && pn.digits[pn.ndigits - 1] == '0') {
    --pn.ndigits;
    ++pn.exponent;
  }
  if (pn.ndigits == 0) pn.exponent = 0;
  return S_OK;
}

bool ParsedToInteger(const ParsedNumber& pn, __int128* out) {
  if (pn.radix) {
    if (pn.radixTooWide) return false;
    *out = static_cast<__int128>(pn.bits);
    return true;
  }
  unsigned __int128 mag = 0;
  if (pn.ndigits > 0 && !RoundedPrefix(pn, pn.ndigits + pn.exponent, &mag)) return false;
  if (mag > (static_cast<unsigned __int128>(1) << 126)) return false;
  *out = pn.negative ? -static_cast<__int128>(mag) : static_cast<__int128>(mag);
  return true;
}

bool ParsedToScaledMagnitude(const ParsedNumber& pn, int scale, unsigned __int128* out) {
  if (pn.radix) {
    if (pn.radixTooWide) return false;
    *out = static_cast<unsigned __int128>(pn.bits) * Pow10(scale);
    return true;
  }
  *out = 0;
  if (pn.ndigits == 0) return true;
  return RoundedPrefix(pn, pn.ndigits + pn.exponent + scale, out);
}

namespace {
// Writes the digits as "d.ddd...e<exp>" for from_chars, which is exact.
size_t ScientificText(const ParsedNumber& pn, char* buf) {
  size_t k = 0;
  buf[k++] = pn.digits[0];
  buf[k++] = '.';
  std::memcpy(buf + k, pn.digits + 1, pn.ndigits - 1);
  k += pn.ndigits - 1;
  if (pn.sticky) buf[k++] = '1';
  buf[k++] = 'e';
  const int64_t e10 = pn.ndigits + pn.exponent - 1;
  auto r = std::to_chars(buf + k, buf + k + 24, e10);
  return static_cast<size_t>(r.ptr - buf);
}

template <typename T>
HRESULT ParsedToFloating(const ParsedNumber& pn, int maxExp, int minExp, T* out) {
  if (pn.radix) {
    *out = static_cast<T>(pn.bits);
    return S_OK;
  }
  if (pn.ndigits == 0) {
    *out = 0;
    return S_OK;
  }
  const int64_t e10 = pn.ndigits + pn.exponent - 1;
  if (e10 > maxExp) return DISP_E_OVERFLOW;
  T v = 0;
  if (e10 >= minExp) {
    char buf[ParsedNumber::kMaxDigits + 40];
    const size_t len = ScientificText(pn, buf);
    const auto r = std::from_chars(buf, buf + len, v, std::chars_format::scientific);
    if (r.ec == std::errc::result_out_of_range) {
      if (e10 > 0) return DISP_E_OVERFLOW;
      v = 0;
    } else if (r.ec != std::errc()) {
      return DISP_E_TYPEMISMATCH;
    }
    if (std::isinf(v)) return DISP_E_OVERFLOW;
  }
  *out = pn.negative ? -v : v;
  return S_OK;
}
}  // namespace

HRESULT ParsedToDouble(const ParsedNumber& pn, double* out) {
  return ParsedToFloating<double>(pn, 309, -400, out);
}

HRESULT ParsedToFloat(const ParsedNumber& pn, float* out) {
  return ParsedToFloating<float>(pn, 39, -60, out);
}

HRESULT ParsedToDecimal(const ParsedNumber& pn, DECIMAL* out) {
  DECIMAL d{};
  unsigned __int128 mag = 0;
  int scale = 0;
  if (pn.radix) {
    if (pn.radixTooWide) return DISP_E_OVERFLOW;
    mag = pn.bits;
  } else if (pn.ndigits > 0) {
    if (pn.exponent >= 0) {
      if (pn.ndigits + pn.exponent > 29 || !RoundedPrefix(pn, pn.ndigits + pn.exponent, &mag) ||
          mag > kMax96) {
        return DISP_E_OVERFLOW;
      }
    } else {
      // Drop trailing digits until the scale is at most 28 and the value
      // fits in 96 bits, rounding once from the full text each time.
      const int64_t fullScale = -pn.exponent;
      int64_t drop = std::max<int64_t>({0, fullScale - 28, int64_t{pn.ndigits} - 29});
      for (;; ++drop) {
        if (drop > fullScale) return DISP_E_OVERFLOW;
        if (RoundedPrefix(pn, pn.ndigits - drop, &mag) && mag <= kMax96) break;
      }
      scale = static_cast<int>(fullScale - drop);
    }
  }
  d.scale = static_cast<uint8_t>(scale);
  d.sign = (pn.negative && mag != 0) ? 0x80 : 0;
  d.Hi32 = static_cast<uint32_t>(mag >> 64);
  d.Lo64 = static_cast<uint64_t>(mag);
  *out = d;
  return S_OK;
}

unsigned __int128 Pow10(int n) {
  unsigned __int128 v = 1;
  for (int i = 0; i < n; ++i) v *= 10;
  return v;
}

__int128 DivRoundHalfEven(__int128 value, __int128 divisor) {
  __int128 q = value / divisor;
  const __int128 r = value % divisor;
  if (r == 0) return q;
  const __int128 twice = 2 * (r < 0 ? -r : r);
  if (twice > divisor || (twice == divisor && (q & 1) != 0)) q += value < 0 ? -1 : 1;
  return q;
}

size_t FormatInteger(__int128 value, char* buf) {
  char tmp[48];
  size_t k = 0;
  const bool negative = value < 0;
  unsigned __int128 mag = negative ? -static_cast<unsigned __int128>(value) : value;
  do {
    tmp[k++] = static_cast<char>('0' + static_cast<int>(mag % 10));
    mag /= 10;
  } while (mag != 0);
  size_t len = 0;
  if (negative) buf[len++] = '-';
  while (k > 0) buf[len++] = tmp[--k];
  return len;
}

size_t FormatReal(double value, int significant, char* buf) {
  if (std::isnan(value)) {
    std::memcpy(buf, "NaN", 3);
    return 3;
  }
  size_t len = 0;
  if (std::isinf(value)) {
    if (value < 0) buf[len++] = '-';
    std::memcpy(buf + len, "INF", 3);
    return len + 3;
  }
  if (value == 0) {  // negative zero prints as "0" too
    buf[0] = '0';
    return 1;
  }
  char sci[48];
  const auto r = std::to_chars(sci, sci + sizeof(sci), std::fabs(value), std::chars_format::scientific,
                               significant - 1);
  char md[24];
  int nd = 0;
  const char* p = sci;
  for (; p < r.ptr && *p != 'e'; ++p) {
    if (*p != '.') md[nd++] = *p;
  }
  int e = 0;
  std::from_chars(p + 1 + (p[1] == '+' ? 1 : 0), r.ptr, e);
  while (nd > 1 && md[nd - 1] == '0') --nd;

  bool fixed;
  if (e >= significant) {
    fixed = false;
  } else if (e >= -4) {
    fixed = true;
  } else {
    const int places = -e - 1 + nd;
    fixed = places <= (nd == 1 ? significant - 1 : significant);
  }
  if (value < 0) buf[len++] = '-';
  if (fixed) {
    if (e >= 0) {
      for (int i = 0; i <= e; ++i) buf[len++] = i < nd ? md[i] : '0';
      if (nd > e + 1) {
        buf[len++] = '.';
        for (int i = e + 1; i < nd; ++i) buf[len++] = md[i];
      }
    } else {
      buf[len++] = '0';
      buf[len++] = '.';
      for (int i = 0; i < -e - 1; ++i) buf[len++] = '0';
      for (int i = 0; i < nd; ++i) buf[len++] = md[i];
    }
  } else {
    buf[len++] = md[0];
    if (nd > 1) {
      buf[len++] = '.';
      for (int i = 1; i < nd; ++i) buf[len++] = md[i];
    }
    buf[len++] = 'E';
    buf[len++] = e < 0 ? '-' : '+';
    const int ae = e < 0 ? -e : e;
    if (ae < 10) buf[len++] = '0';
    len += static_cast<size_t>(std::to_chars(buf + len, buf + len + 8, ae).ptr - (buf + len));
  }
  return len;
}

size_t FormatScaled(bool negative, unsigned __int128 magnitude, int scale, char* buf) {
  char digits[48];
  int nd = 0;
  do {
    digits[nd++] = static_cast<char>('0' + static_cast<int>(magnitude % 10));
    magnitude /= 10;
  } while (magnitude != 0);
  // digits[] is least significant first; drop fractional trailing zeros.
  int skip = 0;
  while (skip < scale && skip < nd && digits[skip] == '0') ++skip;
  if (skip == nd) {  // the whole value was zero
    buf[0] = '0';
    return 1;
  }
  const int fracDigits = scale - skip;
  size_t len = 0;
  if (negative) buf[len++] = '-';
  const int intDigits = nd - scale;
  if (intDigits <= 0) {
    buf[len++] = '0';
  } else {
    for (int i = nd - 1; i >= scale; --i) buf[len++] = digits[i];
  }
  if (fracDigits > 0) {
    buf[len++] = '.';
    for (int i = scale - 1; i >= skip; --i) buf[len++] = i < nd ? digits[i] : '0';
  }
  return len;
}

BSTR AsciiToBstr(const char* text, size_t len, char16_t decimal) {
  BSTR s = SysAllocStringLen(nullptr, static_cast<uint32_t>(len));
  if (!s) return nullptr;
  for (size_t i = 0; i < len; ++i) s[i] = text[i] == '.' ? decimal : static_cast<char16_t>(text[i]);
  return s;
}

}  // namespace variant_internal
