// A small GUI program for the freeze tests: a form with a button whose
// click handler blocks the main thread inside one known function, and the
// freeze watchdog reporting through the exception capture, whose report
// pipeline is a recorder.
// Writes one line per event to stdout:
//   REPORT <ms since the block began> <known function on the stack 0/1> <main thread 0/1> <class>: <message>
//   STOPPED <ms the watchdog took to stop>
//
//   freeze_child headless|x11|glib SCENARIO FREEZE_SECONDS BLOCK_MS...
// "glib" runs the blocks on a GLib main loop (no form), "blocks" only, or
// "report": first a report that takes 3 s while the main thread waits for
// it, then the blocks.
// Scenarios: "blocks" runs the blocks one after another with a second of
// answering in between, then stops the watchdog; "exit" returns from main
// while an object made before the watchdog blocks the exit for BLOCK_MS.
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "crashreport/capture/report_host.h"
#include "crashreport/capture/dispatcher.h"
#include "crashreport/capture/exception_capture.h"
#include "crashreport/capture/exception_class.h"
#include "crashreport/freeze/freeze_thread.h"
#include "crashreport/stack/stack_scan.h"
#include "crashreport/options/freeze_watch_hook.h"
#include "crashreport/options/module_options.h"
#include "platform/ui/backend.h"
#include "platform/ui/button.h"
#include "platform/ui/form.h"
#include "platform/ui/headless.h"

#ifdef FREEZE_GLIB
#include <glib.h>
#endif

extern "C" const char __start_freeze_known[];
extern "C" const char __stop_freeze_known[];

namespace {

using Clock = std::chrono::steady_clock;
std::atomic<Clock::rep> g_blockStart{0};

void Say(const char* text)
{
    // Also called while the main thread is suspended: no stdio lock.
    const size_t n = std::strlen(text);
    if (write(1, text, n) != static_cast<ssize_t>(n)) std::_Exit(3);
}

__attribute__((noinline, section("freeze_known"))) void BlockMainThreadIn(int ms)
{
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < end) {
        timespec step{0, 10 * 1000 * 1000};
        nanosleep(&step, nullptr);
        asm volatile("" ::: "memory");
    }
    asm volatile("" ::: "memory");
}

// The report pipeline, replaced by a recorder: what the dispatcher hands
// it, and whether the report's stack scan of the frozen thread finds the
// known function.
bool Record(crashreport::TCapturedException& c)
{
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        Clock::now() - Clock::time_point(Clock::duration(g_blockStart.load())))
                        .count();
    const crashreport::TExceptNotifyParams& n = c.NotifyParams;
    const auto lo = reinterpret_cast<std::uintptr_t>(__start_freeze_known),
               hi = reinterpret_cast<std::uintptr_t>(__stop_freeze_known);
    bool found = false;
    crashreport::TCodeRanges code;
    crashreport::TStackAddresses addresses;
    crashreport::ScanStackAddresses(crashreport::TStackArea{c.Address, reinterpret_cast<const void*>(n.StackStart),
                                                            reinterpret_cast<const void*>(n.StackTop)},
                                    false, code, addresses);
    for (std::uintptr_t a : addresses.Items()) found = found || (a >= lo && a < hi);
    const bool mainThread = n.ThreadID == kernel::MainThreadId() && n.Context != nullptr &&
#if defined(__x86_64__)
        n.Context->Rsp == n.StackStart;
#else
        n.Context->Esp == n.StackStart;
#endif
    char line[640];
    std::snprintf(line, sizeof line, "REPORT %lld %d %d %s: %s\n", static_cast<long long>(ms), found ? 1 : 0,
                  mainThread ? 1 : 0, c.ClassName, c.Message);
    Say(line);
    // A report that takes its time, as one whose dialog waits for the user.
    if (std::strcmp(c.Message, "slow report") == 0) std::this_thread::sleep_for(std::chrono::milliseconds(3000));
    return false;
}

void PumpFor(int ms)
{
    const auto end = ui::TickCount() + static_cast<unsigned>(ms);
    while (ui::TickCount() < end) {
        ui::WaitMessage(10);
        ui::PumpPending(false);
    }
}

crashreport::TTavrelModuleOptions* g_options = nullptr;

// Made before the watchdog starts, so destroyed after its exit hook ran.
struct ExitBlocker {
    int ms = 0;
    ~ExitBlocker()
    {
        if (ms > 0) BlockMainThreadIn(ms);
        Say("EXITED\n");
    }
};

} // namespace

