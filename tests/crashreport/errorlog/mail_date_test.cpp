// The mail date under several time zones: the zone is the offset in effect
// at the date, in whole hours with halves to even.
#include <gtest/gtest.h>

#include <time.h>

#include <cmath>
#include <cstdlib>
#include <string>

#include "crashreport/errorlog/mail_date.h"
#include "crashreport/codecs/day_count.h"
#include "tests/support/env_scope.h"
#include "tests/support/run_command.h"

using namespace crashreport;

namespace {

// The runtime's day count of a local date-time.
double DayCount(int year, int month, int day, int hour, int minute, int second)
{
    struct tm fields {};
    fields.tm_year = year - 1900;
    fields.tm_mon = month - 1;
    fields.tm_mday = day;
    fields.tm_hour = hour;
    fields.tm_min = minute;
    fields.tm_sec = second;
    return codecs::UnixMillisecondsToDayCount(static_cast<int64_t>(timegm(&fields)) * 1000);
}

// Sets TZ for one scope.
class TZone : testing_support::TEnvScope {
public:
    explicit TZone(const char* zone) : TEnvScope("TZ", zone) { tzset(); }
    ~TZone()
    {
        Restore();
        tzset();
    }
};

using testing_support::ShellLine;

} // namespace

TEST(FormatMailDate, UtcAndWholeHourZonesWithSummerTime)
{
    {
        TZone zone("UTC");
        EXPECT_EQ(FormatMailDate(DayCount(2026, 12, 8, 6, 18, 30)), "Tue, 8 Dec 2026 06:18:30 +0000");
        EXPECT_EQ(FormatMailDate(DayCount(2000, 2, 29, 23, 59, 59)), "Tue, 29 Feb 2000 23:59:59 +0000");
        EXPECT_EQ(FormatMailDate(0.0), "Sat, 30 Dec 1899 00:00:00 +0000");
        EXPECT_EQ(FormatMailDate(0.75), "Sat, 30 Dec 1899 18:00:00 +0000");
        EXPECT_EQ(FormatMailDate(1.0), "Sun, 31 Dec 1899 00:00:00 +0000");
        EXPECT_EQ(FormatMailDate(std::nan("")), "");
    }
    {
        TZone zone("America/New_York");
        EXPECT_EQ(FormatMailDate(DayCount(2026, 1, 5, 9, 5, 7)), "Mon, 5 Jan 2026 09:05:07 -0500");
        EXPECT_EQ(FormatMailDate(DayCount(2026, 7, 4, 12, 0, 0)), "Sat, 4 Jul 2026 12:00:00 -0400");
    }
    {
        TZone zone("Europe/Berlin");
        EXPECT_EQ(FormatMailDate(DayCount(2026, 2, 14, 20, 30, 0)), "Sat, 14 Feb 2026 20:30:00 +0100");
        EXPECT_EQ(FormatMailDate(DayCount(2026, 8, 31, 1, 2, 3)), "Mon, 31 Aug 2026 01:02:03 +0200");
    }
}

TEST(FormatMailDate, ZonesOffByPartsOfAnHourKeepTheirMinutes)
{
    {
        TZone zone("Asia/Kolkata");
        EXPECT_EQ(FormatMailDate(DayCount(2026, 3, 1, 10, 0, 0)), "Sun, 1 Mar 2026 10:00:00 +0530");
    }
    {
        TZone zone("Australia/Adelaide"); // summer time in January
        EXPECT_EQ(FormatMailDate(DayCount(2026, 1, 15, 8, 0, 0)), "Thu, 15 Jan 2026 08:00:00 +1030");
        EXPECT_EQ(FormatMailDate(DayCount(2026, 7, 15, 8, 0, 0)), "Wed, 15 Jul 2026 08:00:00 +0930");
    }
    {
        TZone zone("America/St_Johns");
        EXPECT_EQ(FormatMailDate(DayCount(2026, 1, 15, 8, 0, 0)), "Thu, 15 Jan 2026 08:00:00 -0330");
        EXPECT_EQ(FormatMailDate(DayCount(2026, 7, 15, 8, 0, 0)), "Wed, 15 Jul 2026 08:00:00 -0230");
    }
    EXPECT_EQ(FormatZone(0), "+0000");
    EXPECT_EQ(FormatZone(-1800), "-0030");
    EXPECT_EQ(FormatZone(-59), "+0000"); // under a minute is no offset
    EXPECT_EQ(FormatZone(45900), "+1245");
    EXPECT_EQ(FormatZone(-36000), "-1000");
}

TEST(FormatMailDate, NowIsTheLocalTimeThatDateShows)
{
    TZone zone("Asia/Tokyo");
    const std::string before = ShellLine("LC_ALL=C date '+%a, %-d %b %Y %H:%M:%S +0900'");
    const std::string now = FormatMailDate(LocalNow());
    const std::string after = ShellLine("LC_ALL=C date '+%a, %-d %b %Y %H:%M:%S +0900'");
    EXPECT_TRUE(now == before || now == after) << before << " / " << now << " / " << after;
}
