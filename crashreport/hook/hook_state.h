#pragma once
// The engine's process-wide lists, shared by its source files.
#include "crashreport/hook/hook_engine.h"

#include <mutex>
#include <vector>

namespace crashreport::hook::detail {

struct TEngineState {
    // Interceptions are made at start-up and undone at shut-down; the lock
    // keeps start-ups on several threads from tearing the lists.
    std::recursive_mutex Lock;
    int References = 0;
    std::vector<TImportHook*>* ImportHooks = nullptr;
    THookedMethodsList* HookedMethods = nullptr;
    std::vector<TProcedureHook*>* ProcedureHooks = nullptr;
};

TEngineState& Engine();

// Undo helpers used by the shut-down.
void RestoreAllImports();
void RestoreAllProcedures();
void RestoreSlot(const THookedMethod& method);

} // namespace crashreport::hook::detail
