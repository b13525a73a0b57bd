// The pipeline's decisions with the real capture, in child processes: the
// filters, an event handler that cancels, the crash rule, the user's choices
// in the exception dialog, the request dialog, the clipboard copy, faults
// inside event handlers, and twenty threads faulting at once.
#include <gtest/gtest.h>

#include "crashreport/binding/events.h"
#include "crashreport/errorlog/errorlog_hooks.h"
#include "crashreport/capture/exception_capture.h"
#include "crashreport/pipeline/crash_rule.h"
#include "crashreport/pipeline/report_pipeline.h"
#include "pipeline_test_support.h"
#include "platform/rtl/exception.h"
#include "platform/rtl/external_exception.h"
#include "platform/rtl/thread.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

#include <unistd.h>

#include <atomic>
#include <thread>
#include <vector>

using pipelinetest::UseRecordingDesktop;
using pipelinetest::SetRecordedChoices;
using pipelinetest::UseRecordingDialogs;
using pipelinetest::Occurrences;
using pipelinetest::StartReporter;
using pipelinetest::StoredReport;
using pipelinetest::StoredReports;
using vektest::RunInChild;
using namespace crashreport;

namespace {

struct EVekFiltered : rtl::Exception {
    using rtl::Exception::Exception;
};
struct EVekRefused : rtl::Exception {
    using rtl::Exception::Exception;
};

__attribute__((noinline)) int ReadAt(std::uintptr_t address) { return *reinterpret_cast<volatile int*>(address); }
volatile int g_sink;

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// A framework's top-level handler: asks the reporter about a caught
// exception and prints the answer.
template <typename E> bool Report(const E& e)
{
    const bool answer = ExceptionManager(const_cast<E*>(&e), &typeid(e), reinterpret_cast<void*>(&ReadAt),
                                         rkApplication, 0);
    std::printf("answer=%d\n", answer ? 1 : 0);
    return answer;
}

void ReportText(const char* text)
{
    try {
        throw rtl::Exception(text);
    } catch (const rtl::Exception& e) {
        Report(e);
    }
}

void PrintEnd(bool restart)
{
    std::printf("END restart=%d\n", restart ? 1 : 0);
    std::fflush(stdout);
    _exit(5);
}

class PipelineBehaviour : public ::testing::Test {
protected:
    testing_support::TempDir dir_;
};

TEST_F(PipelineBehaviour, AFilteredClassIsNotReportedAndItsMessageIsShown)
{
    const auto r = RunInChild([&] {
        UseRecordingDesktop();
        UseRecordingDialogs({});
        if (!StartReporter(dir_.path(), [](auto& o) {
                o.SetFilterActive(true);
                o.FilterClassNames().Add("EVekFiltered");
                o.FilterMessages().Add("That file is not a frame file.");
                // The exception's own message in place of the placeholder.
                o.FilterClassNames().Add("EVekRefused");
                o.FilterMessages().Add("Not converted: %ExceptionMessage% (%ExceptionMessage%)");
            }))
            return 9;
        try {
            throw EVekFiltered("filtered %ExceptionMessage%");
        } catch (const EVekFiltered& e) {
            Report(e);
        }
        try {
            throw EVekRefused("the disk is full");
        } catch (const EVekRefused& e) {
            Report(e);
        }
        return 0;
    });
    EXPECT_TRUE(r.Exited && r.ExitCode == 0) << r.Output;
    EXPECT_EQ(Occurrences(r.Output, "BOX "), 2) << r.Output;
    EXPECT_TRUE(Has(r.Output, ": That file is not a frame file.\n")) << r.Output;
    EXPECT_TRUE(Has(r.Output, ": Not converted: the disk is full. (the disk is full.)")) << r.Output;
    EXPECT_FALSE(Has(r.Output, "DIALOG")) << r.Output;
    EXPECT_TRUE(Has(r.Output, "answer=0")) << r.Output;
    EXPECT_EQ(StoredReports(dir_.path()), 0);
}

TEST_F(PipelineBehaviour, AFilterWithoutMessageSkipsTheReportSilentlyAndOtherClassesAreReported)
{
    const auto r = RunInChild([&] {
        UseRecordingDesktop();
        UseRecordingDialogs({});
        if (!StartReporter(dir_.path(), [](auto& o) {
                o.SetFilterActive(true);
                o.FilterClassNames().Add("EVekFiltered");
                o.FilterMessages().Add("");
            }))
            return 9;
        try {
            throw EVekFiltered("filtered");
        } catch (const EVekFiltered& e) {
            Report(e);
        }
        ReportText("not filtered");
        return 0;
    });
    EXPECT_TRUE(r.Exited && r.ExitCode == 0) << r.Output;
    EXPECT_FALSE(Has(r.Output, "BOX ")) << r.Output;
    EXPECT_EQ(Occurrences(r.Output, "DIALOG"), 1) << r.Output;
    ASSERT_EQ(StoredReports(dir_.path()), 1);
    EXPECT_TRUE(Has(StoredReport(dir_.path(), 0), "not filtered")) << StoredReport(dir_.path(), 0);
}

TEST_F(PipelineBehaviour, AnEventHandlerThatCancelsLeavesTheDefaultHandlingAndResumesPausedThreads)
{
    const auto r = RunInChild([&] {
        if (!StartReporter(dir_.path(), [](auto& o) { o.SetBehaviourFlags({bhPauseRuntimeThreads}); })) return 9;
        GlobalEventHandlers().OnExceptionNotify = [](void*, const TTavrelExceptionRecord&, bool& handle) {
            handle = false;
        };
        static std::atomic<long> ticks{0};
        static std::atomic<bool> stop{false};
        struct TWorker : rtl::TThread {
            TWorker() : rtl::TThread(false) {}
            void Execute() override
            {
                while (!stop) ++ticks;
            }
        };
        auto* worker = rtl::TThread::Create<TWorker>();
        while (ticks == 0) sched_yield();
        ReportText("cancelled");
        const long before = ticks;
        while (ticks == before) sched_yield(); // hangs (and the alarm fails the test) if still paused
        stop = true;
        worker->WaitFor();
        delete worker;
        std::printf("worker runs again\n");
        return 0;
    });
    EXPECT_TRUE(r.Exited && r.ExitCode == 0) << r.Output;
    EXPECT_TRUE(Has(r.Output, "answer=1")) << r.Output;
    EXPECT_TRUE(Has(r.Output, "worker runs again")) << r.Output;
    EXPECT_FALSE(Has(r.Output, "TavrelLog 5.1.5")) << r.Output;
    EXPECT_EQ(StoredReports(dir_.path()), 0);
}

TEST_F(PipelineBehaviour, TheThirdReportWithinAMinuteEndsTheProgramByTheCrashRule)
{
    const auto r = RunInChild([&] {
        if (!StartReporter(dir_.path(), [](auto& o) {
                o.SetDialogFlags({});
                o.SetBehaviourFlags({bhCrashRule});
                o.SetCrashCount(3);
                o.SetCrashMinutes(1);
                o.SetCrashAction(taRestart);
            }))
            return 9;
        SetProcessEnd(&PrintEnd);
        ReportText("first");
        ReportText("second");
        std::printf("two reports made\n");
        ReportText("third");
        std::printf("not reached\n");
        return 0;
    });
    EXPECT_TRUE(r.Exited && r.ExitCode == 5) << r.Output;
    EXPECT_TRUE(Has(r.Output, "two reports made")) << r.Output;
    EXPECT_TRUE(Has(r.Output, "END restart=1")) << r.Output;
    EXPECT_FALSE(Has(r.Output, "not reached")) << r.Output;
    EXPECT_EQ(StoredReports(dir_.path()), 3); // the third is saved before the end
}

TEST(CrashRule, CountsOnlyAFullListWithinTheMinutes)
{
    const double minute = 1.0 / 1440.0;
    TCrashRule rule;
    rule.Add(100.0, 3);
    rule.Add(100.0 + 0.4 * minute, 3);
    EXPECT_FALSE(rule.Triggered(3, 1)); // two entries are not three
    rule.Add(100.0 + 0.9 * minute, 3);
    EXPECT_TRUE(rule.Triggered(3, 1));

    TCrashRule spread;
    spread.Add(200.0, 3);
    spread.Add(200.0 + 1.0 * minute, 3);
    spread.Add(200.0 + 2.0 * minute, 3);
    EXPECT_FALSE(spread.Triggered(3, 1)); // three over two minutes
    spread.Add(200.0 + 2.5 * minute, 3);  // the oldest drops out: 1.0 .. 2.5
    EXPECT_FALSE(spread.Triggered(3, 1));
    spread.Add(200.0 + 2.9 * minute, 3); // 2.0 .. 2.9
    EXPECT_TRUE(spread.Triggered(3, 1));
    EXPECT_EQ(spread.Size(), 3u);
}

TEST_F(PipelineBehaviour, TheTerminateButtonEndsTheProgramWithExitCode1AfterTheLog)
{
    const auto r = RunInChild([&] {
        UseRecordingDesktop();
        UseRecordingDialogs({.Terminate = true});
        if (!StartReporter(dir_.path(), [](auto& o) { o.SetTerminateAction(taTerminate); })) return 9;
        ReportText("terminate me");
        std::printf("not reached\n");
        return 0;
    });
    EXPECT_TRUE(r.Exited && r.ExitCode == 1) << r.Output;
    EXPECT_TRUE(Has(r.Output, "DIALOG terminate me.")) << r.Output;
    EXPECT_FALSE(Has(r.Output, "not reached")) << r.Output;
    EXPECT_EQ(StoredReports(dir_.path()), 1);
}

TEST_F(PipelineBehaviour, ADialogThatCannotBeShownIsAWarningAndTheReportGoesOn)
{
    // A dialog that cannot be shown, and no dialog library at all: the same.
    for (const bool dialogs : {true, false}) {
        testing_support::TempDir dir;
        const auto r = RunInChild([&] {
            UseRecordingDesktop();
            if (dialogs) UseRecordingDialogs({.Shown = false});
            if (!StartReporter(dir.path())) return 9;
            ReportText("not shown");
            return 0;
        });
        EXPECT_TRUE(r.Exited && r.ExitCode == 0) << r.Output;
        EXPECT_EQ(Occurrences(r.Output, "answer=0"), 1) << r.Output;
        EXPECT_EQ(StoredReports(dir.path()), 1);
    }
}

TEST_F(PipelineBehaviour, TheRequestDialogAndTheClipboardCopyFollowTheOptionsAndTheUsersChoice)
{
    const auto r = RunInChild([&] {
        UseRecordingDesktop();
        UseRecordingDialogs({.Copy = true});
        if (!StartReporter(dir_.path(), [](auto& o) { o.SetLogFlags({lgAddReproduceText, lgSkipRepeatedErrors}); }))
            return 9;
        ReportText("copied");
        SetRecordedChoices({.Copy = true});
        ReportText("copied again"); // the dialog starts with the last report's copy choice
        SetRecordedChoices({.Copy = false});
        ReportText("not copied");
        return 0;
    });
    EXPECT_TRUE(r.Exited && r.ExitCode == 0) << r.Output;
    EXPECT_EQ(Occurrences(r.Output, "REQUEST"), 3) << r.Output;
    EXPECT_EQ(Occurrences(r.Output, "CLIPBOARD "), 2) << r.Output;
    EXPECT_TRUE(Has(r.Output, "DIALOG copied. copy=0")) << r.Output;
    EXPECT_TRUE(Has(r.Output, "DIALOG copied again. copy=1")) << r.Output;
    EXPECT_TRUE(Has(r.Output, "DIALOG not copied. copy=1")) << r.Output;
}

TEST_F(PipelineBehaviour, ARepeatedErrorIsNeitherSavedNorGivenARequestDialog)
{
    const auto r = RunInChild([&] {
        UseRecordingDesktop();
        UseRecordingDialogs({});
        if (!StartReporter(dir_.path(), [](auto& o) { o.SetLogFlags({lgAddReproduceText, lgSkipRepeatedErrors}); }))
            return 9;
        for (int i = 0; i < 3; ++i) ReportText("the same every time");
        return 0;
    });
    EXPECT_TRUE(r.Exited && r.ExitCode == 0) << r.Output;
    EXPECT_EQ(Occurrences(r.Output, "DIALOG"), 3) << r.Output;
    EXPECT_EQ(Occurrences(r.Output, "REQUEST"), 1) << r.Output;
    EXPECT_EQ(StoredReports(dir_.path()), 1);
}

TEST_F(PipelineBehaviour, AFaultInsideAnEventHandlerIsSwallowedAndTheReportIsStillMade)
{
    const auto r = RunInChild([&] {
        if (!StartReporter(dir_.path())) return 9;
        GlobalEventHandlers().OnExceptionNotify = [](void*, const TTavrelExceptionRecord&, bool&) {
            g_sink = ReadAt(0x28);
        };
        ReportText("handler faults");
        std::printf("went on\n");
        return 0;
    });
    EXPECT_TRUE(r.Exited && r.ExitCode == 0) << r.Output;
    EXPECT_TRUE(Has(r.Output, "went on")) << r.Output;
    EXPECT_EQ(Occurrences(r.Output, "TavrelLog 5.1.5"), 1) << r.Output;
    EXPECT_EQ(StoredReports(dir_.path()), 1);
}

TEST(LogReset, OnlyAStoredVersionThatDiffersFromTheRunningOneResetsTheLog)
{
    EXPECT_TRUE(LogOfOtherVersion("1.0.0.0", "1.1.0.0"));
    EXPECT_FALSE(LogOfOtherVersion("1.1.0.0", "1.1.0.0"));
    EXPECT_FALSE(LogOfOtherVersion("", "1.1.0.0")); // the version item was hidden
}

// The internal error log's boxes go to the reporter's desktop, where its
// yes/no question can be answered "Yes"; without a desktop none is shown
// and the answer is "No".
TEST_F(PipelineBehaviour, TheErrorLogsBoxesReachTheDesktopAndItsQuestionCanBeAnsweredYes)
{
    for (const bool desktop : {false, true}) {
        const auto r = RunInChild([&] {
            if (desktop) UseRecordingDesktop();
            if (!StartReporter(dir_.path())) return 9;
            const auto box = ErrorLogHooks().MessageBox;
            if (!box) return 8;
            std::printf("question=%d\n", box("Send the log?", "Question.", kBoxYesNo | kBoxIconStop));
            std::printf("ok=%d\n", box("The log was kept.", "Information.", kBoxOk));
            return 0;
        });
        EXPECT_TRUE(r.Exited && r.ExitCode == 0) << r.Output;
        if (desktop) {
            EXPECT_TRUE(Has(r.Output, "ASK Question.: Send the log?\nquestion=6")) << r.Output;
            EXPECT_TRUE(Has(r.Output, "BOX Information.: The log was kept.\nok=1")) << r.Output;
        } else {
            EXPECT_TRUE(Has(r.Output, "question=0\nok=0")) << r.Output;
        }
    }
}

TEST_F(PipelineBehaviour, ALogThatIsNotSavedRaisesTheErrorEventWithTheLogsCode)
{
    const auto r = RunInChild([&] {
        if (!StartReporter(dir_.path())) return 9;
        // A handler that vetoes the write: the log is not saved.
        GlobalEventHandlers().OnExceptionActionNotify = [](void*, const TTavrelExceptionRecord&, int action,
                                                           int* value) {
            if (action == 2) *value = 0;
        };
        GlobalEventHandlers().OnExceptionErrorNotify = [](void*, const TTavrelExceptionRecord&,
                                                          TTavrelLogErrorCode error, int*) {
            std::printf("ERROR %d\n", static_cast<int>(error));
        };
        ReportText("no log");
        return 0;
    });
    EXPECT_TRUE(r.Exited && r.ExitCode == 0) << r.Output;
    EXPECT_EQ(Occurrences(r.Output, "ERROR " + std::to_string(eeLogError) + "\n"), 1) << r.Output;
}

TEST_F(PipelineBehaviour, TwentyThreadsFaultingAtOnceAreReportedOneAtATime)
{
    const auto r = RunInChild(
        [&] {
            if (!StartReporter(dir_.path())) return 9;
            static std::atomic<int> ready{0};
            static std::atomic<bool> go{false};
            struct TFaulting : rtl::TThread {
                explicit TFaulting(int n) : rtl::TThread(false), n_(n) {}
                void Execute() override
                {
                    ++ready;
                    while (!go) sched_yield();
                    g_sink = ReadAt(0x1000 + 16 * static_cast<std::uintptr_t>(n_));
                }
                int n_;
            };
            std::vector<TFaulting*> threads;
            for (int i = 0; i < 20; ++i) threads.push_back(rtl::TThread::Create<TFaulting>(i));
            while (ready < 20) sched_yield();
            go = true;
            for (auto* t : threads) t->WaitFor();
            for (auto* t : threads) delete t;
            std::printf("all ended\n");
            return 0;
        },
        120);
    EXPECT_TRUE(r.Exited && r.ExitCode == 0) << r.Output;
    EXPECT_TRUE(Has(r.Output, "all ended")) << r.Output;
    // Each report on standard output is whole: one banner, one message, one stack.
    std::vector<std::string> pieces;
    for (std::size_t at = r.Output.find("TavrelLog 5.1.5"); at != std::string::npos;) {
        const std::size_t next = r.Output.find("TavrelLog 5.1.5", at + 1);
        pieces.push_back(r.Output.substr(at, next == std::string::npos ? std::string::npos : next - at));
        at = next;
    }
    ASSERT_EQ(pieces.size(), 20u) << r.Output;
    for (const auto& p : pieces) {
        EXPECT_EQ(Occurrences(p, "2.5 Message:"), 1) << p;
        EXPECT_EQ(Occurrences(p, "Call Stack Information:"), 1) << p;
        EXPECT_EQ(Occurrences(p, "Registers:"), 1) << p;
    }
    // Every fault address once, in the log as well.
    ASSERT_EQ(StoredReports(dir_.path()), 20);
    std::string log;
    for (int i = 0; i < 20; ++i) log += StoredReport(dir_.path(), i);
    for (int i = 0; i < 20; ++i) {
        char address[64];
        std::snprintf(address, sizeof address, "Read of address %016X", 0x1000 + 16 * i);
        EXPECT_EQ(Occurrences(log, address), 1) << address;
    }
}

} // namespace
