#pragma once
// Loaded modules of the current process (the stand-in for EnumProcessModules
// and GetModuleFileName): the executable and every shared object that
// dl_iterate_phdr lists. A module handle is the module's load base, the
// address of its ELF header.
#include <link.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kernel {

struct TModuleSegment {
    std::uintptr_t Start = 0;
    std::uintptr_t End = 0;
    bool Readable = true; // PF_R: mapped with read access
};

struct TModuleImage {
    std::uintptr_t Handle = 0;     // load base: address of the ELF header
    std::uintptr_t Bias = 0;       // added to the file's virtual addresses
    std::uintptr_t ImageStart = 0; // lowest PT_LOAD byte
    std::uintptr_t ImageEnd = 0;   // one past the highest PT_LOAD byte
    std::string Path;              // full file name; the executable's from /proc/self/exe
    bool IsMainExecutable = false;
    const ElfW(Phdr) * ProgramHeaders = nullptr;
    int ProgramHeaderCount = 0;
    std::vector<TModuleSegment> Segments; // the PT_LOAD ranges

    // True when the address lies inside one of the module's loaded segments.
    bool Contains(const void* address) const;
    // True when the whole range lies inside one readable loaded segment: the
    // loader mapped it, so it can be read without asking the kernel.
    bool HoldsReadable(const void* address, std::size_t length) const;
    const ElfW(Dyn) * Dynamic() const;
};

// Not signal-safe: dl_iterate_phdr takes the loader's lock and this allocates.
std::vector<TModuleImage> EnumerateModules();
bool FindModuleByAddress(const void* address, TModuleImage& module);
bool FindModuleByHandle(std::uintptr_t handle, TModuleImage& module);
// Matches the full path, or the file name without folder; an empty name or
// the executable's file name gives the main executable.
bool FindModuleByName(const std::string& name, TModuleImage& module);
std::string GetModuleFileName(std::uintptr_t handle);
// True when a loaded module's file name (without folder) starts with
// `prefix`. Reads only the loader's list: no file and no loader cache.
bool AnyModuleFileNameStartsWith(const char* prefix);
std::string MainExecutablePath();

} // namespace kernel
