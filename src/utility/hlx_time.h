// Time texts: UTC texts and Apple-epoch counts (seconds since 2001-01-01 UTC) as local-time texts,
// and durations. The one home of the Apple epoch and of local-time conversion. Any thread (each keeps
// its own cache of the time zone's offsets, see hlx_time.cpp). Functions that return char*
// give a NUL-terminated string from malloc: free it (hlx::FreeDeleter).
#pragma once

#include <cstdint>
#include <string>

namespace hlx {

// Local-time texts are "%.4d-%.2d-%.2d %.2d:%.2d:%.2d" in the time zone in force (TZ). Moments are
// accepted from 1970-01-01 00:00:00 UTC to 3000-12-31 23:59:59 UTC, the range that the desktop's
// 64-bit time conversion handles; the time texts of the device data are made for that range.
constexpr int64_t kMaxLocalTimeSeconds = 32535215999;  // 3000-12-31 23:59:59 UTC, Unix seconds
constexpr int64_t kAppleEpochUnixSeconds = 978307200;  // 2001-01-01 00:00:00 UTC

// A UTC time "YYYY-MM-DDThh:mm:ss..." (at least 19 characters; fields at offsets 0, 5, 8, 11, 14,
// 17, each read like atoi) as local-time text (malloc). Null, a shorter text, or a moment outside
// the accepted range gives a malloc'ed "". Out-of-range fields are normalised (month 13 is
// January).
char* UtcTextToLocalText(const char* utcText);
// As UtcTextToLocalText, but moments before 1970 (from the year 1 on) are converted too: record
// fields such as birthdays reach far back, and the range above would show most birthdays as "".
// "" for a text that UtcTextToLocalText would not read or a moment beyond the range.
std::string UtcTextToLocalDateText(const std::string& utcText);

// Seconds since 2001-01-01 00:00:00 UTC as local-time text (malloc). A count that is negative when
// read as signed counts as 0. A count whose moment lies beyond the accepted range is taken as
// nanoseconds instead; when that fails too, the result is a malloc'ed "".
char* AppleTimeToLocalText(uint64_t appleEpochCount);

// Seconds rounded to the nearest whole second (half up) as "%.2d:%.2d:%.2d" (hours, minutes,
// seconds) from one hour on, else "%.2d:%.2d"; in a malloc'ed 16-byte buffer. Negative values and
// NaN count as 0; a text longer than 15 characters (more than 999,999,999 hours, infinity included)
// is cut to 15.
char* FormatDuration(double seconds);

}  // namespace hlx
