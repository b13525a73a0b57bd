// A small GUI program for the freeze tests: a form with a button whose
// click handler blocks the main thread inside one known function, and the
// freeze watchdog with a recorder in place of the exception dispatch.
// Writes one line per event to stdout:
//   REPORT <ms since the block began> <known function on the stack 0/1> <main thread 0/1> <message>
//   STOPPED <ms the watchdog took to stop>
//
//   freeze_child headless|x11 SCENARIO FREEZE_SECONDS BLOCK_MS...
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
#include <vector>

#include "crashreport/capture/freeze/freeze_thread.h"
#include "crashreport/options/freeze_watch_hook.h"
#include "crashreport/options/module_options.h"
#include "platform/ui/backend.h"
#include "platform/ui/button.h"
#include "platform/ui/form.h"
#include "platform/ui/headless.h"

extern "C" const char __start_freeze_known[];
extern "C" const char __stop_freeze_known[];

namespace {

using Clock = std::chrono::steady_clock;
std::atomic<Clock::rep> g_blockStart{0};

void Say(const char* text)
{
    // Also called while the main thread is suspended: no stdio lock.
    const size_t n = std::strlen(text);
    if (write(1, text, n) != static_cast<ssize_t>(n))
        std::_Exit(3);
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

// The raw stack scan: a return address into the known function between
// the stack pointer and the top of the main thread's stack. Another
// thread's frames carry the address checker's red zones: read them unchecked.
__attribute__((no_sanitize("address"))) bool KnownFunctionOnStack(const crashreport::TFreezeReport& r)
{
    const auto lo = reinterpret_cast<std::uintptr_t>(__start_freeze_known),
               hi = reinterpret_cast<std::uintptr_t>(__stop_freeze_known);
    if (r.Address >= lo && r.Address < hi)
        return true;
    for (std::uintptr_t at = r.StackStart; at + sizeof(void*) <= r.StackTop && at < r.StackStart + 65536;
         at += sizeof(void*)) {
        const std::uintptr_t v = *reinterpret_cast<const std::uintptr_t*>(at);
        if (v > lo && v <= hi)
            return true;
    }
    return false;
}

void Record(crashreport::EFrozenApplication& e, const crashreport::TFreezeReport& r)
{
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        Clock::now() - Clock::time_point(Clock::duration(g_blockStart.load())))
                        .count();
    const bool found = KnownFunctionOnStack(r);
    char line[512];
    std::snprintf(line, sizeof line, "REPORT %lld %d %d %s\n", static_cast<long long>(ms), found ? 1 : 0,
                  r.ThreadID == kernel::MainThreadId() ? 1 : 0, e.Message.c_str());
    Say(line);
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
        if (ms > 0)
            BlockMainThreadIn(ms);
        Say("EXITED\n");
    }
};

} // namespace

int main(int argc, char** argv)
{
    if (argc < 5)
        return 2;
    const bool x11 = std::string(argv[1]) == "x11";
    const std::string scenario = argv[2];
    const int seconds = std::atoi(argv[3]);
    std::vector<int> blocks;
    for (int i = 4; i < argc; ++i)
        blocks.push_back(std::atoi(argv[i]));
    if (!ui::SelectBackend(x11 ? ui::BackendKind::bkX11 : ui::BackendKind::bkHeadless))
        return 4;

    static ExitBlocker exitBlocker;
    g_options = new crashreport::TTavrelModuleOptions("", false);
    g_options->SetFreezeWatch(true);
    g_options->SetFreezeSeconds(seconds);
    g_options->SetFreezeText("Frozen in the test.");
    crashreport::SetCurrentOptionsQuery([] { return g_options; });
    crashreport::SetFreezeDispatch(Record);
    crashreport::InstallFreezeWatchControl();

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
    std::snprintf(line, sizeof line, "STOPPED %lld %d\n",
                  static_cast<long long>(
                      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count()),
                  crashreport::FreezeWatchRunning() ? 1 : 0);
    Say(line);
    return 0;
}
