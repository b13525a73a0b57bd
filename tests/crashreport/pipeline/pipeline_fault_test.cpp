// Faults in and around the reporter itself, in child processes: a fault
// while the reporter sends (in the background and in the foreground), a
// step of the pipeline that fails (an internal error with the step's
// section code), and capture errors raised inside a signal handler, which
// reach the internal error log only later, outside the handler.
#include <gtest/gtest.h>

#include "crashreport/binding/events.h"
#include "crashreport/capture/capture_errors.h"
#include "crashreport/errorlog/errorlog_hooks.h"
#include "crashreport/capture/exception_capture.h"
#include "crashreport/pipeline/deferred_errors.h"
#include "crashreport/pipeline/send_report.h"
#include "tests/support/peer_process.h"
#include "pipeline_test_support.h"
#include "platform/kernel/files.h"
#include "platform/kernel/modules.h"
#include "platform/rtl/exception.h"
#include "platform/rtl/file_names.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

#include <signal.h>
#include <unistd.h>

using namespace crashreport;
using pipelinetest::Occurrences;
using pipelinetest::StartReporter;
using pipelinetest::StoredReports;
using vektest::RunInChild;

namespace {

__attribute__((noinline)) int ReadAt(std::uintptr_t address) { return *reinterpret_cast<volatile int*>(address); }
std::uintptr_t volatile g_unmapped = 0x48;
volatile int g_sink;

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

void ReportText(const char* text)
{
    try {
        throw rtl::Exception(text);
    } catch (const rtl::Exception& e) {
        const bool answer = ExceptionManager(const_cast<rtl::Exception*>(&e), &typeid(e),
                                             reinterpret_cast<void*>(&ReportText), rkApplication, 0);
        std::printf("answer=%d\n", answer ? 1 : 0);
    }
}

// The internal error log writes only for a debugger: the test stands in for one.
bool Debugged() { return true; }
void DebugLine(std::string_view line) { std::fprintf(stdout, "DEBUG %.*s\n", static_cast<int>(line.size()), line.data()); }
void StandInDebugger()
{
    TErrorLogHooks hooks = ErrorLogHooks();
    hooks.DebuggerPresent = &Debugged;
    hooks.DebugOutput = &DebugLine;
    SetErrorLogHooks(hooks);
}

void FailingFiles(const TTavrelExceptionRecord&, TTavrelStrings&) { g_sink = ReadAt(g_unmapped); }

class PipelineFault : public ::testing::Test {
protected:
    ~PipelineFault() override { kernel::DeleteFile(rtl::ChangeFileExt(kernel::MainExecutablePath(), ".log")); }
    testing_support::TempDir dir_;
};

TEST_F(PipelineFault, AFaultWhileSendingInTheBackgroundEndsThatDeliveryAndTheProgramGoesOn)
{
    const std::uint16_t port = net_testing::UnusedTcpPort();
    const auto r = RunInChild([&] {
        if (!StartReporter(dir_.path(), [&](auto& o) {
                o.SetDialogFlags({});
                o.SetMailMethod(mmSmtpClient);
                o.SetSmtpServer("127.0.0.1");
                o.SetSmtpServerPort(port);
                o.SetMailRecipients("dev@vek.invalid");
                o.SetSendFlags({sfSendInBackground, sfCompressAttachments});
            }))
            return 9;
        GlobalEventHandlers().OnAttachedFilesRequest = [](void*, const TTavrelExceptionRecord& record,
                                                          TTavrelStrings& files) { FailingFiles(record, files); };
        ReportText("first");
        WaitForBackgroundSends();
        GlobalEventHandlers().OnAttachedFilesRequest = nullptr;
        ReportText("second");
        WaitForBackgroundSends();
        std::printf("went on\n");
        return 0;
    });
    EXPECT_TRUE(r.Exited && r.ExitCode == 0) << r.Output;
    EXPECT_TRUE(Has(r.Output, "went on")) << r.Output;
    EXPECT_EQ(Occurrences(r.Output, "answer=0"), 2) << r.Output;
    EXPECT_EQ(StoredReports(dir_.path()), 2);
    EXPECT_EQ(system(("ls -A " + dir_.path() + " | grep -q TavrelLog").c_str()) == 0, false) << "temporary files left";
}

TEST_F(PipelineFault, AFaultInAHandlerWhileSendingInTheForegroundIsSwallowedAndTheSendingGoesOn)
{
    const auto r = RunInChild([&] {
        if (!StartReporter(dir_.path(), [&](auto& o) {
                o.SetDialogFlags({});
                o.SetWebMethod(wmHttp);
                o.SetWebAddress("http://127.0.0.1/upload");
            }))
            return 9;
        StandInDebugger();
        GlobalEventHandlers().OnAttachedFilesRequest = [](void*, const TTavrelExceptionRecord& record,
                                                          TTavrelStrings& files) { FailingFiles(record, files); };
        ReportText("sending fails");
        std::printf("went on\n");
        return 0;
    });
    EXPECT_TRUE(r.Exited && r.ExitCode == 0) << r.Output;
    EXPECT_TRUE(Has(r.Output, "answer=0")) << r.Output;
    EXPECT_TRUE(Has(r.Output, "went on")) << r.Output;
    // The handler runs on the waiting thread, which swallows its failure;
    // the upload is still tried.
    EXPECT_TRUE(Has(r.Output, "DEBUG [WARNING] - Code: eeWebHTTPError")) << r.Output;
    EXPECT_FALSE(Has(r.Output, "[ERROR]")) << r.Output;
    // The log was written before the sending failed.
    EXPECT_EQ(StoredReports(dir_.path()), 1);
}

TEST_F(PipelineFault, AStepThatFailsIsAnInternalErrorWithItsSectionCodeAndTheAnswerIsHandled)
{
    const auto r = RunInChild([&] {
        TReporterParts parts;
        parts.Desktop = pipelinetest::RecordingDesktop();
        parts.Dialogs.ShowExceptionDialog = [](TDialogReport&, TReportChoices&) { return true; };
        parts.Dialogs.ShowReproduceRequest = [](TDialogReport&) { throw rtl::Exception("request dialog broke"); };
        if (!StartReporter(dir_.path(), [](auto& o) { o.SetLogFlags({lgAddReproduceText}); }, &parts)) return 9;
        StandInDebugger();
        ReportText("first");
        std::printf("went on\n");
        return 0;
    });
    EXPECT_TRUE(r.Exited && r.ExitCode == 0) << r.Output;
    EXPECT_TRUE(Has(r.Output, "DEBUG [ERROR] - Section: 14 - Address: ")) << r.Output;
    EXPECT_TRUE(Has(r.Output, "Message: \"request dialog broke\"")) << r.Output;
    EXPECT_TRUE(Has(r.Output, "answer=0")) << r.Output;
    EXPECT_TRUE(Has(r.Output, "went on")) << r.Output;
}

TEST_F(PipelineFault, CaptureErrorsInsideASignalHandlerAreDeferredToTheNextReport)
{
    const auto r = RunInChild([&] {
        if (!StartReporter(dir_.path(), [](auto& o) { o.SetDialogFlags({}); })) return 9;
        StandInDebugger();
        struct sigaction action {};
        action.sa_handler = [](int) { CaptureInternalError("TExceptionCapture.Signal", "raised in a handler"); };
        sigaction(SIGUSR1, &action, nullptr);
        raise(SIGUSR1);
        std::printf("after the signal\n");
        std::fflush(stdout);
        ReportText("next report");
        return 0;
    });
    EXPECT_TRUE(r.Exited && r.ExitCode == 0) << r.Output;
    const auto signal = r.Output.find("after the signal");
    const auto error = r.Output.find("DEBUG [ERROR] - Section: TExceptionCapture.Signal");
    ASSERT_NE(error, std::string::npos) << r.Output;
    EXPECT_LT(signal, error) << r.Output; // not formatted inside the handler
    EXPECT_TRUE(Has(r.Output, "Message: \"raised in a handler\"")) << r.Output;
}

TEST(DeferredErrors, AFullQueueCountsWhatItDrops)
{
    const int before = DroppedCaptureErrors();
    for (int i = 0; i < 20; ++i) DeferCaptureError("S", "T");
    EXPECT_EQ(DroppedCaptureErrors() - before, 4);
    EXPECT_EQ(DrainDeferredCaptureErrors(), 16);
    EXPECT_EQ(DrainDeferredCaptureErrors(), 0);
}

} // namespace
