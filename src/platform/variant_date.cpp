// Date and time texts of the coercions: the locale's short date and long
// time formats out, and a forgiving field parser in, as OLE has them.
#include "platform/variant_date.h"

#include <chrono>
#include <cmath>
#include <ctime>

namespace variant_internal {

namespace {
// Days from 1970-01-01 (proleptic Gregorian), after H. Hinnant.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

// 1899-12-30 counted from 1970-01-01.
const int64_t kEpochOffset = DaysFromCivil(1899, 12, 30);

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

void AppendNumber(char16_t* buf, size_t* len, int value, int minDigits) {
  char tmp[12];
  int k = 0;
  do {
    tmp[k++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (k < minDigits) tmp[k++] = '0';
  while (k > 0) buf[(*len)++] = static_cast<char16_t>(tmp[--k]);
}

void AppendText(char16_t* buf, size_t* len, std::u16string_view text) {
  for (char16_t c : text) buf[(*len)++] = c;
}

int CurrentYear() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return local.tm_year + 1900;
}

bool ValidDate(int y, int m, int d) {
  return y >= 100 && y <= 9999 && m >= 1 && m <= 12 && d >= 1 && d <= DaysInMonth(y, m);
}

struct DateField {
  int value;
  int digits;
};

// Two-digit years pivot at 49 as current Windows does; longer ones are taken
// as written.
int FullYear(const DateField& f) {
  if (f.digits > 2) return f.value;
  return f.value < 50 ? 2000 + f.value : 1900 + f.value;
}

int MonthFromName(std::u16string_view word, const LocaleInfo& loc) {
  auto match = [&](const std::u16string_view* names) {
    if (!names) return 0;
    for (int m = 0; m < 12; ++m) {
      if (EqualsNoCase(word, names[m])) return m + 1;
      if (word.size() == 3 && EqualsNoCase(word, names[m].substr(0, 3))) return m + 1;
    }
    return 0;
  };
  const int m = match(loc.monthNames);
  return m != 0 ? m : match(EnglishLocale().monthNames);
}

enum class Meridiem { None, Am, Pm };

Meridiem MeridiemFromWord(std::u16string_view word, const LocaleInfo& loc) {
  if (EqualsNoCase(word, u"AM") || EqualsNoCase(word, u"A") ||
      (!loc.am.empty() && EqualsNoCase(word, loc.am))) {
    return Meridiem::Am;
  }
  if (EqualsNoCase(word, u"PM") || EqualsNoCase(word, u"P") ||
      (!loc.pm.empty() && EqualsNoCase(word, loc.pm))) {
    return Meridiem::Pm;
  }
  return Meridiem::None;
}

// Day names add nothing to a date; they are skipped as OLE does.
bool IsWeekdayName(std::u16string_view word) {
  static constexpr std::u16string_view kDays[7] = {u"Sunday",   u"Monday", u"Tuesday", u"Wednesday",
                                                   u"Thursday", u"Friday", u"Saturday"};
  for (std::u16string_view d : kDays) {
    if (EqualsNoCase(word, d) || (word.size() == 3 && EqualsNoCase(word, d.substr(0, 3)))) return true;
  }
  return false;
}

bool IsLetter(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c > 0x7F; }
}  // namespace

int64_t DayNumber(int year, int month, int day) {
  return DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) - kEpochOffset;
}

void CivilFromDayNumber(int64_t dayNumber, int* year, int* month, int* day) {
  const int64_t z = dayNumber + kEpochOffset + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  *year = static_cast<int>(static_cast<int64_t>(yoe) + era * 400 + (m <= 2));
  *month = static_cast<int>(m);
  *day = static_cast<int>(d);
}

HRESULT FormatDate(double value, const LocaleInfo& loc, uint16_t flags, BSTR* out) {
  if (!(value > kMinDate - 1.0 && value < kMaxDateDay + 1.0)) return E_INVALIDARG;
  // The fraction is the time of day whatever the sign of the whole value.
  int64_t dayNumber = static_cast<int64_t>(std::trunc(value));
  int64_t seconds = std::llround(std::fabs(value - static_cast<double>(dayNumber)) * 86400.0);
  if (seconds >= 86400) {
    seconds = 0;
    ++dayNumber;
  }
  const bool nls = (flags & VARIANT_USE_NLS) != 0;
  const bool showDate = nls || dayNumber != 0;
  const bool showTime = nls || seconds != 0 || dayNumber == 0;

  char16_t buf[48];
  size_t len = 0;
  if (showDate) {
    int y, m, d;
    CivilFromDayNumber(dayNumber, &y, &m, &d);
    const int pad = loc.padDayMonth ? 2 : 1;
    const char16_t sep = loc.dateSeparator;
    switch (loc.order) {
      case DateOrder::MDY:
        AppendNumber(buf, &len, m, pad);
        buf[len++] = sep;
        AppendNumber(buf, &len, d, pad);
        break;
      case DateOrder::DMY:
        AppendNumber(buf, &len, d, pad);
        buf[len++] = sep;
        AppendNumber(buf, &len, m, pad);
        break;
      case DateOrder::YMD:
        AppendNumber(buf, &len, y, 4);
        buf[len++] = sep;
        AppendNumber(buf, &len, m, pad);
        buf[len++] = sep;
        AppendNumber(buf, &len, d, pad);
        break;
    }
    if (loc.order != DateOrder::YMD) {
      buf[len++] = sep;
      AppendNumber(buf, &len, y, 4);
    }
  }
  if (showTime) {
    if (showDate) buf[len++] = u' ';
    const int h = static_cast<int>(seconds / 3600);
    const int mi = static_cast<int>(seconds / 60 % 60);
    const int s = static_cast<int>(seconds % 60);
    if (loc.hour24) {
      AppendNumber(buf, &len, h, loc.padHour ? 2 : 1);
    } else {
      AppendNumber(buf, &len, h % 12 == 0 ? 12 : h % 12, loc.padHour ? 2 : 1);
    }
    buf[len++] = u':';
    AppendNumber(buf, &len, mi, 2);
    buf[len++] = u':';
    AppendNumber(buf, &len, s, 2);
    if (!loc.hour24) {
      buf[len++] = u' ';
      AppendText(buf, &len, h < 12 ? loc.am : loc.pm);
    }
  }
  *out = SysAllocStringLen(buf, static_cast<uint32_t>(len));
  return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT ParseDate(std::u16string_view text, const LocaleInfo& loc, double* out) {
  constexpr int kMaxTokens = 12;
  struct Token {
    bool number;
    DateField field;
    std::u16string_view word;
    bool timeLinkAfter;  // a time separator joins this number to the next
  };
  Token tokens[kMaxTokens];
  int count = 0;
  const bool dotIsTime = loc.dateSeparator != u'.';
  auto isTimeSep = [&](char16_t c) { return c == u':' || (dotIsTime && c == u'.'); };
  auto isDateSep = [&](char16_t c) { return c == u'/' || c == u'-' || c == loc.dateSeparator; };

  const size_t n = text.size();
  size_t i = 0;
  bool pendingTimeLink = false;  // the previous token ended with a time separator
  while (i < n) {
    const char16_t c = text[i];
    if (IsBlank(c) || c == u',') {
      if (pendingTimeLink) return DISP_E_TYPEMISMATCH;
      ++i;
    } else if (isTimeSep(c)) {
      if (pendingTimeLink || count == 0 || !tokens[count - 1].number) return DISP_E_TYPEMISMATCH;
      tokens[count - 1].timeLinkAfter = true;
      pendingTimeLink = true;
      ++i;
    } else if (isDateSep(c)) {
      if (pendingTimeLink || count == 0) return DISP_E_TYPEMISMATCH;
      ++i;
    } else if (c >= u'0' && c <= u'9') {
      if (count == kMaxTokens) return DISP_E_TYPEMISMATCH;
      DateField f{0, 0};
      for (; i < n && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        if (++f.digits > 9) return DISP_E_TYPEMISMATCH;
        f.value = f.value * 10 + (text[i] - u'0');
      }
      tokens[count++] = Token{true, f, {}, false};
      pendingTimeLink = false;
    } else if (IsLetter(c)) {
      if (pendingTimeLink || count == kMaxTokens) return DISP_E_TYPEMISMATCH;
      const size_t start = i;
      while (i < n && IsLetter(text[i])) ++i;
      tokens[count++] = Token{false, {}, text.substr(start, i - start), false};
    } else {
      return DISP_E_TYPEMISMATCH;
    }
  }
  if (pendingTimeLink || count == 0) return DISP_E_TYPEMISMATCH;

  DateField dateFields[3];
  int dateCount = 0;
  int time[3] = {0, 0, 0};
  int timeCount = 0;
  bool timeSeen = false;
  int month = 0;
  Meridiem meridiem = Meridiem::None;
  int bareHour = -1;  // a lone number followed by AM/PM
  for (int k = 0; k < count; ++k) {
    const Token& t = tokens[k];
    if (!t.number) {
      const Meridiem md = MeridiemFromWord(t.word, loc);
      if (md != Meridiem::None) {
        if (meridiem != Meridiem::None) return DISP_E_TYPEMISMATCH;
        meridiem = md;
        if (!timeSeen && k > 0 && tokens[k - 1].number && dateCount > 0 &&
            dateFields[dateCount - 1].value == tokens[k - 1].field.value && bareHour < 0) {
          bareHour = tokens[k - 1].field.value;
          --dateCount;
          timeSeen = true;
          time[0] = bareHour;
          timeCount = 1;
        }
        continue;
      }
      if (IsWeekdayName(t.word)) continue;
      const int m = MonthFromName(t.word, loc);
      if (m == 0 || month != 0) return DISP_E_TYPEMISMATCH;
      month = m;
      continue;
    }
    const bool inTime = t.timeLinkAfter || (k > 0 && tokens[k - 1].timeLinkAfter);
    if (inTime) {
      // One run of time fields only, at most h:m:s.
      const bool continues = k > 0 && tokens[k - 1].timeLinkAfter;
      if ((!continues && timeSeen) || timeCount == 3) return DISP_E_TYPEMISMATCH;
      time[timeCount++] = t.field.value;
      timeSeen = true;
    } else {
      if (dateCount == 3) return DISP_E_TYPEMISMATCH;
      dateFields[dateCount++] = t.field;
    }
  }
  if (meridiem != Meridiem::None && !timeSeen) return DISP_E_TYPEMISMATCH;
  if (time[0] > 23 || time[1] > 59 || time[2] > 59) return DISP_E_TYPEMISMATCH;
  if (timeSeen && meridiem != Meridiem::None && time[0] <= 12) {
    if (meridiem == Meridiem::Am && time[0] == 12) time[0] = 0;
    if (meridiem == Meridiem::Pm && time[0] < 12) time[0] += 12;
  }
  // A dotted time that reads as a number of zero ("0.0") is not taken for
  // midnight.
  if (timeSeen && dateCount == 0 && month == 0 && dotIsTime && time[0] == 0 && timeCount == 2 &&
      text.find(u':') == std::u16string_view::npos) {
    return DISP_E_TYPEMISMATCH;
  }

  bool haveDate = false;
  int y = 0, m = 0, d = 0;
  if (month != 0) {
    m = month;
    if (dateCount == 0 || dateCount > 2) return DISP_E_TYPEMISMATCH;
    if (dateCount == 1) {
      if (dateFields[0].value <= 31 && dateFields[0].digits <= 2) {
        d = dateFields[0].value;
        y = CurrentYear();
      } else {
        d = 1;
        y = FullYear(dateFields[0]);
      }
    } else {
      const bool firstIsDay = dateFields[0].value <= 31 && dateFields[0].digits <= 2;
      d = (firstIsDay ? dateFields[0] : dateFields[1]).value;
      y = FullYear(firstIsDay ? dateFields[1] : dateFields[0]);
    }
    if (!ValidDate(y, m, d)) return DISP_E_TYPEMISMATCH;
    haveDate = true;
  } else if (dateCount == 1) {
    return DISP_E_TYPEMISMATCH;  // a bare number is not a date
  } else if (dateCount >= 2) {
    // The locale's order first, then any order that yields a real date.
    const DateOrder orders[4] = {loc.order, DateOrder::MDY, DateOrder::DMY, DateOrder::YMD};
    for (DateOrder o : orders) {
      if (dateCount == 3) {
        const DateField& a = dateFields[0];
        const DateField& b = dateFields[1];
        const DateField& c = dateFields[2];
        switch (o) {
          case DateOrder::MDY:
            m = a.value, d = b.value, y = FullYear(c);
            break;
          case DateOrder::DMY:
            d = a.value, m = b.value, y = FullYear(c);
            break;
          case DateOrder::YMD:
            y = FullYear(a), m = b.value, d = c.value;
            break;
        }
      } else {
        y = CurrentYear();
        if (o == DateOrder::DMY) {
          d = dateFields[0].value, m = dateFields[1].value;
        } else if (o == DateOrder::MDY) {
          m = dateFields[0].value, d = dateFields[1].value;
        } else {  // month and year
          m = dateFields[0].value, d = 1, y = FullYear(dateFields[1]);
        }
      }
      if (ValidDate(y, m, d)) {
        haveDate = true;
        break;
      }
    }
    if (!haveDate) return DISP_E_TYPEMISMATCH;
  } else if (!timeSeen) {
    return DISP_E_TYPEMISMATCH;
  }

  const double dayNumber = haveDate ? static_cast<double>(DayNumber(y, m, d)) : 0.0;
  const double fraction = (time[0] * 3600 + time[1] * 60 + time[2]) / 86400.0;
  *out = dayNumber >= 0 ? dayNumber + fraction : dayNumber - fraction;
  return S_OK;
}

}  // namespace variant_internal
