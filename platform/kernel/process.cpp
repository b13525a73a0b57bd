#include "platform/kernel/process.h"

#include <sys/utsname.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace kernel {

std::uint32_t GetCurrentProcessId() { return static_cast<std::uint32_t>(::getpid()); }

std::string GetComputerName()
{
    struct utsname u {};
    if (::uname(&u) != 0) return std::string();
    return u.nodename;
}

std::optional<std::string> GetEnvironmentVariable(const char* name)
{
    const char* value = std::getenv(name);
    if (value == nullptr) return std::nullopt;
    return std::string(value);
}

void Sleep(unsigned milliseconds)
{
    timespec left{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
    while (::nanosleep(&left, &left) != 0 && errno == EINTR) {}
}

} // namespace kernel
