#pragma once
// The per-thread objects behind thread handles, shared by the kernel
// layer's thread sources.
#include "platform/kernel/threads.h"

#include <semaphore.h>
#include <signal.h>
#include <ucontext.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace kernel::detail {

enum : int { kIdle, kRequested, kSuspended };

// A mutex that keeps the suspend signal blocked while it is held: a thread
// is never suspended inside this layer's critical sections, so a suspender
// can always use the layer itself.
class TSuspendSafeMutex {
public:
    void lock();
    void unlock();

private:
    std::mutex mutex_;
};

using TLock = std::lock_guard<TSuspendSafeMutex>;
using TUniqueLock = std::unique_lock<TSuspendSafeMutex>;

// One per thread, shared by all its handles. The signal handler reaches it
// through the signal's value, never through a table.
struct TThreadObject {
    TSuspendSafeMutex Lock;
    std::condition_variable_any Changed;
    std::atomic<std::uint32_t> Tid{0};
    int SuspendCount = 0;
    bool Started = false; // left the start gate (or was never behind one)
    bool Gated = false;   // made by this layer, behind a gate until started
    std::atomic<bool> Ended{false};
    int Priority = 0;

    // Signal suspension; the handler touches only these.
    std::atomic<int> SignalState{kIdle};
    sem_t Acknowledged;
    sem_t Resume;
    ucontext_t Saved;

    TThreadObject()
    {
        sem_init(&Acknowledged, 0, 0);
        sem_init(&Resume, 0, 0);
    }
    ~TThreadObject()
    {
        sem_destroy(&Acknowledged);
        sem_destroy(&Resume);
    }
    TThreadObject(const TThreadObject&) = delete;
    TThreadObject& operator=(const TThreadObject&) = delete;
};

using TObjectPtr = std::shared_ptr<TThreadObject>;

TObjectPtr FindObject(THandle handle);
THandle AddHandle(const TObjectPtr& object);
// Keeps the object alive, by TID, while its thread may run.
void RegisterThread(std::uint32_t tid, const TObjectPtr& object);
// Keeps an object a signal was sent to that never arrived: a late delivery
// must still find it.
void KeepForLateSignal(const TObjectPtr& object);
// tgkill(pid, tid, 0); signal-safe.
bool TidAlive(std::uint32_t tid);

} // namespace kernel::detail
