// Time texts (see hlx_time.h).
#include "utility/hlx_time.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <utility>

#include "os/hlx_os.h"
#include "utility/hlx_text.h"

namespace hlx {
namespace {

char* MallocText(const std::string& text) {
  auto* copy = static_cast<char*>(std::malloc(text.size() + 1));
  if (copy != nullptr) std::memcpy(copy, text.c_str(), text.size() + 1);
  return copy;
}

// 0001-01-01 00:00:00 UTC in Unix seconds: the first moment that "%.4d" writes as four digits.
constexpr int64_t kFirstYearOneSeconds = -62135596800;

// "YYYY-MM-DD hh:mm:ss" of a Unix moment in local time, or "" outside the accepted range (from
// `firstSeconds`, 1970 unless a caller reaches further back, to kMaxLocalTimeSeconds).
std::string LocalTimeText(int64_t unixSeconds, int64_t firstSeconds = 0) {
  if (unixSeconds < firstSeconds || unixSeconds > kMaxLocalTimeSeconds) return {};
  std::tm local{};
  if (!os::Os().localTime(unixSeconds, &local)) return {};
  const int year = local.tm_year + 1900;
  if (year < 0 || year > 9999) {
    char text[64];
    std::snprintf(text, sizeof(text), "%.4d-%.2d-%.2d %.2d:%.2d:%.2d", year, local.tm_mon + 1, local.tm_mday,
                  local.tm_hour, local.tm_min, local.tm_sec);
    return text;
  }
  // The common case by hand: long photo and message lists format two dates a row, and snprintf
  // was a tenth of such a listing.
  std::string text = "0000-00-00 00:00:00";
  const std::pair<size_t, int> fields[] = {{3, year},           {6, local.tm_mon + 1}, {9, local.tm_mday},
                                           {12, local.tm_hour}, {15, local.tm_min},    {18, local.tm_sec}};
  for (auto [last, value] : fields) {
    for (size_t at = last; value > 0; --at, value /= 10) text[at] = static_cast<char>('0' + value % 10);
  }
  return text;
}

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

// Days from 1970-01-01 to the first of a month of the proleptic Gregorian calendar (month 1..12).
int64_t DaysFromCivil(int64_t year, int64_t month) {
  year -= month <= 2;
  int64_t era = FloorDiv(year, 400);
  int64_t yearOfEra = year - era * 400;
  int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5;
  int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

}  // namespace

static bool UtcTextToUnixSeconds(const char* utcText, int64_t* unixSeconds) {
  if (utcText == nullptr || strnlen(utcText, 19) < 19) return false;
  int64_t year = ReadLeadingInt(utcText);
  int64_t month = ReadLeadingInt(utcText + 5);
  int64_t day = ReadLeadingInt(utcText + 8);
  int64_t hour = ReadLeadingInt(utcText + 11);
  int64_t minute = ReadLeadingInt(utcText + 14);
  int64_t second = ReadLeadingInt(utcText + 17);
  // Out-of-range fields carry over as the runtime's UTC conversion normalises them.
  int64_t monthIndex = month - 1;
  year += FloorDiv(monthIndex, 12);
  monthIndex -= FloorDiv(monthIndex, 12) * 12;
  int64_t days = DaysFromCivil(year, monthIndex + 1) + (day - 1);
  *unixSeconds = days * 86400 + hour * 3600 + minute * 60 + second;
  return true;
}

char* UtcTextToLocalText(const char* utcText) {
  int64_t unixSeconds = 0;
  if (!UtcTextToUnixSeconds(utcText, &unixSeconds)) return MallocText("");
  return MallocText(LocalTimeText(unixSeconds));
}

std::string UtcTextToLocalDateText(const std::string& utcText) {
  int64_t unixSeconds = 0;
  if (!UtcTextToUnixSeconds(utcText.c_str(), &unixSeconds)) return {};
  return LocalTimeText(unixSeconds, kFirstYearOneSeconds);
}

char* AppleTimeToLocalText(uint64_t appleEpochCount) {
  int64_t count = static_cast<int64_t>(appleEpochCount);
  if (count < 0) count = 0;
  std::string text;
  if (count <= kMaxLocalTimeSeconds - kAppleEpochUnixSeconds) {
    text = LocalTimeText(count + kAppleEpochUnixSeconds);
  }
  // Some device records hold nanoseconds in the same field.
  if (text.empty()) text = LocalTimeText(count / 1000000000 + kAppleEpochUnixSeconds);
  return MallocText(text);
}

char* FormatDuration(double seconds) {
  constexpr size_t kBufferBytes = 16;
  auto* text = static_cast<char*>(std::calloc(kBufferBytes, 1));
  if (text == nullptr) return nullptr;
  double rounded = std::floor(seconds + 0.5);
  long long total = 0;  // NaN and negative values stay 0
  if (rounded >= 9.0e18) {
    total = 9000000000000000000LL;
  } else if (rounded > 0) {
    total = static_cast<long long>(rounded);
  }
  long long hours = total / 3600;
  int minutes = static_cast<int>(total % 3600 / 60);
  int secs = static_cast<int>(total % 60);
  // Callers expect 16 bytes: what does not fit is cut.
  char full[64];
  if (hours > 0) {
    std::snprintf(full, sizeof(full), "%.2lld:%.2d:%.2d", hours, minutes, secs);
  } else {
    std::snprintf(full, sizeof(full), "%.2d:%.2d", minutes, secs);
  }
  std::memcpy(text, full, std::min(std::strlen(full), kBufferBytes - 1));
  return text;
}

}  // namespace hlx
