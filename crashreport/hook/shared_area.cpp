#include "crashreport/hook/shared_area.h"

#include "platform/kernel/libraries.h"
#include "platform/kernel/memory.h"

#include <cstdint>
#include <cstring>

namespace crashreport::hook {

std::string SharedAreaName(const void* address)
{
    const auto a = reinterpret_cast<std::uintptr_t>(address);
#if defined(__x86_64__)
    if (a >= (std::uintptr_t(1) << 47)) return a >= 0xFFFFFFFFFF600000ull ? "[vsyscall]" : "[kernel]";
#endif
    kernel::TMemoryRegion region;
    if (kernel::QueryMemory(address, region) &&
        (std::strcmp(region.Name, "[vdso]") == 0 || std::strcmp(region.Name, "[vvar]") == 0 ||
         std::strcmp(region.Name, "[vsyscall]") == 0))
        return region.Name;
    const auto vdso = kernel::VdsoHandle();
    if (vdso && a >= vdso && a < vdso + 2 * kernel::PageSize()) return "[vdso]";
    return {};
}

} // namespace crashreport::hook
