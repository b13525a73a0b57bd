#pragma once
// Memory the process shares with the kernel: code there cannot be hooked.
#include <string>

namespace crashreport::hook {

// "[vdso]", "[vvar]", "[vsyscall]" or "[kernel]" when the address lies in
// such an area, else empty. Not signal-safe.
std::string SharedAreaName(const void* address);

} // namespace crashreport::hook
