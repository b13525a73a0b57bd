#pragma once
// One loaded module as the reporter knows it (`TTavrelModuleInfo`), its
// exported functions (`TTavrelFunctionInfo`) and their lists. Not
// signal-safe: the lists allocate.
#include <cstdint>
#include <memory>
#include <string>

#include "crashreport/options/module_options_ex.h"
#include "crashreport/modules/debug_data.h"
#include "crashreport/modules/owned_list.h"

namespace crashreport {

struct TTavrelFunctionInfo {
    std::string Name; // demangled
    std::uintptr_t Address = 0;
    std::uint32_t Size = 0; // bytes
};

// Exported functions sorted by address.
class TTavrelFunctionsList : public TOwnedList<TTavrelFunctionInfo> {
public:
    // The function whose range [Address, Address + Size] holds the address
    // (binary search), or null.
    const TTavrelFunctionInfo* FindByAddress(std::uintptr_t address) const;
    void SortByAddress();
};

enum TTavrelModuleKind : std::uint8_t {
    mkUnclassified = 0,
    mkProgram = 1,
    mkRuntimePackage = 2, // the language runtime's own libraries (libstdc++, libgcc_s)
    mkLibrary = 3,
};

struct TTavrelModuleInfo {
    std::uintptr_t Handle = 0;
    std::string FileName;
    std::string Description;
    std::string Version;
    std::uint32_t FileSize = 0;
    TTavrelFunctionsList Functions;
    std::uint8_t ModuleKind = mkUnclassified;
    std::uint16_t DebugVersion = 0;
    double CompilationDate = 0; // universal time
    std::unique_ptr<TTavrelModuleOptionsEx> Options;
    std::unique_ptr<stored::TDebugData> DebugData;
    double LastModified = 0; // local time
    std::string DebugPassword;
    std::uint8_t NamesReadable = 1;
};

class TTavrelModulesList : public TOwnedList<TTavrelModuleInfo> {
public:
    int IndexOfHandle(std::uintptr_t handle) const;
    void SortByHandle();
};

} // namespace crashreport
