#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

// Dates as text, in the Gregorian calendar with fixed (POSIX) conventions. Patterns use the
// letters yyyy, MM, dd, HH, mm, ss, S… (fraction of a second) and XXX/XXXXX (offset from UTC,
// "Z" for zero), with literal text in single quotes. Text without an offset is read in the
// machine's time zone; formatting uses the machine's time zone.
namespace Platform::DateFormat {

// Microseconds rather than the system clock's nanoseconds: 64 bits of them reach some 292,000
// years either side of 1970, so every four-digit year fits.
using TimePoint = std::chrono::sys_time<std::chrono::microseconds>;

// The current time, to the microsecond.
TimePoint now();

// RFC 3339 date-time ("2027-01-06T15:04:05+08:00"), with or without fractional seconds.
std::optional<TimePoint> parseInternetDateTime(std::string_view text, bool fractionalSeconds);

std::optional<TimePoint> parse(std::string_view text, std::string_view pattern);
std::string format(TimePoint time, std::string_view pattern);

// The day number of a "yyyy-MM-dd" date, counting calendar days (daylight saving time aside).
std::optional<long> dayNumber(std::string_view date);

} // namespace Platform::DateFormat
