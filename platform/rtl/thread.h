#pragma once
// The framework thread class: a virtual body method (Execute) that runs on
// a thread of its own, created suspended or running, with FreeOnTerminate,
// Priority and Terminated. Threads start through the kernel layer's runtime
// thread wrapper with TThread::ThreadProc as start routine, which the crash
// reporter recognises by address.
//
// The thread itself is made once the most derived constructor has finished,
// so that its creation sees the object's final class: construct with
// TThread::Create<T>(...), or call AfterConstruction() after construction
// (as the framework does). Start() on an object that was never made
// running creates its thread then.
// Link platform_rtl_thread with any target that uses this class.
#include "platform/kernel/threads.h"

#include <atomic>
#include <cstdint>
#include <exception>
#include <utility>

namespace rtl {

class TThread {
public:
    explicit TThread(bool createSuspended);
    virtual ~TThread();
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    template <typename T, typename... Args> static T* Create(Args&&... args)
    {
        T* thread = new T(std::forward<Args>(args)...);
        thread->AfterConstruction();
        return thread;
    }

    // Makes the thread, suspended or running as the constructor was told.
    void AfterConstruction();
    void Resume();
    void Suspend();
    void Start() { Resume(); }
    void Terminate() { terminated_ = true; }
    // Waits for the body to end and answers ReturnValue.
    int WaitFor();

    bool Terminated() const { return terminated_; }
    bool Finished() const { return finished_; }
    bool Suspended() const { return suspended_; }
    std::uint32_t ThreadID() const { return threadId_; }
    kernel::THandle Handle() const { return handle_; }
    int Priority() const;
    void SetPriority(int priority);
    // The exception that ended the body, if one did.
    std::exception_ptr FatalException() const { return fatal_; }

    bool FreeOnTerminate = false;

    // The framework's start routine (the parameter is the thread object).
    static std::intptr_t ThreadProc(void* thread);
    // Index of Execute in the virtual table, counted from its address point.
    static int BodySlot();

protected:
    virtual void Execute() = 0;
    int ReturnValue = 0;

private:
    kernel::THandle handle_ = 0;
    std::uint32_t threadId_ = 0;
    bool createSuspended_;
    std::atomic<bool> terminated_{false};
    std::atomic<bool> finished_{false};
    std::atomic<bool> suspended_{false};
    std::exception_ptr fatal_;
};

} // namespace rtl
