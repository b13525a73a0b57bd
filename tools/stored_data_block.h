#pragma once
// Assembles the stored reporter data of a module: the `.tldata` section
// contents (resource form), the file-end block, and the `.tlversion`
// section contents.
#include <cstdint>
#include <string>
#include <vector>

#include "crashreport/modules/stored_data_format.h"

namespace tools {

struct TStoredSymbol {
    std::uint8_t Id = 0;
    std::uint32_t Offset = 0; // from the module handle
    std::uint32_t Size = 0;
};

struct TStoredDataParts {
    std::uint16_t Version = crashreport::stored::kCurrentVersion;
    double BuildTime = 0; // day count, universal time
    std::vector<TStoredSymbol> Symbols;
    std::vector<std::uint8_t> Options;   // the options' stream form of Version
    std::vector<std::uint8_t> DebugData; // already enciphered names
    std::string Password;                // keys the check value
};

// Magic, version, build time, then the layout of the version.
std::vector<std::uint8_t> BuildSectionBlock(const TStoredDataParts& parts);
// Version, build time, options, debug data, then the block length and the magic.
std::vector<std::uint8_t> BuildFileEndBlock(const TStoredDataParts& parts);
std::vector<std::uint8_t> BuildVersionSection(const crashreport::stored::TVersionNumbers& version,
                                              const std::string& description);

} // namespace tools
