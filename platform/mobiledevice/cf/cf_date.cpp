// Dates: CFDateCreate, CFDateGetAbsoluteTime, CFAbsoluteTimeGetCurrent, and the conversion between
// absolute time and ISO 8601 text used by the XML property-list code (cf_date.h).
//
// Threads: any; dates are immutable.
#include "cf/cf_date.h"

#include "cf/cf_object.h"

#include <cmath>
#include <cstdint>
#include <ctime>

namespace cf {
namespace {

constexpr int64_t kSecondsPerDay = 86400;

// Days since 1970-01-01 of a proleptic Gregorian date (civil-calendar arithmetic on 400-year eras).
constexpr int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day) noexcept {
  year -= month <= 2 ? 1 : 0;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const auto yearOfEra = static_cast<unsigned>(year - era * 400);
  const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + static_cast<int64_t>(dayOfEra) - 719468;
}

void CivilFromDays(int64_t days, int64_t* year, unsigned* month, unsigned* day) noexcept {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
  const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const unsigned monthIndex = (5 * dayOfYear + 2) / 153;
  *day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
  *month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
  *year = static_cast<int64_t>(yearOfEra) + era * 400 + (*month <= 2 ? 1 : 0);
}

bool IsLeapYear(int64_t year) noexcept { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

unsigned DaysInMonth(int64_t year, unsigned month) noexcept {
  static constexpr unsigned kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

void AppendDigits(std::string& out, int64_t value, int width) {
  char digits[24];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value > 0);
  for (int i = count; i < width; ++i) out.push_back('0');
  while (count > 0) out.push_back(digits[--count]);
}

bool ReadDigits(std::string_view text, size_t at, size_t count, unsigned* value) noexcept {
  if (at + count > text.size()) return false;
  unsigned result = 0;
  for (size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    result = result * 10 + static_cast<unsigned>(text[i] - '0');
  }
  *value = result;
  return true;
}

bool IsSpace(char c) noexcept { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Absolute times of 0001-01-01T00:00:00Z and of the first second after 9999-12-31T23:59:59Z.
constexpr double kFirstFormattable =
    static_cast<double>(DaysFromCivil(1, 1, 1) * kSecondsPerDay) - kAbsoluteTimeUnixOffsetSeconds;
constexpr double kPastLastFormattable =
    static_cast<double>(DaysFromCivil(10000, 1, 1) * kSecondsPerDay) - kAbsoluteTimeUnixOffsetSeconds;

}  // namespace

bool FormatIsoDate(double absoluteTime, std::string& out) {
  if (!std::isfinite(absoluteTime)) return false;
  const double whole = std::floor(absoluteTime);
  if (whole < kFirstFormattable || whole >= kPastLastFormattable) return false;
  const int64_t unixSeconds = static_cast<int64_t>(whole) + static_cast<int64_t>(kAbsoluteTimeUnixOffsetSeconds);
  int64_t days = unixSeconds / kSecondsPerDay;
  int64_t secondsOfDay = unixSeconds % kSecondsPerDay;
  if (secondsOfDay < 0) {
    secondsOfDay += kSecondsPerDay;
    --days;
  }
  int64_t year = 0;
  unsigned month = 0;
  unsigned day = 0;
  CivilFromDays(days, &year, &month, &day);
  AppendDigits(out, year, 4);
  out.push_back('-');
  AppendDigits(out, month, 2);
  out.push_back('-');
  AppendDigits(out, day, 2);
  out.push_back('T');
  AppendDigits(out, secondsOfDay / 3600, 2);
  out.push_back(':');
  AppendDigits(out, secondsOfDay / 60 % 60, 2);
  out.push_back(':');
  AppendDigits(out, secondsOfDay % 60, 2);
  out.push_back('Z');
  return true;
}

bool ParseIsoDate(std::string_view text, double* absoluteTime) noexcept {
  while (!text.empty() && IsSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsSpace(text.back())) text.remove_suffix(1);
  unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (text.size() < 20 || !ReadDigits(text, 0, 4, &year) || text[4] != '-' || !ReadDigits(text, 5, 2, &month) ||
      text[7] != '-' || !ReadDigits(text, 8, 2, &day) || text[10] != 'T' || !ReadDigits(text, 11, 2, &hour) ||
      text[13] != ':' || !ReadDigits(text, 14, 2, &minute) || text[16] != ':' || !ReadDigits(text, 17, 2, &second)) {
    return false;
  }
  double fraction = 0.0;
  size_t at = 19;
  if (text[at] == '.') {
    double scale = 0.1;
    ++at;
    const size_t digitsStart = at;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
      fraction += scale * (text[at] - '0');
      scale /= 10;
      ++at;
    }
    if (at == digitsStart) return false;
  }
  if (at + 1 != text.size() || text[at] != 'Z') return false;
  if (year < 1 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || hour > 23 || minute > 59 ||
      second > 59) {
    return false;
  }
  const int64_t unixSeconds = DaysFromCivil(year, month, day) * kSecondsPerDay + hour * 3600 + minute * 60 + second;
  *absoluteTime = static_cast<double>(unixSeconds - static_cast<int64_t>(kAbsoluteTimeUnixOffsetSeconds)) + fraction;
  return true;
}

Ref<DateObj> NewDate(double time) { return MakeObject<DateObj>(time); }

}  // namespace cf

using namespace cf;

extern "C" {

MD_EXPORT CFAbsoluteTime CFAbsoluteTimeGetCurrent(void) {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<double>(now.tv_sec) - kAbsoluteTimeUnixOffsetSeconds + static_cast<double>(now.tv_nsec) / 1e9;
}

MD_EXPORT CFDateRef CFDateCreate(CFAllocatorRef, CFAbsoluteTime time) {
  return Guarded<CFDateRef>(nullptr, [&] { return reinterpret_cast<CFDateRef>(NewDate(time).Leak()); });
}

MD_EXPORT CFAbsoluteTime CFDateGetAbsoluteTime(CFDateRef date) {
  const DateObj* valid = As<DateObj>(date);
  return valid == nullptr ? 0.0 : valid->m_time;
}

}  // extern "C"
