// Start and stop of thread tracking, and the state its parts share.
#include "crashreport/hook/hook_engine.h"
#include "crashreport/threads/thread_tracking_state.h"
#include "platform/kernel/libraries.h"
#include "platform/kernel/modules.h"
#include "platform/kernel/memory.h"
#include "platform/rtl/format.h"

#include <cstring>
#include <memory>
#include <type_traits>

namespace crashreport {
namespace detail {

thread_local bool t_busyReporting = false;

TTrackingState& Tracking()
{
    static TTrackingState state;
    return state;
}

TTavrelThreadsList* ActiveThreads()
{
    auto& state = Tracking();
    return state.Started ? state.Threads.load() : nullptr;
}

std::uintptr_t CurrentStackTop()
{
    std::uintptr_t top = 0, bottom = 0;
    kernel::GetCurrentThreadStack(top, bottom); // asked of glibc once per thread
    return top;
}

std::uint32_t RealResume(kernel::THandle handle)
{
    if (const TResume real = Tracking().RealResume) return real(handle);
    // Not known yet: the interception may be under way on another thread;
    // the engine's record tells (and waits for it to finish).
    if (const hook::TProcedureHook* h = hook::FindProcedureHook(reinterpret_cast<void*>(&kernel::ResumeThread)))
        return reinterpret_cast<TResume>(h->Trampoline)(handle);
    return kernel::ResumeThread(handle);
}

// Copies bytes of a live stack with plain loads, which the memory checker
// does not take for overflows of the frames' guard zones (its memcpy would).
// The copy is a picture of the stack for the report: objects on it that
// other threads change at the time (a latch, an atomic) are copied as they
// happen to be, so the race checker does not look at these loads either.
__attribute__((no_sanitize("address", "thread"))) static void CopyStackBytes(std::uint8_t* to, std::uintptr_t from,
                                                                   std::size_t size)
{
    const auto* source = reinterpret_cast<const volatile std::uint8_t*>(from);
    for (std::size_t i = 0; i < size; ++i) to[i] = source[i];
}

thread_local std::uintptr_t t_interceptorFramesEnd = 0;

std::uintptr_t InterceptorFramesEnd() { return t_interceptorFramesEnd; }

TInterceptorFrame::TInterceptorFrame(std::uintptr_t callerStack) : outermost_(t_interceptorFramesEnd == 0)
{
    if (outermost_) t_interceptorFramesEnd = callerStack;
}

TInterceptorFrame::~TInterceptorFrame()
{
    if (outermost_) t_interceptorFramesEnd = 0;
}

void CopyCallerStack(TTavrelThreadRecord& r, std::uintptr_t framesFrom)
{
    TTavrelThreadsList::FreeStarterStack(r);
    kernel::TThreadContext context{};
    kernel::CaptureCallerContext(context);
    // From this frame's stack pointer on: the registers walk the copy from here.
    const std::uintptr_t position = kernel::StackPointer(context);
    const std::uintptr_t top = CurrentStackTop();
    if (top <= position) return;
    // The range is the calling thread's own live stack, so it is readable.
    const std::size_t size = top - position;
    if (size > (std::size_t(64) << 20)) return;
    r.StarterStack = new std::uint8_t[size];
    CopyStackBytes(r.StarterStack, position, size);
    r.StarterStackSize = static_cast<std::uint32_t>(size);
    r.StarterStackStart = position;
    r.StarterFramesFrom = framesFrom;
    r.StarterContext = context;
    r.HasStarterContext = true;
}

} // namespace detail

namespace {

using namespace detail;

// One start-up step; a failure becomes an internal error, never a stop.
template <typename Step> void Guarded(const char* label, const void* address, Step step)
{
    try {
        step();
    } catch (...) {
        hook::ReportInternalError(
            rtl::Format("%s (Address: %0*zX)", label, int(sizeof(void*) * 2), reinterpret_cast<std::size_t>(address)));
    }
}

} // namespace

std::vector<std::string> DefaultThreadModules() { return {"", "libstdc++.so.6"}; }

void SetBusyReporting(bool busy) { t_busyReporting = busy; }
bool IsBusyReporting() { return t_busyReporting; }
void SetBodyExceptionHandler(TBodyExceptionHandler handler) { Tracking().BodyHandler = handler; }
bool ThreadTrackingStarted() { return Tracking().Started; }
TTavrelThreadsList* TrackedThreads() { return ActiveThreads(); }

namespace {
__attribute__((visibility("hidden"), noinline)) void ModuleMarker() { asm volatile(""); }

// Intercepts a libc function in the named modules' imports and answers the
// function the interceptor passes on to. When a library placed before libc
// replaces the function for the whole process (a sanitizer's runtime does),
// the cells hold that replacement: it is intercepted and passed on to.
void* InterceptLibcImport(const std::vector<std::string>& modules, void* replacement, const char* name)
{
    void* real = nullptr;
    if (hook::InterceptModuleImports(modules, "libc.so.6", true, real, replacement, name)) return real;
    void* bound = kernel::FindGlobalSymbol(name);
    if (!bound || bound == real) return real;
    for (const std::string& moduleName : modules) {
        kernel::TModuleImage module;
        if (kernel::FindModuleByName(moduleName, module))
            hook::InterceptImport(module.Handle, "", bound, replacement, false, true, name);
    }
    return bound;
}

} // namespace

void SetThreadTrackingDelegation(bool delegates)
{
    TDelegation& delegation = Tracking().Delegation;
    delegation = {};
    if (!delegates) return;
    // Which module this copy lives in comes from a function nobody can take
    // the place of: this module's own references to the exported entries
    // bind to the program's copies when the program exports them.
    kernel::TModuleImage own;
    if (!kernel::FindModuleByAddress(reinterpret_cast<const void*>(&ModuleMarker), own) || own.IsMainExecutable) return;
    auto look = [&](const char* name, auto& slot) {
        void* p = kernel::FindGlobalSymbol(name);
        if (p && !own.Contains(p)) // our own entry is no delegation
            slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(p);
    };
    look("TavrelLog_CallCreateThread", delegation.Create);
    look("TavrelLog_CallResumeThread", delegation.Resume);
    look("TavrelLog_CallExitThread", delegation.Exit);
}

bool StartThreadTracking(const std::vector<std::string>& modules)
{
    auto& state = Tracking();
    if (state.Started) return true;
    // Every module that tracks threads defines the exported entries itself,
    // even when a library linked before it exports the same names.
    detail::LinkExportedEntries();
    hook::StartHookEngine();
    TTavrelThreadsList* threads = state.Threads.load();
    if (!threads) {
        threads = new TTavrelThreadsList;
        state.Threads = threads;
    }

    TThreadRecordOwner main = TTavrelThreadsList::NewRecord();
    main->ThreadID = kernel::MainThreadId();
    main->Handle = kernel::OpenThread(main->ThreadID);
    main->OwnsHandle = true;
    if (kernel::GetCurrentThreadId() == kernel::MainThreadId()) {
        main->StackTop = CurrentStackTop();
    } else {
        for (const auto& region : kernel::ListMemoryRegions()) // started from another thread
            if (std::strcmp(region.Name, "[stack]") == 0) main->StackTop = region.End;
    }
    {
        TThreadsListWriteLock lock(*threads);
        threads->Append(std::move(main));
    }

    Guarded("Thread resumption interceptor", reinterpret_cast<void*>(&ResumeThreadInterceptor), [&] {
        state.RealResume = reinterpret_cast<TResume>(
            hook::InterceptProcedure(reinterpret_cast<void*>(&kernel::ResumeThread),
                                     reinterpret_cast<void*>(&ResumeThreadInterceptor), "kernel.ResumeThread"));
    });
    Guarded("Thread creation interceptor", reinterpret_cast<void*>(&CreateThreadInterceptor), [&] {
        state.RealCreate = reinterpret_cast<TPthreadCreate>(
            InterceptLibcImport(modules, reinterpret_cast<void*>(&CreateThreadInterceptor), "pthread_create"));
    });
    Guarded("Thread exit interceptor", reinterpret_cast<void*>(&ExitThreadInterceptor), [&] {
        state.RealExit = reinterpret_cast<TPthreadExit>(
            InterceptLibcImport(modules, reinterpret_cast<void*>(&ExitThreadInterceptor), "pthread_exit"));
    });
    state.Started = true;
    return true;
}

void StopThreadTracking()
{
    auto& state = Tracking();
    if (!state.Started) return;
    hook::RestoreImports(reinterpret_cast<void*>(&CreateThreadInterceptor));
    hook::RestoreImports(reinterpret_cast<void*>(&ExitThreadInterceptor));
    hook::RestoreProcedure(reinterpret_cast<void*>(&kernel::ResumeThread));
    state.RealResume = nullptr;
    RestoreBodies();
    hook::ShutdownHookEngine();
    // The list object stays (see TTrackingState); its records go.
    TTavrelThreadsList* threads = state.Threads.load();
    TThreadsListWriteLock lock(*threads);
    state.Started = false;
    while (threads->Count() > 0) threads->Delete(threads->Count() - 1);
}

} // namespace crashreport
