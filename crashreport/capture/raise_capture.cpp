// Raise-time capture: the interceptors of the raise roads, the replaced
// mapping hook, the unhandled-exception procedure and the abort handler.
#include "crashreport/capture/raise_capture.h"

#include "crashreport/capture/capture_errors.h"
#include "crashreport/capture/capture_state.h"
#include "crashreport/capture/dispatcher.h"
#include "crashreport/capture/capture_queries.h"
#include "crashreport/hook/hook_engine.h"
#include "crashreport/hook/module_loading.h"
#include "crashreport/threads/thread_tracking.h"
#include "platform/kernel/libraries.h"
#include "platform/kernel/modules.h"
#include "platform/kernel/signal_stack.h"
#include "platform/rtl/signal_exceptions.h"

#include <cxxabi.h>
#include <errno.h>
#include <link.h>

#include <atomic>
#include <cstring>
#include <exception>

namespace crashreport {
namespace {

using TCxaThrow = void (*)(void*, std::type_info*, void (*)(void*));
using TUnwindRaise = _Unwind_Reason_Code (*)(_Unwind_Exception*);
using TMalloc = void* (*)(std::size_t);

std::atomic<TCxaThrow> g_realThrow{nullptr};
std::atomic<TUnwindRaise> g_realRaise{nullptr};
std::atomic<TMalloc> g_realMalloc{nullptr};
std::atomic<bool> g_mallocIntercepted{false};
rtl::TExceptObjProc g_previousMapping = nullptr;
rtl::TRaiseAllocator g_previousAllocator = nullptr;
std::terminate_handler g_previousTerminate = nullptr;
kernel::TSignalActionOwner g_abortAction;
bool g_signalsInstalledHere = false;

thread_local std::uint8_t t_noMalloc = 0;
thread_local rtl::TExceptionStorage t_abortStorage;
thread_local bool t_insideAbort = false;
kernel::TThreadStartHook g_previousStartHook = nullptr;

// Touches this thread's storage of the capture, so that no signal handler
// is the first to use it (which may allocate when the reporter lives in a
// library loaded later). Not signal-safe; run when a thread starts.
void PrepareThreadForCapture()
{
    t_noMalloc = 0;
    t_abortStorage.Object[0] = 0;
    t_insideAbort = false;
    ThreadCapture().InFaultHandler = 0;
}

void ThreadStartForCapture()
{
    if (g_previousStartHook) g_previousStartHook();
    PrepareThreadForCapture();
}

// The runtime's modules (libstdc++, libgcc_s): a raise address inside them
// is not the raiser's.
struct TRange {
    std::uintptr_t Start, End;
};
TRange g_runtimeRanges[8];
int g_runtimeRangeCount = 0;

bool InRuntime(std::uintptr_t ip)
{
    for (int i = 0; i < g_runtimeRangeCount; ++i)
        if (ip >= g_runtimeRanges[i].Start && ip < g_runtimeRanges[i].End) return true;
    return false;
}

// Layout of the C++ runtime's per-thread exception globals.
struct TCxaGlobals {
    TCxaException* caughtExceptions;
    unsigned int uncaughtExceptions;
};

class TErrnoKeeper {
public:
    TErrnoKeeper() : saved_(errno) {}
    ~TErrnoKeeper() { errno = saved_; }
    TErrnoKeeper(const TErrnoKeeper&) = delete;
    TErrnoKeeper& operator=(const TErrnoKeeper&) = delete;

private:
    int saved_;
};

// Sets the inside-raise-hook byte by compare-and-exchange and clears it
// again; a thread already inside does not enter.
class TInsideRaiseHook {
public:
    TInsideRaiseHook()
    {
        std::uint8_t expected = 0;
        entered_ = ThreadCapture().InsideRaiseHook.compare_exchange_strong(expected, 1);
    }
    ~TInsideRaiseHook()
    {
        if (entered_) ThreadCapture().InsideRaiseHook.store(0);
    }
    TInsideRaiseHook(const TInsideRaiseHook&) = delete;
    TInsideRaiseHook& operator=(const TInsideRaiseHook&) = delete;
    bool Entered() const { return entered_; }

private:
    bool entered_;
};

// First instruction pointer above the capture's own frames that lies
// outside the runtime's modules: where a rethrow came from.
struct TRaiserSearch {
    std::uintptr_t CfaAbove;
    std::uintptr_t Ip;
};

_Unwind_Reason_Code FindRaiser(_Unwind_Context* context, void* argument)
{
    auto& search = *static_cast<TRaiserSearch*>(argument);
    if (_Unwind_GetCFA(context) <= search.CfaAbove) return _URC_NO_REASON;
    int before = 0;
    const std::uintptr_t ip = _Unwind_GetIPInfo(context, &before);
    if (ip && !InRuntime(ip)) {
        search.Ip = before ? ip : ip - 1;
        return _URC_END_OF_STACK;
    }
    return _URC_NO_REASON;
}

// Signal-safe: the mapping hook of the fault handler.
rtl::EExternal* MappingHook(const rtl::TExceptionRecord& record, const ucontext_t* context,
                            rtl::TExceptionStorage& storage)
{
    return MapAndCapture(record, context, storage, true);
}

// Signal-safe: the thrown copy of a mapped fault is taken from the
// runtime's emergency pool, never from the allocator (whose lock another
// thread may hold).
void* RaiseAllocator(std::size_t size)
{
    t_noMalloc = 1;
    void* memory = abi::__cxa_allocate_exception(size);
    t_noMalloc = 0;
    return memory;
}

// Replaces libstdc++'s malloc import: refuses while a fault's copy is made.
void* RaiseMalloc(std::size_t size)
{
    if (t_noMalloc) return nullptr;
    return g_realMalloc.load(std::memory_order_relaxed)(size);
}

void UnhandledProcedure()
{
    if (ExceptionCaptureStarted()) {
        try {
            auto* globals = reinterpret_cast<TCxaGlobals*>(abi::__cxa_get_globals());
            TCxaException* header = globals ? globals->caughtExceptions : nullptr;
            if (header) {
                const TExceptionObject object = ObjectOfUnwindException(&header->unwindHeader);
                const TLastException last = LastExceptionCopy();
                void* address = last.Object.Object == object.Object ? last.Address : nullptr;
                const bool reported = object.Object == Capture().LastCapturedObject.load() ||
                    (address && address == Capture().LastCapturedAddress.load());
                if (!reported)
                    CaptureAtRaise(object, address, !ClassDescendsFromName(object.Type, "EExternal"), false, nullptr,
                                   TWalkStart{}, true);
            }
        } catch (...) {
            CaptureInternalError("UnhandledProcedure", "exception while reporting an unhandled exception");
        }
        EndUnhandled();
    }
    if (g_previousTerminate) g_previousTerminate();
    std::abort();
}

// Signal-safe up to the report. abort() is reported on the unhandled road;
// then the default action ends the process.
void AbortHandler(int signal, siginfo_t* info, void* context)
{
    const bool sentByOther = info && info->si_code <= 0 && info->si_pid != getpid();
    if (!t_insideAbort && !sentByOther && ExceptionCaptureStarted()) {
        t_insideAbort = true;
        ThreadCapture().InFaultHandler = 1;
        rtl::TExceptionRecord record;
        record.ExceptionCode = 0x40000015; // fatal application exit
        record.ExceptionFlags = rtl::EXCEPTION_NONCONTINUABLE;
        const auto* uc = static_cast<const ucontext_t*>(context);
        kernel::TThreadContext registers{};
        kernel::ContextFromSignal(uc, registers);
        record.ExceptionAddress = reinterpret_cast<void*>(kernel::InstructionPointer(registers));
        try {
            if (rtl::EExternal* object = rtl::MapExceptionRecord(record, uc, t_abortStorage)) {
                ThreadCapture().SavedContext = registers;
                ThreadCapture().ContextFlags = kContextAll;
                ThreadCapture().RaiseFrame = kernel::StackPointer(registers);
                CaptureAtRaise(ExceptionObjectOf(*object), record.ExceptionAddress, false, false, nullptr, TWalkStart{},
                               true);
            }
        } catch (...) {
            CaptureInternalError("AbortHandler", "exception while reporting abort()");
        }
    }
    kernel::ChainSignal(g_abortAction.Previous(), signal, info, context);
}

// In every module, and in every module loaded later (hook/module_loading.h).
int InterceptEverywhere(void* real, void* replacement, const char* name)
{
    try {
        return hook::InterceptInEveryModule(real, replacement, name);
    } catch (const std::exception& e) {
        CaptureInternalError(name, e.what());
        return 0;
    }
}

// The capture of the unwinding road behind a catch of its own: a fault in
// the capture becomes an internal error instead of replacing the exception
// being raised. Its frame has returned before the real search phase runs
// (the interceptor itself must hold no catch).
__attribute__((noinline)) TAnalysis GuardedCapture(const TExceptionObject& object, void* address,
                                                   _Unwind_Exception* exception, const TWalkStart& start)
{
    try {
        return CaptureAtRaise(object, address, !(ClassFlags(object.Type) & cfExternal), false, exception, start, false);
    } catch (...) {
        CaptureInternalError("UnwindRaiseInterceptor", "exception while capturing a raise");
    }
    TAnalysis handled;
    handled.Handled = true;
    return handled;
}

} // namespace

TAnalysis CaptureAtRaise(const TExceptionObject& object, void* address, bool languageRaise, bool noRecord,
                         _Unwind_Exception* exception, const TWalkStart& start, bool forceUnhandled)
{
    TAnalysis answer;
    answer.Handled = true;
    TInsideRaiseHook inside;
    if (!inside.Entered()) return answer;
    TErrnoKeeper keepErrno;
    TCaptureState& state = Capture();
    if (!(noRecord && LastExceptionCopy().Address)) RecordLastException(object, address, languageRaise);
    if (!CaptureOnForThisThread() || !IsManageable(object)) return answer;
    TThreadCaptureState& t = ThreadCapture();
    void* snapshotAddress = languageRaise && address ? static_cast<char*>(address) - 1 : address;
    if (!forceUnhandled) {
        if (!exception) return answer;
        answer = AnalyseHandlers(exception, start, address, t.RaiseFrame);
        // The overrides, in order.
        if (state.Delegates.load()) answer.Handled = true;
        if (noRecord) answer.Handled = true;
        if (answer.FirstKind == hkSafeCall) {
            answer.Handled = false;
            answer.CaptureMode = cmSafeCall;
        }
    } else {
        answer = TAnalysis{};
    }
    // The stack as it was at the raise, for a later report of the same
    // exception (a catch-all, as framework handlers are, or nothing takes
    // it). An exception that a type-filtered catch of the program takes is
    // the program's own business: its raise costs no copy.
    if (!answer.Handled || answer.FirstKind != hkTyped)
        TakeStackSnapshot(t.RaiseFrame, snapshotAddress, object.Object, t.Rethrow != 0);
    if (answer.Handled) return answer;
    TCapturedException captured;
    captured.Exception = object;
    captured.Address = address;
    captured.LanguageRaise = languageRaise;
    captured.CaptureMode = answer.CaptureMode;
    captured.Module = state.OwnModule;
    captured.RaiserKind = rkRuntime;
    if (!InsideDispatch()) { // a nested raise is swallowed, not reported
        state.LastCapturedAddress.store(address);
        if (captured.CaptureMode != cmThreadBody) state.LastCapturedObject.store(object.Object);
    }
    Dispatch(captured);
    return answer;
}

void EndUnhandled()
{
    if (kernel::GetCurrentThreadId() == kernel::MainThreadId()) kernel::HaltProcess(1);
    if (TTavrelThreadsList* threads = TrackedThreads(); threads && ThreadTrackingStarted())
        threads->RemoveCurrentThread();
    kernel::ExitCurrentThreadNow(1);
}

rtl::EExternal* MapAndCapture(const rtl::TExceptionRecord& record, const ucontext_t* context,
                              rtl::TExceptionStorage& storage, bool capture)
{
    rtl::TExceptObjProc previous = g_previousMapping ? g_previousMapping : &rtl::MapExceptionRecord;
    rtl::EExternal* object = previous(record, context, storage);
    if (!object || !capture || !ExceptionCaptureStarted()) return object;
    TThreadCaptureState& t = ThreadCapture();
    if (context) {
        kernel::ContextFromSignal(context, t.SavedContext);
        t.ContextFlags = kContextAll;
        t.RaiseFrame = kernel::StackPointer(t.SavedContext);
    }
    const TExceptionObject thrown = ExceptionObjectOf(*object);
    // The object as the personality will see it: a raise header in front.
    auto* header = reinterpret_cast<TCxaException*>(storage.Object) - 1;
    static_assert(sizeof(TCxaException) <= sizeof storage.Reserved);
    std::memset(header, 0, sizeof *header);
    header->exceptionType = const_cast<std::type_info*>(thrown.Type);
    header->unwindHeader.exception_class = kCxxPrimaryClass;
    TWalkStart start;
    start.FaultIp = reinterpret_cast<std::uintptr_t>(record.ExceptionAddress);
    // A stack pointer outside the thread's stack: no frame above the fault
    // can be found, so nothing can catch it. It is reported without a walk.
    bool corruptStack = false;
    if (context) {
        const kernel::TThreadSignalInfo& info = kernel::ThreadSignalInfo();
        const std::uintptr_t sp = kernel::StackPointer(t.SavedContext);
        corruptStack = info.StackTop && (sp > info.StackTop || sp + (256u << 10) < info.StackBottom);
    }
    TAnalysis answer;
    t.InFaultHandler = 1;
    try {
        answer =
            CaptureAtRaise(thrown, record.ExceptionAddress, false, false, &header->unwindHeader, start, corruptStack);
    } catch (...) {
        CaptureInternalError("MapAndCapture", "exception while capturing a fault");
        answer.Handled = true; // the throw goes on as if nothing had looked
    }
    t.InFaultHandler = 0;
    if (!answer.Handled && answer.Taking == 0) EndUnhandled(); // reported; nothing would catch the throw
    // The throw that follows is this fault's own: captured already.
    t.SignalObject = reinterpret_cast<void*>(1);
    if (TExceptionCaptureDelegation* d = Delegation())
        if (d->ExceptObject) d->ExceptObject(&record, context, false);
    return object;
}

} // namespace crashreport

