#include "platform/kernel/process_facts.h"

#include "platform/kernel/files.h"

#include <ctime>
#include <sstream>
#include <unistd.h>

namespace kernel {

namespace {

std::string ReadSmallFile(const char* path)
{
    std::string text;
    TUniqueFd fd = OpenRegularFileForReading(path);
    if (!fd.Valid()) {
        // /proc files report size 0 and may not count as regular for every kernel
        fd = OpenFile(path, TFileOpen::foRead);
        if (!fd.Valid()) return text;
    }
    char buffer[4096];
    for (;;) {
        const std::ptrdiff_t n = ReadFile(fd.Get(), buffer, sizeof buffer);
        if (n <= 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
}

} // namespace

std::vector<std::string> GetCommandLineParameters()
{
    std::vector<std::string> parameters;
    const std::string raw = ReadSmallFile("/proc/self/cmdline");
    std::size_t start = 0;
    bool first = true;
    while (start < raw.size()) {
        std::size_t end = raw.find('\0', start);
        if (end == std::string::npos) end = raw.size();
        if (!first) parameters.push_back(raw.substr(start, end - start));
        first = false;
        start = end + 1;
    }
    return parameters;
}

std::optional<double> GetProcessStartSeconds()
{
    // Field 22 of /proc/self/stat is the start in clock ticks after boot;
    // the field 2 (the command) may hold spaces and parentheses, so fields
    // are counted from the last ')'.
    const std::string stat = ReadSmallFile("/proc/self/stat");
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos) return std::nullopt;
    std::istringstream fields(stat.substr(close + 1));
    std::string field;
    unsigned long long startTicks = 0;
    for (int number = 3; number <= 22 && (fields >> field); ++number)
        if (number == 22) startTicks = std::stoull(field);
    const long ticksPerSecond = ::sysconf(_SC_CLK_TCK);
    if (startTicks == 0 || ticksPerSecond <= 0) return std::nullopt;
    timespec boot{}, now{};
    if (::clock_gettime(CLOCK_BOOTTIME, &boot) != 0 || ::clock_gettime(CLOCK_REALTIME, &now) != 0) return std::nullopt;
    const double nowSeconds = static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9;
    const double sinceBoot = static_cast<double>(boot.tv_sec) + boot.tv_nsec / 1e9;
    return nowSeconds - sinceBoot + static_cast<double>(startTicks) / static_cast<double>(ticksPerSecond);
}

} // namespace kernel
