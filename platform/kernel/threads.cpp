#include "platform/kernel/threads.h"

#include <pthread.h>
#include <semaphore.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace kernel {
namespace {

enum : int { kIdle, kRequested, kSuspended };

thread_local int t_lockDepth = 0;

// A mutex that keeps the suspend signal blocked while it is held: a thread
// is never suspended inside this layer's critical sections, so a suspender
// can always use the layer itself.
class TSuspendSafeMutex {
public:
    void lock()
    {
        if (t_lockDepth++ == 0)
            SetSignalBlocked(true);
        mutex_.lock();
    }
    void unlock()
    {
        mutex_.unlock();
        if (--t_lockDepth == 0)
            SetSignalBlocked(false);  // a pending suspension is taken here
    }

private:
    static void SetSignalBlocked(bool blocked)
    {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SuspendSignal());
        pthread_sigmask(blocked ? SIG_BLOCK : SIG_UNBLOCK, &set, nullptr);
    }
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
    bool Started = false;   // left the start gate (or was never behind one)
    bool Gated = false;     // made by this layer, behind a gate until started
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
};

using TObjectPtr = std::shared_ptr<TThreadObject>;

TSuspendSafeMutex g_tableLock;
std::unordered_map<THandle, TObjectPtr> g_handles;
// Every object whose thread may still run, by TID: keeps objects alive while
// their thread can sit in the signal handler.
std::unordered_map<std::uint32_t, TObjectPtr> g_byTid;
// Objects a signal was sent to that never arrived: a late delivery must
// still find them.
std::vector<TObjectPtr> g_lostSignals;
THandle g_nextHandle = 0x100;

pid_t Tid() { return static_cast<pid_t>(syscall(SYS_gettid)); }

bool TidAlive(std::uint32_t tid)
{
    const int saved = errno;
    const bool alive = tid != 0 && syscall(SYS_tgkill, getpid(), tid, 0) == 0;
    errno = saved;
    return alive;
}

TObjectPtr Find(THandle h)
{
    TLock lock(g_tableLock);
    auto it = g_handles.find(h);
    return it == g_handles.end() ? nullptr : it->second;
}

THandle AddHandle(const TObjectPtr& object)
{
    TLock lock(g_tableLock);
    const THandle h = g_nextHandle++;
    g_handles.emplace(h, object);
    return h;
}

// Drops objects of threads that are gone and that no handle names.
void PruneLocked()
{
    for (auto it = g_byTid.begin(); it != g_byTid.end();) {
        if (it->second.use_count() == 1 && it->second->SignalState.load() == kIdle && !TidAlive(it->first))
            it = g_byTid.erase(it);
        else
            ++it;
    }
}

// Async-signal-safe: copies the interrupted context into memory prepared by
// the suspender and waits on a semaphore; allocates nothing.
void SuspendHandler(int, siginfo_t* info, void* ucontext)
{
    const int savedErrno = errno;
    auto* object = info && info->si_code == SI_QUEUE ? static_cast<TThreadObject*>(info->si_value.sival_ptr) : nullptr;
    int expected = kRequested;
    if (object && object->SignalState.compare_exchange_strong(expected, kSuspended)) {
        std::memcpy(&object->Saved, ucontext, sizeof(ucontext_t));
        sem_post(&object->Acknowledged);
        while (sem_wait(&object->Resume) != 0 && errno == EINTR) {
        }
    }
    errno = savedErrno;
}

void InstallHandler()
{
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction sa {};
        sa.sa_sigaction = SuspendHandler;
        sa.sa_flags = SA_SIGINFO | SA_RESTART;
        sigfillset(&sa.sa_mask);
        sigaction(SuspendSignal(), &sa, nullptr);
    });
}

bool SendSuspendSignal(TThreadObject* object, std::uint32_t tid)
{
    siginfo_t info{};
    info.si_signo = SuspendSignal();
    info.si_code = SI_QUEUE;
    info.si_pid = getpid();
    info.si_uid = getuid();
    info.si_value.sival_ptr = object;
    return syscall(SYS_rt_tgsigqueueinfo, getpid(), tid, SuspendSignal(), &info) == 0;
}

bool WaitAcknowledged(TThreadObject& object, std::uint32_t tid)
{
    // A thread that exits or never takes the signal must not hang the suspender.
    for (int slice = 0; slice < 300; ++slice) {
        timespec until{};
        clock_gettime(CLOCK_REALTIME, &until);
        until.tv_nsec += 10 * 1000 * 1000;
        if (until.tv_nsec >= 1000000000) {
            until.tv_sec += 1;
            until.tv_nsec -= 1000000000;
        }
        if (sem_timedwait(&object.Acknowledged, &until) == 0)
            return true;
        if (!TidAlive(tid))
            break;
    }
    int expected = kRequested;
    if (object.SignalState.compare_exchange_strong(expected, kIdle))
        return false;  // given up before the handler ran
    while (sem_wait(&object.Acknowledged) != 0 && errno == EINTR) {
    }
    return true;
}

