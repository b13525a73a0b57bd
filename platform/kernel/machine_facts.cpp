#include "platform/kernel/machine_facts.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/statvfs.h>
#include <sys/sysinfo.h>
#include <sys/utsname.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <sstream>
#include <vector>

#include "platform/kernel/unique_fd.h"

namespace kernel {
namespace {

std::string Trim(const std::string& s)
{
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    const auto last = s.find_last_not_of(" \t");
    return s.substr(first, last - first + 1);
}

// The value of "key<spaces>: value" lines of procfs files, or empty.
std::string FieldValue(const std::string& line, const std::string& key)
{
    const auto colon = line.find(':');
    if (colon == std::string::npos || Trim(line.substr(0, colon)) != key) return {};
    return Trim(line.substr(colon + 1));
}

} // namespace

bool ReadTextFile(const std::string& path, std::string& text)
{
    TUniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.Valid()) return false;
    text.clear();
    char buffer[4096];
    for (;;) {
        ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        text.append(buffer, static_cast<std::size_t>(n));
    }
}

std::string UserName()
{
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    struct passwd entry {};
    struct passwd* found = nullptr;
    if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr)
        return found->pw_name;
    return {};
}

bool ReadMemoryStatus(TMemoryStatus& status)
{
    struct sysinfo info {};
    if (::sysinfo(&info) != 0) return false;
    status.TotalBytes = std::uint64_t(info.totalram) * info.mem_unit;
    // Free memory alone leaves out the caches the system gives back on
    // demand; the kernel's own estimate counts them.
    status.AvailableBytes = (std::uint64_t(info.freeram) + info.bufferram) * info.mem_unit;
    std::string meminfo;
    if (ReadTextFile("/proc/meminfo", meminfo)) {
        std::istringstream lines(meminfo);
        for (std::string line; std::getline(lines, line);) {
            const std::string value = FieldValue(line, "MemAvailable");
            if (!value.empty()) {
                status.AvailableBytes = std::strtoull(value.c_str(), nullptr, 10) * 1024; // "<n> kB"
                break;
            }
        }
    }
    return true;
}

bool ReadDiskSpace(const std::string& path, TDiskSpace& space)
{
    struct statvfs fs {};
    if (path.empty() || ::statvfs(path.c_str(), &fs) != 0) return false;
    space.TotalBytes = std::uint64_t(fs.f_blocks) * fs.f_frsize;
    space.AvailableBytes = std::uint64_t(fs.f_bavail) * fs.f_frsize;
    return true;
}

bool MillisecondsSinceBoot(std::uint64_t& milliseconds)
{
    struct timespec now {};
    if (::clock_gettime(CLOCK_BOOTTIME, &now) != 0) return false;
    milliseconds = std::uint64_t(now.tv_sec) * 1000 + std::uint64_t(now.tv_nsec) / 1000000;
    return true;
}

TProcessorFacts ParseProcessorFacts(const std::string& cpuinfo, const std::string& machine)
{
    TProcessorFacts facts;
    std::string family, model, stepping;
    std::istringstream lines(cpuinfo);
    for (std::string line; std::getline(lines, line);) {
        if (Trim(line).empty()) break; // the end of the first processor's block
        auto take = [&](const char* key, std::string& into) {
            if (into.empty()) into = FieldValue(line, key);
        };
        take("model name", facts.Name);
        take("vendor_id", facts.Vendor);
        take("cpu family", family);
        take("model", model);
        take("stepping", stepping);
    }
    if (!family.empty() && !model.empty() && !stepping.empty())
        facts.Identifier = machine + " Family " + family + " Model " + model + " Stepping " + stepping;
    return facts;
}

TProcessorFacts ReadProcessorFacts()
{
    std::string cpuinfo;
    if (!ReadTextFile("/proc/cpuinfo", cpuinfo)) return {};
    struct utsname names {};
    const std::string machine = ::uname(&names) == 0 ? names.machine : "";
    return ParseProcessorFacts(cpuinfo, Trim(machine));
}

} // namespace kernel
