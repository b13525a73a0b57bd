#pragma once
// The process-wide list of loaded modules: records are built lazily (the
// first lookup of an address in a module) and re-synchronised with the
// loaded modules by RefreshModulesList. Not signal-safe.
#include <cstdint>

#include "crashreport/modules/module_info.h"

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
// Drops the records of modules whose file's time stamp changed since they
// were listed (the file was replaced while loaded): the next refresh reads
// them again. Answers how many went. A report does this before it builds
// any call stack, so no entry points to a dropped record.
int DropChangedModules();
bool EnumeratingModules();

// Everything a report reads about the modules, loaded before the report
// pauses the other threads: a full record (options, stored data, debug data
// with its index, exported functions) of every loaded module. A thread
// paused while it holds a lock that loading takes (the allocator's, the
// dynamic linker's, one an event handler needs) then cannot stop the report.
void LoadModulesForReport();

// While one lives, lookups answer from the records loaded so far and never
// build one: no file is read, nothing is inflated, no handler is asked for
// a password. The report holds one while other threads are paused.
class TNoModuleLoadingScope {
public:
    TNoModuleLoadingScope();
    ~TNoModuleLoadingScope();
    TNoModuleLoadingScope(const TNoModuleLoadingScope&) = delete;
    TNoModuleLoadingScope& operator=(const TNoModuleLoadingScope&) = delete;
};
bool ModuleLoadingAllowed();

// The lock every user of the list holds while reading its records
// (recursive: the list's own functions take it again).
void LockModulesList();
void UnlockModulesList();

// Holds the modules list's lock for a scope.
class TModulesListLock {
public:
    TModulesListLock() { LockModulesList(); }
    ~TModulesListLock() { UnlockModulesList(); }
    TModulesListLock(const TModulesListLock&) = delete;
    TModulesListLock& operator=(const TModulesListLock&) = delete;
};

} // namespace crashreport
