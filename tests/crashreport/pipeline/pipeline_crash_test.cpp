// The crash kinds of the capture, now through the real report pipeline in
// console mode: each runs in a child process; the test reads the report on
// standard output and in the log file, and checks how the child ended.
#include <gtest/gtest.h>

#include "crashreport/capture/exception_capture.h"
#include "crashreport/pipeline/reporter.h"
#include "crashreport/report/log_file.h"
#include "platform/kernel/files.h"
#include "platform/kernel/modules.h"
#include "pipeline_test_support.h"
#include "platform/rtl/exception.h"
#include "platform/rtl/external_exception.h"
#include "platform/rtl/thread.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

#include <signal.h>

#include <cstdlib>
#include <thread>

using pipelinetest::Occurrences;
using pipelinetest::StartReporter;
using pipelinetest::StoredReport;
using pipelinetest::StoredReports;
using vektest::RunInChild;

namespace {

__attribute__((noinline)) int ReadAt(std::uintptr_t address) { return *reinterpret_cast<volatile int*>(address); }
__attribute__((noinline, no_sanitize("undefined"))) int Divide(int a, int b) { return a / b; }
__attribute__((noinline)) void Throw(const char* text) { throw rtl::Exception(text); }
volatile int g_sink;

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class PipelineCrash : public ::testing::Test {
protected:
    testing_support::TempDir dir_;
};

TEST_F(PipelineCrash, UncaughtThrowOnTheMainThreadIsWrittenToStandardOutputAndTheLogThenExitCode1)
{
    const auto r = RunInChild([&] {
        if (!StartReporter(dir_.path())) return 9;
        Throw("frame 7 of \"in.vek\" is damaged");
        return 0;
    });
    EXPECT_TRUE(r.Exited && r.ExitCode == 1) << r.Output;
    EXPECT_EQ(Occurrences(r.Output, "TavrelLog 5.1.5"), 1) << r.Output;
    EXPECT_TRUE(Has(r.Output, "2.4 Type   : Exception")) << r.Output;
    EXPECT_TRUE(Has(r.Output, "2.5 Message: frame 7 of \"in.vek\" is damaged.")) << r.Output;
    EXPECT_TRUE(Has(r.Output, "Call Stack Information:")) << r.Output;
    ASSERT_EQ(StoredReports(dir_.path()), 1);
    const std::string stored = StoredReport(dir_.path(), 0);
    EXPECT_TRUE(Has(stored, "2.5 Message: frame 7 of \"in.vek\" is damaged.")) << stored;
    EXPECT_TRUE(Has(stored, "Modules Information:")) << stored;
}

TEST_F(PipelineCrash, UncaughtReadViolationIsReportedWithTheRebuiltMessage)
{
    const auto r = RunInChild([&] {
        if (!StartReporter(dir_.path())) return 9;
        g_sink = ReadAt(0x10);
        return 0;
    });
    EXPECT_TRUE(r.Exited && r.ExitCode == 1) << r.Output;
    EXPECT_TRUE(Has(r.Output, "2.4 Type   : EAccessViolation")) << r.Output;
    EXPECT_TRUE(Has(r.Output, "Read of address 0000000000000010")) << r.Output;
    EXPECT_EQ(StoredReports(dir_.path()), 1);
}

TEST_F(PipelineCrash, IntegerDivisionByZeroIsReported)
{
    const auto r = RunInChild([&] {
        if (!StartReporter(dir_.path())) return 9;
        g_sink = Divide(1, g_sink * 0);
        return 0;
    });
    EXPECT_TRUE(r.Exited && r.ExitCode == 1) << r.Output;
    EXPECT_TRUE(Has(r.Output, "2.4 Type   : EDivByZero")) << r.Output;
    EXPECT_EQ(StoredReports(dir_.path()), 1);
}

TEST_F(PipelineCrash, CaughtExceptionsAndEAbortLeaveNoReport)
{
    const auto r = RunInChild([&] {
        if (!StartReporter(dir_.path())) return 9;
        try {
            Throw("expected");
        } catch (const rtl::Exception&) {
        }
        try {
            g_sink = ReadAt(0x18);
        } catch (const rtl::EAccessViolation&) {
        }
        try {
            throw rtl::EAbort("quiet");
        } catch (...) {
        }
        std::printf("went on\n");
        return 0;
    });
    EXPECT_TRUE(r.Exited && r.ExitCode == 0) << r.Output;
    EXPECT_TRUE(Has(r.Output, "went on")) << r.Output;
    EXPECT_FALSE(Has(r.Output, "TavrelLog 5.1.5")) << r.Output;
    EXPECT_EQ(StoredReports(dir_.path()), 0);
}

TEST_F(PipelineCrash, UncaughtThrowInAThreadEndsOnlyThatThreadAfterItsReport)
{
    const auto r = RunInChild([&] {
        if (!StartReporter(dir_.path())) return 9;
        struct TFailing : rtl::TThread {
            TFailing() : rtl::TThread(false) {}
            void Execute() override { Throw("worker failed"); }
        };
        auto* thread = rtl::TThread::Create<TFailing>();
        thread->WaitFor();
        delete thread;
        std::printf("process goes on\n");
        return 0;
    });
    EXPECT_TRUE(r.Exited && r.ExitCode == 0) << r.Output;
    EXPECT_TRUE(Has(r.Output, "process goes on")) << r.Output;
    EXPECT_EQ(Occurrences(r.Output, "2.5 Message: worker failed."), 1) << r.Output;
    EXPECT_EQ(StoredReports(dir_.path()), 1);
}

TEST_F(PipelineCrash, AbortIsReportedThenTheProcessEndsBySigabrt)
{
    const auto r = RunInChild([&] {
        if (!StartReporter(dir_.path())) return 9;
        std::abort();
    });
    EXPECT_TRUE(r.Signaled && r.Signal == SIGABRT) << r.Output;
    EXPECT_TRUE(Has(r.Output, "External exception 40000015")) << r.Output;
    EXPECT_EQ(StoredReports(dir_.path()), 1);
}

TEST_F(PipelineCrash, WithoutTheDialogNothingIsWrittenToStandardOutputButTheLogKeepsTheReport)
{
    const auto r = RunInChild([&] {
        if (!StartReporter(dir_.path(), [](auto& o) { o.SetDialogFlags({}); })) return 9;
        Throw("silent");
        return 0;
    });
    EXPECT_TRUE(r.Exited && r.ExitCode == 1) << r.Output;
    EXPECT_FALSE(Has(r.Output, "TavrelLog 5.1.5")) << r.Output;
    ASSERT_EQ(StoredReports(dir_.path()), 1);
    EXPECT_TRUE(Has(StoredReport(dir_.path(), 0), "2.5 Message: silent.")) << StoredReport(dir_.path(), 0);
}

TEST_F(PipelineCrash, AClosedStandardOutputIsAConsoleWarningAndTheReportGoesOnToTheLog)
{
    const auto r = RunInChild([&] {
        if (!StartReporter(dir_.path())) return 9;
        close(1);
        Throw("no console");
        return 0;
    });
    EXPECT_TRUE(r.Exited && r.ExitCode == 1) << r.Output;
    ASSERT_EQ(StoredReports(dir_.path()), 1);
    EXPECT_TRUE(Has(StoredReport(dir_.path(), 0), "2.5 Message: no console.")) << StoredReport(dir_.path(), 0);
}

TEST_F(PipelineCrash, ACaptureStartedWithoutOptionsReportsWithTheDefaults)
{
    const std::string log = kernel::MainExecutablePath() + ".tlf";
    kernel::DeleteFile(log);
    const auto r = RunInChild([&] {
        crashreport::TCaptureStartup startup;
        startup.Force = true;
        if (!crashreport::StartExceptionCapture(startup)) return 9;
        crashreport::StartReporter();
        Throw("no options");
        return 0;
    });
    EXPECT_TRUE(r.Exited && r.ExitCode == 1) << r.Output;
    // The defaults: the dialog (here the console), the log beside the program.
    EXPECT_TRUE(Has(r.Output, "2.5 Message: no options.")) << r.Output;
    EXPECT_TRUE(kernel::FileExists(log));
    if (kernel::FileExists(log)) {
        EXPECT_EQ(crashreport::TLogFile(log, true).Count(), 1);
    }
    kernel::DeleteFile(log);
    kernel::DeleteFile(log + ".lock");
}

} // namespace