// The language-raise interceptor is a stub that records the raise and then
// jumps to the real __cxa_throw: it leaves no frame of its own behind, so
// the unwinder has no extra frame to step through on each throw. It saves
// the argument registers and the callee-saved registers (the raiser's, as
// they are at the call), calls RecordLanguageRaise and jumps on.
extern "C" {
__attribute__((visibility("hidden"))) void* g_captureRealCxaThrow = nullptr;
__attribute__((visibility("hidden"))) void TavrelCaptureRecordLanguageRaise(void* object, void* returnAddress,
                                                                            std::uintptr_t raiseFrame,
                                                                            const std::uintptr_t* registers);
}

#if defined(__x86_64__)
asm(R"(
    .text
    .p2align 4
    .globl TavrelCaptureCxaThrowStub
    .hidden TavrelCaptureCxaThrowStub
    .type TavrelCaptureCxaThrowStub, @function
TavrelCaptureCxaThrowStub:
    .cfi_startproc
    pushq %rdi
    .cfi_adjust_cfa_offset 8
    pushq %rsi
    .cfi_adjust_cfa_offset 8
    pushq %rdx
    .cfi_adjust_cfa_offset 8
    pushq %rbx
    .cfi_adjust_cfa_offset 8
    pushq %rbp
    .cfi_adjust_cfa_offset 8
    pushq %r12
    .cfi_adjust_cfa_offset 8
    pushq %r13
    .cfi_adjust_cfa_offset 8
    pushq %r14
    .cfi_adjust_cfa_offset 8
    pushq %r15
    .cfi_adjust_cfa_offset 8
    movq %rsp, %rcx
    movq 72(%rsp), %rsi
    leaq 80(%rsp), %rdx
    call TavrelCaptureRecordLanguageRaise
    popq %r15
    .cfi_adjust_cfa_offset -8
    popq %r14
    .cfi_adjust_cfa_offset -8
    popq %r13
    .cfi_adjust_cfa_offset -8
    popq %r12
    .cfi_adjust_cfa_offset -8
    popq %rbp
    .cfi_adjust_cfa_offset -8
    popq %rbx
    .cfi_adjust_cfa_offset -8
    popq %rdx
    .cfi_adjust_cfa_offset -8
    popq %rsi
    .cfi_adjust_cfa_offset -8
    popq %rdi
    .cfi_adjust_cfa_offset -8
    jmp *g_captureRealCxaThrow(%rip)
    .cfi_endproc
    .size TavrelCaptureCxaThrowStub, .-TavrelCaptureCxaThrowStub
)");
#endif

