#pragma once
// Finding and reading the stored reporter data of a module: the `.tldata`
// section of its file (the resource form) or the block at the end of the
// file, with the options, the protected part and the debug data; then the
// published copy of the module's options. Damaged or truncated data stops
// loading with false and is never read outside its bytes.
// Not signal-safe: reads files, inflates, allocates.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "crashreport/report/module_info.h"

namespace crashreport {

// True when the module's file has a `.tldata` section that starts with the
// magic, or ends with the magic.
bool HasStoredData(std::uintptr_t handle);

// Reads the stored data into the record (whose Options exist already), then
// applies the published copy; returns whether stored data was found and read.
bool LoadStoredOptions(TTavrelModuleInfo& record);

// While one lives, records are built without debug data and without
// password requests (module enumeration, the freeze watchdog's start).
class TLightModeScope {
public:
    TLightModeScope();
    ~TLightModeScope();
    TLightModeScope(const TLightModeScope&) = delete;
    TLightModeScope& operator=(const TLightModeScope&) = delete;
};
bool InLightMode();

// One entry of a module's symbol table.
struct TStoredSymbolEntry {
    std::uint8_t Id = 0;
    std::uint32_t Offset = 0;  // from the module handle
    std::uint32_t Value = 0;   // the routine's size
};

// The symbol table of the reporter's own module, as its stored data holds it
// (filled when that module's stored data is loaded).
std::vector<TStoredSymbolEntry> ReporterSymbols();

} // namespace crashreport
