// Import interception: the GOT cells of a module that hold (or will be bound
// to) a function are overwritten with a replacement.
#include "crashreport/hook/elf_imports.h"
#include "crashreport/hook/hook_state.h"
#include "crashreport/hook/module_loading.h"
#include "crashreport/hook/shared_area.h"
#include "platform/kernel/libraries.h"
#include "platform/kernel/modules.h"
#include "platform/rtl/format.h"

#include <algorithm>
#include <memory>

namespace crashreport::hook {
namespace {

// A cell not yet bound can only be bound to function when the module holding
// function defines a version of the cell's name at function (an indirect
// function's address is the loader's to find): most cells are passed over
// without a global lookup.
bool MayBindTo(const TSymbolIndex& definitions, const TImportCell& cell, TCellLookup& c, const void* function)
{
    if (!definitions.Buckets) return true;
    if (c.DefinitionSerial != definitions.Serial) {
        if (!c.NameHashKnown) {
            c.NameHash = GnuHash(cell.SymbolName);
            c.NameHashKnown = true;
        }
        c.Definition = FindDefinition(definitions, cell.SymbolName, c.NameHash);
        c.DefinitionSerial = definitions.Serial;
    }
    return c.Definition.MayBeAt(reinterpret_cast<std::uintptr_t>(function));
}

// The definitions of the module holding function, copied: reading another
// module's tables may move the records.
TSymbolIndex DefinitionsAround(const void* function)
{
    auto& engine = detail::Engine();
    if (engine.DefinitionsOf == function) return engine.Definitions;
    TSymbolIndex definitions;
    kernel::TModuleImage owner;
    if (kernel::FindModuleByAddress(function, owner))
        if (const TModuleImports* imports = detail::KnownModuleImports(owner)) definitions = imports->Definitions;
    engine.DefinitionsOf = function;
    engine.Definitions = definitions;
    return definitions;
}

// Lists the import cells of the module that are bound, or will be bound, to
// function.
std::vector<void**> MatchingCells(const kernel::TModuleImage& module, TModuleImports& imports, void* function,
                                  const TSymbolIndex& definitions)
{
    std::vector<void**> cells;
    for (TImportCell& cell : imports.Cells) {
        void* value = *cell.Cell;
        if (value == function) {
            cells.push_back(cell.Cell);
            continue;
        }
        // A PLT cell not yet bound holds an address inside its own module;
        // what the loader will bind it to does not change while the module
        // stays. (Any other cell was bound at load time.)
        if (!cell.PltSlot || !value || !module.Contains(value)) continue;
        if (!cell.Lookup) {
            // Room for every PLT cell at once: growing by steps would touch
            // fresh memory again at each step.
            if (imports.Lookups.empty())
                imports.Lookups.reserve(static_cast<std::size_t>(std::count_if(
                    imports.Cells.begin(), imports.Cells.end(), [](const TImportCell& c) { return c.PltSlot; })));
            imports.Lookups.emplace_back();
            cell.Lookup = static_cast<std::uint32_t>(imports.Lookups.size());
        }
        TCellLookup& c = imports.Lookups[cell.Lookup - 1];
        if (!c.LazyTargetKnown) {
            if (!MayBindTo(definitions, cell, c, function)) continue;
            c.LazyTarget = ResolveLazyCell(module, cell);
            c.LazyTargetKnown = true;
        }
        if (c.LazyTarget == function) cells.push_back(cell.Cell);
    }
    return cells;
}

} // namespace

TModuleImports* detail::KnownModuleImports(const kernel::TModuleImage& module)
{
    auto& engine = detail::Engine();
    if (!engine.KnownImports) engine.KnownImports = new std::vector<TKnownImports>;
    // A module unloaded and another loaded at its address differ in layout or name.
    for (TKnownImports& k : *engine.KnownImports)
        if (k.Handle == module.Handle && k.ImageEnd == module.ImageEnd && k.Dynamic == module.Dynamic() &&
            k.Path == module.Path)
            return k.Read ? &k.Imports : nullptr;
    std::erase_if(*engine.KnownImports, [&](const TKnownImports& k) { return k.Handle == module.Handle; });
    engine.DefinitionsOf = nullptr;
    TKnownImports& k = engine.KnownImports->emplace_back();
    k.Handle = module.Handle;
    k.ImageEnd = module.ImageEnd;
    k.Dynamic = module.Dynamic();
    k.Path = module.Path;
    k.Read = ReadModuleImports(module, k.Imports);
    return k.Read ? &k.Imports : nullptr;
}

void* InterceptImport(std::uintptr_t moduleHandle, const std::string& dllName, void* realFunction, void* replacement,
                      bool doNotRecord, bool quiet, const std::string& displayName)
{
    kernel::TModuleImage module;
    if (!kernel::FindModuleByHandle(moduleHandle, module)) module.Handle = moduleHandle; // no cells: nothing matches
    return detail::InterceptImportIn(module, dllName, realFunction, replacement, doNotRecord, quiet, displayName);
}

void* detail::InterceptImportIn(const kernel::TModuleImage& module, const std::string& dllName, void* realFunction,
                                void* replacement, bool doNotRecord, bool quiet, const std::string& displayName)
{
    if (!realFunction) throw EProcNull(rtl::FormatStrings("Cannot hook a null procedure (\"%s\").", {displayName}));
    const std::string shared = SharedAreaName(reinterpret_cast<const void*>(module.Handle));
    if (!shared.empty())
        throw ESharedArea(rtl::FormatStrings("Cannot hook the module \"%s\" located into the shared-area.", {shared}));
    auto& engine = detail::Engine();
    std::lock_guard<std::recursive_mutex> lock(engine.Lock);

    TModuleImports* imports = nullptr;
    int patched = 0;
    const TSymbolIndex definitions = module.Segments.empty() ? TSymbolIndex{} : DefinitionsAround(realFunction);
    if (!module.Segments.empty() && (imports = detail::KnownModuleImports(module)) && ModuleNeeds(*imports, dllName)) {
        for (void** cell : MatchingCells(module, *imports, realFunction, definitions)) {
            // Under full RELRO the GOT is read-only; PatchCode lifts that for the write.
            if (!PatchCode(cell, &replacement, sizeof replacement)) continue;
            ++patched;
            if (!doNotRecord && engine.ImportHooks)
                engine.ImportHooks->push_back(new TImportHook{module.Handle, dllName, realFunction, replacement});
        }
    }
    if (patched > 0) return realFunction;
    if (!quiet) throw EHookingError(rtl::FormatStrings("Cannot hook the procedure \"%s\".", {displayName}));
    return nullptr;
}

bool InterceptModuleImports(const std::vector<std::string>& moduleNames, const std::string& dllName, bool quiet,
                            void*& realAddress, void* replacement, const std::string& functionName)
{
    // Only a library that is loaded already counts. The modules' cells hold
    // the definition the process binds the name to: the library's own, unless
    // another library (a memory checker, say) interposes it.
    realAddress = kernel::FindLibrarySymbol(dllName, functionName.c_str())
        ? kernel::FindGlobalSymbol(functionName.c_str())
        : nullptr;
    bool any = false;
    const std::string displayName = dllName + "." + functionName;
    for (const std::string& name : moduleNames) {
        kernel::TModuleImage module;
        if (!kernel::FindModuleByName(name, module)) continue;
        if (InterceptImport(module.Handle, dllName, realAddress, replacement, false, quiet, displayName)) any = true;
    }
    return any;
}

int RestoreImports(void* replacement)
{
    auto& engine = detail::Engine();
    std::lock_guard<std::recursive_mutex> lock(engine.Lock);
    ForgetLaterInterceptions(replacement);
    if (!engine.ImportHooks) return 0;
    int undone = 0;
    auto& list = *engine.ImportHooks;
    for (std::size_t i = 0; i < list.size();) {
        TImportHook* h = list[i];
        if (h->Replacement != replacement) {
            ++i;
            continue;
        }
        try {
            InterceptImport(h->Module, h->DllName, h->Replacement, h->RealFunction, true, true, h->DllName);
        } catch (const EHookError&) {
        }
        delete h;
        list.erase(list.begin() + static_cast<std::ptrdiff_t>(i));
        ++undone;
    }
    return undone;
}

int ImportHookCount()
{
    auto& engine = detail::Engine();
    std::lock_guard<std::recursive_mutex> lock(engine.Lock);
    return engine.ImportHooks ? static_cast<int>(engine.ImportHooks->size()) : 0;
}

int ImportHookCount(std::uintptr_t module)
{
    auto& engine = detail::Engine();
    std::lock_guard<std::recursive_mutex> lock(engine.Lock);
    if (!engine.ImportHooks) return 0;
    return static_cast<int>(std::count_if(engine.ImportHooks->begin(), engine.ImportHooks->end(),
                                          [&](const TImportHook* h) { return h->Module == module; }));
}

void detail::RestoreAllImports()
{
    auto& engine = Engine();
    if (!engine.ImportHooks) return;
    for (TImportHook* h : *engine.ImportHooks) {
        try {
            // The same search with the roles swapped: cells holding the replacement get the real function back.
            InterceptImport(h->Module, h->DllName, h->Replacement, h->RealFunction, true, true, h->DllName);
        } catch (const EHookError&) {
        }
        delete h;
    }
    delete engine.ImportHooks;
    engine.ImportHooks = nullptr;
}

} // namespace crashreport::hook
