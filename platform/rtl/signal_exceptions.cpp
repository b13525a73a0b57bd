// The fault signal handlers: record, mapping hook, throw.
#include "platform/rtl/signal_exceptions.h"

#include "platform/kernel/signal_stack.h"

#include <atomic>

namespace rtl {
namespace {

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP};
constexpr int kSignalCount = sizeof kSignals / sizeof kSignals[0];
// A fault this close below (or just above) the lowest byte of the thread's
// stack is the stack running into its guard area.
constexpr std::uintptr_t kGuardReach = 256 * 1024;
constexpr std::uintptr_t kAboveBottom = 4096;
constexpr int kNesting = 4; // storage slots: a fault while a fault is mapped

kernel::TSignalActionOwner g_actions[kSignalCount];
std::atomic<bool> g_installed{false};

thread_local TExceptionStorage t_storage[kNesting];
thread_local int t_depth = 0;

int SlotOf(int signal)
{
    for (int i = 0; i < kSignalCount; ++i)
        if (kSignals[i] == signal) return i;
    return -1;
}

bool IsStackOverflow(std::uintptr_t address)
{
    const kernel::TThreadSignalInfo& info = kernel::ThreadSignalInfo();
    if (!info.StackBottom) return false;
    return address + kGuardReach >= info.StackBottom && address < info.StackBottom + kAboveBottom;
}

// Signal-safe: runs on the alternate stack of the faulting thread.
void FaultHandler(int signal, siginfo_t* info, void* context)
{
    const int slot = SlotOf(signal);
    if (slot < 0) return;
    auto* uc = static_cast<ucontext_t*>(context);
    if (!kernel::IsFaultSignal(info) || !g_installed.load(std::memory_order_acquire)) {
        kernel::ChainSignal(g_actions[slot].Previous(), signal, info, context);
        return;
    }
    TExceptionRecord record;
    MakeExceptionRecord(signal, info, uc, record);
    if (t_depth >= kNesting) { // faults inside the mapping itself, again and again
        kernel::ChainSignal(g_actions[slot].Previous(), signal, info, context);
        return;
    }
    TExceptionStorage& storage = t_storage[t_depth++];
    EExternal* object = ExceptObjProc()(record, uc, storage);
    --t_depth;
    if (!object) {
        kernel::ChainSignal(g_actions[slot].Previous(), signal, info, context);
        return;
    }
    // Leaving by a throw does not restore the signal mask of the interrupted code.
    kernel::UnblockSignal(signal);
    object->Raise();
}

kernel::TThreadStartHook g_previousStartHook = nullptr;

void ThreadStart()
{
    if (g_previousStartHook) g_previousStartHook();
    PrepareThreadForSignals();
}

} // namespace

void MakeExceptionRecord(int signal, const siginfo_t* info, const ucontext_t* context, TExceptionRecord& record)
{
    record = TExceptionRecord{};
    record.ExceptionFlags = EXCEPTION_NONCONTINUABLE;
#if defined(__x86_64__)
    const std::uintptr_t pc = context ? static_cast<std::uintptr_t>(context->uc_mcontext.gregs[REG_RIP]) : 0;
    const std::uintptr_t err = context ? static_cast<std::uintptr_t>(context->uc_mcontext.gregs[REG_ERR]) : 0;
#else
    const std::uintptr_t pc = context ? static_cast<std::uintptr_t>(context->uc_mcontext.gregs[REG_EIP]) : 0;
    const std::uintptr_t err = context ? static_cast<std::uintptr_t>(context->uc_mcontext.gregs[REG_ERR]) : 0;
#endif
    record.ExceptionAddress = reinterpret_cast<void*>(pc);
    const auto faultAddress = reinterpret_cast<std::uintptr_t>(info ? info->si_addr : nullptr);
    const int code = info ? info->si_code : 0;
    switch (signal) {
    case SIGSEGV:
    case SIGBUS: {
        // Page-fault error code: bit 1 a write, bit 4 an instruction fetch.
        const std::uintptr_t kind = (err & 0x10) ? avExecute : (err & 0x2) ? avWrite : avRead;
        if (signal == SIGSEGV)
            record.ExceptionCode = IsStackOverflow(faultAddress) ? STATUS_STACK_OVERFLOW : STATUS_ACCESS_VIOLATION;
        else
            record.ExceptionCode = code == BUS_ADRALN ? STATUS_DATATYPE_MISALIGNMENT : STATUS_IN_PAGE_ERROR;
        record.NumberParameters = 2;
        record.ExceptionInformation[0] = kind;
        record.ExceptionInformation[1] = faultAddress;
        break;
    }
    case SIGFPE:
        switch (code) {
        case FPE_INTDIV: record.ExceptionCode = STATUS_INTEGER_DIVIDE_BY_ZERO; break;
        case FPE_INTOVF: record.ExceptionCode = STATUS_INTEGER_OVERFLOW; break;
        case FPE_FLTDIV: record.ExceptionCode = STATUS_FLOAT_DIVIDE_BY_ZERO; break;
        case FPE_FLTOVF: record.ExceptionCode = STATUS_FLOAT_OVERFLOW; break;
        case FPE_FLTUND: record.ExceptionCode = STATUS_FLOAT_UNDERFLOW; break;
        case FPE_FLTRES: record.ExceptionCode = STATUS_FLOAT_INEXACT_RESULT; break;
        default: record.ExceptionCode = STATUS_FLOAT_INVALID_OPERATION; break;
        }
        break;
    case SIGILL:
        record.ExceptionCode =
            (code == ILL_PRVOPC || code == ILL_PRVREG) ? STATUS_PRIVILEGED_INSTRUCTION : STATUS_ILLEGAL_INSTRUCTION;
        break;
    case SIGTRAP: record.ExceptionCode = code == TRAP_TRACE ? STATUS_SINGLE_STEP : STATUS_BREAKPOINT; break;
    default: record.ExceptionCode = STATUS_ILLEGAL_INSTRUCTION; break;
    }
}

void PrepareThreadForSignals()
{
    kernel::EnsureThreadSignalStack();
    // Touch the thread's storage now, so the handler never makes it.
    t_storage[0].Object[0] = 0;
    t_depth = 0;
}

bool InstallSignalExceptions()
{
    if (g_installed.load()) return true;
    PrepareThreadForSignals();
    struct sigaction action {};
    action.sa_sigaction = &FaultHandler;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    for (int i = 0; i < kSignalCount; ++i)
        if (!g_actions[i].Install(kSignals[i], action)) {
            for (int j = 0; j < i; ++j) g_actions[j].Restore();
            return false;
        }
    g_previousStartHook = kernel::SetThreadStartHook(&ThreadStart);
    g_installed = true;
    return true;
}

void RemoveSignalExceptions()
{
    if (!g_installed.exchange(false)) return;
    kernel::SetThreadStartHook(g_previousStartHook);
    for (auto& action : g_actions) action.Restore();
}

bool SignalExceptionsInstalled() { return g_installed.load(); }

} // namespace rtl
