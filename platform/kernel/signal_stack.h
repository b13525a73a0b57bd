#pragma once
// Alternate signal stacks, signal handler installation and raw thread and
// process ends: what the runtime's fault handling needs of the kernel.
//
// Every thread that may fault gets an alternate signal stack, so that a
// fault caused by a stack overflow can still run its handler. The stack is
// mapped with a guard page below it and freed when the thread ends.
#include <signal.h>

#include <cstddef>
#include <cstdint>

namespace kernel {

// Usable bytes of each thread's alternate signal stack.
std::size_t SignalStackSize();

// What the signal handler may read about the calling thread without locks or
// allocation: its alternate stack and its own stack's bounds, recorded when
// the alternate stack was installed.
struct TThreadSignalInfo {
    std::uintptr_t AltStackBase = 0; // lowest usable byte of the alternate stack
    std::size_t AltStackSize = 0;
    std::uintptr_t StackTop = 0;    // highest address of the thread's own stack
    std::uintptr_t StackBottom = 0; // lowest address of the thread's own stack
};

// Gives the calling thread an alternate signal stack unless it has one, and
// records its stack bounds. Not signal-safe (maps memory, reads the stack
// attributes). Answers whether the thread has an alternate stack now.
bool EnsureThreadSignalStack();
// The calling thread's record; all fields 0 when it has none. Signal-safe.
const TThreadSignalInfo& ThreadSignalInfo();

// A function run first on every thread that the kernel layer (and thread
// tracking) starts, before any code of the thread's own: the runtime and
// the exception capture install their per-thread preparation here, each
// calling the hook it replaced. Answers the replaced hook. Not signal-safe.
using TThreadStartHook = void (*)();
TThreadStartHook SetThreadStartHook(TThreadStartHook hook);
void RunThreadStartHook();

// Installs a signal action and puts the previous one back when it goes out
// of scope (or on Restore). Not signal-safe.
class TSignalActionOwner {
public:
    TSignalActionOwner() = default;
    ~TSignalActionOwner() { Restore(); }
    TSignalActionOwner(const TSignalActionOwner&) = delete;
    TSignalActionOwner& operator=(const TSignalActionOwner&) = delete;

    bool Install(int signal, const struct sigaction& action);
    void Restore();
    bool Installed() const { return signal_ != 0; }
    // The action that was in place before Install.
    const struct sigaction& Previous() const { return previous_; }

private:
    int signal_ = 0;
    struct sigaction previous_ {};
};

// Calls the action that was in place before ours for a signal we do not
// handle; for the default action, restores it and raises the signal again
// so the process ends as it would have. Signal-safe.
void ChainSignal(const struct sigaction& previous, int signal, siginfo_t* info, void* context);

// True when the kernel raised the signal for a fault of the thread (not sent
// by kill, tgkill or sigqueue). Signal-safe.
bool IsFaultSignal(const siginfo_t* info);

// Unblocks the signal for the calling thread (a handler left by a throw does
// not restore the mask). Signal-safe.
void UnblockSignal(int signal);

// Ends the calling thread at once with the exit code, without unwinding its
// stack or running its cleanups (the thread's stack may be unusable).
// Joiners are released by the kernel. Signal-safe.
[[noreturn]] void ExitCurrentThreadNow(int exitCode);
// Ends the process at once with the exit code. Signal-safe.
[[noreturn]] void HaltProcess(int exitCode);

} // namespace kernel
