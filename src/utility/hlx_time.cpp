// Time texts (see hlx_time.h).
#include "utility/hlx_time.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <unordered_map>
#include <utility>
#include <vector>

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

// The calendar fields (year to second) of `seconds` counted from 1970-01-01 00:00:00, as gmtime
// gives them.
void CivilFields(int64_t seconds, std::tm* out) {
  const int64_t days = FloorDiv(seconds, 86400);
  const int64_t inDay = seconds - days * 86400;
  const int64_t shifted = days + 719468;
  const int64_t era = FloorDiv(shifted, 146097);
  const int64_t dayOfEra = shifted - era * 146097;
  const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t monthIndex = (5 * dayOfYear + 2) / 153;  // from March
  const int64_t month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
  out->tm_year = static_cast<int>(yearOfEra + era * 400 + (month <= 2) - 1900);
  out->tm_mon = static_cast<int>(month - 1);
  out->tm_mday = static_cast<int>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
  out->tm_hour = static_cast<int>(inDay / 3600);
  out->tm_min = static_cast<int>(inDay / 60 % 60);
  out->tm_sec = static_cast<int>(inDay % 60);
}

// Local time without a time-zone lookup per moment. The C library's conversion takes its
// time-zone lock on every call, and the threads of a long listing (two dates a row) queue on it.
// Each thread keeps, per week of the time line, the UTC offsets in force and the moments where
// they change, and converts a moment of a known week by arithmetic. A week is learnt by asking the
// OS layer's conversion every twelve hours across it and, where two answers differ, at the moments
// between them until the second of the change is found: no zone of the tz database keeps an offset
// for less than four days. A week where the conversion fails or gives what its offset does not explain
// (a leap second) is asked moment by moment. What is learnt is dropped when TZ or the OS layer's
// conversion changes.
class LocalOffsets {
 public:
  bool Convert(int64_t unixSeconds, std::tm* out) {
    using LocalTimeFn = bool (*)(int64_t, std::tm*);
    const LocalTimeFn convert = os::Os().localTime;
    const char* zone = std::getenv("TZ");
    if (convert != m_convert || (zone != nullptr) != m_hasZone || (zone != nullptr && m_zone != zone)) {
      m_weeks.clear();
      m_convert = convert;
      m_hasZone = zone != nullptr;
      m_zone = zone != nullptr ? zone : "";
    }
    const int64_t week = FloorDiv(unixSeconds, kWeekSeconds);
    auto found = m_weeks.find(week);
    if (found == m_weeks.end()) {
      if (m_weeks.size() >= kMaxWeeks) m_weeks.clear();
      found = m_weeks.emplace(week, Learn(week * kWeekSeconds)).first;
    }
    const Week& learnt = found->second;
    if (!learnt.regular) return m_convert(unixSeconds, out);
    size_t piece = 0;
    while (piece + 1 < learnt.pieces.size() && learnt.pieces[piece + 1].from <= unixSeconds) ++piece;
    CivilFields(unixSeconds + learnt.pieces[piece].offset, out);
    return true;
  }

 private:
  static constexpr int64_t kWeekSeconds = 7 * 86400;
  static constexpr int64_t kProbeSeconds = 12 * 3600;
  static constexpr size_t kMaxWeeks = 4096;  // about eighty years of a listing's dates

  struct Piece {
    int64_t from;  // the first moment with this offset
    int64_t offset;
  };
  struct Week {
    bool regular = true;
    std::vector<Piece> pieces;
  };

  // The offset in force at `moment`; false when the conversion fails or its fields are not the
  // moment shifted by its offset.
  bool OffsetAt(int64_t moment, int64_t* offset) const {
    std::tm local{};
    if (!m_convert(moment, &local)) return false;
    std::tm shifted{};
    CivilFields(moment + local.tm_gmtoff, &shifted);
    *offset = local.tm_gmtoff;
    return shifted.tm_year == local.tm_year && shifted.tm_mon == local.tm_mon && shifted.tm_mday == local.tm_mday &&
           shifted.tm_hour == local.tm_hour && shifted.tm_min == local.tm_min && shifted.tm_sec == local.tm_sec;
  }

  Week Learn(int64_t first) const {
    Week week;
    const int64_t last = first + kWeekSeconds - 1;
    int64_t before = 0;
    int64_t previous = first;
    if (!OffsetAt(first, &before)) return Week{false, {}};
    week.pieces.push_back({first, before});
    for (int64_t probe = first + kProbeSeconds;; probe += kProbeSeconds) {
      probe = probe > last ? last : probe;
      int64_t offset = 0;
      if (!OffsetAt(probe, &offset)) return Week{false, {}};
      if (offset != before) {
        // The change lies in (previous, probe]: the first moment with the new offset.
        int64_t low = previous, high = probe;
        while (high - low > 1) {
          const int64_t middle = low + (high - low) / 2;
          int64_t at = 0;
          if (!OffsetAt(middle, &at)) return Week{false, {}};
          (at == before ? low : high) = middle;
        }
        week.pieces.push_back({high, offset});
        before = offset;
      }
      previous = probe;
      if (probe == last) return week;
    }
  }

  bool (*m_convert)(int64_t, std::tm*) = nullptr;
  bool m_hasZone = false;
  std::string m_zone;
  std::unordered_map<int64_t, Week> m_weeks;
};

// The local calendar fields of a Unix moment; false when the OS layer cannot convert it.
bool LocalFields(int64_t unixSeconds, std::tm* out) {
  thread_local LocalOffsets offsets;
  return offsets.Convert(unixSeconds, out);
}

// "YYYY-MM-DD hh:mm:ss" of a Unix moment in local time, or "" outside the accepted range (from
// `firstSeconds`, 1970 unless a caller reaches further back, to kMaxLocalTimeSeconds).
std::string LocalTimeText(int64_t unixSeconds, int64_t firstSeconds = 0) {
  if (unixSeconds < firstSeconds || unixSeconds > kMaxLocalTimeSeconds) return {};
  std::tm local{};
  if (!LocalFields(unixSeconds, &local)) return {};
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
