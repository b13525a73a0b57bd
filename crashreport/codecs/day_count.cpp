#include "crashreport/codecs/day_count.h"

#include <cmath>
#include <cstdio>
#include <ctime>

namespace crashreport::codecs {
namespace {

constexpr int64_t kMillisecondsPerDay = 86'400'000;
// 9999-12-31 is day 2958465 of the runtime's calendar; its negative
// counterpart bounds the other side.
constexpr double kLargestDayCount = 2958466.0;

int64_t FloorDivide(int64_t a, int64_t b)
{
    int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

// Civil date of a day number counted from 1970-01-01 (H. Hinnant's algorithm).
void CivilFromDays(int64_t z, int& year, int& month, int& day)
{
    z += 719468;
    const int64_t era = FloorDivide(z, 146097);
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    day = int(doy - (153 * mp + 2) / 5 + 1);
    month = int(mp < 10 ? mp + 3 : mp - 9);
    year = int(yoe + era * 400 + (month <= 2 ? 1 : 0));
}

} // namespace

double UnixSecondsToLocalDayCount(double seconds)
{
    const time_t whole = static_cast<time_t>(std::floor(seconds));
    struct tm local {};
    tzset();
    ::localtime_r(&whole, &local);
    return UnixMillisecondsToDayCount(static_cast<int64_t>(std::llround((seconds + local.tm_gmtoff) * 1000.0)));
}

double UnixMillisecondsToDayCount(int64_t milliseconds)
{
    return kUnixEpochDayCount + double(milliseconds) / double(kMillisecondsPerDay);
}

std::optional<int64_t> DayCountToUnixMilliseconds(double dayCount)
{
    if (!std::isfinite(dayCount) || std::fabs(dayCount) > kLargestDayCount) return std::nullopt;
    return std::llround((dayCount - kUnixEpochDayCount) * double(kMillisecondsPerDay));
}

std::optional<TCalendarTime> DecodeDayCount(double dayCount)
{
    std::optional<int64_t> ms = DayCountToUnixMilliseconds(dayCount);
    if (!ms) return std::nullopt;
    int64_t days = FloorDivide(*ms, kMillisecondsPerDay);
    int64_t inDay = *ms - days * kMillisecondsPerDay;
    TCalendarTime t{};
    CivilFromDays(days, t.Year, t.Month, t.Day);
    t.Hour = int(inDay / 3'600'000);
    t.Minute = int(inDay / 60'000 % 60);
    t.Second = int(inDay / 1000 % 60);
    t.Millisecond = int(inDay % 1000);
    return t;
}

std::string FormatCompactTimestamp(double dayCount)
{
    std::optional<TCalendarTime> t = DecodeDayCount(dayCount);
    if (!t || t->Year < 0) return "00000000000000";
    char text[32];
    std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d", t->Year, t->Month, t->Day, t->Hour, t->Minute,
                  t->Second);
    return text;
}

} // namespace crashreport::codecs
