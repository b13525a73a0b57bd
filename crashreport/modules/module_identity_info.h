#pragma once
// What the reporter reads about a module besides its stored data: its kind
// (program, run-time package, library), its version information, its file
// name and folder, and its exported functions. Not signal-safe.
#include <cstdint>
#include <string>

#include "crashreport/modules/module_info.h"

namespace crashreport {

// 1 program, 2 run-time package (the language runtime's own libraries),
// 3 other library, 0 when the headers cannot be read.
std::uint8_t GetModuleKind(std::uintptr_t handle);

struct TVersionInfo {
    std::string Description;
    std::string Version; // "a.b.c.d"; empty when absent or 0.0.0.0
};

// From the file's `.tlversion` section; for a file without one, the numbers
// after ".so." of the real file name (libstdc++.so.6.0.30 gives 6.0.30.0).
TVersionInfo GetVersionInfo(const std::string& fileName);

// The folder of the module's file, without the trailing "/" (but "/" for
// the root folder).
std::string GetModulePath(const TTavrelModuleInfo& module);

// The module's file name; empty for a module without a file (the vDSO).
std::string ModuleFileName(std::uintptr_t handle);

// The defined functions of the module's dynamic symbol table, demangled and
// sorted by address.
void LoadExportedFunctions(TTavrelModuleInfo& module);

} // namespace crashreport
