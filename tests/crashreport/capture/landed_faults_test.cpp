// Faults of thread tracking found while building the capture: delegation
// between a program and a library that each carry the reporter, the
// starter-stack copy that both modules freed, and the forced unwind of
// pthread_exit taken for an exception.
#include <gtest/gtest.h>

#include "capture_test_support.h"
#include "crashreport/threads/thread_tracking.h"
#include "platform/rtl/thread.h"

#include <pthread.h>

#include <chrono>
#include <thread>

extern "C" {
bool TavrelLog_TestStartModuleTracking();
bool TavrelLog_TestRunPlainThread(bool (*seenByProgram)(std::uint32_t));
void TavrelLog_TestPurgeModuleThreads();
void TavrelLog_TestStopModuleTracking();
}

namespace {

bool SeenByProgram(std::uint32_t threadId)
{
    crashreport::TTavrelThreadsList* threads = crashreport::TrackedThreads();
    if (!threads) return false;
    crashreport::TThreadsListReadLock lock(*threads);
    const int i = threads->FindByID(threadId);
    return i >= 0 && threads->Get(i)->StackCopyNotOwned == 1;
}

TEST(LandedFaults, LibraryThreadIsDelegatedToTheProgramAndItsStackCopyFreedOnce)
{
    const auto r = vektest::RunInChild([] {
        if (!crashreport::StartThreadTracking()) return 9;
        std::printf("delegates=%d\n", TavrelLog_TestStartModuleTracking() ? 1 : 0);
        std::printf("seen by program=%d\n", TavrelLog_TestRunPlainThread(&SeenByProgram) ? 1 : 0);
        // The thread has ended: both tables drop its record.
        for (int i = 0; i < 100; ++i) {
            crashreport::TrackedThreads()->Purge();
            TavrelLog_TestPurgeModuleThreads();
            if (crashreport::TrackedThreads()->Count() == 1) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        TavrelLog_TestStopModuleTracking();
        crashreport::StopThreadTracking();
        std::printf("both purged\n");
        return 0;
    });
    EXPECT_TRUE(r.Exited && r.ExitCode == 0) << r.Output;
    EXPECT_NE(r.Output.find("delegates=1"), std::string::npos) << r.Output;
    EXPECT_NE(r.Output.find("seen by program=1"), std::string::npos) << r.Output;
    EXPECT_NE(r.Output.find("both purged"), std::string::npos) << r.Output;
}

TEST(LandedFaults, PthreadExitInAFrameworkThreadIsNoException)
{
    const auto r = vektest::RunInChild([] {
        if (!capturetest::StartForTest()) return 9;
        struct TExiting : rtl::TThread {
            TExiting() : rtl::TThread(false) {}
            void Execute() override { pthread_exit(nullptr); }
        };
        auto* thread = rtl::TThread::Create<TExiting>();
        thread->WaitFor();
        std::printf("ended fatal=%d\n", thread->FatalException() ? 1 : 0);
        delete thread;
        return 0;
    });
    EXPECT_TRUE(r.Exited && r.ExitCode == 0) << r.Output;
    EXPECT_NE(r.Output.find("ended fatal=0"), std::string::npos) << r.Output;
    EXPECT_EQ(capturetest::CountReports(r.Output), 0) << r.Output;
}

} // namespace
