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

namespace {

// Fills info; the callers of inlined code go to `callers` when given.
void Resolve(TTavrelDebugInfo& info, const void* address, std::int32_t threadID, std::uint8_t runningThread,
             std::vector<stored::TDebugFrame>* callers)
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
                if (callers) *callers = std::move(hit->Callers);
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

} // namespace

void GetDebugInfo(TTavrelDebugInfo& info, const void* address, std::int32_t threadID, std::uint8_t runningThread)
{
    Resolve(info, address, threadID, runningThread, nullptr);
}

std::vector<std::unique_ptr<TTavrelDebugInfo>> GetDebugInfoRows(const void* address, std::int32_t threadID,
                                                                std::uint8_t runningThread)
{
    std::vector<std::unique_ptr<TTavrelDebugInfo>> rows;
    std::vector<stored::TDebugFrame> callers;
    rows.push_back(std::make_unique<TTavrelDebugInfo>());
    Resolve(*rows.front(), address, threadID, runningThread, &callers);
    for (auto& caller : callers) {
        rows.back()->Inlined = 1;
        const TTavrelDebugInfo& first = *rows.front();
        auto row = std::make_unique<TTavrelDebugInfo>();
        row->DebugDetail = first.DebugDetail;
        row->ModuleInfo = first.ModuleInfo;
        row->ThreadID = first.ThreadID;
        row->RunningThread = first.RunningThread;
        row->Addr = first.Addr;
        row->UnitName = std::move(caller.UnitName);
        row->ClassName = std::move(caller.ClassName);
        row->ProcedureName = std::move(caller.ProcedureName);
        row->Line = caller.Line;
        row->ProcOffsetLine = caller.ProcOffsetLine;
        rows.push_back(std::move(row));
    }
    return rows;
}

std::string ShownProcedureName(const TTavrelDebugInfo& info)
{
    std::string name = info.ProcedureName;
    if (info.Inlined) name += kInlinedMark;
    if (info.Scanned) name += kScannedMark;
    return name;
}

} // namespace crashreport
