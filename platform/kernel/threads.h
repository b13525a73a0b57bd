#pragma once
// Threads of the current process: the stand-in for CreateThread,
// SuspendThread, ResumeThread, GetThreadContext and thread handles.
//
// Threads are created behind a start gate, so a thread made suspended runs
// no code of its own until it is resumed. A running thread is suspended by a
// real-time signal whose handler saves the interrupted context and waits on
// a semaphore; suspend counts nest as on Windows. Thread IDs are kernel TIDs.
#include <pthread.h>

#include <cstdint>

namespace kernel {

using THandle = std::uintptr_t; // 0 is never a valid handle
using TThreadStart = std::intptr_t (*)(void* parameter);

constexpr std::uint32_t CREATE_SUSPENDED = 0x4;
constexpr std::uint32_t kSuspendFailed = 0xFFFFFFFF;

// The signal that suspends running threads.
int SuspendSignal();

// What the runtime's thread wrapper receives: the start routine first, its
// parameter second (the creation interceptor reads and may replace both).
struct TThreadStartBlock {
    TThreadStart Start;
    void* Parameter;
    THandle Handle;
};

// The runtime's own thread wrapper: the pthread start routine of every
// thread made by CreateThread; recognised by its address.
void* RuntimeThreadWrapper(void* startBlock);

// Creates a thread that runs start(parameter); with CREATE_SUSPENDED it waits
// at its start gate until ResumeThread. The thread is created with an
// ordinary pthread_create call, so interceptors of that import see it.
// Returns 0 on failure. Not signal-safe.
THandle CreateThread(TThreadStart start, void* parameter, std::uint32_t flags, std::uint32_t* threadId);

// For threads made with a plain pthread_create whose start routine calls
// EnterThread first: a handle for the thread before it exists, its gate
// closed when suspended.
THandle PrepareThread(bool suspended);
// Runs on the new thread: publishes its ID, waits at the gate. Returns false
// for an unknown handle. Marks the thread ended when it returns or unwinds
// only through a TThreadExitMark.
bool EnterThread(THandle handle);
// Marks the thread of the handle as ended (its code has finished).
void MarkThreadEnded(THandle handle);
// The ID of a prepared or created thread, waiting until the thread has
// published it. 0 when the handle is unknown.
std::uint32_t WaitForThreadId(THandle handle);
// The ID of the thread just created for a prepared handle, read from its
// pthread (which must still be valid: joinable, or held at its gate) and
// published as the thread would, so the creator need not wait for the new
// thread to be scheduled. Waits as WaitForThreadId when it cannot be read.
std::uint32_t PublishCreatedThreadId(THandle handle, pthread_t thread);

// Marks the thread ended when it leaves the scope, also by pthread_exit's unwinding.
class TThreadExitMark {
public:
    explicit TThreadExitMark(THandle handle) : handle_(handle) {}
    ~TThreadExitMark() { MarkThreadEnded(handle_); }
    TThreadExitMark(const TThreadExitMark&) = delete;
    TThreadExitMark& operator=(const TThreadExitMark&) = delete;

private:
    THandle handle_;
};

// A new handle to a thread of this process (every handle of one thread
// shares its suspend count). 0 when no such thread runs.
THandle OpenThread(std::uint32_t threadId);
bool CloseHandle(THandle handle);

// Closes a handle when it goes out of scope.
class THandleOwner {
public:
    explicit THandleOwner(THandle handle = 0) : handle_(handle) {}
    ~THandleOwner() { Reset(); }
    THandleOwner(const THandleOwner&) = delete;
    THandleOwner& operator=(const THandleOwner&) = delete;
    THandle Get() const { return handle_; }
    THandle Release()
    {
        const THandle h = handle_;
        handle_ = 0;
        return h;
    }
    void Reset(THandle handle = 0)
    {
        if (handle_) CloseHandle(handle_);
        handle_ = handle;
    }

private:
    THandle handle_;
};

// Previous suspend count, or kSuspendFailed. Suspending the calling thread
// blocks it until another thread resumes it. Not signal-safe.
std::uint32_t SuspendThread(THandle handle);
std::uint32_t ResumeThread(THandle handle);

#if defined(__x86_64__)
struct TThreadContext {
    std::uint64_t Rax, Rbx, Rcx, Rdx, Rsi, Rdi, Rbp, Rsp;
    std::uint64_t R8, R9, R10, R11, R12, R13, R14, R15;
    std::uint64_t Rip, EFlags;
};
#else
struct TThreadContext {
    std::uint32_t Eax, Ebx, Ecx, Edx, Esi, Edi, Ebp, Esp;
    std::uint32_t Eip, EFlags;
};
#endif

// The instruction and stack pointers of a context, whatever the processor.
// Signal-safe.
inline std::uintptr_t InstructionPointer(const TThreadContext& c)
{
#if defined(__x86_64__)
    return static_cast<std::uintptr_t>(c.Rip);
#else
    return c.Eip;
#endif
}
inline std::uintptr_t StackPointer(const TThreadContext& c)
{
#if defined(__x86_64__)
    return static_cast<std::uintptr_t>(c.Rsp);
#else
    return c.Esp;
#endif
}

// The registers a signal handler was given (its third argument, a
// ucontext_t). Signal-safe.
void ContextFromSignal(const void* signalContext, TThreadContext& context);

#if defined(__x86_64__)
// The caller's registers as they are when this returns to it: its
// callee-saved registers, its stack pointer after the return and the return
// address as its instruction pointer (the others are zero). Signal-safe.
void CaptureCallerContext(TThreadContext& context) asm("TavrelKernelCaptureCallerContext");
#endif

// The registers of a thread that is suspended (where it was interrupted), or
// of the calling thread. False for a running or never-started thread.
// Not signal-safe.
bool GetThreadContext(THandle handle, TThreadContext& context);

// The handle is valid and its thread still exists (tgkill(pid, tid, 0)).
// Handle lookups take the handle table's lock: not signal-safe.
bool IsThreadActive(THandle handle);
std::uint32_t GetThreadId(THandle handle);
// Waits for the thread to end; false on time-out (timeoutMs < 0: no limit).
bool WaitForThread(THandle handle, int timeoutMs = -1);
bool SetThreadPriority(THandle handle, int priority);
int GetThreadPriority(THandle handle);

std::uint32_t GetCurrentThreadId(); // signal-safe
std::uint32_t MainThreadId();       // signal-safe

// The calling thread's stack: the top (highest address) and the lowest address.
bool GetCurrentThreadStack(std::uintptr_t& top, std::uintptr_t& bottom);

} // namespace kernel
