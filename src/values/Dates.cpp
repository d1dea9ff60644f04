// Dates as days since 1899-12-30 with the time of day as the fraction.

#include <cmath>
#include <cstdio>
#include <ctime>

#include "quillmark/errors/Error.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/values/Conversions.h"

namespace qm {
namespace {

// Days from 1970-01-01 to a civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2));
}

constexpr std::int64_t kEpochOffset = 25569;  // 1970-01-01 as a serial

}  // namespace

Date MakeDate(int year, int month, int day, int hour, int minute, int second) {
  // Months outside 1..12 roll into neighbouring years, as DateSerial does.
  std::int64_t y = year + (month - 1) / 12;
  int mm = (month - 1) % 12;
  if (mm < 0) {
    mm += 12;
    --y;
  }
  const std::int64_t days = DaysFromCivil(y, static_cast<unsigned>(mm + 1), 1) + (day - 1) + kEpochOffset;
  const double time = (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
  // Before the epoch the fraction counts forward from the day too (-1.25 is 1899-12-29 06:00).
  return Date{days >= 0 ? days + time : days - time};
}

DateParts SplitDate(Date value) {
  if (!std::isfinite(value.Serial) || std::fabs(value.Serial) > 3e6) Raise(ERR_Overflow);
  const double whole = std::trunc(value.Serial);
  double fraction = std::fabs(value.Serial - whole);
  std::int64_t seconds = std::llround(fraction * 86400.0);
  std::int64_t day = static_cast<std::int64_t>(whole);
  if (seconds >= 86400) {
    seconds -= 86400;
    day += value.Serial < 0 ? -1 : 1;
  }
  DateParts parts{};
  CivilFromDays(day - kEpochOffset, parts.Year, parts.Month, parts.Day);
  parts.Hour = static_cast<int>(seconds / 3600);
  parts.Minute = static_cast<int>(seconds / 60 % 60);
  parts.Second = static_cast<int>(seconds % 60);
  return parts;
}

std::string FormatGeneralDate(Date value) {
  const DateParts p = SplitDate(value);
  char buffer[48];
  const bool hasDate = std::trunc(value.Serial) != 0;
  const bool hasTime = p.Hour || p.Minute || p.Second;
  if (hasDate && hasTime && p.Year >= 0 && p.Year <= 9999) {
    // The common full form without the formatter: persistence writes many of these.
    char* at = buffer;
    auto put = [&at](int number, int width) {
      for (int i = width - 1; i >= 0; --i, number /= 10) at[i] = static_cast<char>('0' + number % 10);
      at += width;
    };
    put(p.Year, 4), *at++ = '-', put(p.Month, 2), *at++ = '-', put(p.Day, 2), *at++ = ' ';
    put(p.Hour, 2), *at++ = ':', put(p.Minute, 2), *at++ = ':', put(p.Second, 2);
    return std::string(buffer, at);
  }
  if (hasDate && !hasTime) {
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d", p.Year, p.Month, p.Day);
  } else if (!hasDate) {
    std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d", p.Hour, p.Minute, p.Second);
  } else {
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d", p.Year, p.Month, p.Day, p.Hour, p.Minute,
                  p.Second);
  }
  return buffer;
}

bool TryParseDate(std::string_view text, Date& out) {
  const std::string s = Trim(text);
  // True when `format` (ending in %n) matches the whole text.
  auto whole = [&s](const char* format, auto... fields) {
    int consumed = -1;
    const int matched = std::sscanf(s.c_str(), format, fields..., &consumed);
    return matched == static_cast<int>(sizeof...(fields)) && consumed == static_cast<int>(s.size());
  };
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, se = 0;
  // The full form "yyyy-mm-dd hh:mm:ss" directly; other forms through sscanf.
  auto digits = [&s](std::size_t from, std::size_t count, int& number) {
    number = 0;
    for (std::size_t i = from; i < from + count; ++i) {
      if (s[i] < '0' || s[i] > '9') return false;
      number = number * 10 + (s[i] - '0');
    }
    return true;
  };
  const bool full = s.size() == 19 && s[4] == '-' && s[7] == '-' && s[10] == ' ' && s[13] == ':' && s[16] == ':' &&
                    digits(0, 4, y) && digits(5, 2, mo) && digits(8, 2, d) && digits(11, 2, h) && digits(14, 2, mi) &&
                    digits(17, 2, se);
  const bool dated = full || whole("%d-%d-%d %d:%d:%d%n", &y, &mo, &d, &h, &mi, &se) ||
                     whole("%d-%d-%d %d:%d%n", &y, &mo, &d, &h, &mi) || whole("%d-%d-%d%n", &y, &mo, &d);
  if (!dated) {
    h = mi = se = 0;
    if (!whole("%d:%d:%d%n", &h, &mi, &se) && !whole("%d:%d%n", &h, &mi)) return false;
  }
  if (h < 0 || h > 23 || mi < 0 || mi > 59 || se < 0 || se > 59) return false;
  if (!dated) {
    out = Date{(h * 3600.0 + mi * 60.0 + se) / 86400.0};
    return true;
  }
  if (y < 100 || y > 9999 || mo < 1 || mo > 12 || d < 1 || d > 31) return false;
  const Date date = MakeDate(y, mo, d, h, mi, se);
  const DateParts check = SplitDate(date);
  if (check.Day != d || check.Month != mo) return false;  // 2023-02-30
  out = date;
  return true;
}

Date Now() {
  const std::time_t t = std::time(nullptr);
  std::tm local{};
  localtime_r(&t, &local);
  return MakeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
}

}  // namespace qm
