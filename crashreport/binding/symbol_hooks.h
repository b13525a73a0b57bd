#pragma once
// The runtime routines named by the symbol table of the reporter's own
// stored data, and hooking them with the hooking engine. Not signal-safe.
#include <cstdint>
#include <string>

namespace crashreport {

// The address of the routine with this identifier in the reporter's own
// module, or null. The table is read with that module's stored data.
void* SymbolAddress(std::uint8_t id);

// Hooks the routine of SymbolAddress(id) (the second form falls back to
// `routineName` exported by the loaded module `moduleName`) and returns
// the address through which the routine as it was can still be called, or
// null when there is no such routine. Hooking failures raise the hooking
// engine's EHookError family (the start-up guard catches them).
void* HookSymbol(std::uint8_t id, void* replacement);
void* HookSymbolOrExport(std::uint8_t id, const std::string& moduleName, const std::string& routineName,
                         void* replacement);

} // namespace crashreport
