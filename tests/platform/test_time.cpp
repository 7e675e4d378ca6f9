#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <locale>
#include <optional>
#include <string>

#include "platform/clock.h"
#include "platform/date_time.h"

namespace {

// Sets TZ for one test and puts the previous value back.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* tz) {
    if (const char* old = std::getenv("TZ")) old_ = old;
    setenv("TZ", tz, 1);
    tzset();
  }
  ~ScopedTimeZone() {
    if (old_) setenv("TZ", old_->c_str(), 1);
    else unsetenv("TZ");
    tzset();
  }

 private:
  std::optional<std::string> old_;
};

TDateTime At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
  auto v = TryEncodeDateTime({y, mo, d, h, mi, s, ms});
  EXPECT_TRUE(v.has_value());
  return v.value_or(0);
}

// Unix seconds of a UTC FILETIME.
int64_t UnixSeconds(FILETIME ft) {
  return static_cast<int64_t>(FileTimeToUint64(ft) / 10000000u) - 11644473600LL;
}

}  // namespace

TEST(TickCount, DifferencesSurviveTheWrap) {
  EXPECT_EQ(TickDiff(5, 0xFFFFFFF0u), 21u);
  EXPECT_EQ(TickDiff(1000, 400), 600u);
  SystemClock clock;
  const uint32_t a = clock.TickCount();
  EXPECT_LT(TickDiff(clock.TickCount(), a), 10000u);  // monotonic, never "negative"
}

