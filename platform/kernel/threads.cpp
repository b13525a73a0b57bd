// Thread creation behind a start gate, and waiting for threads to end.
#include "platform/kernel/signal_stack.h"
#include "platform/kernel/thread_objects.h"

#include <pthread.h>

#include <chrono>

namespace kernel {

using namespace detail;

THandle PrepareThread(bool suspended)
{
    auto object = std::make_shared<TThreadObject>();
    object->Gated = true;
    object->SuspendCount = suspended ? 1 : 0;
    return AddHandle(object);
}

namespace {

// Records a thread's ID in its object and the table by ID, once: the
// creator (from the pthread) and the thread itself (from the kernel) each
// publish it, whichever comes first; the thread's own answer stands.
// Returns the ID in force.
std::uint32_t PublishThreadId(const TObjectPtr& object, std::uint32_t tid, bool byTheThread)
{
    {
        TLock lock(object->Lock);
        if (object->Tid == tid || (object->Tid != 0 && !byTheThread)) return object->Tid;
    }
    RegisterThread(tid, object);
    TLock lock(object->Lock);
    if (byTheThread || object->Tid == 0) object->Tid = tid;
    object->Changed.notify_all();
    return object->Tid;
}

} // namespace

bool EnterThread(THandle handle)
{
    TObjectPtr object = FindObject(handle);
    if (!object) return false;
    PublishThreadId(object, GetCurrentThreadId(), true);
    TUniqueLock lock(object->Lock);
    object->Changed.wait(lock, [&] { return object->SuspendCount == 0; });
    object->Started = true;
    return true;
}

void MarkThreadEnded(THandle handle)
{
    if (TObjectPtr object = FindObject(handle)) {
        TLock lock(object->Lock);
        object->Ended = true;
        object->Changed.notify_all();
    }
}

std::uint32_t WaitForThreadId(THandle handle)
{
    TObjectPtr object = FindObject(handle);
    if (!object) return 0;
    TUniqueLock lock(object->Lock);
    object->Changed.wait(lock, [&] { return object->Tid != 0 || object->Ended; });
    return object->Tid;
}

std::uint32_t PublishCreatedThreadId(THandle handle, pthread_t thread)
{
    // Linux names a thread's processor-time clock ~tid << 3 | 6 (per thread,
    // scheduler time); glibc fills the tid in before pthread_create returns
    // and clears it when the thread has ended.
    clockid_t clock;
    if (pthread_getcpuclockid(thread, &clock) != 0 || (clock & 7) != 6) return WaitForThreadId(handle);
    const int tid = ~(clock >> 3);
    if (tid <= 0) return WaitForThreadId(handle);
    TObjectPtr object = FindObject(handle);
    if (!object) return 0;
    return PublishThreadId(object, static_cast<std::uint32_t>(tid), false);
}

void* RuntimeThreadWrapper(void* startBlock)
{
    const TThreadStartBlock block = *static_cast<TThreadStartBlock*>(startBlock);
    delete static_cast<TThreadStartBlock*>(startBlock);
    TObjectPtr keep = FindObject(block.Handle); // the thread's own reference to its object
    TThreadExitMark mark(block.Handle);
    if (!EnterThread(block.Handle)) return reinterpret_cast<void*>(static_cast<std::intptr_t>(-1));
    RunThreadStartHook();
    return reinterpret_cast<void*>(block.Start(block.Parameter));
}

THandle CreateThread(TThreadStart start, void* parameter, std::uint32_t flags, std::uint32_t* threadId)
{
    if (!start) return 0;
    const THandle handle = PrepareThread((flags & CREATE_SUSPENDED) != 0);
    auto* block = new TThreadStartBlock{start, parameter, handle};
    // Joinable until its ID is read: the pthread stays valid even if the
    // thread has already ended.
    pthread_t thread;
    const int rc = pthread_create(&thread, nullptr, RuntimeThreadWrapper, block);
    if (rc != 0) {
        delete block;
        CloseHandle(handle);
        return 0;
    }
    const std::uint32_t tid = PublishCreatedThreadId(handle, thread);
    pthread_detach(thread);
    if (threadId) *threadId = tid;
    return handle;
}

bool WaitForThread(THandle handle, int timeoutMs)
{
    TObjectPtr object = FindObject(handle);
    if (!object) return false;
    TUniqueLock lock(object->Lock);
    auto ended = [&] { return object->Ended.load() || (object->Tid != 0 && !TidAlive(object->Tid)); };
    if (timeoutMs < 0) {
        // Poll as well: a thread not made here ends without telling us.
        while (!object->Changed.wait_for(lock, std::chrono::milliseconds(50), ended)) {}
        return true;
    }
    return object->Changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), ended);
}

} // namespace kernel