void FillContext(const ucontext_t& uc, TThreadContext& c)
{
    const greg_t* g = uc.uc_mcontext.gregs;
#if defined(__x86_64__)
    c.Rax = g[REG_RAX]; c.Rbx = g[REG_RBX]; c.Rcx = g[REG_RCX]; c.Rdx = g[REG_RDX];
    c.Rsi = g[REG_RSI]; c.Rdi = g[REG_RDI]; c.Rbp = g[REG_RBP]; c.Rsp = g[REG_RSP];
    c.R8 = g[REG_R8]; c.R9 = g[REG_R9]; c.R10 = g[REG_R10]; c.R11 = g[REG_R11];
    c.R12 = g[REG_R12]; c.R13 = g[REG_R13]; c.R14 = g[REG_R14]; c.R15 = g[REG_R15];
    c.Rip = g[REG_RIP]; c.EFlags = g[REG_EFL];
#else
    c.Eax = g[REG_EAX]; c.Ebx = g[REG_EBX]; c.Ecx = g[REG_ECX]; c.Edx = g[REG_EDX];
    c.Esi = g[REG_ESI]; c.Edi = g[REG_EDI]; c.Ebp = g[REG_EBP]; c.Esp = g[REG_ESP];
    c.Eip = g[REG_EIP]; c.EFlags = g[REG_EFL];
#endif
}

} // namespace

int SuspendSignal() { return SIGRTMIN + 4; }

std::uint32_t GetCurrentThreadId() { return static_cast<std::uint32_t>(Tid()); }
std::uint32_t MainThreadId() { return static_cast<std::uint32_t>(getpid()); }

THandle PrepareThread(bool suspended)
{
    auto object = std::make_shared<TThreadObject>();
    object->Gated = true;
    object->SuspendCount = suspended ? 1 : 0;
    return AddHandle(object);
}

bool EnterThread(THandle handle)
{
    TObjectPtr object = Find(handle);
    if (!object)
        return false;
    const auto tid = static_cast<std::uint32_t>(Tid());
    {
        TLock lock(g_tableLock);
        PruneLocked();
        g_byTid[tid] = object;
    }
    TUniqueLock lock(object->Lock);
    object->Tid = tid;
    object->Changed.notify_all();
    object->Changed.wait(lock, [&] { return object->SuspendCount == 0; });
    object->Started = true;
    return true;
}

void MarkThreadEnded(THandle handle)
{
    if (TObjectPtr object = Find(handle)) {
        TLock lock(object->Lock);
        object->Ended = true;
        object->Changed.notify_all();
    }
}

std::uint32_t WaitForThreadId(THandle handle)
{
    TObjectPtr object = Find(handle);
    if (!object)
        return 0;
    TUniqueLock lock(object->Lock);
    object->Changed.wait(lock, [&] { return object->Tid != 0 || object->Ended; });
    return object->Tid;
}

void* RuntimeThreadWrapper(void* startBlock)
{
    const TThreadStartBlock block = *static_cast<TThreadStartBlock*>(startBlock);
    delete static_cast<TThreadStartBlock*>(startBlock);
    TObjectPtr keep = Find(block.Handle);  // the thread's own reference to its object
    TThreadExitMark mark(block.Handle);
    if (!EnterThread(block.Handle))
        return reinterpret_cast<void*>(static_cast<std::intptr_t>(-1));
    return reinterpret_cast<void*>(block.Start(block.Parameter));
}

THandle CreateThread(TThreadStart start, void* parameter, std::uint32_t flags, std::uint32_t* threadId)
{
    if (!start)
        return 0;
    const THandle handle = PrepareThread((flags & CREATE_SUSPENDED) != 0);
    auto* block = new TThreadStartBlock{start, parameter, handle};
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    const int rc = pthread_create(&thread, &attr, RuntimeThreadWrapper, block);
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        delete block;
        CloseHandle(handle);
        return 0;
    }
    const std::uint32_t tid = WaitForThreadId(handle);
    if (threadId)
        *threadId = tid;
    return handle;
}

THandle OpenThread(std::uint32_t threadId)
{
    TObjectPtr object;
    {
        TLock lock(g_tableLock);
        PruneLocked();
        auto it = g_byTid.find(threadId);
        if (it != g_byTid.end())
            object = it->second;
    }
    if (!object) {
        if (!TidAlive(threadId))
            return 0;
        object = std::make_shared<TThreadObject>();
        object->Tid = threadId;
        object->Started = true;
        TLock lock(g_tableLock);
        auto [it, inserted] = g_byTid.emplace(threadId, object);
        if (!inserted)
            object = it->second;
    }
    return AddHandle(object);
}

