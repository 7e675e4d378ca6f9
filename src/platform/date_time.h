// Date and time conversions: TDateTime (local OLE automation date), FILETIME
// (UTC, 100 ns since 1601-01-01), broken-down fields, and the locale texts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/clock.h"

struct FILETIME {
  uint32_t dwLowDateTime;
  uint32_t dwHighDateTime;
};

constexpr uint64_t FileTimeToUint64(FILETIME ft) {
  return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}
constexpr FILETIME Uint64ToFileTime(uint64_t v) {
  return FILETIME{static_cast<uint32_t>(v), static_cast<uint32_t>(v >> 32)};
}

struct TDateTimeParts {
  int year = 1899;
  int month = 12;
  int day = 30;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

// Fields out of range (month 13, 31 February, hour 24, year outside 1..9999)
// give nullopt.
std::optional<TDateTime> TryEncodeDate(int year, int month, int day);
std::optional<TDateTime> TryEncodeTime(int hour, int minute, int second, int millisecond);
std::optional<TDateTime> TryEncodeDateTime(const TDateTimeParts& parts);

// Rounded to the millisecond; a time of day that rounds up to midnight moves
// to the next day. Negative values count their fraction forwards from the
// day part (-1.25 is 1899-12-29 06:00), as OLE dates do.
TDateTimeParts DecodeDateTime(TDateTime value);
void DecodeDate(TDateTime value, int& year, int& month, int& day);
void DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& millisecond);
int DayOfWeek(TDateTime value);  // 0 Sunday .. 6 Saturday

// Whole milliseconds on a linear scale from 1899-12-30 00:00 (no negative
// value quirk), and back.
int64_t DateTimeToMilliseconds(TDateTime value);
TDateTime MillisecondsToDateTime(int64_t ms);

// Without any zone shift: the TDateTime is taken to be UTC already.
// Values before 1601 give 0; NaN gives 0.
FILETIME DateTimeToFileTime(TDateTime utc);
TDateTime FileTimeToDateTime(FILETIME utc);

// Local time through the process time zone (TZ), with the offset in force
// at that date, not today's. A local time that occurs twice (the hour
// repeated when daylight saving ends) is taken at its first occurrence; one
// that does not exist (the hour skipped when it starts) is read with the
// offset before the change, so 02:30 on a spring-forward night is 03:30
// daylight time.
FILETIME LocalDateTimeToUtcFileTime(TDateTime local);
TDateTime UtcFileTimeToLocalDateTime(FILETIME utc);

// UTC now.
FILETIME CoFileTimeNow();
// Local now.
TDateTime NowLocal();

// Minutes to add to local standard time to get UTC (-60 for Central
// European time), daylight saving not included.
int32_t TimeZoneBiasMinutes();

// Texts in the C++ global locale: "short date" is %x, "long time" %X.
std::string FormatShortDate(TDateTime value);
std::string FormatLongTime(TDateTime value);
// Short date, a blank, long time.
std::string DateTimeText(TDateTime value);
