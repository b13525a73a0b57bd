// The "Operating System" section's values. On this system the type is the
// distribution's name, the build the kernel release and the update the
// kernel's build version: the closest things to a Windows edition, build
// number and service pack.
#include "crashreport/sysinfo/system_information.h"
#include "platform/kernel/os_facts.h"

namespace crashreport {

std::string GetWindowsName()
{
    const kernel::TOsRelease release = kernel::ReadOsRelease();
    return release.PrettyName.empty() ? release.SystemName : release.PrettyName;
}

std::string GetWindowsBuild() { return kernel::ReadOsRelease().KernelRelease; }

std::string GetWindowsUpdate() { return kernel::ReadOsRelease().KernelVersion; }

std::string GetSystemLanguage() { return kernel::LocaleLanguageName(); }

} // namespace crashreport
