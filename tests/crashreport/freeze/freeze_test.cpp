// The freeze watchdog in a child GUI process (bounded in time), in the
// headless backend or, built with FREEZE_X11, on the X server in $DISPLAY:
// a click handler that blocks the main thread in a known function is
// reported once, after FreezeSeconds, with that function on the main
// thread's stack; brief blocks are never reported; an answer ends a freeze;
// the watchdog stops promptly and an exiting process is not reported.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "crashreport/freeze/freeze_thread.h"
#include "crashreport/options/freeze_watch_hook.h"
#include "crashreport/options/module_options_ex.h"
#include "platform/ui/backend.h"
#include "tests/platform/ui/x11_input_lock.h"

namespace {

#ifdef FREEZE_X11
const char* kBackend = "x11";
#else
const char* kBackend = "headless";
#endif

struct Report {
    long long Ms = 0;
    bool KnownFunctionOnStack = false;
    bool MainThread = false;
    std::string Message;
};

struct ChildRun {
    int Status = -1;
    std::vector<Report> Reports;
    long long StopMs = -1;
    int RunningAfterStop = -1;
    bool Exited = false;
    std::string Output;
};

// Runs the child under a hard time limit.
ChildRun RunChild(const std::string& args, int limitSeconds, const char* backend = kBackend)
{
    ChildRun run;
    const std::string cmd = "timeout -k 2 " + std::to_string(limitSeconds) + " '" FREEZE_CHILD "' " + backend + " " +
        args + " 2>/dev/null";
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return run;
    std::array<char, 512> buf;
    while (fgets(buf.data(), buf.size(), p)) {
        const std::string line = buf.data();
        run.Output += line;
        std::istringstream in(line);
        std::string kind;
        in >> kind;
        if (kind == "REPORT") {
            Report r;
            int known = 0, main = 0;
            in >> r.Ms >> known >> main;
            std::getline(in, r.Message);
            if (!r.Message.empty() && r.Message[0] == ' ') r.Message.erase(0, 1);
            r.KnownFunctionOnStack = known == 1;
            r.MainThread = main == 1;
            run.Reports.push_back(r);
        } else if (kind == "STOPPED") {
            in >> run.StopMs >> run.RunningAfterStop;
        } else if (kind == "EXITED") {
            run.Exited = true;
        }
    }
    run.Status = pclose(p);
    return run;
}

} // namespace

// Outside the anonymous namespace: the tests derived from it are not in one.
struct Freeze : ::testing::Test {
#ifdef FREEZE_X11
    // The child's form shares the screen with the tests that look at it.
    testing_support::X11InputLock lock;
#endif
    void SetUp() override
    {
#ifdef FREEZE_X11
        if (!ui::X11DisplayReachable()) GTEST_SKIP() << "no X display reachable";
#endif
    }
};

// The two builds of this file register their cases under names of their own.
#ifdef FREEZE_X11
using FreezeX11 = Freeze;
#define FREEZE_SUITE FreezeX11
#else
using FreezeHeadless = Freeze;
#define FREEZE_SUITE FreezeHeadless
#endif

// FreezeSeconds 2, the main thread blocked for 4.5 s: one report (not one
// per timeout), 2 s after the block began within a tolerance of 1.5 s, with
// the blocking function on the main thread's stack and the freeze text.
TEST_F(FREEZE_SUITE, BlockedMainThreadIsReportedOnceWithItsStack)
{
    const ChildRun run = RunChild("blocks 2 4500", 30);
    ASSERT_EQ(run.Status, 0) << run.Output;
    ASSERT_EQ(run.Reports.size(), 1u) << run.Output;
    const Report& r = run.Reports[0];
    EXPECT_GE(r.Ms, 2000) << run.Output;
    EXPECT_LE(r.Ms, 3500) << run.Output;
    EXPECT_TRUE(r.KnownFunctionOnStack) << run.Output;
    EXPECT_TRUE(r.MainThread);
    EXPECT_EQ(r.Message, "EFrozenApplication: Frozen in the test.");
    RecordProperty("freeze_latency_ms", std::to_string(r.Ms));
}

// Blocks shorter than FreezeSeconds are never reported, also when two of
// them come close together: an answer in between starts the count again.
TEST_F(FREEZE_SUITE, BrieflyBusyMainThreadIsNeverReported)
{
    const ChildRun run = RunChild("blocks 2 1400 1400 1400", 30);
    ASSERT_EQ(run.Status, 0) << run.Output;
    EXPECT_TRUE(run.Reports.empty()) << run.Output;
}

// A main thread that answers again ends the freeze: the next block is a
// freeze of its own and is reported too.
TEST_F(FREEZE_SUITE, AnswerEndsTheFreezeAndTheNextOneIsReported)
{
    const ChildRun run = RunChild("blocks 1 2500 2500", 30);
    ASSERT_EQ(run.Status, 0) << run.Output;
    ASSERT_EQ(run.Reports.size(), 2u) << run.Output;
    for (const Report& r : run.Reports) {
        EXPECT_GE(r.Ms, 1000) << run.Output;
        EXPECT_TRUE(r.KnownFunctionOnStack) << run.Output;
    }
}

