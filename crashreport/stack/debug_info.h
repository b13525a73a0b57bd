#pragma once
// One call-stack entry (`TTavrelDebugInfo`), the call-stack list, and the
// resolution of an address to module, unit, class, procedure and line:
// from the module's debug data, else from its exported functions. An
// address in inlined code gives a row per inlined call, innermost first,
// then the function that holds the code, each with its own unit and line.
// Not signal-safe: resolution allocates and reads module files.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "crashreport/modules/module_info.h"
#include "crashreport/modules/owned_list.h"

namespace crashreport {

enum TTavrelDebugDetail : std::uint8_t {
    dkUnknown = 0, // nothing known, or a duplicate hidden by the tidy step
    dkModuleOnly = 1,
    dkExportName = 2,
    dkDecoratedName = 3, // unit, class and procedure split out of an exported name
    dkDebugLine = 4,     // from the module's debug data
};

struct TTavrelDebugInfo {
    std::uint8_t DebugDetail = dkUnknown;
    TTavrelModuleInfo* ModuleInfo = nullptr; // not owned
    std::int32_t ThreadID = 0;
    std::uint8_t RunningThread = 0;
    void* Addr = nullptr;
    std::string UnitName;
    std::string ClassName;
    std::string ProcedureName;
    std::int32_t Line = 0;
    std::int32_t ProcOffsetLine = 0;
    // 1 when the row is code inlined into the function of the next row (the
    // same address): the rows of one address are its inlined calls,
    // innermost first, then the function that holds the code (0).
    std::uint8_t Inlined = 0;
    // 1 when the raw scan found the address where the exact walk could not
    // go: the frame may not have been live (a return address left behind).
    std::uint8_t Scanned = 0;
    // 1 when the exact walk found it: a frame that was live, never hidden as
    // a duplicate by the tidy step.
    std::uint8_t Walked = 0;
    // Records made without debug information carry their own module record
    // (handle and file name only).
    std::unique_ptr<TTavrelModuleInfo> OwnModuleInfo;
};

class TTavrelStackList : public TOwnedList<TTavrelDebugInfo> {};

// Fills one entry for the address: the innermost code there (in inlined
// code the inlined function's own unit, procedure and line).
void GetDebugInfo(TTavrelDebugInfo& info, const void* address, std::int32_t threadID, std::uint8_t runningThread);

// Every row of the address: GetDebugInfo's entry, and in inlined code one
// more per function it was inlined into, each at the line of its call; all
// rows but the last are marked Inlined. At least one row.
std::vector<std::unique_ptr<TTavrelDebugInfo>> GetDebugInfoRows(const void* address, std::int32_t threadID,
                                                                std::uint8_t runningThread);

// The procedure as a report shows it: an inlined row's name is marked
// " [inlined]", a row found only by the raw scan " [scan]".
std::string ShownProcedureName(const TTavrelDebugInfo& info);
inline constexpr const char* kInlinedMark = " [inlined]";
inline constexpr const char* kScannedMark = " [scan]";

// The export-name fallback: splits an exported (demangled) name into unit,
// class and procedure; returns the detail reached (1, 2 or 3).
std::uint8_t SplitExportName(const std::string& name, std::string& unit, std::string& cls, std::string& procedure);

} // namespace crashreport
