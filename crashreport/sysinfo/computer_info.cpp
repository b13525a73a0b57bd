// The "Computer" section's values.
#include <atomic>
#include <cmath>
#include <cstdio>

#include "crashreport/sysinfo/system_information.h"
#include "platform/kernel/modules.h"
#include "platform/kernel/process.h"
#include "platform/kernel/os_facts.h"
#include "platform/rtl/format.h"
#include "platform/rtl/strings.h"

namespace crashreport {
namespace {

std::atomic<TDisplayModeQuery> g_displayQuery{nullptr};

// "1 minute", "0 minute", "2 minutes": only numbers above one take the plural.
std::string Count(std::uint64_t n, const char* unit)
{
    return rtl::Format("%llu %s%s", static_cast<unsigned long long>(n), unit, n > 1 ? "s" : "");
}

} // namespace

std::string FormatMegabytes(std::uint64_t bytes)
{
    constexpr std::uint64_t kMb = 1048576;
    std::uint64_t whole = bytes / kMb;
    const std::uint64_t rest = bytes % kMb;
    if (rest > kMb / 2 || (rest == kMb / 2 && whole % 2 == 1)) ++whole;
    return rtl::Format("%llu Mb", static_cast<unsigned long long>(whole));
}

std::string FormatGigabytes(std::uint64_t bytes, const std::string& decimalSeparator)
{
    // Hundredths of a gibibyte, halves away from zero as "0.##" rounds.
    constexpr std::uint64_t kGb = 1073741824;
    const std::uint64_t hundredths = (bytes / kGb) * 100 + ((bytes % kGb) * 100 + kGb / 2) / kGb;
    std::string text = rtl::Format("%llu", static_cast<unsigned long long>(hundredths / 100));
    const unsigned fraction = static_cast<unsigned>(hundredths % 100);
    if (fraction != 0) {
        text += decimalSeparator + rtl::Format("%02u", fraction);
        if (text.back() == '0') text.pop_back();
    }
    return text + " Gb";
}

std::string FormatUpTime(std::uint64_t milliseconds)
{
    // Whole numbers throughout: fractions of days turned into hours and on
    // lose a unit to rounding (30 seconds would come out as 29).
    const std::uint64_t seconds = milliseconds / 1000;
    const std::uint64_t days = seconds / 86400;
    const std::uint64_t hours = seconds % 86400 / 3600;
    const std::uint64_t minutes = seconds % 3600 / 60;
    std::string text;
    if (days > 0) text += Count(days, "day") + ", ";
    if (hours > 0) text += Count(hours, "hour") + ", ";
    return text + Count(minutes, "minute") + ", " + Count(seconds % 60, "second");
}

std::string ProcessorNameFrom(const kernel::TProcessorFacts& facts)
{
    std::string name = rtl::Trim(facts.Name);
    if (name.empty()) {
        name = rtl::Trim(facts.Vendor);
        const std::string identifier = rtl::Trim(facts.Identifier);
        if (!name.empty() && !identifier.empty()) name += " - " + identifier;
    }
    return name.empty() ? "Unknown processor" : name;
}

std::string ReadComputerName() { return kernel::GetComputerName(); }

std::string ReadUserName() { return kernel::UserName(); }

std::string GetTotalMemory()
{
    kernel::TMemoryStatus status;
    return kernel::ReadMemoryStatus(status) ? FormatMegabytes(status.TotalBytes) : "";
}

std::string GetFreeMemory()
{
    kernel::TMemoryStatus status;
    return kernel::ReadMemoryStatus(status) ? FormatMegabytes(status.AvailableBytes) : "";
}

std::string GetTotalDisk()
{
    kernel::TDiskSpace space;
    if (!kernel::ReadDiskSpace(kernel::MainExecutablePath(), space)) return {};
    return FormatGigabytes(space.TotalBytes, kernel::LocaleDecimalSeparator());
}

std::string GetFreeDisk()
{
    kernel::TDiskSpace space;
    if (!kernel::ReadDiskSpace(kernel::MainExecutablePath(), space)) return {};
    return FormatGigabytes(space.AvailableBytes, kernel::LocaleDecimalSeparator());
}

std::string GetUpTime()
{
    std::uint64_t milliseconds = 0;
    return kernel::MillisecondsSinceBoot(milliseconds) ? FormatUpTime(milliseconds) : "";
}

std::string GetProcessorName() { return ProcessorNameFrom(kernel::ReadProcessorFacts()); }

TDisplayModeQuery SetDisplayModeQuery(TDisplayModeQuery query) { return g_displayQuery.exchange(query); }

std::string GetDisplayMode()
{
    const TDisplayModeQuery query = g_displayQuery.load();
    int width = 0, height = 0, bits = 0;
    if (!query || !query(width, height, bits)) return {};
    return rtl::Format("%d x %d, %d bit", width, height, bits);
}

} // namespace crashreport