bool CloseHandle(THandle handle)
{
    TObjectPtr object;
    {
        TLock lock(g_tableLock);
        auto it = g_handles.find(handle);
        if (it == g_handles.end())
            return false;
        object = std::move(it->second);
        g_handles.erase(it);
    }
    return true;
}

std::uint32_t SuspendThread(THandle handle)
{
    TObjectPtr object = Find(handle);
    if (!object)
        return kSuspendFailed;
    InstallHandler();
    TUniqueLock lock(object->Lock);
    const int previous = object->SuspendCount;
    if (!object->Started || previous > 0) {
        if (object->Ended)
            return kSuspendFailed;
        ++object->SuspendCount;  // the gate, or the signal handler already, holds the thread
        return static_cast<std::uint32_t>(previous);
    }
    const std::uint32_t tid = object->Tid;
    if (object->Ended || !TidAlive(tid))
        return kSuspendFailed;
    object->SuspendCount = 1;
    object->SignalState = kRequested;
    if (tid == GetCurrentThreadId()) {
        // Suspending oneself: the handler runs before the signal call returns
        // and waits there until another thread resumes us.
        lock.unlock();
        SendSuspendSignal(object.get(), tid);
        while (sem_trywait(&object->Acknowledged) == 0) {
        }
        return 0;
    }
    if (!SendSuspendSignal(object.get(), tid) || !WaitAcknowledged(*object, tid)) {
        object->SuspendCount = 0;
        object->SignalState = kIdle;
        TLock table(g_tableLock);
        g_lostSignals.push_back(object);
        return kSuspendFailed;
    }
    return 0;
}

std::uint32_t ResumeThread(THandle handle)
{
    TObjectPtr object = Find(handle);
    if (!object)
        return kSuspendFailed;
    TLock lock(object->Lock);
    const int previous = object->SuspendCount;
    if (previous == 0)
        return 0;
    if (--object->SuspendCount == 0) {
        int expected = kRequested;
        if (!object->Started) {
            object->Changed.notify_all();  // opens the start gate
        } else if (!object->SignalState.compare_exchange_strong(expected, kIdle) && expected == kSuspended) {
            // (A self-suspension whose signal is still on its way is simply cancelled above.)
            object->SignalState = kIdle;
            sem_post(&object->Resume);
        }
    }
    return static_cast<std::uint32_t>(previous);
}

bool GetThreadContext(THandle handle, TThreadContext& context)
{
    TObjectPtr object = Find(handle);
    if (!object)
        return false;
    if (object->Tid == GetCurrentThreadId()) {
        ucontext_t uc;
        if (getcontext(&uc) != 0)
            return false;
        FillContext(uc, context);
        return true;
    }
    TLock lock(object->Lock);
    if (object->SignalState.load() != kSuspended)
        return false;
    FillContext(object->Saved, context);
    return true;
}

bool IsThreadActive(THandle handle)
{
    TObjectPtr object = Find(handle);
    if (!object || object->Ended)
        return false;
    const std::uint32_t tid = object->Tid;
    return tid == 0 ? true : TidAlive(tid);  // 0: prepared, not yet running
}

std::uint32_t GetThreadId(THandle handle)
{
    TObjectPtr object = Find(handle);
    return object ? object->Tid.load() : 0;
}

bool WaitForThread(THandle handle, int timeoutMs)
{
    TObjectPtr object = Find(handle);
    if (!object)
        return false;
    TUniqueLock lock(object->Lock);
    auto ended = [&] { return object->Ended.load() || (object->Tid != 0 && !TidAlive(object->Tid)); };
    if (timeoutMs < 0) {
        // Poll as well: a thread not made here ends without telling us.
        while (!object->Changed.wait_for(lock, std::chrono::milliseconds(50), ended)) {
        }
        return true;
    }
    return object->Changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), ended);
}

bool SetThreadPriority(THandle handle, int priority)
{
    TObjectPtr object = Find(handle);
    if (!object)
        return false;
    TLock lock(object->Lock);
    object->Priority = priority;
    // Windows priorities -2..2 as nice values; raising needs privileges and may fail.
    if (object->Tid != 0)
        setpriority(PRIO_PROCESS, object->Tid, -priority * 5);
    return true;
}

int GetThreadPriority(THandle handle)
{
    TObjectPtr object = Find(handle);
    if (!object)
        return 0;
    TLock lock(object->Lock);
    return object->Priority;
}

bool GetCurrentThreadStack(std::uintptr_t& top, std::uintptr_t& bottom)
{
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) != 0)
        return false;
    void* address = nullptr;
    std::size_t size = 0;
    const bool ok = pthread_attr_getstack(&attr, &address, &size) == 0;
    pthread_attr_destroy(&attr);
    if (!ok)
        return false;
    bottom = reinterpret_cast<std::uintptr_t>(address);
    top = bottom + size;
    return true;
}

} // namespace kernel