TEST(DateTime, EncodeDecodeKnownDates) {
  struct Case {
    TDateTimeParts parts;
    double value;
  };
  const Case cases[] = {
      {{1899, 12, 30, 0, 0, 0, 0}, 0.0},
      {{1900, 1, 1, 0, 0, 0, 0}, 2.0},
      {{1899, 12, 29, 6, 0, 0, 0}, -1.25},  // fraction of negative days is a magnitude
      {{1899, 12, 28, 18, 0, 0, 0}, -2.75},
      {{2000, 2, 29, 12, 0, 0, 0}, 36585.5},
      {{2025, 3, 30, 2, 30, 0, 0}, 45746.0 + 2.5 / 24},
      {{1, 1, 1, 0, 0, 0, 0}, -693593.0},
      {{9999, 12, 31, 23, 59, 59, 999}, 2958465.0 + 86399999.0 / 86400000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    auto encoded = TryEncodeDateTime(c.parts);
    ASSERT_TRUE(encoded);
    EXPECT_NEAR(*encoded, c.value, 1e-9);
    const TDateTimeParts p = DecodeDateTime(c.value);
    EXPECT_EQ(p.year, c.parts.year);
    EXPECT_EQ(p.month, c.parts.month);
    EXPECT_EQ(p.day, c.parts.day);
    EXPECT_EQ(p.hour, c.parts.hour);
    EXPECT_EQ(p.minute, c.parts.minute);
    EXPECT_EQ(p.second, c.parts.second);
    EXPECT_EQ(p.millisecond, c.parts.millisecond);
  }
  EXPECT_EQ(DayOfWeek(At(2025, 3, 30)), 0);  // a Sunday
  EXPECT_EQ(DayOfWeek(-1.25), 5);            // 1899-12-29, a Friday
}

TEST(DateTime, RejectsImpossibleFields) {
  EXPECT_FALSE(TryEncodeDate(2023, 2, 29));
  EXPECT_FALSE(TryEncodeDate(2024, 13, 1));
  EXPECT_FALSE(TryEncodeDate(0, 1, 1));
  EXPECT_FALSE(TryEncodeDate(10000, 1, 1));
  EXPECT_FALSE(TryEncodeTime(24, 0, 0, 0));
  EXPECT_FALSE(TryEncodeTime(0, 60, 0, 0));
  EXPECT_FALSE(TryEncodeTime(0, 0, 0, 1000));
  EXPECT_TRUE(TryEncodeDate(2024, 2, 29));
}

TEST(DateTime, TimeRoundingUpToMidnightMovesToNextDay) {
  const TDateTimeParts p = DecodeDateTime(At(2024, 12, 31) + 0.99999999999);
  EXPECT_EQ(p.year, 2025);
  EXPECT_EQ(p.month, 1);
  EXPECT_EQ(p.day, 1);
  EXPECT_EQ(p.hour, 0);
}

TEST(FileTime, UtcRoundTripsToTheMillisecond) {
  const TDateTime values[] = {0.0, -1.25, -109205.0, At(1970, 1, 1), At(2025, 6, 1, 13, 14, 15, 678),
                              At(2038, 1, 19, 3, 14, 8)};
  for (TDateTime v : values) {
    SCOPED_TRACE(v);
    const FILETIME ft = DateTimeToFileTime(v);
    EXPECT_EQ(DateTimeToMilliseconds(FileTimeToDateTime(ft)), DateTimeToMilliseconds(v));
  }
  EXPECT_EQ(FileTimeToUint64(DateTimeToFileTime(At(1970, 1, 1))), 116444736000000000ULL);
  EXPECT_EQ(FileTimeToUint64(DateTimeToFileTime(At(1601, 1, 1))), 0u);
  // Before 1601 a FILETIME cannot say it: the earliest one instead of a wrap.
  EXPECT_EQ(FileTimeToUint64(DateTimeToFileTime(At(1600, 12, 31))), 0u);
}

TEST(FileTime, LocalToUtcUsesTheOffsetOfThatDate) {
  ScopedTimeZone tz("CET-1CEST,M3.5.0,M10.5.0/3");  // Berlin rules, no tzdata needed
  struct Case {
    TDateTime local;
    int64_t utcUnix;
  };
  const Case cases[] = {
      {At(2025, 1, 15, 12, 0, 0), 1736938800},   // winter, UTC+1
      {At(2025, 7, 15, 12, 0, 0), 1752573600},   // summer, UTC+2
      {At(2025, 3, 30, 1, 59, 59), 1743296399},  // just before the jump
      {At(2025, 3, 30, 3, 0, 0), 1743296400},    // just after it
      // 02:30 does not exist that night: read with the winter offset, the
      // same instant as 03:30 summer time.
      {At(2025, 3, 30, 2, 30, 0), 1743298200},
      // 02:30 happens twice in October: the first (summer time) one.
      {At(2025, 10, 26, 2, 30, 0), 1761438600},
      {At(2025, 10, 26, 3, 0, 0), 1761444000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.utcUnix);
    EXPECT_EQ(UnixSeconds(LocalDateTimeToUtcFileTime(c.local)), c.utcUnix);
  }
  EXPECT_EQ(TimeZoneBiasMinutes(), -60);
}

TEST(FileTime, UtcToLocalAndBackAcrossTheChange) {
  ScopedTimeZone tz("CET-1CEST,M3.5.0,M10.5.0/3");  // Berlin rules, no tzdata needed
  // Every quarter hour through both change nights.
  for (int64_t start : {int64_t{1743289200}, int64_t{1761436800}}) {
    for (int64_t t = start; t < start + 4 * 3600; t += 900) {
      SCOPED_TRACE(t);
      const FILETIME ft = Uint64ToFileTime(static_cast<uint64_t>(t + 11644473600LL) * 10000000u);
      const TDateTime local = UtcFileTimeToLocalDateTime(ft);
      const int64_t back = UnixSeconds(LocalDateTimeToUtcFileTime(local));
      // The repeated hour maps back to its first occurrence.
      if (t >= 1761440400 && t < 1761444000) EXPECT_EQ(back, t - 3600);
      else EXPECT_EQ(back, t);
    }
  }
  EXPECT_EQ(DecodeDateTime(UtcFileTimeToLocalDateTime(
                               Uint64ToFileTime((1752573600ULL + 11644473600ULL) * 10000000u)))
                .hour,
            12);
}

TEST(FileTime, NowAgreesWithTheSystemClock) {
  ScopedTimeZone tz("UTC");
  const int64_t sys = static_cast<int64_t>(std::time(nullptr));
  EXPECT_NEAR(static_cast<double>(UnixSeconds(CoFileTimeNow())), static_cast<double>(sys), 2.0);
  const int64_t nowMs = DateTimeToMilliseconds(SystemClock().Now());
  EXPECT_NEAR(static_cast<double>(nowMs / 1000 - 25569LL * 86400), static_cast<double>(sys), 2.0);
}

TEST(DateTimeText, CLocaleFormats) {
  const std::locale saved = std::locale::global(std::locale::classic());
  const TDateTime v = At(2025, 3, 9, 7, 5, 3);
  EXPECT_EQ(FormatShortDate(v), "03/09/25");
  EXPECT_EQ(FormatLongTime(v), "07:05:03");
  EXPECT_EQ(DateTimeText(v), "03/09/25 07:05:03");
  EXPECT_EQ(FormatLongTime(-1.25), "06:00:00");
  std::locale::global(saved);
}
