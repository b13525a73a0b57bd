#include "crashreport/binding/module_exports.h"

#include "platform/kernel/libraries.h"

namespace crashreport {

void* FindModuleExport(std::uintptr_t module, const char* name) { return kernel::GetProcAddress(module, name); }

} // namespace crashreport
