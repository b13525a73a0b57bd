// The exception dialog of a real captured exception under X11, driven with
// xdotool as a user would: a child GUI program faults on its main thread;
// its report thread builds the report and shows the dialog while the main
// thread waits and keeps its window painted. The driver switches tabs,
// folds a group, drags a column divider, ticks "copy", closes the dialog
// with Escape, Terminate and OK, reads the clipboard with xclip, and finds
// the placement and column widths restored on the next run.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "crashreport/capture/report_host.h"
#include "crashreport/capture/dispatcher.h"
#include "crashreport/errorlog/warnings.h"
#include "crashreport/capture/exception_capture.h"
#include "crashreport/capture/waiting_pump.h"
#include "crashreport/report/captured_report.h"
#include "crashreport/ui/exception_dialog.h"
#include "crashreport/ui/install.h"
#include "platform/ui/clipboard.h"
#include "platform/ui/backend.h"
#include "platform/ui/form.h"
#include "platform/ui/list_view.h"
#include "tests/crashreport/report/report_test_support.h"
#include "tests/support/run_command.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace dialogchain {
volatile std::uintptr_t g_target = 0x28; // unmapped, not null
struct TFault {
    __attribute__((noinline)) static void Write()
    {
        *reinterpret_cast<volatile int*>(g_target) = 42;
        asm volatile("");
    }
};
} // namespace dialogchain

