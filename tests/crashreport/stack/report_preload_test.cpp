// What a report does while other threads are paused: a thread paused while
// it holds a lock that the report would take must not stop the report. Two
// such locks stand in here: the one this module's password handler takes
// (loading a module's stored data asks for its password), and the lock of
// this program's allocator (operator new below, which every container and
// string of the program goes through). Both are only tried, so a report that
// would wait shows as a count instead of a hang.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <new>
#include <string>
#include <thread>

#include "crashreport/binding/events.h"
#include "crashreport/modules/modules_list.h"
#include "crashreport/stack/stack_scan.h"
#include "platform/kernel/threads.h"

namespace {

std::mutex g_allocatorLock; // held by a paused thread "inside the allocator"
std::atomic<bool> g_watchAllocations{false};
std::atomic<int> g_allocationsThatWouldWait{0};

} // namespace

// Every form of operator new and delete goes through these two, so what one
// form allocates any other frees. Kept out of line: inlined next to a
// new-expression, the compiler would take the free() below for a mismatch.
__attribute__((noinline)) void* WatchedAllocate(std::size_t size) noexcept
{
    if (g_watchAllocations.load(std::memory_order_relaxed)) {
        std::unique_lock<std::mutex> lock(g_allocatorLock, std::try_to_lock);
        if (!lock.owns_lock()) ++g_allocationsThatWouldWait; // a real allocator would wait here for ever
    }
    return std::malloc(size ? size : 1);
}
__attribute__((noinline)) void WatchedFree(void* p) noexcept { std::free(p); }

