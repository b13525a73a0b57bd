#include "crashreport/stack/debug_info.h"

#include "crashreport/modules/cpp_name_parts.h"
#include "crashreport/modules/debug_data.h"
#include "crashreport/modules/modules_list.h"

namespace crashreport {

std::uint8_t SplitExportName(const std::string& name, std::string& unit, std::string& cls, std::string& procedure)
{
    unit.clear();
    cls.clear();
    procedure.clear();
    if (name.empty()) return dkModuleOnly;
    // A demangled C++ name is the decorated form of this platform: its scopes
    // give unit (the outermost), class (the ones between) and procedure.
    const auto parts = SplitCppScopes(name);
    if (parts.size() == 1) {
        procedure = name;
        return dkExportName;
    }
    unit = parts.front() + stored::kSourceFileExtension;
    for (std::size_t i = 1; i + 1 < parts.size(); ++i) {
        if (!cls.empty()) cls += "::";
        cls += parts[i];
    }
    procedure = parts.back();
    if (!procedure.empty() && procedure[0] == '@') procedure[0] = '_';
    return dkDecoratedName;
}

void GetDebugInfo(TTavrelDebugInfo& info, const void* address, std::int32_t threadID, std::uint8_t runningThread)
{
    info = TTavrelDebugInfo{};
    info.RunningThread = runningThread;
    info.ThreadID = threadID;
    info.Addr = const_cast<void*>(address);
    TModulesListLock lock;
    try {
        info.ModuleInfo = FindModuleInfoByAddr(address);
        const auto a = reinterpret_cast<std::uintptr_t>(address);
        if (info.ModuleInfo && info.ModuleInfo->DebugData) {
            if (auto hit = info.ModuleInfo->DebugData->Lookup(info.ModuleInfo->Handle, a)) {
                info.DebugDetail = dkDebugLine;
                info.UnitName = std::move(hit->UnitName);
                info.ClassName = std::move(hit->ClassName);
                info.ProcedureName = std::move(hit->ProcedureName);
                info.Line = hit->Line;
                info.ProcOffsetLine = hit->ProcOffsetLine;
                return;
            }
        }
        if (info.ModuleInfo) {
            info.DebugDetail = dkModuleOnly;
            if (const TTavrelFunctionInfo* f = info.ModuleInfo->Functions.FindByAddress(a))
                info.DebugDetail = SplitExportName(f->Name, info.UnitName, info.ClassName, info.ProcedureName);
        }
    } catch (...) {
        // A failed lookup leaves what was found so far.
    }
}

} // namespace crashreport
