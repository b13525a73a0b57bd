#pragma once
// Finding and reading the stored reporter data of a module: the `.tldata`
// section of its file (the resource form) or the block at the end of the
// file, with the options, the protected part and the debug data; then the
// published copy of the module's options. Damaged or truncated data stops
// loading with false and is never read outside its bytes.
// Not signal-safe: reads files, inflates, allocates.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "crashreport/modules/module_info.h"

namespace crashreport {

// True when the module's file has a `.tldata` section that starts with the
// magic, or ends with the magic.
bool HasStoredData(std::uintptr_t handle);

// Who answers the password request of a module's protected part. The event
// layer installs its dispatch (the module's own export, then this module's
// handlers); until one is installed no password is known. The request for
// the module is asked first; the local one only when that password does not
// open the part and the module is not the reporter's own.
struct TPasswordRequests {
    std::string (*FromModule)(std::uintptr_t module) = nullptr;
    std::string (*FromLocalHandlers)() = nullptr;
};
void SetPasswordRequests(const TPasswordRequests& requests);

// Reads the stored data into the record (whose Options exist already), then
// applies the published copy; returns whether stored data was found and read.
bool LoadStoredOptions(TTavrelModuleInfo& record);

// The record of the module that holds `address` (the main executable's
// path when no module does), with its stored options read in light mode.
// When it stores none: a record with the default options if
// `defaultsWhenNone`, else null (and no options are made).
std::unique_ptr<TTavrelModuleInfo> ModuleRecordWithStoredOptions(const void* address, bool defaultsWhenNone);

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
    std::uint32_t Offset = 0; // from the module handle
    std::uint32_t Value = 0;  // the routine's size
};

// The symbol table of the reporter's own module, as its stored data holds it
// (filled when that module's stored data is loaded).
std::vector<TStoredSymbolEntry> ReporterSymbols();

} // namespace crashreport
