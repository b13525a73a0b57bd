#pragma once
// The date text of reports, mail headers and the internal error
// diagnostic: "Tue, 8 Dec 2026 06:18:30 +0100". Not signal-safe (the zone
// comes from the C library's time zone data, which takes a lock).
#include <string>

namespace crashreport {

// `dateTime` is a local date-time as the runtime keeps it (days since
// 1899-12-30). The zone is the local offset from UTC in effect at that
// moment, in hours and minutes, written "+hhmm" or "-hhmm".
// Empty for a date the runtime cannot represent.
std::string FormatMailDate(double dateTime);

// The present local date-time as the runtime keeps it.
double LocalNow();

// The zone text for an offset of local time from UTC in seconds.
std::string FormatZone(long offsetSeconds);

} // namespace crashreport
