#include "crashreport/capture/thread_tracking.h"

#include "crashreport/capture/hook/hook_engine.h"
#include "crashreport/capture/thread_classes.h"
#include "platform/kernel/memory.h"
#include "platform/kernel/modules.h"
#include "platform/rtl/format.h"
#include "platform/rtl/thread.h"

#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <typeinfo>

namespace crashreport {
namespace {

using TPthreadCreate = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
using TPthreadExit = void (*)(void*);
using TResume = std::uint32_t (*)(kernel::THandle);
using TBody = void (*)(rtl::TThread*);

void BodyWrapper(rtl::TThread* self);

std::atomic<bool> g_started{false};
TTavrelThreadsList* g_threads = nullptr;
std::vector<std::string> g_modules;
std::atomic<TPthreadCreate> g_realCreate{nullptr};
std::atomic<TPthreadExit> g_realExit{nullptr};
std::atomic<TResume> g_realResume{nullptr};
std::atomic<TBodyExceptionHandler> g_bodyHandler{nullptr};

// The main executable's entries when this module delegates.
struct TDelegation {
    void (*Create)(const TTavrelThreadRecord*) = nullptr;
    void (*Resume)(kernel::THandle, const TTavrelThreadRecord*) = nullptr;
    void (*Exit)() = nullptr;
};
TDelegation g_delegation;

// Virtual tables whose body slot holds the body wrapper.
std::mutex g_bodyTablesLock;
std::vector<void*> g_bodyTables;

thread_local bool t_busyReporting = false;
thread_local std::uintptr_t t_stackTop = 0;

// Start routines are recognised by address; an address within 64 bytes counts.
bool IsNear(const void* a, const void* b)
{
    const auto x = reinterpret_cast<std::uintptr_t>(a), y = reinterpret_cast<std::uintptr_t>(b);
    return (x > y ? x - y : y - x) < 64;
}

std::uintptr_t CurrentStackTop()
{
    if (!t_stackTop) {
        std::uintptr_t bottom = 0;
        kernel::GetCurrentThreadStack(t_stackTop, bottom);
    }
    return t_stackTop;
}

// The kernel's resume without recording anything.
std::uint32_t RealResume(kernel::THandle handle)
{
    if (const TResume real = g_realResume)
        return real(handle);
    // Not known yet: the interception may be under way on another thread;
    // the engine's record tells (and waits for it to finish).
    if (const hook::TProcedureHook* h = hook::FindProcedureHook(reinterpret_cast<void*>(&kernel::ResumeThread)))
        return reinterpret_cast<TResume>(h->Trampoline)(handle);
    return kernel::ResumeThread(handle);
}

void* InterceptBody(rtl::TThread* object)
{
    void* vtable = *reinterpret_cast<void**>(object);
    void* previous = hook::InterceptVirtualMethod(vtable, rtl::TThread::BodySlot(), reinterpret_cast<void*>(&BodyWrapper));
    std::lock_guard<std::mutex> lock(g_bodyTablesLock);
    if (std::find(g_bodyTables.begin(), g_bodyTables.end(), vtable) == g_bodyTables.end())
        g_bodyTables.push_back(vtable);
    return previous;
}

TPthreadCreate RealCreate()
{
    const TPthreadCreate real = g_realCreate;
    return real ? real : reinterpret_cast<TPthreadCreate>(dlsym(RTLD_DEFAULT, "pthread_create"));
}

// What a thread started through a plain pthread_create needs on its new
// thread: its handle, its routine, and its record, which the thread appends
// itself before it runs any of the caller's code (so the creator need not
// wait for the new thread to learn its ID).
struct TSystemStart {
    kernel::THandle Handle;
    void* (*Start)(void*);
    void* Parameter;
    TTavrelThreadRecord* Record;
};

struct TFrameworkStart {
    kernel::TThreadStart Start;
    void* Parameter;
};

void RecordStackTop()
{
    if (!g_threads)
        return;
    g_threads->BeginWrite();
    const int i = g_threads->FindByID(kernel::GetCurrentThreadId());
    if (i >= 0)
        g_threads->Get(i)->StackTop = CurrentStackTop();
    g_threads->EndWrite();
}

void CopyCallerStack(TTavrelThreadRecord& r);

void* SystemStartWrapper(void* p)
{
    const TSystemStart start = *static_cast<TSystemStart*>(p);
    delete static_cast<TSystemStart*>(p);
    kernel::TThreadExitMark mark(start.Handle);
    kernel::EnterThread(start.Handle);
    TTavrelThreadRecord* record = start.Record;
    record->ThreadID = kernel::GetCurrentThreadId();
    record->StackTop = CurrentStackTop();
    bool appended = false;
    if (TTavrelThreadsList* threads = g_threads) {
        threads->BeginWrite();
        if (g_threads == threads && g_started) {  // tracking may have stopped meanwhile
            threads->Append(record);
            appended = true;
        }
        threads->EndWrite();
    }
    if (!appended)
        TTavrelThreadsList::FreeRecord(record);
    else if (g_delegation.Create)
        g_delegation.Create(record);
    return start.Start(start.Parameter);
}

std::intptr_t FrameworkStartWrapper(void* p)
{
    const TFrameworkStart start = *static_cast<TFrameworkStart*>(p);
    delete static_cast<TFrameworkStart*>(p);
    RecordStackTop();
    return start.Start(start.Parameter);
}

// Replaces Execute of every tracked framework thread class.
void BodyWrapper(rtl::TThread* self)
{
    TTavrelThreadRecord record{};
    bool found = false;
    if (g_threads) {
        g_threads->BeginWrite();
        const int i = g_threads->FindByThreadObject(self);
        if (i >= 0) {
            TTavrelThreadRecord* r = g_threads->Get(i);
            r->StackTop = CurrentStackTop();
            record = *r;  // private copy: the table may change while the body runs
            found = true;
        }
        g_threads->EndWrite();
    }
    auto body = reinterpret_cast<TBody>(record.SavedBodyMethod);
    if (!body)  // the slot's record still knows the method it replaced
        body = reinterpret_cast<TBody>(hook::InterceptVirtualMethod(*reinterpret_cast<void**>(self),
                                                                    rtl::TThread::BodySlot(),
                                                                    reinterpret_cast<void*>(&BodyWrapper)));
    if (!body || body == &BodyWrapper)
        return;
    try {
        body(self);
    } catch (...) {
        // Reported once here, on the thread itself; the framework's own
        // handling still gets the exception.
        if (found && record.ThreadID == kernel::GetCurrentThreadId())
            if (TBodyExceptionHandler handler = g_bodyHandler.load())
                handler(std::current_exception(), self);
        throw;
    }
}

void CopyCallerStack(TTavrelThreadRecord& r)
{
    TTavrelThreadsList::FreeStarterStack(r);
    std::uint8_t marker = 0;
    const auto position = reinterpret_cast<std::uintptr_t>(&marker);
    const std::uintptr_t top = CurrentStackTop();
    if (top <= position)
        return;
    // The range is the calling thread's own live stack, so it is readable.
    const std::size_t size = top - position;
    if (size > (std::size_t(64) << 20))
        return;
    r.StarterStack = new std::uint8_t[size];
    std::memcpy(r.StarterStack, reinterpret_cast<void*>(position), size);
    r.StarterStackSize = static_cast<std::uint32_t>(size);
}

template <typename Step>
void Guarded(const char* label, const void* address, Step step)
{
    try {
        step();
    } catch (const std::exception& e) {
        hook::ReportInternalError(rtl::Format("%s: %s (Address: %0*zX)", label, e.what(), int(sizeof(void*) * 2),
                                              reinterpret_cast<std::size_t>(address)));
    } catch (...) {
        hook::ReportInternalError(rtl::Format("%s (Address: %0*zX)", label, int(sizeof(void*) * 2),
                                              reinterpret_cast<std::size_t>(address)));
    }
}

} // namespace

std::vector<std::string> DefaultThreadModules() { return {"", "libstdc++.so.6"}; }

void SetBusyReporting(bool busy) { t_busyReporting = busy; }
bool IsBusyReporting() { return t_busyReporting; }
void SetBodyExceptionHandler(TBodyExceptionHandler handler) { g_bodyHandler = handler; }
bool ThreadTrackingStarted() { return g_started; }
TTavrelThreadsList* TrackedThreads() { return g_threads; }

void SetThreadTrackingDelegation(bool delegates)
{
    g_delegation = {};
    if (!delegates)
        return;
    std::unique_ptr<void, int (*)(void*)> self(dlopen(nullptr, RTLD_NOW), dlclose);
    if (!self)
        return;
    auto look = [&](const char* name, auto& slot, void* own) {
        void* p = dlsym(self.get(), name);
        if (p && p != own)  // our own entry is no delegation
            slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(p);
    };
    look("TavrelLog_CallCreateThread", g_delegation.Create, reinterpret_cast<void*>(&TavrelLog_CallCreateThread));
    look("TavrelLog_CallResumeThread", g_delegation.Resume, reinterpret_cast<void*>(&TavrelLog_CallResumeThread));
    look("TavrelLog_CallExitThread", g_delegation.Exit, reinterpret_cast<void*>(&TavrelLog_CallExitThread));
}

int CreateThreadInterceptor(pthread_t* thread, const pthread_attr_t* attr, void* (*start)(void*), void* arg)
{
    const TPthreadCreate real = RealCreate();
    if (!g_started || !g_threads)
        return real(thread, attr, start, arg);

    g_threads->Purge();
    TTavrelThreadRecord* record = g_threads->NewRecord(false);
    record->StartParameter = arg;
    kernel::THandle handle = 0;
    bool held = false;             // we hold the thread at its gate
    bool callerSuspended = false;  // the caller asked for a suspended thread
    bool untracked = false;
    kernel::TThreadStartBlock* block = nullptr;
    kernel::TThreadStartBlock original{};

    if (!IsNear(reinterpret_cast<void*>(start), reinterpret_cast<void*>(&kernel::RuntimeThreadWrapper))) {
        // Started directly through the system: our wrapper runs first and puts
        // the record in the table; the creator is its starter, as if it had
        // resumed it.
        record->SystemStartRoutine = reinterpret_cast<void*>(start);
        handle = kernel::PrepareThread(false);
        record->Handle = handle;
        record->OwnsHandle = true;
        record->StarterThreadID = kernel::GetCurrentThreadId();
        CopyCallerStack(*record);
        auto* systemStart = new TSystemStart{handle, start, arg, record};
        const int rc = real(thread, attr, &SystemStartWrapper, systemStart);
        if (rc != 0) {
            delete systemStart;
            TTavrelThreadsList::FreeRecord(record);
        }
        return rc;
    } else {
        block = static_cast<kernel::TThreadStartBlock*>(arg);
        original = *block;
        handle = block->Handle;
        if (IsNear(reinterpret_cast<void*>(block->Start), reinterpret_cast<void*>(&rtl::TThread::ThreadProc))) {
            auto* object = static_cast<rtl::TThread*>(block->Parameter);
            record->FrameworkStartRoutine = reinterpret_cast<void*>(block->Start);
            record->StartParameter = object;
            record->ThreadObject = object;
            untracked = IsUntrackedThreadClass(typeid(*object));
            if (!untracked)
                record->SavedBodyMethod = InterceptBody(object);
        } else {
            record->FrameworkStartRoutine = reinterpret_cast<void*>(block->Start);
            record->StartParameter = block->Parameter;
            block->Parameter = new TFrameworkStart{block->Start, block->Parameter};
            block->Start = &FrameworkStartWrapper;
        }
        // Our own hold on the gate; the caller's request shows in the count.
        const std::uint32_t previous = kernel::SuspendThread(handle);
        held = previous != kernel::kSuspendFailed;
        callerSuspended = held && previous > 0;
    }

    const int rc = real(thread, attr, start, arg);
    if (rc != 0) {
        if (block->Start == &FrameworkStartWrapper)
            delete static_cast<TFrameworkStart*>(block->Parameter);
        *block = original;
        if (held)
            RealResume(handle);
        TTavrelThreadsList::FreeRecord(record);
        return rc;
    }

    record->ThreadID = kernel::WaitForThreadId(handle);
    record->Handle = handle;
    if (untracked) {
        TTavrelThreadsList::FreeRecord(record);
        if (held)
            RealResume(handle);
        return rc;
    }
    g_threads->BeginWrite();
    g_threads->Append(record);
    g_threads->EndWrite();
    if (g_delegation.Create)
        g_delegation.Create(record);
    // Let go of our hold: through the interceptor (which records us as the
    // starter) unless the caller wants the thread to stay suspended.
    if (held)
        callerSuspended ? RealResume(handle) : ResumeThreadInterceptor(handle);
    return rc;
}

std::uint32_t ResumeThreadInterceptor(kernel::THandle handle)
{
    if (g_started && g_threads && !t_busyReporting) {
        g_threads->BeginWrite();
        const int i = g_threads->FindByHandle(handle);
        TTavrelThreadRecord* r = i >= 0 ? g_threads->Get(i) : nullptr;
        if (r) {
            r->StarterThreadID = kernel::GetCurrentThreadId();
            CopyCallerStack(*r);
        }
        g_threads->EndWrite();
        if (r && g_delegation.Resume)
            g_delegation.Resume(handle, r);
    }
    return RealResume(handle);
}

void ExitThreadInterceptor(void* result)
{
    if (g_started && g_threads) {
        g_threads->RemoveCurrentThread();
        if (g_delegation.Exit)
            g_delegation.Exit();
    }
    TPthreadExit real = g_realExit;
    if (!real)
        real = reinterpret_cast<TPthreadExit>(dlsym(RTLD_DEFAULT, "pthread_exit"));
    real(result);
    __builtin_unreachable();
}

bool StartThreadTracking(const std::vector<std::string>& modules)
{
    if (g_started)
        return true;
    hook::StartHookEngine();
    g_threads = new TTavrelThreadsList;
    g_modules = modules;

    TTavrelThreadRecord* main = g_threads->NewRecord(true);
    main->ThreadID = kernel::MainThreadId();
    main->Handle = kernel::OpenThread(main->ThreadID);
    main->OwnsHandle = true;
    if (kernel::GetCurrentThreadId() == kernel::MainThreadId()) {
        main->StackTop = CurrentStackTop();
    } else {
        for (const auto& region : kernel::ListMemoryRegions())  // started from another thread
            if (std::strcmp(region.Name, "[stack]") == 0)
                main->StackTop = region.End;
    }

    Guarded("Thread resumption interceptor", reinterpret_cast<void*>(&ResumeThreadInterceptor), [] {
        g_realResume = reinterpret_cast<TResume>(hook::InterceptProcedure(
            reinterpret_cast<void*>(&kernel::ResumeThread), reinterpret_cast<void*>(&ResumeThreadInterceptor),
            "kernel.ResumeThread"));
    });
    Guarded("Thread creation interceptor", reinterpret_cast<void*>(&CreateThreadInterceptor), [&] {
        void* real = nullptr;
        hook::InterceptModuleImports(modules, "libc.so.6", true, real, reinterpret_cast<void*>(&CreateThreadInterceptor),
                                     "pthread_create");
        g_realCreate = reinterpret_cast<TPthreadCreate>(real);
    });
    Guarded("Thread exit interceptor", reinterpret_cast<void*>(&ExitThreadInterceptor), [&] {
        void* real = nullptr;
        hook::InterceptModuleImports(modules, "libc.so.6", true, real, reinterpret_cast<void*>(&ExitThreadInterceptor),
                                     "pthread_exit");
        g_realExit = reinterpret_cast<TPthreadExit>(real);
    });
    g_started = true;
    return true;
}

void StopThreadTracking()
{
    if (!g_started)
        return;
    g_started = false;
    hook::RestoreImports(reinterpret_cast<void*>(&CreateThreadInterceptor));
    hook::RestoreImports(reinterpret_cast<void*>(&ExitThreadInterceptor));
    hook::RestoreProcedure(reinterpret_cast<void*>(&kernel::ResumeThread));
    g_realResume = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_bodyTablesLock);
        for (void* vtable : g_bodyTables)
            hook::RestoreVirtualMethod(vtable, rtl::TThread::BodySlot());
        g_bodyTables.clear();
    }
    hook::ShutdownHookEngine();
    // The list object stays: a thread that read the pointer just before may
    // still take its lock. Its records go.
    TTavrelThreadsList* threads = g_threads;
    threads->BeginWrite();
    g_threads = nullptr;
    while (threads->Count() > 0)
        threads->Delete(threads->Count() - 1);
    threads->EndWrite();
}

} // namespace crashreport

