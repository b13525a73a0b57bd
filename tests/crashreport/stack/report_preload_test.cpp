// Loading what a report needs before the other threads are paused: a thread
// paused while it holds a lock that loading would take must not stop the
// report. The lock here is the one this module's password handler takes
// (loading a module's stored data asks for its password); the handler only
// tries the lock, so a failure shows as a count instead of a hang.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

#include "crashreport/binding/events.h"
#include "crashreport/modules/modules_list.h"
#include "crashreport/stack/stack_scan.h"
#include "platform/kernel/threads.h"

namespace {

using namespace crashreport;

std::mutex g_lock;  // held by the paused thread
std::atomic<int> g_passwordRequests{0};
std::atomic<int> g_wouldWait{0};

void GivePassword(void*, std::string& password)
{
    ++g_passwordRequests;
    std::unique_lock<std::mutex> lock(g_lock, std::try_to_lock);
    if (!lock.owns_lock()) {
        ++g_wouldWait;  // a report would wait here for ever
        return;
    }
    password = "preload";
}

// A thread that takes the lock and is paused while it holds it.
class TPausedHolder {
public:
    TPausedHolder()
    {
        handle_ = kernel::CreateThread(&Body, this, 0, nullptr);
        while (!holding_)
            std::this_thread::yield();
        paused_ = kernel::SuspendThread(handle_) != kernel::kSuspendFailed;
    }
    ~TPausedHolder()
    {
        if (paused_)
            kernel::ResumeThread(handle_);
        release_ = true;
        kernel::WaitForThread(handle_);
        kernel::CloseHandle(handle_);
    }
    bool Paused() const { return paused_; }

private:
    static std::intptr_t Body(void* p)
    {
        auto* self = static_cast<TPausedHolder*>(p);
        std::lock_guard<std::mutex> lock(g_lock);
        self->holding_ = true;
        while (!self->release_)
            std::this_thread::yield();
        return 0;
    }

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
        ModulesList().Clear();  // every record is built again
        g_passwordRequests = 0;
        g_wouldWait = 0;
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

} // namespace
