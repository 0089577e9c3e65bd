// ISO 8601 date-times as the time columns of series files write them, read
// to whole nanoseconds, and whole nanoseconds written back as seconds for
// the messages about them. Exact integer work: no floating point, no
// locale.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace textio {

// An ISO 8601 date-time as nanoseconds since 1970-01-01T00:00:00Z:
// YYYY-MM-DD alone (that day's midnight, UTC), or YYYY-MM-DD, 'T' or one
// blank, hh:mm:ss, optionally '.' and 1 to 9 digits of the second, then
// nothing (read as UTC), 'Z', or an offset +hh:mm /
// -hh:mm from UTC (subtracted, so that stamps on either side of a change
// of offset stay on one axis). std::nullopt for any other text, a field
// out of range (month 13, 24:00:00, February 30, a leap second) or a time
// outside the years 1900 to 2100 (so that any two stamps' difference
// fits 64 bits).
//   "2024-03-01T12:00:00Z"          -> 1709294400000000000
//   "2024-03-01 12:00:00.250"       -> 1709294400250000000
//   "2024-03-01T13:00:00+01:00"     -> 1709294400000000000
//   "2024-03-01"                    -> 1709251200000000000
std::optional<std::int64_t> ParseIsoStamp(std::string_view text);

// A duration of `ns` nanoseconds (not negative) in seconds, exactly, with
// no trailing zeros and no point for whole seconds:
//   FormatSeconds(4000000)          -> "0.004"
//   FormatSeconds(86400000000000)   -> "86400"
std::string FormatSeconds(std::int64_t ns);

// Nanoseconds since 1970-01-01T00:00:00Z as the UTC date-time they are,
// "YYYY-MM-DDThh:mm:ss" with the fraction of the second when there is one
// (no trailing zeros) and no zone, so that ParseIsoStamp reads it back to
// the same nanosecond and numpy and pandas read it as their naive
// datetime64:
//   FormatIsoStamp(1709294400250000000)   -> "2024-03-01T12:00:00.25"
//   FormatIsoStamp(-372556800000000000)   -> "1958-03-13T00:00:00"
std::string FormatIsoStamp(std::int64_t ns);

}  // namespace textio
