// Text-to-value coercions on arbitrary UTF-16: the first input byte picks
// the locale and flags, the rest is the text (little-endian code units).
// Every conversion must give the asked type or fail cleanly, and no task
// memory may outlive the clearing of the VARIANTs.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/variant.h"

namespace {

constexpr VARTYPE kTargets[] = {VT_I2, VT_I4, VT_R8, VT_DATE, VT_DECIMAL, VT_CY, VT_BOOL};
constexpr LCID kLocales[] = {LOCALE_USER_DEFAULT, LOCALE_EN_US, LOCALE_DE_DE, LOCALE_FR_FR};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const LCID lcid = kLocales[data[0] & 3];
  const uint16_t flags = (data[0] & 4) ? VARIANT_ALPHABOOL : ((data[0] & 8) ? VARIANT_LOCALBOOL : 0);
  std::u16string text;
  for (size_t i = 1; i + 1 < size; i += 2) text += static_cast<char16_t>(data[i] | (data[i + 1] << 8));

  const int64_t before = CoTaskMemLiveBlocks();
  VARIANT src;
  VariantInit(&src);
  src.vt = VT_BSTR;
  src.bstrVal = SysAllocStringLen(text.data(), static_cast<uint32_t>(text.size()));
  if (src.bstrVal == nullptr) __builtin_trap();

  bool haveI2 = false, haveI4 = false;
  int16_t i2 = 0;
  int32_t i4 = 0;
  for (VARTYPE vt : kTargets) {
    VARIANT dst;
    VariantInit(&dst);
    const HRESULT hr = VariantChangeTypeEx(&dst, &src, lcid, flags, vt);
    if (SUCCEEDED(hr)) {
      if (dst.vt != vt) __builtin_trap();
      if (vt == VT_BOOL && dst.boolVal != VARIANT_TRUE && dst.boolVal != VARIANT_FALSE) __builtin_trap();
      if (vt == VT_I2) haveI2 = true, i2 = dst.iVal;
      if (vt == VT_I4) haveI4 = true, i4 = dst.lVal;
    }
    VariantClear(&dst);

    // In place: the source text is released on success and kept on failure.
    VARIANT inPlace;
    VariantInit(&inPlace);
    if (FAILED(VariantCopy(&inPlace, &src))) __builtin_trap();
    const HRESULT hr2 = VariantChangeTypeEx(&inPlace, &inPlace, lcid, flags, vt);
    if (SUCCEEDED(hr) != SUCCEEDED(hr2)) __builtin_trap();
    if (SUCCEEDED(hr2) ? inPlace.vt != vt : inPlace.vt != VT_BSTR) __builtin_trap();
    VariantClear(&inPlace);
  }
  // One number read two ways: a 16-bit result is the 32-bit one when it fits.
  // Hex and octal literals (&H, &O) are sized to the target and wrap, so
  // "&HFFFF" is -1 as I2 but 65535 as I4; they are left out.
  if (text.find(u'&') == std::u16string::npos) {
    if (haveI2 && (!haveI4 || i4 != i2)) __builtin_trap();
    if (haveI4 && i4 >= INT16_MIN && i4 <= INT16_MAX && !haveI2) __builtin_trap();
  }

  VariantClear(&src);
  if (CoTaskMemLiveBlocks() != before) __builtin_trap();
  return 0;
}
