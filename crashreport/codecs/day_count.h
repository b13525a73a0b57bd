#pragma once
// The runtime's date-time: a floating-point day count whose day 0 is
// 30 December 1899, the fraction being the time of day.
// Signal-safe except FormatCompactTimestamp (it returns a string) and
// UnixSecondsToLocalDayCount (it reads the time zone).
#include <cstdint>
#include <optional>
#include <string>

namespace crashreport::codecs {

// Days between 1899-12-30 and 1970-01-01.
inline constexpr double kUnixEpochDayCount = 25569.0;

struct TCalendarTime {
    int Year, Month, Day, Hour, Minute, Second, Millisecond;
};

double UnixMillisecondsToDayCount(int64_t milliseconds);
// Seconds since 1970-01-01 00:00 UTC as a day count in the local time zone
// (the zone's offset at that moment), milliseconds kept.
double UnixSecondsToLocalDayCount(double seconds);

// Milliseconds since 1970-01-01 00:00, rounded to the nearest millisecond so
// that a date made from whole seconds gives those seconds back exactly.
// Empty for NaN, infinities and dates beyond the year 9999.
std::optional<int64_t> DayCountToUnixMilliseconds(double dayCount);

// Calendar fields of the date (proleptic Gregorian calendar); empty where
// DayCountToUnixMilliseconds is.
std::optional<TCalendarTime> DecodeDayCount(double dayCount);

// "yyyymmddhhnnss", as in file names; "00000000000000" for an invalid date.
std::string FormatCompactTimestamp(double dayCount);

} // namespace crashreport::codecs
