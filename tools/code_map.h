#pragma once
// What the tool learns from a module's DWARF: for every piece of code that
// has line information, its source file, line and the innermost function
// in address order, and for inlined code the chain of inlined calls that
// brought it there.
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
    std::int32_t Call = -1;     // index into Calls: the inlined call the code belongs to; -1: not inlined
};

// One inlined call: the code of the function below it was inlined into
// Caller at File:Line. Caller's own code is inlined too when Parent names
// another call; otherwise Caller is the function that holds the code.
struct TInlinedCall {
    std::int32_t Caller = -1; // index into Functions; -1 when unknown
    std::int32_t File = -1;   // index into Files; -1 when unknown
    std::int32_t Line = 0;
    std::int32_t Parent = -1; // index into Calls, always below this call's own
};

struct TCodeMap {
    std::uint64_t HandleAddress = 0; // virtual address of the ELF header in memory
    std::vector<std::string> Files;  // file names without folders
    std::vector<TFunctionName> Functions;
    std::vector<TCodeRow> Rows; // sorted, not overlapping
    std::vector<TInlinedCall> Calls;
};

// Raises rtl::Exception when the file has no usable DWARF line information.
TCodeMap ReadCodeMap(TElfFile& file);

// The virtual address of the module's handle: its lowest loadable page.
// Raises rtl::Exception for a file without loadable segments.
std::uint64_t HandleAddressOf(TElfFile& file);

} // namespace tools
