// Start and shut-down of the hooking engine.
#include "crashreport/hook/hook_state.h"
#include "crashreport/hook/module_loading.h"
#include "platform/rtl/format.h"

#include <cstdio>
#include <exception>

namespace crashreport::hook {
namespace {

// Runs one step; a failure becomes "<label> (Address: <step address>)".
template <typename Step> void GuardedStep(const char* label, const void* address, Step step)
{
    try {
        step();
    } catch (...) {
        ReportInternalError(
            rtl::Format("%s (Address: %0*zX)", label, int(sizeof(void*) * 2), reinterpret_cast<std::size_t>(address)));
    }
}

} // namespace

detail::TEngineState& detail::Engine()
{
    static TEngineState state;
    return state;
}

void ReportInternalError(const std::string& message)
{
    if (!crashreport::ReportInternalError(message)) std::fprintf(stderr, "%s\n", message.c_str());
}

bool HookEngineStarted()
{
    auto& engine = detail::Engine();
    std::lock_guard<std::recursive_mutex> lock(engine.Lock);
    return engine.References > 0;
}

void StartHookEngine()
{
    auto& engine = detail::Engine();
    std::lock_guard<std::recursive_mutex> lock(engine.Lock);
    if (engine.References++ > 0) return;
    GuardedStep("Hooking engine start-up", reinterpret_cast<const void*>(&StartHookEngine), [&] {
        engine.ImportHooks = new std::vector<TImportHook*>;
        engine.HookedMethods = new THookedMethodsList;
        engine.ProcedureHooks = new std::vector<TProcedureHook*>;
    });
}

void ShutdownHookEngine()
{
    auto& engine = detail::Engine();
    std::lock_guard<std::recursive_mutex> lock(engine.Lock);
    if (engine.References == 0 || --engine.References > 0) return;
    GuardedStep("Hooking engine shut-down", reinterpret_cast<const void*>(&ShutdownHookEngine), [&] {
        ForgetLaterInterceptions(nullptr);
        detail::RestoreAllImports();
        THookedMethodsList* methods = engine.HookedMethods;
        engine.HookedMethods = nullptr;
        delete methods;
        detail::RestoreAllProcedures();
    });
}

} // namespace crashreport::hook
