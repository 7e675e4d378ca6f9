#include "platform/date_time.h"

#include <time.h>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <iomanip>
#include <locale>
#include <sstream>

namespace {

constexpr int64_t kMsPerDay = 86400000;
// 1899-12-30 (day 0 of TDateTime) counted from 1970-01-01.
constexpr int64_t kDateTimeEpochDays = -25569;
// Milliseconds from 1601-01-01 to 1970-01-01.
constexpr int64_t kFileTimeEpochMs = 11644473600000;
// 0001-01-01 and the day after 9999-12-31; outside, values are clamped so the
// arithmetic stays in range.
constexpr double kMinDateTime = -693594.0;
constexpr double kMaxDateTime = 2958466.0;

int64_t FloorDiv(int64_t a, int64_t b) {
  int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's algorithm).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = FloorDiv(y, 400);
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const int64_t era = FloorDiv(z, 146097);
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  year = static_cast<int>(static_cast<int64_t>(yoe) + era * 400 + (m <= 2));
  month = static_cast<int>(m);
  day = static_cast<int>(d);
}

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

// UTC offset in seconds (east positive) in force at instant `t`.
int64_t OffsetAt(int64_t t) {
  const time_t tt = static_cast<time_t>(t);
  struct tm tm {};
  if (localtime_r(&tt, &tm) == nullptr) return 0;
  return tm.tm_gmtoff;
}

FILETIME FileTimeFromUnixMs(int64_t unixMs) {
  const int64_t ms = unixMs + kFileTimeEpochMs;
  if (ms < 0) return FILETIME{0, 0};
  return Uint64ToFileTime(static_cast<uint64_t>(ms) * 10000u);
}

int64_t UnixMsFromFileTime(FILETIME ft) {
  return static_cast<int64_t>(FileTimeToUint64(ft) / 10000u) - kFileTimeEpochMs;
}

int64_t UnixMsFromDateTime(TDateTime v) {
  return DateTimeToMilliseconds(v) + kDateTimeEpochDays * kMsPerDay;
}

TDateTime DateTimeFromUnixMs(int64_t ms) {
  return MillisecondsToDateTime(ms - kDateTimeEpochDays * kMsPerDay);
}

std::string Format(TDateTime value, const char* fmt) {
  const TDateTimeParts p = DecodeDateTime(value);
  std::tm tm{};
  tm.tm_year = p.year - 1900;
  tm.tm_mon = p.month - 1;
  tm.tm_mday = p.day;
  tm.tm_hour = p.hour;
  tm.tm_min = p.minute;
  tm.tm_sec = p.second;
  tm.tm_wday = DayOfWeek(value);
  tm.tm_yday = static_cast<int>(DaysFromCivil(p.year, static_cast<unsigned>(p.month),
                                              static_cast<unsigned>(p.day)) -
                                DaysFromCivil(p.year, 1, 1));
  tm.tm_isdst = -1;
  std::ostringstream os;
  os.imbue(std::locale());
  os << std::put_time(&tm, fmt);
  return os.str();
}

}  // namespace

std::optional<TDateTime> TryEncodeDate(int year, int month, int day) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month))
    return std::nullopt;
  return static_cast<double>(DaysFromCivil(year, static_cast<unsigned>(month),
                                           static_cast<unsigned>(day)) -
                             kDateTimeEpochDays);
}

std::optional<TDateTime> TryEncodeTime(int hour, int minute, int second, int millisecond) {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 ||
      millisecond < 0 || millisecond > 999)
    return std::nullopt;
  const int64_t ms = ((hour * 60LL + minute) * 60 + second) * 1000 + millisecond;
  return static_cast<double>(ms) / static_cast<double>(kMsPerDay);
}

std::optional<TDateTime> TryEncodeDateTime(const TDateTimeParts& p) {
  const auto date = TryEncodeDate(p.year, p.month, p.day);
  const auto time = TryEncodeTime(p.hour, p.minute, p.second, p.millisecond);
  if (!date || !time) return std::nullopt;
  // Before day 0 the time of day counts as a magnitude, so it is subtracted.
  return *date < 0 ? *date - *time : *date + *time;
}

int64_t DateTimeToMilliseconds(TDateTime value) {
  if (!std::isfinite(value)) return 0;
  value = std::clamp(value, kMinDateTime, kMaxDateTime);
  const double dayPart = std::trunc(value);
  const double frac = std::fabs(value - dayPart);
  return static_cast<int64_t>(dayPart) * kMsPerDay +
         std::llround(frac * static_cast<double>(kMsPerDay));
}

