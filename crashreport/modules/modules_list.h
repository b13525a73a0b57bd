#pragma once
// The process-wide list of loaded modules: records are built lazily (the
// first lookup of an address in a module) and re-synchronised with the
// loaded modules by RefreshModulesList. Not signal-safe.
#include <cstdint>

#include "crashreport/report/module_info.h"

namespace crashreport {

TTavrelModulesList& ModulesList();

// Builds the record of a loaded module with a file and appends it; null for
// a module without a file name.
TTavrelModuleInfo* LoadModuleInfo(std::uintptr_t handle);
// The record of the module; built on first use. A record made during
// enumeration (kind 0) is built again in full.
TTavrelModuleInfo* FindModuleInfo(std::uintptr_t handle);
// The record of the module that contains the address, or null.
TTavrelModuleInfo* FindModuleInfoByAddr(const void* address);
// Drops records of unloaded modules, adds every loaded module not listed,
// and sorts the list by handle.
void RefreshModulesList();
bool EnumeratingModules();

// The lock every user of the list holds while reading its records.
void LockModulesList();
void UnlockModulesList();

} // namespace crashreport