// Signal-safe: plain stores into the thread's state. Registers in the order
// the stub pushed them: r15, r14, r13, r12, rbp, rbx, rdx, rsi, rdi.
void TavrelCaptureRecordLanguageRaise(void* object, void* returnAddress, std::uintptr_t raiseFrame,
                                      const std::uintptr_t* registers)
{
    using namespace crashreport;
    TThreadCaptureState& t = ThreadCapture();
    if (t.SignalObject) // the fault handler's throw keeps the fault's context
        return;
    t.ThrowObject = object;
    t.ThrowAddress = returnAddress;
    t.RaiseFrame = raiseFrame;
#if defined(__x86_64__)
    kernel::TThreadContext& c = t.SavedContext;
    c.R15 = registers[0], c.R14 = registers[1], c.R13 = registers[2], c.R12 = registers[3];
    c.Rbp = registers[4], c.Rbx = registers[5], c.Rdx = registers[6], c.Rsi = registers[7], c.Rdi = registers[8];
    c.Rax = reinterpret_cast<std::uintptr_t>(object);
    c.Rsp = raiseFrame;
    c.Rip = reinterpret_cast<std::uintptr_t>(returnAddress) - 5; // the call
    t.ContextFlags = kContextAll;
#endif
}

namespace crashreport {

_Unwind_Reason_Code UnwindRaiseInterceptor(_Unwind_Exception* exception)
{
    const auto here = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
    TThreadCaptureState& t = ThreadCapture();
    if (ExceptionCaptureStarted() && !t.InsideRaiseHook.load(std::memory_order_relaxed)) {
        const TExceptionObject object = ObjectOfUnwindException(exception);
        if (object.Valid() && !t.SignalObject) {
            void* address = nullptr;
            if (object.Object == t.ThrowObject) {
                address = t.ThrowAddress;
            } else {
                // A rethrow: the first raise of the same object keeps its address.
                const TLastException last = LastExceptionCopy();
                if (last.Object.Object == object.Object && last.Address) {
                    address = last.Address;
                } else {
                    TRaiserSearch search{here, 0};
                    _Unwind_Backtrace(&FindRaiser, &search);
                    address = reinterpret_cast<void*>(search.Ip);
                }
                t.RaiseFrame = here + 2 * sizeof(void*);
            }
            t.Rethrow = object.Object != t.ThrowObject;
            t.ThrowObject = nullptr;
            TWalkStart start;
            start.CfaAbove = here;
            const TAnalysis answer = GuardedCapture(object, address, exception, start);
            t.Rethrow = 0;
            if (!answer.Handled && answer.Taking == 0 && !answer.Terminates &&
                CachedThreadId() != kernel::MainThreadId()) {
                // Reported; nothing on this thread will catch it: the thread
                // ends here with exit code 1, its destructors run by the
                // forced unwind of the thread exit.
                _Unwind_DeleteException(exception);
                ExitThreadInterceptor(reinterpret_cast<void*>(static_cast<std::intptr_t>(1)));
            }
            if (TExceptionCaptureDelegation* d = Delegation())
                if (d->GeneralRaise) d->GeneralRaise(0x0EEDFADE, 1, 7, t.RaiseFrame, nullptr);
        }
        t.SignalObject = nullptr;
    }
    return g_realRaise.load(std::memory_order_relaxed)(exception);
}

bool InstallRaiseCapture()
{
    hook::StartHookEngine();
    g_runtimeRangeCount = 0;
    for (const kernel::TModuleImage& module : kernel::EnumerateModules())
        if (module.Path.find("libstdc++") != std::string::npos || module.Path.find("libgcc_s") != std::string::npos)
            for (const kernel::TModuleSegment& s : module.Segments)
                if (g_runtimeRangeCount < 8) g_runtimeRanges[g_runtimeRangeCount++] = TRange{s.Start, s.End};

    g_realThrow = reinterpret_cast<TCxaThrow>(kernel::FindGlobalSymbol("__cxa_throw"));
    g_captureRealCxaThrow = reinterpret_cast<void*>(g_realThrow.load());
    g_realRaise = reinterpret_cast<TUnwindRaise>(kernel::FindGlobalSymbol("_Unwind_RaiseException"));
    g_realMalloc = reinterpret_cast<TMalloc>(kernel::FindGlobalSymbol("malloc"));
    bool ok = true;
    if (!g_realThrow ||
        !InterceptEverywhere(reinterpret_cast<void*>(g_realThrow.load()),
                             reinterpret_cast<void*>(&TavrelCaptureCxaThrowStub), "__cxa_throw")) {
        CaptureInternalError("InstallRaiseCapture", "the language raise (__cxa_throw) is not intercepted");
        ok = false;
    }
    if (!g_realRaise ||
        !InterceptEverywhere(reinterpret_cast<void*>(g_realRaise.load()),
                             reinterpret_cast<void*>(&UnwindRaiseInterceptor), "_Unwind_RaiseException")) {
        CaptureInternalError("InstallRaiseCapture", "the unwinding road (_Unwind_RaiseException) is not intercepted");
        ok = false;
    }
    // Libraries loaded later get the same interceptions.
    if (!hook::FollowModuleLoading())
        CaptureInternalError("InstallRaiseCapture", "libraries loaded later are not intercepted (dlopen)");
    // libstdc++ takes a thrown object's memory through its own malloc import.
    for (const kernel::TModuleImage& module : kernel::EnumerateModules())
        if (module.Path.find("libstdc++") != std::string::npos && g_realMalloc) try {
                if (hook::InterceptImport(module.Handle, "", reinterpret_cast<void*>(g_realMalloc.load()),
                                          reinterpret_cast<void*>(&RaiseMalloc), false, true, "malloc"))
                    g_mallocIntercepted = true;
            } catch (const std::exception& e) {
                CaptureInternalError("malloc", e.what());
            }
    if (g_mallocIntercepted)
        g_previousAllocator = rtl::SetRaiseAllocator(&RaiseAllocator);
    else
        CaptureInternalError("InstallRaiseCapture", "a fault's exception object may wait for the allocator");

    g_signalsInstalledHere = !rtl::SignalExceptionsInstalled();
    if (!rtl::InstallSignalExceptions()) {
        CaptureInternalError("InstallRaiseCapture", "the fault handlers are not installed");
        ok = false;
    }
    PrepareThreadForCapture();
    g_previousStartHook = kernel::SetThreadStartHook(&ThreadStartForCapture);
    g_previousMapping = rtl::SetExceptObjProc(&MappingHook);
    g_previousTerminate = std::set_terminate(&UnhandledProcedure);
    struct sigaction action {};
    action.sa_sigaction = &AbortHandler;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    g_abortAction.Install(SIGABRT, action);
    return ok;
}

void RemoveRaiseCapture()
{
    g_abortAction.Restore();
    std::set_terminate(g_previousTerminate);
    rtl::SetExceptObjProc(g_previousMapping);
    g_previousMapping = nullptr;
    kernel::SetThreadStartHook(g_previousStartHook);
    g_previousStartHook = nullptr;
    if (g_signalsInstalledHere) rtl::RemoveSignalExceptions();
    if (g_mallocIntercepted.exchange(false)) {
        rtl::SetRaiseAllocator(g_previousAllocator);
        hook::RestoreImports(reinterpret_cast<void*>(&RaiseMalloc));
    }
    hook::RestoreImports(reinterpret_cast<void*>(&TavrelCaptureCxaThrowStub));
    hook::RestoreImports(reinterpret_cast<void*>(&UnwindRaiseInterceptor));
    hook::ShutdownHookEngine();
}

bool RaiseAllocatorInstalled() { return g_mallocIntercepted.load(); }

} // namespace crashreport
