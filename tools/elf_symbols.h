#pragma once
// The runtime routines of the symbol table that the module itself defines
// (a statically linked runtime), found in its ELF symbol table.
#include <cstdint>
#include <vector>

#include "tools/elf_handles.h"
#include "tools/stored_data_block.h"

namespace tools {

std::vector<TStoredSymbol> FindStoredSymbols(TElfFile& file, std::uint64_t handleAddress);

} // namespace tools