// Stopping at shut-down ends the thread promptly (it sleeps in 50 ms steps).
TEST_F(FREEZE_SUITE, StopEndsTheWatchdogPromptly)
{
    const ChildRun run = RunChild("blocks 2 100", 30);
    ASSERT_EQ(run.Status, 0) << run.Output;
    EXPECT_TRUE(run.Reports.empty()) << run.Output;
    EXPECT_EQ(run.RunningAfterStop, 0) << run.Output;
    EXPECT_GE(run.StopMs, 0) << run.Output;
    EXPECT_LT(run.StopMs, 1000) << run.Output;
}

// A process whose exit is held up for longer than FreezeSeconds, with its
// window still there, is not reported as frozen, and it does end.
TEST_F(FREEZE_SUITE, ExitingProcessIsNotReported)
{
    const ChildRun run = RunChild("exit 1 3000", 30);
    EXPECT_EQ(run.Status, 0) << run.Output;
    EXPECT_TRUE(run.Exited) << run.Output;
    EXPECT_TRUE(run.Reports.empty()) << run.Output;
}

#ifndef FREEZE_X11
// A program whose main thread runs a GLib main loop (a GTK program) and no
// window of our toolkit: a callback of the loop blocking for 3.5 s with
// FreezeSeconds 1 is reported once, with the blocking function on the main
// thread's stack; one blocking for 0.3 s is not.
TEST(FreezeGLib, ABlockedMainLoopIsReportedOnceWithItsStack)
{
    const ChildRun probe = RunChild("blocks 1 10", 20, "glib");
    if (probe.Status == 6 << 8) GTEST_SKIP() << "built without GLib";
    const ChildRun run = RunChild("blocks 1 300 3500", 30, "glib");
    ASSERT_EQ(run.Status, 0) << run.Output;
    ASSERT_EQ(run.Reports.size(), 1u) << run.Output;
    const Report& r = run.Reports[0];
    EXPECT_GE(r.Ms, 1000) << run.Output;
    EXPECT_TRUE(r.KnownFunctionOnStack) << run.Output;
    EXPECT_TRUE(r.MainThread);
    EXPECT_EQ(r.Message, "EFrozenApplication: Frozen in the test.");
}

// A main thread waiting 3 s for a report (as for its dialog), with nothing
// to answer the loop meanwhile, is not frozen: the report is the only one,
// and the watch goes on to report a later block (it once paused the main
// thread inside the report and waited for it for ever).
TEST(FreezeGLib, AMainThreadWaitingForAReportIsNotFrozen)
{
    const ChildRun run = RunChild("report 1 2500", 30, "glib");
    if (run.Status == 6 << 8) GTEST_SKIP() << "built without GLib";
    ASSERT_EQ(run.Status, 0) << run.Output;
    ASSERT_EQ(run.Reports.size(), 2u) << run.Output;
    EXPECT_EQ(run.Reports[0].Message, "EFrozenApplication: slow report");
    EXPECT_EQ(run.Reports[1].Message, "EFrozenApplication: Frozen in the test.");
}
#endif

#ifndef FREEZE_X11
// The options decide: FreezeWatch of the reporter's own record starts and
// stops the watchdog through the control; off, or FreezeSeconds 0, no
// watchdog thread exists.
TEST(FreezeOptions, FreezeWatchStartsAndStopsTheWatchdog)
{
    static crashreport::TTavrelModuleOptionsEx* options = nullptr;
    options = new crashreport::TTavrelModuleOptionsEx("", false);
    crashreport::SetCurrentOptionsQuery([]() -> crashreport::TTavrelModuleOptions* { return options; });
    crashreport::InstallFreezeWatchControl();
    options->SetReporterActive(true);
    options->SetFreezeSeconds(5);
    EXPECT_FALSE(crashreport::FreezeWatchRunning());
    options->SetFreezeWatch(true);
    EXPECT_TRUE(crashreport::FreezeWatchRunning());
    EXPECT_NE(crashreport::FreezeThread(), nullptr);
    EXPECT_TRUE(crashreport::StartFreezeWatch()); // already running: the same one
    options->SetFreezeWatch(false);
    EXPECT_FALSE(crashreport::FreezeWatchRunning());
    EXPECT_EQ(crashreport::FreezeThread(), nullptr);

    EXPECT_FALSE(crashreport::StartFreezeWatch()); // FreezeWatch off
    options->SetFreezeSeconds(0);
    options->SetFreezeWatch(true);
    EXPECT_FALSE(crashreport::FreezeWatchRunning());
    options->SetFreezeWatch(false);
    crashreport::RemoveFreezeWatchControl();
    crashreport::SetCurrentOptionsQuery(nullptr);
    EXPECT_FALSE(crashreport::StartFreezeWatch()); // no options at all
}
#endif
