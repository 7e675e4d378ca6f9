// Locale data, number parsing and number formatting behind the VARIANT
// coercions. Internal to the runtime.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/variant.h"

namespace variant_internal {

enum class DateOrder { MDY, DMY, YMD };

struct LocaleInfo {
  char16_t decimal;
  char16_t thousands;
  std::u16string_view currency;
  char16_t currencyDecimal;
  char16_t dateSeparator;
  DateOrder order;
  bool padDayMonth;   // "dd/MM" rather than "d/M"
  bool hour24;        // "HH:mm:ss" rather than "h:mm:ss tt"
  bool padHour;
  std::u16string_view am;
  std::u16string_view pm;
  std::u16string_view trueWord;
  std::u16string_view falseWord;
  const std::u16string_view* monthNames;  // 12 full names, may be null
};

// en-US for the default locales and any language without its own entry.
const LocaleInfo& LocaleFor(LCID lcid);
const LocaleInfo& EnglishLocale();

bool IsBlank(char16_t c);
bool EqualsNoCase(std::u16string_view a, std::u16string_view b);

// A parsed numeric string. A decimal value is digits x 10^exponent, with the
// digits held without leading zeros; a hex/octal value is a raw bit pattern.
struct ParsedNumber {
  static constexpr int kMaxDigits = 800;
  bool negative = false;
  bool radix = false;         // &H / &O form
  bool radixTooWide = false;  // more than 64 bits of digits
  uint64_t bits = 0;
  int ndigits = 0;
  bool sticky = false;  // non-zero digits were dropped beyond kMaxDigits
  int64_t exponent = 0;
  char digits[kMaxDigits];
};

// DISP_E_TYPEMISMATCH when the text is not a number in the locale.
HRESULT ParseNumber(std::u16string_view text, const LocaleInfo& loc, ParsedNumber* out);

// Integer value rounded half to even; false when it does not fit in int128's
// comfortable range (over 38 digits).
bool ParsedToInteger(const ParsedNumber& pn, __int128* out);
// Value x 10^scale rounded half to even as a magnitude (sign separate).
bool ParsedToScaledMagnitude(const ParsedNumber& pn, int scale, unsigned __int128* out);
HRESULT ParsedToDouble(const ParsedNumber& pn, double* out);
HRESULT ParsedToFloat(const ParsedNumber& pn, float* out);
HRESULT ParsedToDecimal(const ParsedNumber& pn, DECIMAL* out);

// Rounds half to even; the division is exact on the integers involved.
__int128 DivRoundHalfEven(__int128 value, __int128 divisor);
unsigned __int128 Pow10(int n);  // n in 0..38
constexpr unsigned __int128 kMax96 = (static_cast<unsigned __int128>(1) << 96) - 1;

// Formatting into a caller buffer (ASCII, '.' as decimal point); returns
// the length written. Buffers of 64 bytes suffice.
size_t FormatInteger(__int128 value, char* buf);
size_t FormatReal(double value, int significant, char* buf);
size_t FormatScaled(bool negative, unsigned __int128 magnitude, int scale, char* buf);

// Makes a BSTR from ASCII text, swapping '.' for the locale's decimal symbol.
BSTR AsciiToBstr(const char* text, size_t len, char16_t decimal);

}  // namespace variant_internal
