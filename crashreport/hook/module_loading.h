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

// `observer` runs after every dlopen or dlmopen that loaded something (on
// the loading thread, outside the engine's lock), so an interception that
// depends on a library being present can be made when it arrives. Kept for
// the process's lifetime; adding the same observer twice keeps one. Not
// signal-safe.
using TModuleLoadObserver = void (*)();
void AddModuleLoadObserver(TModuleLoadObserver observer);

// The interceptions of `replacement` (all of them, for null) are no longer
// made in later modules; RestoreImports calls it, the shut-down with null.
void ForgetLaterInterceptions(void* replacement);

} // namespace crashreport::hook
