#pragma once
// What the tool learns from a module's DWARF: for every piece of code that
// has line information, its source file, line and the innermost function
// in address order.
#include <cstdint>
#include <string>
#include <vector>

#include "tools/elf_handles.h"

namespace tools {

struct TFunctionName {
    std::string ClassName;      // scopes before the procedure, "ns::Class"; may be empty
    std::string Procedure;      // "method(int) const"
    std::int32_t FirstLine = 0; // declaration line; 0 when unknown
};

struct TCodeRow {
    std::uint64_t Start = 0; // file virtual addresses, [Start, End)
    std::uint64_t End = 0;
    std::int32_t File = -1; // index into Files
    std::int32_t Line = 0;
    std::int32_t Function = -1; // index into Functions; -1 when no function covers it
};

struct TCodeMap {
    std::uint64_t HandleAddress = 0; // virtual address of the ELF header in memory
    std::vector<std::string> Files;  // file names without folders
    std::vector<TFunctionName> Functions;
    std::vector<TCodeRow> Rows; // sorted, not overlapping
};

// Raises rtl::Exception when the file has no usable DWARF line information.
TCodeMap ReadCodeMap(TElfFile& file);

// The virtual address of the module's handle: its lowest loadable page.
// Raises rtl::Exception for a file without loadable segments.
std::uint64_t HandleAddressOf(TElfFile& file);

} // namespace tools
