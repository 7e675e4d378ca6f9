// DATE <-> text for the VARIANT coercions. Internal to the runtime.
#pragma once

#include <string_view>

#include "platform/variant.h"
#include "platform/variant_text.h"

namespace variant_internal {

// Days of the OLE date range: 0100-01-01 to 9999-12-31.
constexpr double kMinDate = -657434.0;
constexpr double kMaxDateDay = 2958465.0;

// E_INVALIDARG outside the date range.
HRESULT FormatDate(double value, const LocaleInfo& loc, uint16_t flags, BSTR* out);
// DISP_E_TYPEMISMATCH for anything that is not a date and/or time.
HRESULT ParseDate(std::u16string_view text, const LocaleInfo& loc, double* out);

// Civil date <-> day number counted from 1899-12-30.
int64_t DayNumber(int year, int month, int day);
void CivilFromDayNumber(int64_t dayNumber, int* year, int* month, int* day);

}  // namespace variant_internal
