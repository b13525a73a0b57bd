// A fault while another thread holds the allocator, with the options asking
// to pause the other threads for the report. The program's malloc is
// replaced by one that makes every other thread wait while a "holder"
// thread owns it; the holder takes it again and again and keeps it while it
// sleeps in the C library, which is where a real allocator's lock is held.
// Pausing the holder while it holds the allocator would leave the report
// waiting for ever: the report must end, with the report in the log.
#include <gtest/gtest.h>

#include "pipeline_test_support.h"
#include "platform/rtl/thread.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>

namespace {
std::atomic<long> g_holder{0};
}

#if !defined(__SANITIZE_ADDRESS__)
extern "C" void* __libc_malloc(std::size_t size);

extern "C" void* malloc(std::size_t size)
{
    const long holder = g_holder.load(std::memory_order_relaxed);
    if (holder && holder != syscall(SYS_gettid))
        while (g_holder.load()) {
            timespec t{0, 200000};
            nanosleep(&t, nullptr);
        }
    return __libc_malloc(size);
}
#define VEK_SKIP_WITHOUT_STAND_IN()
#else
#define VEK_SKIP_WITHOUT_STAND_IN() GTEST_SKIP() << "AddressSanitizer owns malloc; the stand-in cannot replace it"
#endif

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
                        g_holder = self;
                        timespec t{0, 2000000};
                        nanosleep(&t, nullptr); // holding, inside the C library
                        g_holder = 0;
                        ++rounds;
                        sched_yield();
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
