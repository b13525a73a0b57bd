// The interceptors of thread creation, resumption and exit, and the start
// wrappers that run first on every new thread.
#include "crashreport/threads/thread_classes.h"
#include "crashreport/threads/thread_tracking_state.h"
#include "platform/kernel/libraries.h"
#include "platform/kernel/signal_stack.h"
#include "platform/rtl/thread.h"

#include <memory>
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
    return real ? real : reinterpret_cast<TPthreadCreate>(kernel::FindGlobalSymbol("pthread_create"));
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
    TThreadRecordOwner Record;
};

struct TFrameworkStart {
    kernel::TThreadStart Start;
    void* Parameter;
};

void* SystemStartWrapper(void* p)
{
    // The creator handed its start block over; the routine runs after the
    // block is gone, so its locals are copied out first.
    std::unique_ptr<TSystemStart> start(static_cast<TSystemStart*>(p));
    void* (*const routine)(void*) = start->Start;
    void* const parameter = start->Parameter;
    kernel::TThreadExitMark mark(start->Handle);
    kernel::EnterThread(start->Handle);
    TThreadRecordOwner record = std::move(start->Record);
    start.reset();
    record->ThreadID = kernel::GetCurrentThreadId();
    record->StackTop = CurrentStackTop();
    TTavrelThreadRecord* appended = nullptr;
    if (TTavrelThreadsList* threads = Tracking().Threads.load()) {
        TThreadsListWriteLock lock(*threads);
        if (ActiveThreads() == threads) // tracking may have stopped meanwhile
            appended = threads->Append(std::move(record));
    }
    record.reset(); // not taken: tracking stopped
    if (appended && Tracking().Delegation.Create) {
        // The program's table gets the record, never the starter stack copy:
        // that stays this module's to free.
        TTavrelThreadRecord shared = *appended;
        shared.StackCopyNotOwned = 1;
        Tracking().Delegation.Create(&shared);
    }
    kernel::RunThreadStartHook();
    return routine(parameter);
}

std::intptr_t FrameworkStartWrapper(void* p)
{
    const TFrameworkStart start = *std::unique_ptr<TFrameworkStart>(static_cast<TFrameworkStart*>(p));
    if (TTavrelThreadsList* threads = ActiveThreads()) {
        TThreadsListWriteLock lock(*threads);
        const int i = threads->FindByID(kernel::GetCurrentThreadId());
        if (i >= 0) threads->Get(i)->StackTop = CurrentStackTop();
    }
    return start.Start(start.Parameter);
}

// A thread started directly through the system: our wrapper runs first and
// puts the record in the table; the creator is its starter, as if it had
// resumed it.
int CreateSystemThread(TThreadRecordOwner record, pthread_t* thread, const pthread_attr_t* attr, void* (*start)(void*),
                       void* arg)
{
    const kernel::THandle handle = kernel::PrepareThread(false);
    record->SystemStartRoutine = reinterpret_cast<void*>(start);
    record->Handle = handle;
    record->OwnsHandle = true;
    record->StarterThreadID = kernel::GetCurrentThreadId();
    CopyCallerStack(*record, InterceptorFramesEnd());
    auto systemStart = std::make_unique<TSystemStart>(TSystemStart{handle, start, arg, std::move(record)});
    const int rc = RealCreate()(thread, attr, &SystemStartWrapper, systemStart.get());
    if (rc == 0) systemStart.release(); // the new thread owns it now
    return rc;
}

} // namespace

// The stack position of the caller of the function that uses it: the
// frame's CFA (the frame pointer this forces, plus the saved frame pointer
// and the return address).
#define TAVREL_CALLER_STACK() (reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0)) + 2 * sizeof(void*))

