#pragma once
// Import interceptions that follow the program's modules: a module loaded
// with dlopen or dlmopen after start-up gets the interceptions that were
// made in every module at start-up, and one unloaded with dlclose is
// forgotten (its cells are never written again).
#include <string>

namespace crashreport::hook {

// Patches the cells of `real` with `replacement` in every module loaded now
// (the vDSO and the dynamic loader left out), and in every module loaded
// later while the loading is followed. Answers the number of modules
// patched now. Not signal-safe.
int InterceptInEveryModule(void* real, void* replacement, const char* name);

// Follows module loading: intercepts dlopen, dlmopen and dlclose in every
// module. True when done (also when it was already). Undone with the
// engine's shut-down. Not signal-safe.
bool FollowModuleLoading();

// The interceptions of `replacement` (all of them, for null) are no longer
// made in later modules; RestoreImports calls it, the shut-down with null.
void ForgetLaterInterceptions(void* replacement);

} // namespace crashreport::hook