namespace {

using namespace crashreport;
using testing_support::RunShell;
using testing_support::FileExists;
using testing_support::ReadFile;

std::string g_dir;
TTavrelModuleOptions* g_options = nullptr;
std::atomic<int> g_mainPaints{0};

class TMainWindow : public ::ui::Form {
public:
    void Paint(gdi::Canvas& c) override
    {
        ::ui::Form::Paint(c);
        ++g_mainPaints;
    }
};

void WriteAtomically(const std::string& path, const std::string& text)
{
    {
        std::ofstream out(path + ".tmp");
        out << text;
    }
    std::rename((path + ".tmp").c_str(), path.c_str());
}

// Runs on the report thread inside the dialog's loop: publishes where
// things are, so that the driver can click them.
void PublishLayout(::ui::HWND, std::uintptr_t)
{
    for (::ui::Form* form : ::ui::ThreadForms()) {
        auto* d = dynamic_cast<crashreport::ui::TExceptionDialog*>(form);
        if (!d || !d->Painted()) continue;
        std::ostringstream s;
        const ::ui::TRect n = d->NormalBounds();
        s << "BOUNDS " << n.Left << " " << n.Top << " " << n.Width() << " " << n.Height() << "\n";
        s << "STATE " << static_cast<int>(d->State()) << "\n";
        const ::ui::TPoint tabs = d->Tabs()->OriginInForm();
        for (int i = 0; i < static_cast<int>(d->VisiblePages().size()); ++i) {
            const ::ui::TRect r = d->Tabs()->TabRect(i);
            s << "TAB " << i << " " << tabs.X + (r.Left + r.Right) / 2 << " " << tabs.Y + (r.Top + r.Bottom) / 2
              << "\n";
        }
        auto centre = [&](const char* name, ::ui::Window* w) {
            const ::ui::TPoint o = w->OriginInForm();
            s << name << " " << o.X + w->Width() / 2 << " " << o.Y + w->Height() / 2 << " " << w->Visible() << "\n";
        };
        centre("COPY", d->CopyBox());
        centre("TERMINATE", d->TerminateButton());
        centre("OK", d->OkButton());
        if (d->Page()) {
            s << "PAGE " << d->Page()->Kind() << "\n";
            if (::ui::ListView* list = d->Page()->List()) {
                const ::ui::TPoint o = list->OriginInForm();
                const ::ui::TRect row = list->ItemRect(0);
                s << "ITEMS " << list->ItemCount() << "\n";
                s << "SIGN " << o.X + row.Left + 7 << " " << o.Y + row.Top + 7 << "\n";
                int x = 2 - list->ScrollX();
                for (int c = 0; c < list->ColumnCount(); ++c) {
                    x += list->ColumnWidth(c);
                    s << "COL " << c << " " << list->ColumnWidth(c) << " " << o.X + x << " " << o.Y + 8 << "\n";
                }
            }
        }
        s << "MAINPAINTS " << g_mainPaints.load() << "\n";
        WriteAtomically(g_dir + "/layout.txt", s.str());
    }
}

bool Pipeline(TCapturedException& exception)
{
    TGatherOptions gather;
    gather.ReadSystemInformation = false;
    TErrorReport report = BuildCapturedReport(exception, *g_options, gather);
    std::unique_ptr<TTavrelStackList> stack;
    TReportSources sources = GatherReportSources(exception, *g_options, gather, stack);
    TDialogReport dialog;
    dialog.Report = &report;
    dialog.Sources = &sources;
    dialog.Options = g_options;
    dialog.ExceptionMessage = report.LastMessage;
    dialog.ErrorsHandled = 10;
    TReportChoices choices;
    ClearWarning();
    const int paintsBefore = g_mainPaints.load();
    const std::uintptr_t timer = ::ui::SetTimer(0, 0, 100, &PublishLayout);
    const bool shown = crashreport::ui::ToolkitReportDialogs().ShowExceptionDialog(dialog, choices);
    ::ui::KillTimer(0, timer);
    if (choices.Copy) ::ui::Clipboard().SetText(report.Text); // as the pipeline does
    std::ostringstream s;
    s << "SHOWN " << shown << "\nCOPY " << choices.Copy << "\nTERMINATE " << choices.Terminate << "\nMAINPAINTS "
      << paintsBefore << " " << g_mainPaints.load() << "\nWARNING " << static_cast<int>(LastWarning().Code) << "\n";
    WriteAtomically(g_dir + "/done.txt", s.str());
    for (int i = 0; i < 600 && !FileExists(g_dir + "/quit"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::fflush(stdout);
    std::_Exit(0); // the default handling would end the program the same way
}

int ChildProgram()
{
    if (!::ui::SelectBackend(::ui::BackendKind::bkX11)) return 7;
    g_options = new TTavrelModuleOptions("", false);
    g_options->SetDialogFlags(TDialogFlags({dfShowDialog, dfShowCopyButton, dfShowDetailsButton, dfStartDetailed}));
    // The dialogs of the toolkit, with the waiting thread's pump.
    class TDialogHost final : public TReportHost {
    public:
        bool RunReport(TCapturedException& c) override { return Pipeline(c); }
        bool PumpWaiting() override { return WaitingPumpRound(); }
    };
    static TDialogHost host;
    InstallReportHost(&host);
    TCaptureStartup startup;
    startup.Options = g_options;
    startup.Force = true;
    if (!StartExceptionCapture(startup)) return 9;
    TMainWindow main;
    main.SetCaption("Main window");
    main.SetBounds(900, 40, 300, 200);
    main.Show();
    for (int i = 0; i < 20; ++i) {
        ::ui::WaitMessage(20);
        ::ui::PumpPending(false);
    }
    dialogchain::TFault::Write();
    return 3;
}

class DialogX11 : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!::ui::X11DisplayReachable()) GTEST_SKIP() << "no X display";
        if (!testing_support::HaveProgram("xdotool") || !testing_support::HaveProgram("xclip"))
            GTEST_SKIP() << "no xdotool/xclip";
        g_dir = dir.path();
        ::setenv("XDG_CONFIG_HOME", dir.path().c_str(), 1);
    }

