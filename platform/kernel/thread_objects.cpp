// The handle table and per-thread objects; thread IDs, validity, priority.
#include "platform/kernel/thread_objects.h"

#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <unordered_map>
#include <vector>

namespace kernel {
namespace detail {
namespace {

thread_local int t_lockDepth = 0;

void SetSignalBlocked(bool blocked)
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SuspendSignal());
    pthread_sigmask(blocked ? SIG_BLOCK : SIG_UNBLOCK, &set, nullptr);
}

TSuspendSafeMutex g_tableLock;
// The tables are made on first use (the crash reporter makes threads from
// its module initialisation) and never destroyed: threads still start, end
// and look up their objects while the program's static objects are
// destroyed at exit.
std::unordered_map<THandle, TObjectPtr>& Handles()
{
    static auto* handles = new std::unordered_map<THandle, TObjectPtr>;
    return *handles;
}

// Every object whose thread may still run, by TID: keeps objects alive while
// their thread can sit in the signal handler.
std::unordered_map<std::uint32_t, TObjectPtr>& ObjectsByTid()
{
    static auto* byTid = new std::unordered_map<std::uint32_t, TObjectPtr>;
    return *byTid;
}

std::vector<TObjectPtr>& LostSignals()
{
    static auto* lost = new std::vector<TObjectPtr>;
    return *lost;
}
THandle g_nextHandle = 0x100;

// Drops objects of threads that are gone and that no handle names.
void PruneLocked()
{
    for (auto it = ObjectsByTid().begin(); it != ObjectsByTid().end();) {
        if (it->second.use_count() == 1 && it->second->SignalState.load() == kIdle && !TidAlive(it->first))
            it = ObjectsByTid().erase(it);
        else
            ++it;
    }
}

} // namespace

void TSuspendSafeMutex::lock()
{
    if (t_lockDepth++ == 0) SetSignalBlocked(true);
    mutex_.lock();
}

void TSuspendSafeMutex::unlock()
{
    mutex_.unlock();
    if (--t_lockDepth == 0) SetSignalBlocked(false); // a pending suspension is taken here
}

bool TidAlive(std::uint32_t tid)
{
    const int saved = errno;
    const bool alive = tid != 0 && syscall(SYS_tgkill, getpid(), tid, 0) == 0;
    errno = saved;
    return alive;
}

TObjectPtr FindObject(THandle h)
{
    TLock lock(g_tableLock);
    auto it = Handles().find(h);
    return it == Handles().end() ? nullptr : it->second;
}

THandle AddHandle(const TObjectPtr& object)
{
    TLock lock(g_tableLock);
    const THandle h = g_nextHandle++;
    Handles().emplace(h, object);
    return h;
}

void RegisterThread(std::uint32_t tid, const TObjectPtr& object)
{
    TLock lock(g_tableLock);
    PruneLocked();
    ObjectsByTid()[tid] = object;
}

void KeepForLateSignal(const TObjectPtr& object)
{
    TLock lock(g_tableLock);
    LostSignals().push_back(object);
}

} // namespace detail

using namespace detail;

std::uint32_t GetCurrentThreadId() { return static_cast<std::uint32_t>(syscall(SYS_gettid)); }
std::uint32_t MainThreadId() { return static_cast<std::uint32_t>(getpid()); }

THandle OpenThread(std::uint32_t threadId)
{
    TObjectPtr object;
    {
        TLock lock(detail::g_tableLock);
        detail::PruneLocked();
        auto it = detail::ObjectsByTid().find(threadId);
        if (it != detail::ObjectsByTid().end()) object = it->second;
    }
    if (!object) {
        if (!TidAlive(threadId)) return 0;
        object = std::make_shared<TThreadObject>();
        object->Tid = threadId;
        object->Started = true;
        TLock lock(detail::g_tableLock);
        auto [it, inserted] = detail::ObjectsByTid().emplace(threadId, object);
        if (!inserted) object = it->second;
    }
    return AddHandle(object);
}

bool CloseHandle(THandle handle)
{
    TObjectPtr object;
    {
        TLock lock(detail::g_tableLock);
        auto it = detail::Handles().find(handle);
        if (it == detail::Handles().end()) return false;
        object = std::move(it->second);
        detail::Handles().erase(it);
    }
    return true;
}

bool IsThreadActive(THandle handle)
{
    TObjectPtr object = FindObject(handle);
    if (!object || object->Ended) return false;
    const std::uint32_t tid = object->Tid;
    return tid == 0 ? true : TidAlive(tid); // 0: prepared, not yet running
}

std::uint32_t GetThreadId(THandle handle)
{
    TObjectPtr object = FindObject(handle);
    return object ? object->Tid.load() : 0;
}

bool SetThreadPriority(THandle handle, int priority)
{
    TObjectPtr object = FindObject(handle);
    if (!object) return false;
    TLock lock(object->Lock);
    object->Priority = priority;
    // Windows priorities -2..2 as nice values; raising needs privileges and may fail.
    if (object->Tid != 0) setpriority(PRIO_PROCESS, object->Tid, -priority * 5);
    return true;
}

int GetThreadPriority(THandle handle)
{
    TObjectPtr object = FindObject(handle);
    if (!object) return 0;
    TLock lock(object->Lock);
    return object->Priority;
}

bool GetCurrentThreadStack(std::uintptr_t& top, std::uintptr_t& bottom)
{
    // A thread's stack stays where it is while the thread lives; for the
    // main thread, glibc reads the whole memory map to answer, and several
    // layers ask at start-up.
    thread_local std::uintptr_t knownTop = 0, knownBottom = 0;
    if (knownTop) {
        top = knownTop;
        bottom = knownBottom;
        return true;
    }
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) != 0) return false;
    void* address = nullptr;
    std::size_t size = 0;
    const bool ok = pthread_attr_getstack(&attr, &address, &size) == 0;
    pthread_attr_destroy(&attr);
    if (!ok) return false;
    bottom = reinterpret_cast<std::uintptr_t>(address);
    top = bottom + size;
    knownTop = top;
    knownBottom = bottom;
    return true;
}

} // namespace kernel