TDateTime MillisecondsToDateTime(int64_t ms) {
  const int64_t day = FloorDiv(ms, kMsPerDay);
  const double frac =
      static_cast<double>(ms - day * kMsPerDay) / static_cast<double>(kMsPerDay);
  return day >= 0 ? static_cast<double>(day) + frac : static_cast<double>(day) - frac;
}

TDateTimeParts DecodeDateTime(TDateTime value) {
  const int64_t ms = DateTimeToMilliseconds(value);
  const int64_t day = FloorDiv(ms, kMsPerDay);
  int64_t rest = ms - day * kMsPerDay;
  TDateTimeParts p;
  CivilFromDays(day + kDateTimeEpochDays, p.year, p.month, p.day);
  p.millisecond = static_cast<int>(rest % 1000);
  rest /= 1000;
  p.second = static_cast<int>(rest % 60);
  rest /= 60;
  p.minute = static_cast<int>(rest % 60);
  p.hour = static_cast<int>(rest / 60);
  return p;
}

void DecodeDate(TDateTime value, int& year, int& month, int& day) {
  const TDateTimeParts p = DecodeDateTime(value);
  year = p.year;
  month = p.month;
  day = p.day;
}

void DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& millisecond) {
  const TDateTimeParts p = DecodeDateTime(value);
  hour = p.hour;
  minute = p.minute;
  second = p.second;
  millisecond = p.millisecond;
}

int DayOfWeek(TDateTime value) {
  const int64_t day = FloorDiv(DateTimeToMilliseconds(value), kMsPerDay) + kDateTimeEpochDays;
  // 1970-01-01 was a Thursday.
  return static_cast<int>(((day % 7) + 7 + 4) % 7);
}

FILETIME DateTimeToFileTime(TDateTime utc) { return FileTimeFromUnixMs(UnixMsFromDateTime(utc)); }

TDateTime FileTimeToDateTime(FILETIME utc) { return DateTimeFromUnixMs(UnixMsFromFileTime(utc)); }

FILETIME LocalDateTimeToUtcFileTime(TDateTime local) {
  const int64_t localMs = UnixMsFromDateTime(local);
  const int64_t localSec = FloorDiv(localMs, 1000);
  // The instants that could show this wall-clock time lie within a day of
  // it; the offsets in force around it are the only candidates.
  int64_t candidates[4] = {OffsetAt(localSec - 86400), OffsetAt(localSec),
                           OffsetAt(localSec + 86400), 0};
  candidates[3] = OffsetAt(localSec - candidates[1]);
  bool found = false;
  int64_t best = 0;
  for (int64_t off : candidates) {
    if (OffsetAt(localSec - off) != off) continue;
    // Ambiguous: the largest offset gives the earliest instant.
    if (!found || off > best) best = off;
    found = true;
  }
  if (!found) {
    // Skipped hour: the offset before the jump is the smaller one.
    best = *std::min_element(std::begin(candidates), std::end(candidates));
  }
  return FileTimeFromUnixMs(localMs - best * 1000);
}

TDateTime UtcFileTimeToLocalDateTime(FILETIME utc) {
  const int64_t ms = UnixMsFromFileTime(utc);
  return DateTimeFromUnixMs(ms + OffsetAt(FloorDiv(ms, 1000)) * 1000);
}

FILETIME CoFileTimeNow() {
  struct timespec ts {};
  clock_gettime(CLOCK_REALTIME, &ts);
  const uint64_t ticks = (static_cast<uint64_t>(ts.tv_sec) + kFileTimeEpochMs / 1000) * 10000000u +
                         static_cast<uint64_t>(ts.tv_nsec) / 100u;
  return Uint64ToFileTime(ticks);
}

TDateTime NowLocal() { return UtcFileTimeToLocalDateTime(CoFileTimeNow()); }

int32_t TimeZoneBiasMinutes() {
  tzset();
  return static_cast<int32_t>(timezone / 60);
}

std::string FormatShortDate(TDateTime value) { return Format(value, "%x"); }

std::string FormatLongTime(TDateTime value) { return Format(value, "%X"); }

std::string DateTimeText(TDateTime value) {
  return FormatShortDate(value) + " " + FormatLongTime(value);
}
