#include "crashreport/options/module_identity.h"

#include "platform/kernel/modules.h"

namespace crashreport {

std::string ProgramFileName() { return kernel::MainExecutablePath(); }

TModuleHandle ModuleHandleOfAddress(const void* address)
{
    kernel::TModuleImage module;
    return kernel::FindModuleByAddress(address, module) ? module.Handle : 0;
}

TModuleHandle ReporterModuleHandle()
{
    return ModuleHandleOfAddress(reinterpret_cast<const void*>(&ReporterModuleHandle));
}

TModuleHandle ModuleHandleOfFile(const std::string& fileName)
{
    // An empty name names no module here: a record without a module file
    // never publishes.
    if (fileName.empty()) return 0;
    kernel::TModuleImage module;
    return kernel::FindModuleByName(fileName, module) ? module.Handle : 0;
}

} // namespace crashreport
