#pragma once
// The import cells of a loaded ELF module: the GOT entries that the dynamic
// linker fills through JUMP_SLOT (PLT calls) and GLOB_DAT (address loads and
// -fno-plt calls) relocations, with the names of their symbols.
#include "platform/kernel/modules.h"

#include <string>
#include <vector>

namespace crashreport::hook {

struct TImportCell {
    void** Cell = nullptr;
    const char* SymbolName = "";
    bool PltSlot = false; // JUMP_SLOT: may still hold the lazy-binding address
    // ResolveLazyCell's answer, kept once asked: a global lookup per cell
    // and interception made most of the start-up's work.
    void* LazyTarget = nullptr;
    bool LazyTargetKnown = false;
};

struct TModuleImports {
    std::vector<std::string> Needed; // DT_NEEDED names, in order
    std::vector<TImportCell> Cells;
};

// Reads PT_DYNAMIC of the module. Returns false when it has none or when the
// dynamic section, symbol or string tables are not readable.
bool ReadModuleImports(const kernel::TModuleImage& module, TModuleImports& imports);

// True when the library name equals one of the module's DT_NEEDED entries
// (case-insensitive; "libc" style names without version also match).
bool ModuleNeeds(const TModuleImports& imports, const std::string& library);

// For a JUMP_SLOT cell that still holds a lazy-binding address inside its own
// module: the address the loader will bind it to (global lookup of its
// symbol), or null.
void* ResolveLazyCell(const kernel::TModuleImage& module, const TImportCell& cell);

} // namespace crashreport::hook
