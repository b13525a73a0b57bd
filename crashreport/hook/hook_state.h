#pragma once
// The engine's process-wide lists, shared by its source files.
#include "crashreport/hook/elf_imports.h"
#include "crashreport/hook/hook_engine.h"

#include <mutex>
#include <string>
#include <vector>

namespace crashreport::hook::detail {

// A loaded module's import tables, read once: start-up intercepts a dozen
// functions in every module, and the tables do not change while it is loaded.
struct TKnownImports {
    std::uintptr_t Handle = 0;
    std::uintptr_t ImageEnd = 0;
    const void* Dynamic = nullptr;
    std::string Path;
    bool Read = false; // false: the module has no readable import tables
    TModuleImports Imports;
};

struct TEngineState {
    // Interceptions are made at start-up and undone at shut-down; the lock
    // keeps start-ups on several threads from tearing the lists.
    std::recursive_mutex Lock;
    int References = 0;
    std::vector<TImportHook*>* ImportHooks = nullptr;
    THookedMethodsList* HookedMethods = nullptr;
    std::vector<TProcedureHook*>* ProcedureHooks = nullptr;
    // Made on first use and kept to the end: interceptions may still be made
    // while static objects are destroyed.
    std::vector<TKnownImports>* KnownImports = nullptr;
    // The definitions of the module holding the function intercepted last
    // (a start intercepts each function in every module in turn). Forgotten
    // whenever a module record is dropped.
    const void* DefinitionsOf = nullptr;
    TSymbolIndex Definitions;
};

// The module's import tables, read on the first call for the loaded module;
// null when it has none. The caller holds the engine's lock; the answer stays
// valid while it does.
TModuleImports* KnownModuleImports(const kernel::TModuleImage& module);

// InterceptImport for a module already looked up: callers that walk the
// module list need not have each one found again.
void* InterceptImportIn(const kernel::TModuleImage& module, const std::string& dllName, void* realFunction,
                        void* replacement, bool doNotRecord, bool quiet, const std::string& displayName);

TEngineState& Engine();

// Undo helpers used by the shut-down.
void RestoreAllImports();
void RestoreAllProcedures();
void RestoreSlot(const THookedMethod& method);

} // namespace crashreport::hook::detail
