#include "crashreport/hook/module_loading.h"

#include "crashreport/hook/hook_engine.h"
#include "crashreport/hook/hook_state.h"
#include "platform/kernel/libraries.h"
#include "platform/kernel/memory.h"
#include "platform/kernel/modules.h"

#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <exception>

namespace crashreport::hook {
namespace {

struct TLaterInterception {
    void* Real = nullptr;
    void* Replacement = nullptr;
    std::string Name;
};

// Kept to the end of the process, like the engine's other lists: a module
// may be loaded while static objects are destroyed. Guarded by the engine's lock.
std::vector<TLaterInterception>& LaterInterceptions()
{
    static auto* list = new std::vector<TLaterInterception>;
    return *list;
}

std::vector<TModuleLoadObserver>& LoadObservers()
{
    static auto* list = new std::vector<TModuleLoadObserver>;
    return *list;
}

// Outside the engine's lock: an observer may intercept procedures, and the
// loading thread holds no lock of ours here.
void NotifyLoadObservers()
{
    std::vector<TModuleLoadObserver> observers;
    {
        std::lock_guard<std::recursive_mutex> lock(detail::Engine().Lock);
        observers = LoadObservers();
    }
    for (TModuleLoadObserver observer : observers) observer();
}

using TDlopen = void* (*)(const char*, int);
using TDlmopen = void* (*)(Lmid_t, const char*, int);
using TDlclose = int (*)(void*);
std::atomic<TDlopen> g_dlopen{nullptr};
std::atomic<TDlmopen> g_dlmopen{nullptr};
std::atomic<TDlclose> g_dlclose{nullptr};

bool IsSkippedModule(const kernel::TModuleImage& module)
{
    return module.Path.empty() || module.Path.find("linux-vdso") != std::string::npos ||
        module.Path.find("/ld-linux") != std::string::npos;
}

int PatchModules(const std::vector<kernel::TModuleImage>& modules, const TLaterInterception& i)
{
    int patched = 0;
    for (const kernel::TModuleImage& module : modules) {
        if (IsSkippedModule(module)) continue;
        try {
            if (detail::InterceptImportIn(module, "", i.Real, i.Replacement, false, true, i.Name)) ++patched;
        } catch (const std::exception& e) {
            ReportInternalError(i.Name + ": " + e.what());
        }
    }
    return patched;
}

// After a load: every interception in every module. Cells patched already
// hold the replacement and are not matched again, so the modules present
// before cost one look each.
void InterceptInLoadedModules()
{
    auto& engine = detail::Engine();
    std::lock_guard<std::recursive_mutex> lock(engine.Lock);
    if (engine.References == 0) return;
    const auto modules = kernel::EnumerateModules();
    kernel::TMemoryMapReading reading; // each patch puts back what it changes
    for (const TLaterInterception& i : LaterInterceptions()) PatchModules(modules, i);
}

// After an unload: the records of modules that are gone are dropped, so the
// shut-down never writes into memory that no longer belongs to them.
void ForgetUnloadedModules()
{
    auto& engine = detail::Engine();
    std::lock_guard<std::recursive_mutex> lock(engine.Lock);
    const auto modules = kernel::EnumerateModules();
    auto loaded = [&](std::uintptr_t handle) {
        return std::any_of(modules.begin(), modules.end(),
                           [&](const kernel::TModuleImage& m) { return m.Handle == handle; });
    };
    if (engine.ImportHooks)
        std::erase_if(*engine.ImportHooks, [&](TImportHook* h) {
            if (loaded(h->Module)) return false;
            delete h;
            return true;
        });
    if (engine.KnownImports)
        std::erase_if(*engine.KnownImports, [&](const detail::TKnownImports& k) { return !loaded(k.Handle); });
    engine.DefinitionsOf = nullptr;
}

void* FollowedDlopen(const char* file, int mode)
{
    void* handle = g_dlopen.load()(file, mode);
    if (handle) {
        InterceptInLoadedModules();
        NotifyLoadObservers();
    }
    return handle;
}

void* FollowedDlmopen(Lmid_t namespaceId, const char* file, int mode)
{
    void* handle = g_dlmopen.load()(namespaceId, file, mode);
    if (handle) {
        InterceptInLoadedModules();
        NotifyLoadObservers();
    }
    return handle;
}

int FollowedDlclose(void* handle)
{
    const int result = g_dlclose.load()(handle);
    if (result == 0) ForgetUnloadedModules();
    return result;
}

template <typename T> bool Follow(const char* name, std::atomic<T>& real, T replacement)
{
    T function = real.load();
    if (!function) {
        function = reinterpret_cast<T>(kernel::FindGlobalSymbol(name));
        if (!function) return false;
        real.store(function);
    }
    InterceptInEveryModule(reinterpret_cast<void*>(function), reinterpret_cast<void*>(replacement), name);
    return true;
}

} // namespace

int InterceptInEveryModule(void* real, void* replacement, const char* name)
{
    auto& engine = detail::Engine();
    std::lock_guard<std::recursive_mutex> lock(engine.Lock);
    auto& later = LaterInterceptions();
    if (std::none_of(later.begin(), later.end(),
                     [&](const TLaterInterception& i) { return i.Real == real && i.Replacement == replacement; }))
        later.push_back({real, replacement, name});
    kernel::TMemoryMapReading reading; // each patch puts back what it changes
    return PatchModules(kernel::EnumerateModules(), {real, replacement, name});
}

bool FollowModuleLoading()
{
    const bool open = Follow("dlopen", g_dlopen, &FollowedDlopen);
    const bool close = Follow("dlclose", g_dlclose, &FollowedDlclose);
    Follow("dlmopen", g_dlmopen, &FollowedDlmopen); // not every C library has it
    return open && close;
}

void AddModuleLoadObserver(TModuleLoadObserver observer)
{
    std::lock_guard<std::recursive_mutex> lock(detail::Engine().Lock);
    auto& observers = LoadObservers();
    if (std::find(observers.begin(), observers.end(), observer) == observers.end()) observers.push_back(observer);
}

void ForgetLaterInterceptions(void* replacement)
{
    auto& engine = detail::Engine();
    std::lock_guard<std::recursive_mutex> lock(engine.Lock);
    std::erase_if(LaterInterceptions(),
                  [&](const TLaterInterception& i) { return !replacement || i.Replacement == replacement; });
}

} // namespace crashreport::hook