int CreateThreadInterceptor(pthread_t* thread, const pthread_attr_t* attr, void* (*start)(void*), void* arg)
{
    TTavrelThreadsList* threads = ActiveThreads();
    if (!threads) return RealCreate()(thread, attr, start, arg);
    const TInterceptorFrame frame(TAVREL_CALLER_STACK());

    threads->Purge();
    TThreadRecordOwner record = TTavrelThreadsList::NewRecord();
    record->StartParameter = arg;
    if (!IsNear(reinterpret_cast<void*>(start), reinterpret_cast<void*>(&kernel::RuntimeThreadWrapper)))
        return CreateSystemThread(std::move(record), thread, attr, start, arg);

    // The kernel layer's thread: the parameter is its start block.
    auto* block = static_cast<kernel::TThreadStartBlock*>(arg);
    const kernel::TThreadStartBlock original = *block;
    const kernel::THandle handle = block->Handle;
    std::unique_ptr<TFrameworkStart> frameworkStart; // handed to the new thread's wrapper
    bool untracked = false;
    if (IsNear(reinterpret_cast<void*>(block->Start), reinterpret_cast<void*>(&rtl::TThread::ThreadProc))) {
        auto* object = static_cast<rtl::TThread*>(block->Parameter);
        record->FrameworkStartRoutine = reinterpret_cast<void*>(block->Start);
        record->StartParameter = object;
        record->ThreadObject = object;
        record->ThreadObjectType = &typeid(*object);
        untracked = IsUntrackedThreadClass(typeid(*object));
        if (!untracked) record->SavedBodyMethod = InterceptBody(object);
    } else {
        record->FrameworkStartRoutine = reinterpret_cast<void*>(block->Start);
        record->StartParameter = block->Parameter;
        frameworkStart = std::make_unique<TFrameworkStart>(TFrameworkStart{block->Start, block->Parameter});
        block->Parameter = frameworkStart.get();
        block->Start = &FrameworkStartWrapper;
    }
    // Our own hold on the gate; the caller's request shows in the count.
    const std::uint32_t previous = kernel::SuspendThread(handle);
    const bool held = previous != kernel::kSuspendFailed;
    const bool callerSuspended = held && previous > 0;

    const int rc = RealCreate()(thread, attr, start, arg);
    if (rc != 0) {
        *block = original; // frameworkStart frees the block it no longer names
        if (held) RealResume(handle);
        return rc;
    }
    frameworkStart.release(); // the new thread's wrapper owns it now

    record->ThreadID = kernel::PublishCreatedThreadId(handle, *thread);
    record->Handle = handle;
    if (untracked) {
        record.reset();
        if (held) RealResume(handle);
        return rc;
    }
    TTavrelThreadRecord* appended;
    {
        TThreadsListWriteLock lock(*threads);
        appended = threads->Append(std::move(record));
    }
    if (Tracking().Delegation.Create) Tracking().Delegation.Create(appended);
    // Let go of our hold: through the interceptor (which records us as the
    // starter) unless the caller wants the thread to stay suspended.
    if (held) callerSuspended ? RealResume(handle) : ResumeThreadInterceptor(handle);
    return rc;
}

std::uint32_t ResumeThreadInterceptor(kernel::THandle handle)
{
    TTavrelThreadsList* threads = ActiveThreads();
    if (threads && !IsBusyReporting()) {
        const TInterceptorFrame frame(TAVREL_CALLER_STACK());
        TTavrelThreadRecord* r = nullptr;
        {
            TThreadsListWriteLock lock(*threads);
            const int i = threads->FindByHandle(handle);
            r = i >= 0 ? threads->Get(i) : nullptr;
            if (r) {
                r->StarterThreadID = kernel::GetCurrentThreadId();
                CopyCallerStack(*r, InterceptorFramesEnd());
            }
        }
        if (r && Tracking().Delegation.Resume) Tracking().Delegation.Resume(handle, r);
    }
    return RealResume(handle);
}

void ExitThreadInterceptor(void* result)
{
    if (TTavrelThreadsList* threads = ActiveThreads()) {
        threads->RemoveCurrentThread();
        if (Tracking().Delegation.Exit) Tracking().Delegation.Exit();
    }
    TPthreadExit real = Tracking().RealExit;
    if (!real) real = reinterpret_cast<TPthreadExit>(kernel::FindGlobalSymbol("pthread_exit"));
    real(result);
    __builtin_unreachable();
}

} // namespace crashreport

#undef TAVREL_CALLER_STACK
