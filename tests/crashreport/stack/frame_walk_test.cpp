// The exact walk against the runtime's own unwinder, through a signal
// frame, over a stack copy, and the scan where the walk cannot go.
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <ucontext.h>
#include <unwind.h>

#include <cstring>
#include <vector>

#include "crashreport/stack/frame_walk.h"
#include "crashreport/stack/walk_memory.h"

namespace {

using namespace crashreport;

std::uintptr_t ThreadStackTop()
{
    pthread_attr_t attr;
    void* base = nullptr;
    std::size_t size = 0;
    pthread_getattr_np(pthread_self(), &attr);
    pthread_attr_getstack(&attr, &base, &size);
    pthread_attr_destroy(&attr);
    return reinterpret_cast<std::uintptr_t>(base) + size;
}

struct TWalked {
    std::vector<std::uintptr_t> Rows;
    std::vector<bool> Scanned;
    TWalkOutcome Outcome;
};

TWalked Walk(const kernel::TThreadContext& context, const std::uint8_t* copy = nullptr, std::uintptr_t copyStart = 0,
             std::size_t copyLength = 0)
{
    static const TUnwindModules modules;
    static const TCodeRanges code;
    TStackAddresses out;
    TThreadStack stack;
    stack.Context = &context;
    stack.Top = ThreadStackTop();
    stack.Copy = copy;
    stack.CopyStart = copyStart;
    stack.CopyLength = copyLength;
    TWalked w;
    w.Outcome = WalkStackAddresses(stack, modules, code, out);
    for (std::size_t i = 0; i < out.Items().size(); ++i) {
        w.Rows.push_back(out.Items()[i]);
        w.Scanned.push_back(out.Scanned(i));
    }
    return w;
}

_Unwind_Reason_Code Collect(_Unwind_Context* context, void* argument)
{
    int before = 0;
    const std::uintptr_t ip = _Unwind_GetIPInfo(context, &before);
    if (ip == 0) return _URC_END_OF_STACK; // the runtime's end of the outermost frame
    static_cast<std::vector<std::uintptr_t>*>(argument)->push_back(before ? ip : CallSiteOf(ip));
    return _URC_NO_REASON;
}

// The walk and the runtime's unwinder from the same point: getcontext's
// return in this function.
TWalked g_walk;
std::vector<std::uintptr_t> g_reference;

__attribute__((noinline)) void WalkHere()
{
    ucontext_t uc;
    getcontext(&uc);
    kernel::TThreadContext context;
    kernel::ContextFromSignal(&uc, context);
    g_walk = Walk(context);
    g_reference.clear();
    _Unwind_Backtrace(&Collect, &g_reference);
    asm volatile("");
}

// noipa: no clone of it (-O3 makes one for the recursive calls) that the
// address window below would miss.
__attribute__((noipa)) int Recurse(int depth, int (*leaf)(int))
{
    char* room = static_cast<char*>(__builtin_alloca(16 + depth * 8));
    room[0] = char(depth);
    const int r = depth == 0 ? leaf(room[0]) : Recurse(depth - 1, leaf) + room[0];
    asm volatile("" ::: "memory");
    return r;
}

int LeafWalk(int v)
{
    WalkHere();
    return v + 1;
}

TEST(FrameWalk, NamesTheFramesTheRuntimesUnwinderNames)
{
    ASSERT_GT(Recurse(12, &LeafWalk), 0);
    // The runtime starts in WalkHere at the _Unwind_Backtrace call; the walk
    // at the getcontext return: from WalkHere's caller on they agree.
    ASSERT_GE(g_reference.size(), 16u);
    ASSERT_GE(g_walk.Rows.size(), 16u);
    EXPECT_TRUE(g_walk.Outcome.Complete);
    EXPECT_EQ(g_walk.Outcome.StoppedAt, 0u);
    const std::vector<std::uintptr_t> expected(g_reference.begin() + 1, g_reference.end());
    const std::vector<std::uintptr_t> walked(g_walk.Rows.begin() + 1, g_walk.Rows.end());
    EXPECT_EQ(walked, expected);
    for (bool scanned : g_walk.Scanned) EXPECT_FALSE(scanned);
}

// Through the kernel's signal frame: the handler walks from its own
// registers, past the trampoline, into the function the signal interrupted.
volatile sig_atomic_t g_spin = 1;

__attribute__((noinline)) void SignalHandler(int, siginfo_t*, void*)
{
    WalkHere();
    g_spin = 0;
}

__attribute__((noinline)) void Interrupted()
{
    raise(SIGUSR2);
    asm volatile("" ::: "memory");
}

TEST(FrameWalk, CrossesTheSignalTrampoline)
{
    struct sigaction action {
    }, previous{};
    action.sa_sigaction = &SignalHandler;
    action.sa_flags = SA_SIGINFO;
    sigaction(SIGUSR2, &action, &previous);
    Interrupted();
    sigaction(SIGUSR2, &previous, nullptr);
    const auto inInterrupted = [](std::uintptr_t a) {
        return a >= reinterpret_cast<std::uintptr_t>(&Interrupted) &&
            a < reinterpret_cast<std::uintptr_t>(&Interrupted) + 32;
    };
    bool found = false;
    for (std::size_t i = 0; i < g_walk.Rows.size(); ++i)
        if (inInterrupted(g_walk.Rows[i])) found = !g_walk.Scanned[i];
    EXPECT_TRUE(found) << "the walk did not reach the interrupted function";
    EXPECT_TRUE(g_walk.Outcome.Complete);
}

// Over a copy: the live stack below the copied frames is overwritten, the
// walk of the copy still names them.
std::vector<std::uint8_t> g_copy;
std::uintptr_t g_copyStart = 0;
kernel::TThreadContext g_copyContext;

// Plain loads of the live stack: the memory checker would take the frames'
// guard zones for overflows of a memcpy.
__attribute__((no_sanitize("address"))) void CopyLiveStack(std::uintptr_t from, std::uintptr_t to)
{
    g_copy.resize(to - from);
    const auto* source = reinterpret_cast<const volatile std::uint8_t*>(from);
    for (std::size_t i = 0; i < g_copy.size(); ++i) g_copy[i] = source[i];
}

__attribute__((noinline)) void CopyHere()
{
    ucontext_t uc;
    getcontext(&uc);
    kernel::ContextFromSignal(&uc, g_copyContext);
    g_copyStart = g_copyContext.Rsp;
    const std::uintptr_t top = ThreadStackTop();
    CopyLiveStack(g_copyStart, top);
    asm volatile("");
}

int LeafCopy(int v)
{
    CopyHere();
    return v + 2;
}

__attribute__((noinline)) void Overwrite()
{
    volatile char junk[8192];
    for (std::size_t i = 0; i < sizeof junk; ++i) junk[i] = char(0xA5);
    asm volatile("" ::: "memory");
}

TEST(FrameWalk, WalksAStackCopyAfterTheFramesAreGone)
{
    ASSERT_GT(Recurse(6, &LeafCopy), 0);
    Overwrite();
    const TWalked w = Walk(g_copyContext, g_copy.data(), g_copyStart, g_copy.size());
    EXPECT_TRUE(w.Outcome.Complete);
    int recursions = 0;
    for (std::uintptr_t a : w.Rows)
        if (a >= reinterpret_cast<std::uintptr_t>(&Recurse) && a < reinterpret_cast<std::uintptr_t>(&Recurse) + 256)
            ++recursions;
    EXPECT_EQ(recursions, 7);
}

} // namespace

