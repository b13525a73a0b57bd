#pragma once
// Writes the debug data of a module from its code map: units (runs of code
// from one source file), each with its first line, code start and size and
// the compact line table whose procedure starts carry the enciphered names
// (and, from version 516 on, the inlined call the code belongs to), then
// the table of inlined calls. Any format version from 400 to 516 can be
// written; the reporter reads them all.
#include <cstdint>
#include <string>
#include <vector>

#include "tools/code_map.h"

namespace tools {

struct TDebugDataStats {
    std::size_t Units = 0;
    std::size_t Rows = 0;
    std::size_t ProcedureStarts = 0;
    std::size_t TruncatedNames = 0;
    std::size_t InlinedCalls = 0;
    std::size_t InlinedCallBytes = 0; // of the table after the units
};

std::vector<std::uint8_t> EncodeDebugData(const TCodeMap& map, std::uint16_t version, const std::string& password,
                                          TDebugDataStats* stats = nullptr);

// The name a function is stored under: class and procedure as the reporter
// will show them (dots the format cannot carry replaced, too long parts cut).
void StoredFunctionName(const TFunctionName& function, std::uint16_t version, std::string& className,
                        std::string& procedure);

} // namespace tools
