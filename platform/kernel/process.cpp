#include "platform/kernel/process.h"

#include <sys/utsname.h>
#include <unistd.h>

namespace kernel {

std::uint32_t GetCurrentProcessId() { return static_cast<std::uint32_t>(::getpid()); }

std::string GetComputerName()
{
    struct utsname u {};
    if (::uname(&u) != 0)
        return std::string();
    return u.nodename;
}

} // namespace kernel
