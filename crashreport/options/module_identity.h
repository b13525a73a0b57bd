#pragma once
// Which loaded module a file name or a code address belongs to, as the
// options need it (through the kernel's module queries). A module's handle
// is its load base.
#include <cstdint>
#include <string>

namespace crashreport {

using TModuleHandle = std::uintptr_t;

// The handle of the module that contains the crash reporter's code.
TModuleHandle ReporterModuleHandle();

// The handle of the loaded module whose file is `fileName` (a full path, or
// a bare file name compared with the modules' file-name parts), or 0 for an
// empty or unknown name. The main program's file is /proc/self/exe.
TModuleHandle ModuleHandleOfFile(const std::string& fileName);

// The handle of the loaded module whose segments hold `address`, or 0.
TModuleHandle ModuleHandleOfAddress(const void* address);

// The file of the main program (/proc/self/exe resolved), or empty.
std::string ProgramFileName();

} // namespace crashreport