    std::map<std::string, std::vector<int>> Layout(const std::string& name = "layout.txt")
    {
        std::map<std::string, std::vector<int>> values;
        std::istringstream in(ReadFile(dir / name));
        std::string line;
        while (std::getline(in, line)) {
            std::istringstream l(line);
            std::string key;
            l >> key;
            std::vector<int> numbers;
            int n;
            while (l >> n) numbers.push_back(n);
            if (key == "TAB" || key == "COL") key += std::to_string(numbers.empty() ? -1 : numbers[0]);
            values[key] = numbers;
        }
        return values;
    }
    // Waits until the published layout satisfies `ready`.
    template <class Pred> std::map<std::string, std::vector<int>> WaitLayout(Pred ready)
    {
        for (int i = 0; i < 600; ++i) {
            if (FileExists(dir / "layout.txt")) {
                auto l = Layout();
                if (ready(l)) return l;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        ADD_FAILURE() << "layout never became ready:\n" << ReadFile(dir / "layout.txt");
        return {};
    }
    std::string Window()
    {
        for (int i = 0; i < 100; ++i) {
            const auto r = RunShell("xdotool search --name '^Error\\.$' 2>/dev/null");
            if (r.ExitCode == 0 && !r.Output.empty()) {
                // A dialog ignores clicks for the double-click time after it
                // appears (the rest of a click that opened it).
                std::this_thread::sleep_for(std::chrono::milliseconds(450));
                return r.Output.substr(0, r.Output.find('\n'));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return {};
    }
    void Click(const std::string& window, int x, int y)
    {
        // Raised first: tests running beside this one may have windows there.
        RunShell("xdotool windowraise " + window + " mousemove --window " + window + " " + std::to_string(x) + " " +
                   std::to_string(y) + " click 1");
    }
    // Runs the child with `drive` in a thread beside it; answers done.txt.
    template <class Drive> std::map<std::string, std::vector<int>> Run(Drive drive)
    {
        std::remove((dir / "layout.txt").c_str());
        std::remove((dir / "done.txt").c_str());
        std::remove((dir / "quit").c_str());
        // The driver starts once the child exists: a thread made just before
        // the fork may hold the allocator's lock in it.
        std::thread driver;
        const auto startDriver = [&] { driver = std::thread([&] {
            for (int i = 0; i < 400 && !FileExists(dir / "layout.txt"); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            drive();
            for (int i = 0; i < 200 && !FileExists(dir / "done.txt"); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            afterDone();
            testing_support::WriteFile(dir / "quit", "");
        }); };
        const auto r = vektest::RunInChild(ChildProgram, 90, startDriver);
        if (driver.joinable()) driver.join();
        output = r.Output;
        return Layout("done.txt");
    }
    std::function<void()> afterDone = [] {};
    testing_support::TempDir dir;
    std::string output;
};

TEST_F(DialogX11, ACapturedExceptionOpensTheDialogFromTheReportThread)
{
    std::string clipboard;
    std::map<std::string, std::vector<int>> before, folded, resized;
    // Run 1: tabs, folding, a column drag, the copy box, a move and a
    // resize of the window, Escape.
    afterDone = [&] { clipboard = RunShell("xclip -o -selection clipboard 2>&1").Output; };
    auto done = Run([&] {
        const std::string w = Window();
        ASSERT_FALSE(w.empty());
        auto l = WaitLayout([](auto& l) { return l.count("PAGE") && l.count("TAB1"); });
        Click(w, l["TAB1"][1], l["TAB1"][2]);
        before = WaitLayout([](auto& l) { return l.count("PAGE") && l["PAGE"][0] == 1 && l.count("ITEMS"); });
        Click(w, before["SIGN"][0], before["SIGN"][1]);
        folded = WaitLayout([&](auto& l) { return l.count("ITEMS") && l["ITEMS"][0] < before["ITEMS"][0]; });
        // The main window is hidden and shown again: its thread must paint it.
        RunShell("xdotool search --name '^Main window$' windowunmap --sync %1 windowmap --sync %1");
        const int x = before["COL1"][2], y = before["COL1"][3];
        RunShell("xdotool windowraise " + w + " mousemove --window " + w + " " + std::to_string(x) + " " +
                   std::to_string(y) + " mousedown 1 mousemove --window " + w + " " + std::to_string(x + 40) + " " +
                   std::to_string(y) + " mouseup 1");
        resized = WaitLayout([&](auto& l) { return l.count("COL1") && l["COL1"][1] == before["COL1"][1] + 40; });
        RunShell("xdotool windowsize " + w + " 800 520 windowmove " + w + " 30 40");
        WaitLayout([](auto& l) { return l["BOUNDS"][2] == 800 && l["BOUNDS"][0] == 30; });
        auto moved = WaitLayout([](auto& l) { return l["BOUNDS"][2] == 800; });
        Click(w, moved["COPY"][0] - moved["COPY"][0] / 4, moved["COPY"][1]);
        RunShell("xdotool key --window " + w + " Escape");
    });
    ASSERT_FALSE(done.empty()) << output;
    EXPECT_EQ(done["SHOWN"], std::vector<int>{1});
    EXPECT_EQ(done["COPY"], std::vector<int>{1}) << output;
    EXPECT_EQ(done["TERMINATE"], std::vector<int>{0});
    ASSERT_EQ(done["MAINPAINTS"].size(), 2u);
    EXPECT_GT(done["MAINPAINTS"][1], done["MAINPAINTS"][0]) << "the main window was painted while the dialog was up";
    EXPECT_NE(clipboard.find("TavrelLog 5.1.5\r\n"), std::string::npos) << clipboard;
    EXPECT_NE(clipboard.find("EAccessViolation"), std::string::npos);
    EXPECT_EQ(output.find("X error"), std::string::npos) << output;
    ASSERT_FALSE(resized.empty());

    // Run 2: the placement and the widths come back; the Terminate button.
    std::map<std::string, std::vector<int>> reopened;
    afterDone = [] {};
    done = Run([&] {
        const std::string w = Window();
        ASSERT_FALSE(w.empty());
        auto l = WaitLayout([](auto& l) { return l.count("TAB1"); });
        Click(w, l["TAB1"][1], l["TAB1"][2]);
        reopened = WaitLayout([](auto& l) { return l.count("PAGE") && l["PAGE"][0] == 1 && l.count("COL1"); });
        Click(w, reopened["TERMINATE"][0], reopened["TERMINATE"][1]);
    });
    EXPECT_EQ(reopened["BOUNDS"], (std::vector<int>{30, 40, 800, 520}));
    EXPECT_EQ(reopened["COL1"][1], before["COL1"][1] + 40);
    EXPECT_EQ(done["TERMINATE"], std::vector<int>{1});
    EXPECT_EQ(done["COPY"], std::vector<int>{0});

    // Run 3: OK. The dialog belongs to the main window of the waiting thread.
    std::string transientFor, mainWindow;
    done = Run([&] {
        const std::string w = Window();
        transientFor = RunShell("xprop -id " + w + " WM_TRANSIENT_FOR").Output;
        mainWindow = RunShell("xdotool search --name '^Main window$'").Output;
        auto l = WaitLayout([](auto& l) { return l.count("OK"); });
        Click(w, l["OK"][0], l["OK"][1]);
    });
    EXPECT_EQ(done["SHOWN"], std::vector<int>{1});
    EXPECT_EQ(done["TERMINATE"], std::vector<int>{0});
    char hex[32];
    std::snprintf(hex, sizeof hex, "0x%lx", std::strtoul(mainWindow.c_str(), nullptr, 10));
    EXPECT_NE(transientFor.find(std::string("window id # ") + hex), std::string::npos)
        << transientFor << " main " << mainWindow;
}

// A private server that is killed while the dialog is up: the dialog ends,
// the warning is recorded, and the program goes on to the end of its report.
TEST_F(DialogX11, ADisplayThatGoesAwayEndsTheDialogWithAWarning)
{
    if (!testing_support::HaveProgram("Xvfb")) GTEST_SKIP() << "no Xvfb";
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const pid_t server = ::fork();
    if (server == 0) {
        ::close(fds[0]);
        const std::string fd = std::to_string(fds[1]);
        ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24", "-nolisten", "tcp",
                 static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(fds[1]);
    std::string number;
    char c;
    while (::read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    ::close(fds[0]);
    ASSERT_FALSE(number.empty());
    const std::string previous = std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "";
    ::setenv("DISPLAY", (":" + number).c_str(), 1);
    auto done = Run([&] {
        const std::string w = Window();
        WaitLayout([](auto& l) { return l.count("PAGE") != 0; });
        ::kill(server, SIGKILL);
        ::waitpid(server, nullptr, 0);
    });
    ::setenv("DISPLAY", previous.c_str(), 1);
    ASSERT_FALSE(done.empty()) << output;
    EXPECT_EQ(done["SHOWN"], std::vector<int>{1}) << output;
    EXPECT_EQ(done["WARNING"], std::vector<int>{static_cast<int>(eeShowError)}) << output;
    EXPECT_NE(output.find("ui: the display connection was lost"), std::string::npos) << output;
}

} // namespace