#ifdef FREEZE_GLIB
// The "blocks" scenario on a GLib main loop instead of a form: each block
// is a timeout callback of the loop, a second after the previous one.
struct GLibBlocks {
    std::vector<int> blocks;
    size_t next = 0;
    GMainLoop* loop = nullptr;
    bool slowReport = false; // first a report that takes 3 s
};

gboolean RunNextBlock(gpointer data)
{
    auto* run = static_cast<GLibBlocks*>(data);
    if (run->next == run->blocks.size()) {
        g_main_loop_quit(run->loop);
        return G_SOURCE_REMOVE;
    }
    g_blockStart = Clock::now().time_since_epoch().count();
    if (run->slowReport) {
        // The main thread waits in the dispatcher for a slow report.
        run->slowReport = false;
        crashreport::EFrozenApplication error("slow report");
        crashreport::TCapturedException captured;
        captured.Exception = crashreport::ExceptionObjectOf(error);
        captured.Address = reinterpret_cast<void*>(&RunNextBlock);
        captured.CaptureMode = crashreport::cmFullReport;
        crashreport::Dispatch(captured);
    } else {
        BlockMainThreadIn(run->blocks[run->next++]);
    }
    g_timeout_add(1000, &RunNextBlock, run);
    return G_SOURCE_REMOVE;
}
#endif

int main(int argc, char** argv)
{
    if (argc < 5) return 2;
    const bool glib = std::string(argv[1]) == "glib";
    const bool x11 = std::string(argv[1]) == "x11";
    const std::string scenario = argv[2];
    const int seconds = std::atoi(argv[3]);
    std::vector<int> blocks;
    for (int i = 4; i < argc; ++i) blocks.push_back(std::atoi(argv[i]));
    if (!ui::SelectBackend(x11 ? ui::BackendKind::bkX11 : ui::BackendKind::bkHeadless)) return 4;

    static ExitBlocker exitBlocker;
    g_options = new crashreport::TTavrelModuleOptions("", false);
    g_options->SetFreezeWatch(true);
    g_options->SetFreezeSeconds(seconds);
    g_options->SetFreezeText("Frozen in the test.");
    crashreport::SetCurrentOptionsQuery([] { return g_options; });
    crashreport::TCaptureStartup startup;
    startup.Options = g_options;
    startup.Force = true;
    if (!crashreport::StartExceptionCapture(startup)) return 5;
    static crashreport::TReportFunctionHost host(&Record);
    crashreport::InstallReportHost(&host);
    crashreport::InstallFreezeWatchControl();

    if (glib) {
#ifdef FREEZE_GLIB
        GLibBlocks run;
        run.blocks = blocks;
        run.slowReport = scenario == "report";
        run.loop = g_main_loop_new(nullptr, FALSE);
        crashreport::FreezeWatchControl()->StartFreezeWatch();
        g_timeout_add(500, &RunNextBlock, &run);
        g_main_loop_run(run.loop);
        crashreport::FreezeWatchControl()->StopFreezeWatch();
        Say("STOPPED 0 0\n");
        return 0;
#else
        return 6;
#endif
    }

    // The form lives on to the process's end.
    auto* form = new ui::Form;
    form->SetCaption("freeze test");
    form->SetBounds(80, 80, 240, 120);
    auto* button = form->Add<ui::Button>();
    button->SetBounds(20, 20, 100, 30);
    button->SetText("Block");
    size_t next = 0;
    button->OnClick = [&] {
        g_blockStart = Clock::now().time_since_epoch().count();
        BlockMainThreadIn(blocks[next++]);
    };
    form->Show();
    crashreport::FreezeWatchControl()->StartFreezeWatch();
    PumpFor(500);

    if (scenario == "exit") {
        exitBlocker.ms = blocks[0];
        g_blockStart = Clock::now().time_since_epoch().count();
        return 0;
    }
    for (size_t i = 0; i < blocks.size(); ++i) {
        ui::SimulateClick(*button, 10, 10);
        PumpFor(1000);
    }
    const auto t0 = Clock::now();
    crashreport::FreezeWatchControl()->StopFreezeWatch();
    char line[64];
    std::snprintf(
        line, sizeof line, "STOPPED %lld %d\n",
        static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count()),
        crashreport::FreezeWatchRunning() ? 1 : 0);
    Say(line);
    return 0;
}
