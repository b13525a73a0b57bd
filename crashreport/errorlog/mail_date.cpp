#include "crashreport/errorlog/mail_date.h"

#include <time.h>

#include <cmath>
#include <cstdlib>

#include "crashreport/codecs/day_count.h"
#include "platform/rtl/format.h"

namespace crashreport {
namespace {

constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Day 0 of the runtime's count, 1899-12-30, was a Saturday.
int DayOfWeek(double dateTime)
{
    const long long day = static_cast<long long>(std::floor(dateTime));
    return static_cast<int>(((day + 6) % 7 + 7) % 7);
}

} // namespace

std::string FormatZone(long offsetSeconds)
{
    // Hours and minutes, so that a zone of +5:30 is not written an hour or
    // half an hour away from the true time; whole-hour zones read "+0100".
    const long minutes = std::labs(offsetSeconds) / 60;
    return rtl::Format("%c%02ld%02ld", offsetSeconds < 0 && minutes > 0 ? '-' : '+', minutes / 60, minutes % 60);
}

std::string FormatMailDate(double dateTime)
{
    const auto fields = codecs::DecodeDayCount(dateTime);
    if (!fields) return {};
    // The offset of this local date-time: mktime finds whether summer
    // time was in effect then.
    struct tm local {};
    local.tm_year = fields->Year - 1900;
    local.tm_mon = fields->Month - 1;
    local.tm_mday = fields->Day;
    local.tm_hour = fields->Hour;
    local.tm_min = fields->Minute;
    local.tm_sec = fields->Second;
    local.tm_isdst = -1;
    tzset();
    const long offset = ::mktime(&local) == static_cast<time_t>(-1) ? 0 : local.tm_gmtoff;
    return rtl::Format("%s, %d %s %d %02d:%02d:%02d %s", kDays[DayOfWeek(dateTime)], fields->Day,
                       kMonths[fields->Month - 1], fields->Year, fields->Hour, fields->Minute, fields->Second,
                       FormatZone(offset).c_str());
}

double LocalNow()
{
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    // Whole milliseconds, as the clock of a report shows them.
    return codecs::UnixSecondsToLocalDayCount(static_cast<double>(now.tv_sec) + (now.tv_nsec / 1000000) / 1000.0);
}

} // namespace crashreport
