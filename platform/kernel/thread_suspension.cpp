// Suspension by signal: SuspendThread, ResumeThread and GetThreadContext.
#include "platform/kernel/thread_objects.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <ctime>

namespace kernel {
namespace {

using namespace detail;

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
        while (sem_wait(&object->Resume) != 0 && errno == EINTR) {}
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
        if (sem_timedwait(&object.Acknowledged, &until) == 0) return true;
        if (!TidAlive(tid)) break;
    }
    int expected = kRequested;
    if (object.SignalState.compare_exchange_strong(expected, kIdle)) return false; // given up before the handler ran
    while (sem_wait(&object.Acknowledged) != 0 && errno == EINTR) {}
    return true;
}

void FillContext(const ucontext_t& uc, TThreadContext& c) // signal-safe
{
    const greg_t* g = uc.uc_mcontext.gregs;
#if defined(__x86_64__)
    c.Rax = g[REG_RAX];
    c.Rbx = g[REG_RBX];
    c.Rcx = g[REG_RCX];
    c.Rdx = g[REG_RDX];
    c.Rsi = g[REG_RSI];
    c.Rdi = g[REG_RDI];
    c.Rbp = g[REG_RBP];
    c.Rsp = g[REG_RSP];
    c.R8 = g[REG_R8];
    c.R9 = g[REG_R9];
    c.R10 = g[REG_R10];
    c.R11 = g[REG_R11];
    c.R12 = g[REG_R12];
    c.R13 = g[REG_R13];
    c.R14 = g[REG_R14];
    c.R15 = g[REG_R15];
    c.Rip = g[REG_RIP];
    c.EFlags = g[REG_EFL];
#else
    c.Eax = g[REG_EAX];
    c.Ebx = g[REG_EBX];
    c.Ecx = g[REG_ECX];
    c.Edx = g[REG_EDX];
    c.Esi = g[REG_ESI];
    c.Edi = g[REG_EDI];
    c.Ebp = g[REG_EBP];
    c.Esp = g[REG_ESP];
    c.Eip = g[REG_EIP];
    c.EFlags = g[REG_EFL];
#endif
}

} // namespace

void ContextFromSignal(const void* signalContext, TThreadContext& context)
{
    FillContext(*static_cast<const ucontext_t*>(signalContext), context);
}

int SuspendSignal() { return SIGRTMIN + 4; }

std::uint32_t SuspendThread(THandle handle)
{
    TObjectPtr object = FindObject(handle);
    if (!object) return kSuspendFailed;
    InstallHandler();
    TUniqueLock lock(object->Lock);
    const int previous = object->SuspendCount;
    if (!object->Started || previous > 0) {
        if (object->Ended) return kSuspendFailed;
        ++object->SuspendCount; // the gate, or the signal handler already, holds the thread
        return static_cast<std::uint32_t>(previous);
    }
    const std::uint32_t tid = object->Tid;
    if (object->Ended || !TidAlive(tid)) return kSuspendFailed;
    object->SuspendCount = 1;
    object->SignalState = kRequested;
    if (tid == GetCurrentThreadId()) {
        // Suspending oneself: the handler runs before the signal call returns
        // and waits there until another thread resumes us.
        lock.unlock();
        SendSuspendSignal(object.get(), tid);
        while (sem_trywait(&object->Acknowledged) == 0) {}
        return 0;
    }
    if (!SendSuspendSignal(object.get(), tid) || !WaitAcknowledged(*object, tid)) {
        object->SuspendCount = 0;
        object->SignalState = kIdle;
        KeepForLateSignal(object);
        return kSuspendFailed;
    }
    return 0;
}

std::uint32_t ResumeThread(THandle handle)
{
    TObjectPtr object = FindObject(handle);
    if (!object) return kSuspendFailed;
    TLock lock(object->Lock);
    const int previous = object->SuspendCount;
    if (previous == 0) return 0;
    if (--object->SuspendCount == 0) {
        int expected = kRequested;
        if (!object->Started) {
            object->Changed.notify_all(); // opens the start gate
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
    TObjectPtr object = FindObject(handle);
    if (!object) return false;
    if (object->Tid == GetCurrentThreadId()) {
        ucontext_t uc;
        if (getcontext(&uc) != 0) return false;
        FillContext(uc, context);
        return true;
    }
    TLock lock(object->Lock);
    if (object->SignalState.load() != kSuspended) return false;
    FillContext(object->Saved, context);
    return true;
}

} // namespace kernel

#if defined(__x86_64__)
static_assert(offsetof(kernel::TThreadContext, Rbx) == 8 && offsetof(kernel::TThreadContext, Rbp) == 48 &&
              offsetof(kernel::TThreadContext, Rsp) == 56 && offsetof(kernel::TThreadContext, R12) == 96 &&
              offsetof(kernel::TThreadContext, Rip) == 128 && sizeof(kernel::TThreadContext) == 144);
asm(R"(
    .text
    .p2align 4
    .globl TavrelKernelCaptureCallerContext
    .type TavrelKernelCaptureCallerContext, @function
TavrelKernelCaptureCallerContext:
    .cfi_startproc
    pxor %xmm0, %xmm0
    movups %xmm0, 0(%rdi)
    movups %xmm0, 16(%rdi)
    movups %xmm0, 32(%rdi)
    movups %xmm0, 64(%rdi)
    movups %xmm0, 80(%rdi)
    movq $0, 136(%rdi)
    movq %rbx, 8(%rdi)
    movq %rbp, 48(%rdi)
    leaq 8(%rsp), %rax
    movq %rax, 56(%rdi)
    movq %r12, 96(%rdi)
    movq %r13, 104(%rdi)
    movq %r14, 112(%rdi)
    movq %r15, 120(%rdi)
    movq (%rsp), %rax
    movq %rax, 128(%rdi)
    ret
    .cfi_endproc
    .size TavrelKernelCaptureCallerContext, .-TavrelKernelCaptureCallerContext
)");
#endif
