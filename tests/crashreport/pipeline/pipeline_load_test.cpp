// Load: four threads raise exceptions that reach their top-level handler,
// for 30 seconds, with the dialog off and the log on. No deadlock (the
// child's alarm), no report lost up to the log's bound (the log holds the
// last MaxSavedErrors reports, the newest last), and memory flat (resident
// size after the first seconds against the end).
#include <gtest/gtest.h>

#include "crashreport/capture/exception_capture.h"
#include "crashreport/pipeline/report_pipeline.h"
#include "crashreport/report/log_file.h"
#include "pipeline_test_support.h"
#include "platform/rtl/exception.h"
#include "platform/rtl/thread.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <vector>

#ifdef VEK_SANITIZE
// AddressSanitizer keeps freed memory in a quarantine of 256 MB by default,
// so the resident size grows until that is full whatever the program does;
// a small one fills within the first seconds and the growth measured after
// them is the program's again.
extern "C" const char* __asan_default_options() { return "quarantine_size_mb=4"; }
#endif

namespace {

std::atomic<bool> g_stop{false};

long ResidentKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    return -1;
}

struct TRaiser : rtl::TThread {
    explicit TRaiser(int n) : rtl::TThread(false), n_(n) {}
    void Execute() override
    {
        for (long i = 0; !g_stop; ++i) {
            try {
                throw rtl::Exception("load " + std::to_string(n_) + " " + std::to_string(i));
            } catch (const rtl::Exception& e) {
                ExceptionManager(const_cast<rtl::Exception*>(&e), &typeid(e), nullptr, crashreport::rkRuntime, 0);
            }
        }
    }
    int n_;
};

TEST(PipelineLoad, FourThreadsForThirtySecondsWithoutDeadlockLossOrGrowth)
{
    testing_support::TempDir dir;
    const auto r = vektest::RunInChild(
        [&] {
            if (!pipelinetest::StartReporter(dir.path(), [](auto& o) {
                    o.SetDialogFlags({});
                    o.SetMaxSavedErrors(32);
                }))
                return 9;
            using Clock = std::chrono::steady_clock;
            const auto start = Clock::now();
            std::vector<TRaiser*> threads;
            for (int i = 0; i < 4; ++i) threads.push_back(rtl::TThread::Create<TRaiser>(i));
            long early = -1;
            while (Clock::now() - start < std::chrono::seconds(30)) {
                usleep(100000);
                if (early < 0 && Clock::now() - start > std::chrono::seconds(5)) early = ResidentKiB();
            }
            g_stop = true;
            for (auto* t : threads) t->WaitFor();
            for (auto* t : threads) delete t;
            std::printf("reports=%u early=%ld late=%ld\n", crashreport::ExceptionCounter(), early, ResidentKiB());
            std::printf("last=%s\n", crashreport::LastExceptionMessage().c_str());
            return 0;
        },
        90);
    ASSERT_TRUE(r.Exited && r.ExitCode == 0) << r.Output;
    unsigned reports = 0;
    long early = 0, late = 0;
    ASSERT_EQ(std::sscanf(r.Output.c_str(), "reports=%u early=%ld late=%ld", &reports, &early, &late), 3) << r.Output;
    EXPECT_GT(reports, 32u) << r.Output;
    EXPECT_LT(late - early, 16 * 1024) << r.Output; // KiB
    const crashreport::TLogFile log(pipelinetest::LogPath(dir.path()), true);
    ASSERT_EQ(log.Count(), 32);
    const auto lastAt = r.Output.find("last=");
    ASSERT_NE(lastAt, std::string::npos);
    const std::string last = r.Output.substr(lastAt + 5, r.Output.find('\n', lastAt) - lastAt - 5);
    EXPECT_EQ(log.GetFieldValue("2.5", log.Count() - 1), last);
    // Every stored report is whole and different from the others.
    for (int i = 0; i < log.Count(); ++i) {
        EXPECT_NE(log.GetFieldValue("2.5", i).find("load "), std::string::npos);
        for (int j = 0; j < i; ++j) EXPECT_NE(log.GetFieldValue("2.5", i), log.GetFieldValue("2.5", j));
    }
}

} // namespace
