// Alternate signal stacks and the raw ends of threads and processes.
#include "platform/kernel/signal_stack.h"

#include "platform/kernel/threads.h"

#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>

namespace kernel {
namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr std::size_t kAltStackSize = 256 * 1024; // the sanitizer's own frames are large
#else
constexpr std::size_t kAltStackSize = 64 * 1024;
#endif

thread_local TThreadSignalInfo t_info;
std::atomic<TThreadStartHook> g_startHook{nullptr};

// Owns the mapping of the calling thread's alternate stack and takes the
// stack away from the thread before it unmaps it.
class TAltStackOwner {
public:
    ~TAltStackOwner()
    {
        if (!mapping_) return;
        stack_t off{};
        off.ss_flags = SS_DISABLE;
        sigaltstack(&off, nullptr);
        munmap(mapping_, length_);
        t_info = TThreadSignalInfo{};
    }
    bool Map(std::size_t usable)
    {
        const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        length_ = usable + page; // one guard page below
        void* p = mmap(nullptr, length_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
        if (p == MAP_FAILED) return false;
        mapping_ = p;
        mprotect(p, page, PROT_NONE);
        base_ = static_cast<char*>(p) + page;
        return true;
    }
    bool Mapped() const { return mapping_ != nullptr; }
    void* Base() const { return base_; }

private:
    void* mapping_ = nullptr;
    void* base_ = nullptr;
    std::size_t length_ = 0;
};

thread_local TAltStackOwner t_owner;

} // namespace

std::size_t SignalStackSize() { return kAltStackSize; }

bool EnsureThreadSignalStack()
{
    if (t_info.AltStackBase) return true;
    stack_t current{};
    if (sigaltstack(nullptr, &current) == 0 && !(current.ss_flags & SS_DISABLE) && current.ss_size >= kAltStackSize) {
        // Someone else gave the thread a large enough stack: keep theirs.
        t_info.AltStackBase = reinterpret_cast<std::uintptr_t>(current.ss_sp);
        t_info.AltStackSize = current.ss_size;
    } else {
        if (!t_owner.Mapped() && !t_owner.Map(kAltStackSize)) return false;
        stack_t stack{};
        stack.ss_sp = t_owner.Base();
        stack.ss_size = kAltStackSize;
        if (sigaltstack(&stack, nullptr) != 0) return false;
        t_info.AltStackBase = reinterpret_cast<std::uintptr_t>(t_owner.Base());
        t_info.AltStackSize = kAltStackSize;
    }
    std::uintptr_t top = 0, bottom = 0;
    if (GetCurrentThreadStack(top, bottom)) {
        t_info.StackTop = top;
        t_info.StackBottom = bottom;
    }
    return true;
}

const TThreadSignalInfo& ThreadSignalInfo() { return t_info; }

TThreadStartHook SetThreadStartHook(TThreadStartHook hook) { return g_startHook.exchange(hook); }

void RunThreadStartHook()
{
    if (TThreadStartHook hook = g_startHook.load()) hook();
}

bool TSignalActionOwner::Install(int signal, const struct sigaction& action)
{
    Restore();
    if (sigaction(signal, &action, &previous_) != 0) return false;
    signal_ = signal;
    return true;
}

void TSignalActionOwner::Restore()
{
    if (signal_ == 0) return;
    sigaction(signal_, &previous_, nullptr);
    signal_ = 0;
}

void ChainSignal(const struct sigaction& previous, int signal, siginfo_t* info, void* context)
{
    if (previous.sa_flags & SA_SIGINFO) {
        if (previous.sa_sigaction) previous.sa_sigaction(signal, info, context);
        return;
    }
    if (previous.sa_handler == SIG_IGN) return;
    if (previous.sa_handler != SIG_DFL) {
        previous.sa_handler(signal);
        return;
    }
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    sigaction(signal, &dfl, nullptr);
    UnblockSignal(signal);
    // For a fault the instruction runs again and faults under the default
    // action; a sent signal is sent again.
    if (!IsFaultSignal(info)) syscall(SYS_tgkill, getpid(), syscall(SYS_gettid), signal);
}

// SI_KERNEL (a general protection fault, int3) is a fault too.
bool IsFaultSignal(const siginfo_t* info) { return info && info->si_code > 0; }

void UnblockSignal(int signal)
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

void ExitCurrentThreadNow(int exitCode)
{
    for (;;) syscall(SYS_exit, exitCode);
}

void HaltProcess(int exitCode) { _exit(exitCode); }

} // namespace kernel
