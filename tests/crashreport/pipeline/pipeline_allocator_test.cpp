// A fault while another thread holds the allocator, with the options asking
// to pause the other threads for the report. The program's malloc is
// replaced by one that makes every other thread wait while a "holder"
// thread owns it; the holder takes it again and again (2 ms held, 1 ms free)
// and keeps it while it sleeps in the C library, which is where a real
// allocator's lock is held.
// Pausing the holder while it holds the allocator would leave the report
// waiting for ever: the report must end, with the report in the log.
#include <gtest/gtest.h>

#include "pipeline_test_support.h"
#include "platform/rtl/thread.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"
#include "tests/support/allocator_stand_in.h"

#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>


namespace {

__attribute__((noinline)) int ReadAt(std::uintptr_t address) { return *reinterpret_cast<volatile int*>(address); }
volatile int g_sink;

TEST(PipelineAllocator, AFaultWhilePausedThreadsTakeTheAllocatorEndsWithAReport)
{
    VEK_SKIP_WITHOUT_STAND_IN();
    testing_support::TempDir dir;
    const auto r = vektest::RunInChild(
        [&] {
            if (!pipelinetest::StartReporter(dir.path(), [](auto& o) {
                    o.SetBehaviourFlags({crashreport::bhPauseRuntimeThreads, crashreport::bhPauseSystemThreads});
                }))
                return 9;
            static std::atomic<long> rounds{0};
            struct THolder : rtl::TThread {
                THolder() : rtl::TThread(false) {}
                void Execute() override
                {
                    const long self = syscall(SYS_gettid);
                    for (;;) {
                        testing_support::g_allocatorHolder = self;
                        timespec t{0, 2000000};
                        nanosleep(&t, nullptr); // holding, inside the C library
                        testing_support::g_allocatorHolder = 0;
                        ++rounds;
                        // Free for a while, as a real allocator is between
                        // the holder's calls: the others' calls go through.
                        timespec free{0, 1000000};
                        nanosleep(&free, nullptr);
                    }
                }
            };
            rtl::TThread::Create<THolder>();
            while (rounds < 3) sched_yield();
            g_sink = ReadAt(0x50);
            return 0;
        },
        60);
    EXPECT_FALSE(r.TimedOut()) << r.Output;
    EXPECT_TRUE(r.Exited && r.ExitCode == 1) << r.Output;
    EXPECT_NE(r.Output.find("Read of address 0000000000000050"), std::string::npos) << r.Output;
    EXPECT_EQ(pipelinetest::StoredReports(dir.path()), 1);
}

} // namespace
