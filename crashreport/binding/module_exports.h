#pragma once
// Finds a function that a loaded module itself exports (a definition in one
// of its dependencies does not count). Not signal-safe.
#include <cstdint>

namespace crashreport {

void* FindModuleExport(std::uintptr_t module, const char* name);

} // namespace crashreport
