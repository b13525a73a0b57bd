#pragma once
// The import cells of a loaded ELF module: the GOT entries that the dynamic
// linker fills through JUMP_SLOT (PLT calls) and GLOB_DAT (address loads and
// -fno-plt calls) relocations, with the names of their symbols.
#include "platform/kernel/modules.h"

#include <cstdint>
#include <string>
#include <vector>

namespace crashreport::hook {

// What a module defines under a name: nothing (Defined false, also without
// a GNU hash table), one address (all its versions lie there), or anywhere
// (versions at several addresses, or an indirect function, whose address
// only the loader knows).
struct TDefinition {
    bool Defined = false;
    bool Anywhere = false;
    std::uintptr_t Address = 0;
    bool MayBeAt(std::uintptr_t address) const { return Defined && (Anywhere || Address == address); }
};

// Small, as a load may bring in a hundred modules with 15,000 cells: what
// is kept about a cell found not yet bound lies in its module's Lookups.
struct TImportCell {
    void** Cell = nullptr;
    const char* SymbolName = "";
    bool PltSlot = false; // JUMP_SLOT: may still hold the lazy-binding address
    std::uint32_t Lookup = 0; // 1 + its index in TModuleImports::Lookups, or 0
};

// The answers kept for a cell not yet bound, once asked.
struct TCellLookup {
    // ResolveLazyCell's answer: a global lookup per cell and interception
    // made most of the start-up's work.
    void* LazyTarget = nullptr;
    bool LazyTargetKnown = false;
    std::uint32_t NameHash = 0; // GnuHash(SymbolName), once asked
    bool NameHashKnown = false;
    // What the module of the index whose Serial this is defines under the
    // name, once asked (interceptions come in runs of one defining module).
    std::uint64_t DefinitionSerial = 0;
    TDefinition Definition;
};

// The module's own dynamic symbols, found by name through its GNU hash
// table. Every pointer lies in the module's readable segments; the ends
// bound the walks.
struct TSymbolIndex {
    const ElfW(Sym)* Symbols = nullptr;
    std::uintptr_t SymbolsEnd = 0;
    const char* Strings = nullptr;
    std::size_t StringsSize = 0;
    const ElfW(Addr)* Bloom = nullptr;
    const std::uint32_t* Buckets = nullptr;
    const std::uint32_t* Chains = nullptr;
    std::uintptr_t ChainsEnd = 0;
    std::uint32_t BucketCount = 0, SymbolOffset = 0, BloomSize = 0, BloomShift = 0;
    std::uintptr_t Bias = 0;
    std::uint64_t Serial = 0; // unique to each reading of a module's tables
};

struct TModuleImports {
    std::vector<std::string> Needed; // DT_NEEDED names, in order
    std::vector<TImportCell> Cells;
    std::vector<TCellLookup> Lookups;
    TSymbolIndex Definitions; // empty (no Buckets) without a GNU hash table
};

// Reads PT_DYNAMIC of the module. Returns false when it has none or when the
// dynamic section, symbol or string tables are not readable.
bool ReadModuleImports(const kernel::TModuleImage& module, TModuleImports& imports);

// True when the library name equals one of the module's DT_NEEDED entries
// (case-insensitive; "libc" style names without version also match).
bool ModuleNeeds(const TModuleImports& imports, const std::string& library);

std::uint32_t GnuHash(const char* name);

// The module's definitions of the name (hash: GnuHash(name)), every version
// (memcpy@GLIBC_2.2.5 beside memcpy@@GLIBC_2.14) taken into account.
TDefinition FindDefinition(const TSymbolIndex& index, const char* name, std::uint32_t hash);

// For a JUMP_SLOT cell that still holds a lazy-binding address inside its own
// module: the address the loader will bind it to (global lookup of its
// symbol), or null.
void* ResolveLazyCell(const kernel::TModuleImage& module, const TImportCell& cell);

} // namespace crashreport::hook
