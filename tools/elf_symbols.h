#pragma once
// The runtime routines of the symbol table that the module itself defines
// (a statically linked runtime), found in its ELF symbol table.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tools/elf_handles.h"
#include "tools/stored_data_block.h"

namespace tools {

// The known runtime routines, plus `extra` (symbol name -> identifier).
std::vector<TStoredSymbol> FindStoredSymbols(TElfFile& file, std::uint64_t handleAddress,
                                             const std::map<std::string, std::uint8_t>& extra = {});

} // namespace tools
