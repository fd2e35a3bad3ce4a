// Absolute time (seconds since 2001-01-01 00:00:00 UTC) to and from the ISO 8601 text that XML
// property lists carry. The one home of calendar arithmetic in this library. Pure; any thread.
#pragma once

#include <string>
#include <string_view>

namespace cf {

// Unix time of 2001-01-01 00:00:00 UTC.
inline constexpr double kAbsoluteTimeUnixOffsetSeconds = 978307200.0;

// Appends "YYYY-MM-DDThh:mm:ssZ" with the seconds rounded down (a fraction is dropped, as XML
// property lists carry none). False for NaN, infinities and times outside the years 1 to 9999,
// which the four-digit year cannot express.
bool FormatIsoDate(double absoluteTime, std::string& out);

// Reads "YYYY-MM-DDThh:mm:ssZ", tolerating a fraction of a second before the Z and surrounding
// whitespace. False for anything else or an impossible date or time.
bool ParseIsoDate(std::string_view text, double* absoluteTime) noexcept;

}  // namespace cf
