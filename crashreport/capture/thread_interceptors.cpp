// The interceptors of thread creation, resumption and exit, and the start
// wrappers that run first on every new thread.
#include "crashreport/capture/thread_classes.h"
#include "crashreport/capture/thread_tracking_state.h"
#include "platform/kernel/signal_stack.h"
#include "platform/rtl/thread.h"

#include <dlfcn.h>

#include <typeinfo>

namespace crashreport {
namespace {

using namespace detail;

// Start routines are recognised by address; an address within 64 bytes counts.
bool IsNear(const void* a, const void* b)
{
    const auto x = reinterpret_cast<std::uintptr_t>(a), y = reinterpret_cast<std::uintptr_t>(b);
    return (x > y ? x - y : y - x) < 64;
}

TPthreadCreate RealCreate()
{
    const TPthreadCreate real = Tracking().RealCreate;
    return real ? real : reinterpret_cast<TPthreadCreate>(dlsym(RTLD_DEFAULT, "pthread_create"));
}

// What a thread started through a plain pthread_create needs on its new
// thread: its handle, its routine, and its record, which the thread appends
// itself before it runs any of the caller's code (so the creator need not
// wait for the new thread to learn its ID). The routine travels here too, so
// the thread runs its code even when tracking stopped meanwhile.
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
    if (TTavrelThreadsList* threads = Tracking().Threads.load()) {
        threads->BeginWrite();
        if (ActiveThreads() == threads) {  // tracking may have stopped meanwhile
            threads->Append(record);
            appended = true;
        }
        threads->EndWrite();
    }
    if (!appended)
        TTavrelThreadsList::FreeRecord(record);
    else if (Tracking().Delegation.Create) {
        // The program's table gets the record, never the starter stack copy:
        // that stays this module's to free.
        TTavrelThreadRecord shared = *record;
        shared.StackCopyNotOwned = 1;
        Tracking().Delegation.Create(&shared);
    }
    kernel::RunThreadStartHook();
    return start.Start(start.Parameter);
}

std::intptr_t FrameworkStartWrapper(void* p)
{
    const TFrameworkStart start = *static_cast<TFrameworkStart*>(p);
    delete static_cast<TFrameworkStart*>(p);
    if (TTavrelThreadsList* threads = ActiveThreads()) {
        threads->BeginWrite();
        const int i = threads->FindByID(kernel::GetCurrentThreadId());
        if (i >= 0)
            threads->Get(i)->StackTop = CurrentStackTop();
        threads->EndWrite();
    }
    return start.Start(start.Parameter);
}

// A thread started directly through the system: our wrapper runs first and
// puts the record in the table; the creator is its starter, as if it had
// resumed it.
int CreateSystemThread(TTavrelThreadRecord* record, pthread_t* thread, const pthread_attr_t* attr,
                       void* (*start)(void*), void* arg)
{
    const kernel::THandle handle = kernel::PrepareThread(false);
    record->SystemStartRoutine = reinterpret_cast<void*>(start);
    record->Handle = handle;
    record->OwnsHandle = true;
    record->StarterThreadID = kernel::GetCurrentThreadId();
    CopyCallerStack(*record);
    auto* systemStart = new TSystemStart{handle, start, arg, record};
    const int rc = RealCreate()(thread, attr, &SystemStartWrapper, systemStart);
    if (rc != 0) {
        delete systemStart;
        TTavrelThreadsList::FreeRecord(record);
    }
    return rc;
}

} // namespace

int CreateThreadInterceptor(pthread_t* thread, const pthread_attr_t* attr, void* (*start)(void*), void* arg)
{
    TTavrelThreadsList* threads = ActiveThreads();
    if (!threads)
        return RealCreate()(thread, attr, start, arg);

    threads->Purge();
    TTavrelThreadRecord* record = threads->NewRecord(false);
    record->StartParameter = arg;
    if (!IsNear(reinterpret_cast<void*>(start), reinterpret_cast<void*>(&kernel::RuntimeThreadWrapper)))
        return CreateSystemThread(record, thread, attr, start, arg);

    // The kernel layer's thread: the parameter is its start block.
    auto* block = static_cast<kernel::TThreadStartBlock*>(arg);
    const kernel::TThreadStartBlock original = *block;
    const kernel::THandle handle = block->Handle;
    bool untracked = false;
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
    const bool held = previous != kernel::kSuspendFailed;
    const bool callerSuspended = held && previous > 0;

    const int rc = RealCreate()(thread, attr, start, arg);
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
    threads->BeginWrite();
    threads->Append(record);
    threads->EndWrite();
    if (Tracking().Delegation.Create)
        Tracking().Delegation.Create(record);
    // Let go of our hold: through the interceptor (which records us as the
    // starter) unless the caller wants the thread to stay suspended.
    if (held)
        callerSuspended ? RealResume(handle) : ResumeThreadInterceptor(handle);
    return rc;
}

std::uint32_t ResumeThreadInterceptor(kernel::THandle handle)
{
    TTavrelThreadsList* threads = ActiveThreads();
    if (threads && !IsBusyReporting()) {
        threads->BeginWrite();
        const int i = threads->FindByHandle(handle);
        TTavrelThreadRecord* r = i >= 0 ? threads->Get(i) : nullptr;
        if (r) {
            r->StarterThreadID = kernel::GetCurrentThreadId();
            CopyCallerStack(*r);
        }
        threads->EndWrite();
        if (r && Tracking().Delegation.Resume)
            Tracking().Delegation.Resume(handle, r);
    }
    return RealResume(handle);
}

void ExitThreadInterceptor(void* result)
{
    if (TTavrelThreadsList* threads = ActiveThreads()) {
        threads->RemoveCurrentThread();
        if (Tracking().Delegation.Exit)
            Tracking().Delegation.Exit();
    }
    TPthreadExit real = Tracking().RealExit;
    if (!real)
        real = reinterpret_cast<TPthreadExit>(dlsym(RTLD_DEFAULT, "pthread_exit"));
    real(result);
    __builtin_unreachable();
}

} // namespace crashreport
