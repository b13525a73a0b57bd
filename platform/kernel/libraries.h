#pragma once
// Symbols of the loaded modules, looked up through the dynamic linker: the
// stand-in for GetProcAddress. Nothing is ever loaded here; only modules
// that are loaded already are searched. Not signal-safe (the dynamic
// linker takes its lock).
#include <cstdint>
#include <string>

namespace kernel {

// A function that the module loaded at `handle` itself defines and exports;
// a definition found in one of its dependencies does not count. Null when
// there is none.
void* GetProcAddress(std::uintptr_t handle, const char* name);

// The definition that `name` binds to in the process's global scope (the
// program, then the libraries in load order), or null.
void* FindGlobalSymbol(const char* name);

// The definition of `name` in the loaded library `library` (a file name as
// the dynamic linker knows it, such as "libc.so.6") or its dependencies;
// null when the library is not loaded or has none.
void* FindLibrarySymbol(const std::string& library, const char* name);

// Where the kernel's shared page of system-call code (the vDSO) is loaded, or 0.
// Signal-safe.
std::uintptr_t VdsoHandle();

} // namespace kernel