using crashreport::TTavrelThreadRecord;
using crashreport::TTavrelThreadsList;

void TavrelLog_CallCreateThread(const TTavrelThreadRecord* record)
{
    TTavrelThreadsList* threads = crashreport::TrackedThreads();
    if (!crashreport::ThreadTrackingStarted() || !threads || !record)
        return;
    threads->Purge();
    auto* r = threads->NewRecord(false);
    std::memcpy(r, record, crashreport::kThreadRecordCopySize);
    r->StackCopyNotOwned = record->StackCopyNotOwned;
    r->OwnsHandle = false;
    threads->BeginWrite();
    threads->Append(r);
    threads->EndWrite();
}

void TavrelLog_CallResumeThread(kernel::THandle handle, const TTavrelThreadRecord* record)
{
    TTavrelThreadsList* threads = crashreport::TrackedThreads();
    if (!crashreport::ThreadTrackingStarted() || !threads || !record || crashreport::IsBusyReporting())
        return;
    threads->BeginWrite();
    const int i = threads->FindByHandle(handle);
    if (i >= 0) {
        TTavrelThreadRecord* r = threads->Get(i);
        TTavrelThreadsList::FreeStarterStack(*r);
        std::memcpy(r, record, crashreport::kThreadRecordCopySize);
        r->StackCopyNotOwned = 1;
    }
    threads->EndWrite();
}

void TavrelLog_CallExitThread()
{
    TTavrelThreadsList* threads = crashreport::TrackedThreads();
    if (crashreport::ThreadTrackingStarted() && threads)
        threads->RemoveCurrentThread();
}