// A function without call-frame information between the test and its
// callee: the walk stops in it and the scan names what lies above.
extern "C" int NoCfiTrampoline(int (*callee)(int), int value);
asm(R"(
    .text
    .p2align 4
    .globl NoCfiTrampoline
    .type NoCfiTrampoline, @function
NoCfiTrampoline:
    pushq %rbp
    movq %rsp, %rbp
    pushq %rbx
    subq $8, %rsp
    movq %rdi, %rax
    movl %esi, %edi
    call *%rax
    addq $8, %rsp
    popq %rbx
    popq %rbp
    ret
    .size NoCfiTrampoline, .-NoCfiTrampoline
)");

namespace {

int LeafBehindAssembly(int v)
{
    WalkHere();
    return v + 3;
}

__attribute__((noinline)) int CallsAssembly(int v) { return NoCfiTrampoline(&LeafBehindAssembly, v) + 1; }

TEST(FrameWalk, TheScanGoesOnWhereTheCallFrameInformationEnds)
{
    ASSERT_GT(CallsAssembly(5), 0);
    const auto trampoline = reinterpret_cast<std::uintptr_t>(&NoCfiTrampoline);
    const auto caller = reinterpret_cast<std::uintptr_t>(&CallsAssembly);
    std::size_t trampolineRow = 0, callerRow = 0;
    for (std::size_t i = 0; i < g_walk.Rows.size(); ++i) {
        if (!trampolineRow && g_walk.Rows[i] >= trampoline && g_walk.Rows[i] < trampoline + 32) trampolineRow = i;
        if (!callerRow && g_walk.Rows[i] >= caller && g_walk.Rows[i] < caller + 64) callerRow = i;
    }
    ASSERT_GT(trampolineRow, 0u);
    EXPECT_FALSE(g_walk.Scanned[trampolineRow]); // reached by the walk
    ASSERT_GT(callerRow, trampolineRow);
    EXPECT_TRUE(g_walk.Scanned[callerRow]); // found by the scan
    EXPECT_FALSE(g_walk.Outcome.Complete);
    EXPECT_NE(g_walk.Outcome.StoppedAt, 0u);
}

} // namespace
