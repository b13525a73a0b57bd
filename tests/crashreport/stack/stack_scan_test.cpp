// The raw stack scan on a real thread stack and on prepared stacks.
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "crashreport/stack/stack_scan.h"

namespace {

using namespace crashreport;

const void* StackTop()
{
    pthread_attr_t attr;
    void* base = nullptr;
    std::size_t size = 0;
    pthread_getattr_np(pthread_self(), &attr);
    pthread_attr_getstack(&attr, &base, &size);
    pthread_attr_destroy(&attr);
    return static_cast<char*>(base) + size;
}

int ThreadId() { return int(syscall(SYS_gettid)); }

std::unique_ptr<TTavrelStackList> g_chainStack;

extern "C" __attribute__((noinline)) int ChainInner(int v)
{
    volatile char here = 0;
    g_chainStack = GetCallStack({nullptr, const_cast<char*>(&here), StackTop()}, {.ThreadID = ThreadId()});
    return v + here + 1;
}

__attribute__((noinline)) int ChainMiddle(int v) { return ChainInner(v * 2) * 3; }

namespace scan {
class TChain {
public:
    __attribute__((noinline)) static int Outer(int v) { return ChainMiddle(v + 1) + 7; }
};
} // namespace scan

int IndexOf(const TTavrelStackList& list, const std::string& procedure, int from = 0)
{
    for (int i = from; i < list.Count(); ++i)
        if (list.Item(i)->ProcedureName.rfind(procedure, 0) == 0 && list.Item(i)->DebugDetail == dkDebugLine) return i;
    return -1;
}

TEST(StackScan, FindsTheFramesOfACallChainInOrder)
{
    ASSERT_GT(scan::TChain::Outer(4), 0);
    ASSERT_TRUE(g_chainStack);
    const auto& list = *g_chainStack;
    // The scan starts inside ChainInner's frame: the return addresses above
    // it lead to the call sites in its callers, innermost first.
    const int middle = IndexOf(list, "ChainMiddle");
    const int outer = IndexOf(list, "Outer", middle + 1);
    const int test = IndexOf(list, "TestBody", outer + 1);
    ASSERT_GE(middle, 0);
    ASSERT_GT(outer, middle);
    ASSERT_GT(test, outer);
    const TTavrelDebugInfo* o = list.Item(outer);
    EXPECT_EQ(o->ClassName, "(anonymous namespace)::scan::TChain");
    EXPECT_EQ(o->UnitName, "stack_scan_test.cpp");
    EXPECT_GT(o->Line, 0);
    EXPECT_EQ(o->RunningThread, 1);
    EXPECT_EQ(o->ThreadID, ThreadId());
    ASSERT_NE(o->ModuleInfo, nullptr);
    EXPECT_EQ(o->ModuleInfo->ModuleKind, mkProgram);
}

// A return address into this program: the call that made the frame.
__attribute__((noinline)) void* ReturnAddressOfCaller() { return __builtin_return_address(0); }

TEST(StackScan, ScansOnlyTheFirst102400Bytes)
{
    void* returnAddress = ReturnAddressOfCaller();
    std::vector<std::uintptr_t> stack(110 * 1024 / 8, 0);
    const auto* start = stack.data();
    const auto* end = stack.data() + stack.size();
    const std::size_t lastSlot = kMaxScannedStackBytes / 8 - 1;

    stack[lastSlot] = reinterpret_cast<std::uintptr_t>(returnAddress);
    TTavrelStackList inside;
    AddStackEntries(inside, {nullptr, start, end}, {.ThreadID = 7});
    ASSERT_EQ(inside.Count(), 1);
    EXPECT_LT(inside.Item(0)->Addr, returnAddress);
    EXPECT_NE(inside.Item(0)->ClassName.find("StackScan_ScansOnlyTheFirst102400Bytes_Test"), std::string::npos);
    EXPECT_EQ(inside.Item(0)->ProcedureName, "TestBody()");
    EXPECT_EQ(inside.Item(0)->ThreadID, 7);

    stack[lastSlot] = 0;
    stack[lastSlot + 1] = reinterpret_cast<std::uintptr_t>(returnAddress);
    TTavrelStackList beyond;
    AddStackEntries(beyond, {nullptr, start, end}, {.ThreadID = 7});
    EXPECT_EQ(beyond.Count(), 0);
}

TEST(StackScan, FirstAddressMaxCountAndFirstIndex)
{
    void* returnAddress = ReturnAddressOfCaller();
    std::vector<std::uintptr_t> stack(64, 0);
    for (int i = 0; i < 5; ++i) stack[std::size_t(i) * 4] = reinterpret_cast<std::uintptr_t>(returnAddress);
    TTavrelStackList all;
    AddStackEntries(all, {reinterpret_cast<void*>(&ReturnAddressOfCaller), stack.data(), stack.data() + stack.size()},
                    {.RunningThread = 0, .ThreadID = 1});
    ASSERT_EQ(all.Count(), 6);
    EXPECT_EQ(all.Item(0)->ProcedureName, "ReturnAddressOfCaller()");
    EXPECT_EQ(all.Item(0)->RunningThread, 0);
    // Equal call sites of one module: all but the last are hidden duplicates.
    for (int i = 1; i < 5; ++i) EXPECT_EQ(all.Item(i)->DebugDetail, dkUnknown) << i;
    EXPECT_EQ(all.Item(5)->DebugDetail, dkDebugLine);

    TTavrelStackList window;
    AddStackEntries(window, {nullptr, stack.data(), stack.data() + stack.size()},
                    {.FirstIndex = 1, .MaxCount = 2, .ThreadID = 1});
    EXPECT_EQ(window.Count(), 2);

    // Only the kinds asked for: debug lines are left out here.
    TTavrelStackList moduleOnly;
    AddStackEntries(moduleOnly, {nullptr, stack.data(), stack.data() + stack.size()},
                    {.Kinds = 1u << dkModuleOnly, .ThreadID = 1});
    EXPECT_EQ(moduleOnly.Count(), 0);
}

TEST(StackScan, WithoutDebugInformationEntriesNameTheModuleOnly)
{
    void* returnAddress = ReturnAddressOfCaller();
    std::vector<std::uintptr_t> stack(8, 0);
    stack[2] = reinterpret_cast<std::uintptr_t>(returnAddress);
    TTavrelStackList list;
    AddStackEntries(list, {nullptr, stack.data(), stack.data() + stack.size()}, {.UseDebugInfo = false, .ThreadID = 1});
    ASSERT_EQ(list.Count(), 1);
    EXPECT_EQ(list.Item(0)->DebugDetail, dkModuleOnly);
    ASSERT_NE(list.Item(0)->ModuleInfo, nullptr);
    EXPECT_NE(list.Item(0)->ModuleInfo->FileName.find("call_stack_test"), std::string::npos);
    EXPECT_TRUE(list.Item(0)->ProcedureName.empty());
}

std::unique_ptr<TTavrelDebugInfo> Entry(std::uint8_t detail, std::uintptr_t addr, TTavrelModuleInfo* module)
{
    auto e = std::make_unique<TTavrelDebugInfo>();
    e->DebugDetail = detail;
    e->Addr = reinterpret_cast<void*>(addr);
    e->ModuleInfo = module;
    return e;
}

TEST(StackScan, TidyHidesAnEntryRepeatedByTheNextOrTheOneAfter)
{
    TTavrelModuleInfo a, b;
    a.Handle = 0x1000;
    b.Handle = 0x2000;
    TTavrelStackList list;
    list.Add(Entry(dkDebugLine, 0x10, &a));  // 0: repeated by 2 (same module, next named)
    list.Add(Entry(dkModuleOnly, 0x99, &a)); // 1: not named: ignored
    list.Add(Entry(dkDebugLine, 0x10, &a));  // 2: kept
    list.Add(Entry(dkExportName, 0x20, &a)); // 3: repeated by the one after the next (5)
    list.Add(Entry(dkDebugLine, 0x30, &a));  // 4
    list.Add(Entry(dkDebugLine, 0x20, &a));  // 5
    list.Add(Entry(dkDebugLine, 0x30, &b));  // 6: other module: 4 is not its duplicate
    TidyStackEntries(list, 0);
    EXPECT_EQ(list.Item(0)->DebugDetail, dkUnknown);
    EXPECT_EQ(list.Item(1)->DebugDetail, dkModuleOnly);
    EXPECT_EQ(list.Item(2)->DebugDetail, dkDebugLine);
    EXPECT_EQ(list.Item(3)->DebugDetail, dkUnknown);
    EXPECT_EQ(list.Item(4)->DebugDetail, dkDebugLine);
    EXPECT_EQ(list.Item(5)->DebugDetail, dkDebugLine);
    EXPECT_EQ(list.Item(6)->DebugDetail, dkDebugLine);
}

TEST(StackScan, TidyKeepsRepeatedFramesOfTheExactWalk)
{
    TTavrelModuleInfo a;
    a.Handle = 0x1000;
    TTavrelStackList list;
    auto walked = [&](std::uintptr_t addr) {
        auto e = Entry(dkDebugLine, addr, &a);
        e->Walked = 1;
        return e;
    };
    list.Add(walked(0x10));                 // 0: a recursion: each frame was live
    list.Add(walked(0x10));                 // 1
    list.Add(walked(0x10));                 // 2
    list.Add(Entry(dkDebugLine, 0x20, &a)); // 3: scanned, repeated by 4
    list.Add(walked(0x20));                 // 4
    TidyStackEntries(list, 0);
    const std::uint8_t expected[] = {dkDebugLine, dkDebugLine, dkDebugLine, dkUnknown, dkDebugLine};
    for (int i = 0; i < list.Count(); ++i) EXPECT_EQ(list.Item(i)->DebugDetail, expected[i]) << i;
}

TEST(StackScan, TidyTreatsTheRowsOfOneAddressAsOneEntry)
{
    TTavrelModuleInfo a;
    a.Handle = 0x1000;
    TTavrelStackList list;
    auto inlined = [&](std::uintptr_t addr) {
        auto e = Entry(dkDebugLine, addr, &a);
        e->Inlined = 1;
        return e;
    };
    list.Add(inlined(0x10));                // 0: hidden with 1
    list.Add(Entry(dkDebugLine, 0x10, &a)); // 1: repeated by 3
    list.Add(inlined(0x10));                // 2: kept with 3
    list.Add(Entry(dkDebugLine, 0x10, &a)); // 3
    list.Add(inlined(0x40));                // 4: an inlined row is no repeat of its own function's row
    list.Add(inlined(0x40));                // 5
    list.Add(Entry(dkDebugLine, 0x40, &a)); // 6
    TidyStackEntries(list, 0);
    const std::uint8_t expected[] = {dkUnknown,   dkUnknown,   dkDebugLine, dkDebugLine,
                                     dkDebugLine, dkDebugLine, dkDebugLine};
    for (int i = 0; i < list.Count(); ++i) EXPECT_EQ(list.Item(i)->DebugDetail, expected[i]) << i;
}

std::unique_ptr<TTavrelStackList> g_inlinedStack;

__attribute__((noinline)) void CaptureInlinedStack()
{
    volatile char here = 0;
    g_inlinedStack = GetCallStack({nullptr, const_cast<char*>(&here), StackTop()}, {.ThreadID = ThreadId()});
}

// Always inlined, also without optimisation: its call of the capture lies
// inside HoldsInlinedStep.
const int kCaptureCallLine = __LINE__ + 3;
__attribute__((always_inline)) inline int InlinedStep(int v)
{
    CaptureInlinedStack();
    return v + 1;
}

const int kInlinedStepCallLine = __LINE__ + 1; // the call is on the next line
__attribute__((noinline)) int HoldsInlinedStep(int v) { return InlinedStep(v * 3) * 5; }

TEST(StackScan, InlinedCodeGivesARowPerFunctionAtOneAddress)
{
    ASSERT_GT(HoldsInlinedStep(2), 0);
    ASSERT_TRUE(g_inlinedStack);
    const auto& list = *g_inlinedStack;
    const int inner = IndexOf(list, "InlinedStep");
    ASSERT_GE(inner, 0);
    ASSERT_LT(inner + 1, list.Count());
    const TTavrelDebugInfo& inlined = *list.Item(inner);
    const TTavrelDebugInfo& outer = *list.Item(inner + 1);
    EXPECT_EQ(inlined.Inlined, 1);
    EXPECT_EQ(inlined.UnitName, "stack_scan_test.cpp");
    EXPECT_EQ(inlined.Line, kCaptureCallLine);
    EXPECT_EQ(ShownProcedureName(inlined), inlined.ProcedureName + " [inlined]");
    EXPECT_EQ(outer.Inlined, 0);
    EXPECT_EQ(outer.Addr, inlined.Addr);
    EXPECT_EQ(outer.ProcedureName.rfind("HoldsInlinedStep", 0), 0u) << outer.ProcedureName;
    EXPECT_EQ(outer.UnitName, "stack_scan_test.cpp");
    EXPECT_EQ(outer.Line, kInlinedStepCallLine);
    EXPECT_EQ(outer.DebugDetail, dkDebugLine);
    EXPECT_EQ(outer.ThreadID, inlined.ThreadID);
    // The rows of one address count as one entry of a window.
    const auto window = GetCallStack({inlined.Addr, nullptr, nullptr}, {.FirstIndex = 0, .MaxCount = 1});
    ASSERT_EQ(window->Count(), 2);
    EXPECT_EQ(window->Item(0)->Inlined, 1);
    EXPECT_EQ(window->Item(1)->Inlined, 0);
    EXPECT_EQ(window->Item(1)->Line, kInlinedStepCallLine);
    // The innermost row alone, as GetDebugInfo gives it.
    TTavrelDebugInfo one;
    GetDebugInfo(one, inlined.Addr, 0, 1);
    EXPECT_EQ(one.ProcedureName, inlined.ProcedureName);
    EXPECT_EQ(one.Line, inlined.Line);
}

TEST(StackScan, UnreadableStackPagesAreSkipped)
{
    const std::size_t page = std::size_t(sysconf(_SC_PAGESIZE));
    auto* area = static_cast<std::uintptr_t*>(
        mmap(nullptr, 3 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(area, MAP_FAILED);
    void* returnAddress = ReturnAddressOfCaller();
    area[0] = reinterpret_cast<std::uintptr_t>(returnAddress);
    area[2 * page / 8 + 1] = reinterpret_cast<std::uintptr_t>(returnAddress);
    ASSERT_EQ(mprotect(reinterpret_cast<char*>(area) + page, page, PROT_NONE), 0);
    TTavrelStackList list;
    AddStackEntries(list, {nullptr, area, reinterpret_cast<char*>(area) + 3 * page}, {.ThreadID = 1});
    EXPECT_EQ(list.Count(), 2); // both, on either side of the guard page
    munmap(area, 3 * page);
}

TEST(StackScan, ShownDetailKindsFollowTheStackFlags)
{
    const std::uint32_t line = 1u << dkDebugLine;
    EXPECT_EQ(ShownDetailKinds(TStackFlags{}), line);
    EXPECT_EQ(ShownDetailKinds(TStackFlags{stDllFrames}), line | 1u << dkExportName);
    EXPECT_EQ(ShownDetailKinds(TStackFlags{stPackageFrames, stLineOffsets}), line | 1u << dkDecoratedName);
    EXPECT_EQ(ShownDetailKinds(TStackFlags{stDllFrames, stPackageFrames, stRuntimeThreads, stSystemThreads}),
              line | 1u << dkExportName | 1u << dkDecoratedName);
}

} // namespace
