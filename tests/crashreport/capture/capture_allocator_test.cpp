// A fault while another thread holds the allocator: the program's malloc is
// replaced here by one that makes every other thread wait while a "holder"
// thread owns it, as the allocator's lock would. A caught fault must still
// be caught, and an uncaught one reported, in bounded time.
#include <gtest/gtest.h>

#include "capture_test_support.h"
#include "crashreport/capture/raise_capture.h"
#include "platform/rtl/external_exception.h"
#include "tests/support/faults.h"
#include "tests/support/allocator_stand_in.h"

#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <thread>


namespace {

using testing_support::ReadAt;

volatile int g_sink;

// Starts a thread that takes the allocator and keeps it until the process ends.
void HoldAllocator()
{
    std::atomic<bool> held{false};
    std::thread([&] {
        testing_support::g_allocatorHolder = syscall(SYS_gettid);
        held = true;
        for (;;) pause();
    }).detach();
    while (!held) sched_yield();
}

TEST(CaptureAllocator, MallocOfOtherThreadsReallyWaitsWhileHeld)
{
    VEK_SKIP_WITHOUT_STAND_IN();
    // The stand-in works: another thread's malloc does not return while held.
    const auto r = vektest::RunInChild(
        [] {
            HoldAllocator();
            void* volatile p = std::malloc(64);
            (void)p;
            vektest::WriteOut("malloc returned\n");
            return 0;
        },
        2);
    EXPECT_TRUE(r.TimedOut()) << r.Output;
    EXPECT_EQ(r.Output.find("malloc returned"), std::string::npos);
}

TEST(CaptureAllocator, CaughtFaultWhileTheAllocatorIsHeld)
{
    VEK_SKIP_WITHOUT_STAND_IN();
    const auto r = vektest::RunInChild(
        [] {
            if (!capturetest::StartForTest()) return 9;
            if (!crashreport::RaiseAllocatorInstalled()) return 8;
            HoldAllocator();
            for (int i = 0; i < 3; ++i) try {
                    g_sink = ReadAt(0x40);
                } catch (const rtl::EAccessViolation&) {
                    vektest::WriteOut("caught\n");
                }
            return 0;
        },
        20);
    EXPECT_FALSE(r.TimedOut()) << r.Output;
    EXPECT_TRUE(r.Exited && r.ExitCode == 0) << r.Output;
    EXPECT_NE(r.Output.find("caught\ncaught\ncaught\n"), std::string::npos) << r.Output;
    EXPECT_EQ(capturetest::CountReports(r.Output), 0) << r.Output;
}

TEST(CaptureAllocator, UncaughtFaultWhileTheAllocatorIsHeldIsReported)
{
    VEK_SKIP_WITHOUT_STAND_IN();
    const auto r = vektest::RunInChild(
        [] {
            if (!capturetest::StartForTest()) return 9;
            HoldAllocator();
            g_sink = ReadAt(0x48);
            return 0;
        },
        20);
    EXPECT_FALSE(r.TimedOut()) << r.Output;
    EXPECT_TRUE(r.Exited && r.ExitCode == 1) << r.Output;
    EXPECT_EQ(capturetest::CountReports(r.Output), 1) << r.Output;
}

} // namespace
