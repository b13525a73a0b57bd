#include "crashreport/binding/symbol_hooks.h"

#include "crashreport/hook/hook_engine.h"
#include "crashreport/options/module_identity.h"
#include "crashreport/binding/module_exports.h"
#include "crashreport/modules/stored_data_loader.h"
#include "crashreport/modules/modules_list.h"
#include "platform/kernel/modules.h"

namespace crashreport {
namespace {

void* Intercept(void* routine, std::uint8_t id, void* replacement)
{
    if (!routine) return nullptr;
    return hook::InterceptProcedure(routine, replacement, "SymbolID = " + std::to_string(id));
}

} // namespace

void* SymbolAddress(std::uint8_t id)
{
    const TModuleHandle own = ReporterModuleHandle();
    // The table comes with the record of the reporter's module.
    FindModuleInfo(own);
    for (const auto& s : ReporterSymbols())
        if (s.Id == id) return reinterpret_cast<void*>(own + s.Offset);
    return nullptr;
}

void* HookSymbol(std::uint8_t id, void* replacement) { return Intercept(SymbolAddress(id), id, replacement); }

void* HookSymbolOrExport(std::uint8_t id, const std::string& moduleName, const std::string& routineName,
                         void* replacement)
{
    void* routine = SymbolAddress(id);
    if (!routine) {
        kernel::TModuleImage module;
        if (kernel::FindModuleByName(moduleName, module))
            routine = FindModuleExport(module.Handle, routineName.c_str());
    }
    return Intercept(routine, id, replacement);
}

} // namespace crashreport
