// The report pipeline's figures, with the real capture and pipeline and the
// log file on (dialog and delivery off):
//  1. from a fault to its report saved in the log, in a process of 8
//     threads (the fault is caught by a top-level handler that asks the
//     reporter, so the process goes on and the figure can be repeated);
//  2. reports per second while 4 threads raise exceptions that reach their
//     top-level handler, for 10 seconds.
// Usage: pipeline_bench [seconds of the load part]
#include "crashreport/capture/exception_capture.h"
#include "crashreport/options/module_options.h"
#include "crashreport/pipeline/reporter.h"
#include "crashreport/pipeline/report_pipeline.h"
#include "crashreport/report/log_file.h"
#include "platform/kernel/modules.h"
#include "platform/rtl/exception.h"
#include "platform/rtl/external_exception.h"
#include "platform/rtl/thread.h"

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

__attribute__((noinline)) int ReadAt(std::uintptr_t address) { return *reinterpret_cast<volatile int*>(address); }
volatile int g_sink;
std::atomic<bool> g_stop{false};

struct TIdle : rtl::TThread {
    TIdle() : rtl::TThread(false) {}
    void Execute() override
    {
        while (!g_stop) usleep(1000);
    }
};

template <typename E> void AskReporter(const E& e, void* address)
{
    ExceptionManager(const_cast<E*>(&e), &typeid(e), address, crashreport::rkRuntime, 0);
}

struct TRaiser : rtl::TThread {
    explicit TRaiser(int n) : rtl::TThread(false), n_(n) {}
    void Execute() override
    {
        for (long i = 0; !g_stop; ++i) {
            try {
                throw rtl::Exception("load " + std::to_string(n_) + " " + std::to_string(i));
            } catch (const rtl::Exception& e) {
                AskReporter(e, reinterpret_cast<void*>(&ReadAt));
            }
        }
    }
    int n_;
};

} // namespace

int main(int argc, char** argv)
{
    const int loadSeconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    char folder[] = "/tmp/pipeline_bench.XXXXXX";
    if (!mkdtemp(folder)) return 1;
    setenv("TMPDIR", folder, 1);
    static crashreport::TTavrelModuleOptions options(kernel::MainExecutablePath(), false);
    options.SetLogPath(std::string(folder) + "/bench.tlf");
    options.SetDialogFlags({});
    options.SetSaveLog(true);
    options.SetMaxSavedErrors(32);
    crashreport::TCaptureStartup startup;
    startup.Options = &options;
    startup.Force = true;
    if (!crashreport::StartExceptionCapture(startup)) return 2;
    crashreport::StartReporter();

    std::vector<rtl::TThread*> idle;
    for (int i = 0; i < 7; ++i) idle.push_back(rtl::TThread::Create<TIdle>());

    std::vector<double> ms;
    for (int i = 0; i < 30; ++i) {
        const auto t0 = Clock::now();
        try {
            g_sink = ReadAt(0x1000 + 8 * static_cast<std::uintptr_t>(i));
        } catch (const rtl::EAccessViolation& e) {
            AskReporter(e, e.ExceptionRecord.ExceptionAddress);
        }
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    }
    std::sort(ms.begin(), ms.end());
    const unsigned saved = crashreport::ExceptionCounter();
    std::printf("fault to report saved in the log (8 threads, %zu faults, %u reports): median %.1f ms, "
                "fastest %.1f ms, slowest %.1f ms (goal: 50 ms)\n",
                ms.size(), saved, ms[ms.size() / 2], ms.front(), ms.back());

    const unsigned before = crashreport::ExceptionCounter();
    std::vector<rtl::TThread*> raisers;
    const auto start = Clock::now();
    for (int i = 0; i < 4; ++i) raisers.push_back(rtl::TThread::Create<TRaiser>(i));
    // A signal (a thread being paused for a report) may cut a sleep short.
    while (Clock::now() - start < std::chrono::seconds(loadSeconds)) usleep(10000);
    g_stop = true;
    for (auto* t : raisers) t->WaitFor();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const unsigned reports = crashreport::ExceptionCounter() - before;
    std::printf("reports per second under load (4 raising threads, %d s, log on): %.1f (%u reports)\n", loadSeconds,
                reports / seconds, reports);
    for (auto* t : idle) t->WaitFor();
    for (auto* t : raisers) delete t;
    for (auto* t : idle) delete t;
    crashreport::StopExceptionCapture();
    std::system((std::string("rm -rf ") + folder).c_str());
    return 0;
}
