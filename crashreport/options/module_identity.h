#pragma once
// Which loaded module a file name or a code address belongs to. A module's
// handle is its load base, the lowest address of its loaded segments.
#include <cstdint>
#include <string>

namespace crashreport {

using TModuleHandle = std::uintptr_t;

// The handle of the module that contains the crash reporter's code.
TModuleHandle ReporterModuleHandle();

// The handle of the loaded module whose file is `fileName`, or 0. A name
// with a "/" is compared as a path (also after resolving links); a bare
// name is compared with the modules' file-name parts. The main program's
// file is /proc/self/exe.
TModuleHandle ModuleHandleOfFile(const std::string& fileName);

// The handle of the loaded module whose segments hold `address`, or 0.
TModuleHandle ModuleHandleOfAddress(const void* address);

// The file of the main program (/proc/self/exe resolved), or empty.
std::string ProgramFileName();

} // namespace crashreport