void* operator new(std::size_t size)
{
    if (void* p = WatchedAllocate(size)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return WatchedAllocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return WatchedAllocate(size); }
void operator delete(void* p) noexcept { WatchedFree(p); }
void operator delete[](void* p) noexcept { WatchedFree(p); }
void operator delete(void* p, std::size_t) noexcept { WatchedFree(p); }
void operator delete[](void* p, std::size_t) noexcept { WatchedFree(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { WatchedFree(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { WatchedFree(p); }

namespace {

using namespace crashreport;

std::mutex g_lock; // held by the paused thread
std::atomic<int> g_passwordRequests{0};
std::atomic<int> g_wouldWait{0};

void GivePassword(void*, std::string& password)
{
    ++g_passwordRequests;
    std::unique_lock<std::mutex> lock(g_lock, std::try_to_lock);
    if (!lock.owns_lock()) {
        ++g_wouldWait; // a report would wait here for ever
        return;
    }
    password = "preload";
}

// A thread that takes a lock and is paused while it holds it.
class TPausedHolder {
public:
    explicit TPausedHolder(std::mutex& held = g_lock) : held_(held)
    {
        handle_ = kernel::CreateThread(&Body, this, 0, nullptr);
        while (!holding_) std::this_thread::yield();
        paused_ = kernel::SuspendThread(handle_) != kernel::kSuspendFailed;
    }
    ~TPausedHolder()
    {
        if (paused_) kernel::ResumeThread(handle_);
        release_ = true;
        kernel::WaitForThread(handle_);
        kernel::CloseHandle(handle_);
    }
    bool Paused() const { return paused_; }

private:
    static std::intptr_t Body(void* p)
    {
        auto* self = static_cast<TPausedHolder*>(p);
        std::lock_guard<std::mutex> lock(self->held_);
        self->holding_ = true;
        while (!self->release_) std::this_thread::yield();
        return 0;
    }

    std::mutex& held_;
    kernel::THandle handle_ = 0;
    bool paused_ = false;
    std::atomic<bool> holding_{false}, release_{false};
};

__attribute__((noinline)) void* CodeOfThisTest() { return __builtin_return_address(0); }

class ReportPreload : public ::testing::Test {
protected:
    void SetUp() override
    {
        GlobalEventHandlers().OnPasswordRequest = &GivePassword;
        TModulesListLock lock;
        ModulesList().Clear(); // every record is built again
        g_passwordRequests = 0;
        g_wouldWait = 0;
        g_allocationsThatWouldWait = 0;
    }
    void TearDown() override { GlobalEventHandlers().OnPasswordRequest = nullptr; }

    __attribute__((noinline)) static std::unique_ptr<TTavrelStackList> StackOfThisTest()
    {
        return GetCallStack({CodeOfThisTest(), nullptr, nullptr}, {});
    }
};

TEST_F(ReportPreload, LoadedBeforePausingTheScanReadsNothingWhileThreadsArePaused)
{
    LoadModulesForReport();
    const int requests = g_passwordRequests;
    EXPECT_EQ(requests, 1) << "this program's stored data asks for its password once";
    std::unique_ptr<TTavrelStackList> stack;
    {
        TPausedHolder holder;
        ASSERT_TRUE(holder.Paused());
        TNoModuleLoadingScope noLoading;
        stack = StackOfThisTest();
    }
    EXPECT_EQ(g_passwordRequests, requests) << "nothing was loaded while the thread was paused";
    EXPECT_EQ(g_wouldWait, 0);
    ASSERT_EQ(stack->Count(), 1);
    const TTavrelDebugInfo* entry = stack->Item(0);
    EXPECT_EQ(entry->DebugDetail, dkDebugLine);
    EXPECT_NE(entry->ClassName.find("ReportPreload"), std::string::npos) << entry->ClassName;
    EXPECT_EQ(entry->ProcedureName, "StackOfThisTest()");
    ASSERT_NE(entry->ModuleInfo, nullptr);
    EXPECT_EQ(entry->ModuleInfo->NamesReadable, 1);
}

TEST_F(ReportPreload, WithoutLoadingFirstTheScanWouldWaitForThePausedThread)
{
    TPausedHolder holder;
    ASSERT_TRUE(holder.Paused());
    const auto stack = StackOfThisTest();
    EXPECT_GT(g_wouldWait, 0) << "the lazy load asked the handler while the lock was held";
}

TEST_F(ReportPreload, NoLoadingScopeAnswersFromTheRecordsThereAre)
{
    std::unique_ptr<TTavrelStackList> stack;
    {
        TNoModuleLoadingScope noLoading;
        stack = StackOfThisTest();
        EXPECT_EQ(ModulesList().Count(), 0);
    }
    EXPECT_EQ(g_passwordRequests, 0);
    ASSERT_EQ(stack->Count(), 1);
    EXPECT_EQ(stack->Item(0)->ModuleInfo, nullptr) << "no record existed and none was built";
    EXPECT_EQ(stack->Item(0)->DebugDetail, dkUnknown);
}

// The top of the calling thread's stack, found before any thread is paused.
std::uintptr_t OwnStackTop()
{
    std::uintptr_t top = 0, bottom = 0;
    EXPECT_TRUE(kernel::GetCurrentThreadStack(top, bottom));
    return top;
}

// Scans from a frame below the test's own, so the test's call is on it.
__attribute__((noinline)) void ScanOwnStack(std::uintptr_t top, const TCodeRanges& code, TStackAddresses& out)
{
    volatile char here = 0;
    ScanStackAddresses({nullptr, const_cast<char*>(&here), reinterpret_cast<void*>(top)}, true, code, out);
}

__attribute__((noinline)) void AddOwnStack(std::uintptr_t top, TTavrelStackList& list, const TStackScanOptions& options)
{
    volatile char here = 0;
    AddStackEntries(list, {nullptr, const_cast<char*>(&here), reinterpret_cast<void*>(top)}, options);
}

bool HasEntryOfThisTest(const TTavrelStackList& list, const std::string& testName)
{
    for (int i = 0; i < list.Count(); ++i)
        if (list.Item(i)->ProcedureName == "TestBody()" && list.Item(i)->ClassName.find(testName) != std::string::npos)
            return true;
    return false;
}

TEST_F(ReportPreload, APausedThreadInsideTheAllocatorDoesNotStopTheStackScan)
{
    LoadModulesForReport();
    const std::uintptr_t top = OwnStackTop();
    const TCodeRanges code;
    TStackAddresses addresses;
    {
        TPausedHolder holder(g_allocatorLock);
        ASSERT_TRUE(holder.Paused());
        TNoModuleLoadingScope noLoading;
        g_watchAllocations = true;
        ScanOwnStack(top, code, addresses);
        g_watchAllocations = false;
    }
    EXPECT_EQ(g_allocationsThatWouldWait, 0) << "the scan allocated while the allocator was held";
    EXPECT_FALSE(addresses.Items().empty());

    // Resolved after the thread runs again.
    TTavrelStackList resolved;
    AddResolvedEntries(resolved, addresses, {.AddCallTargets = true});
    EXPECT_TRUE(HasEntryOfThisTest(resolved, "APausedThreadInsideTheAllocator"));
}

TEST_F(ReportPreload, ResolvingWhileTheAllocatorIsHeldWouldWait)
{
    LoadModulesForReport();
    const std::uintptr_t top = OwnStackTop();
    TTavrelStackList list;
    {
        TPausedHolder holder(g_allocatorLock);
        ASSERT_TRUE(holder.Paused());
        TNoModuleLoadingScope noLoading;
        g_watchAllocations = true;
        AddOwnStack(top, list, {.AddCallTargets = true});
        g_watchAllocations = false;
    }
    EXPECT_GT(g_allocationsThatWouldWait, 0) << "resolving entries allocates: it belongs after the pause";
    EXPECT_TRUE(HasEntryOfThisTest(list, "ResolvingWhileTheAllocatorIsHeld"));
}

TEST(StackAddresses, TheRoomIsReservedUpFront)
{
    TStackAddresses addresses(2);
    EXPECT_TRUE(addresses.Add(1));
    EXPECT_TRUE(addresses.Add(2));
    EXPECT_FALSE(addresses.Add(3)) << "full: nothing is allocated to make room";
    ASSERT_EQ(addresses.Items().size(), 2u);
    EXPECT_EQ(addresses.Items()[1], 2u);
    addresses.Clear();
    EXPECT_TRUE(addresses.Items().empty());
    EXPECT_GE(TStackAddresses::kMaxPerStack, 1 + 2 * kMaxScannedStackBytes / sizeof(void*));
}

} // namespace
