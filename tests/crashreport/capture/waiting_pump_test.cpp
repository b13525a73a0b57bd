// The waiting main thread keeps its window alive while a report runs:
// posted messages are dispatched (and the window repaints), input is dropped
// with a beep, and an exception while dispatching ends pumping for the wait.
// The focused window goes into the report, a password edit masked.
#include <gtest/gtest.h>

#include "capture_test_support.h"
#include "crashreport/capture/waiting_pump.h"
#include "platform/rtl/exception.h"
#include "platform/ui/edit.h"
#include "platform/ui/form.h"
#include "platform/ui/headless.h"

#include <chrono>
#include <cstdlib>
#include <thread>

namespace {

std::atomic<int> g_paints{0}, g_user{0}, g_keys{0}, g_clicks{0};
std::atomic<ui::HWND> g_window{0};

struct TWatchedForm : ui::Form {
    ui::LRESULT WndProc(ui::UINT message, ui::WPARAM wParam, ui::LPARAM lParam) override
    {
        if (message == ui::WM_USER + 1) {
            ++g_user;
            Invalidate();
            return 0;
        }
        if (message == ui::WM_USER + 9) throw rtl::Exception("failed while dispatching");
        if (message == ui::WM_KEYDOWN) ++g_keys;
        if (message == ui::WM_LBUTTONDOWN) ++g_clicks;
        return Form::WndProc(message, wParam, lParam);
    }
    void Paint(gdi::Canvas& canvas) override
    {
        ++g_paints;
        Form::Paint(canvas);
    }
};

// Runs on the report thread: posts to the waiting main thread's window and
// waits (bounded) for it to be handled.
void PostAndWait(bool failFirst)
{
    const ui::HWND window = g_window.load();
    const int paintsBefore = g_paints.load();
    if (failFirst) ui::PostMessage(window, ui::WM_USER + 9);
    ui::PostMessage(window, ui::WM_KEYDOWN, 'A');
    ui::PostMessage(window, ui::WM_LBUTTONDOWN, 0, 0);
    ui::PostMessage(window, ui::WM_USER + 1);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(failFirst ? 1 : 5);
    while (std::chrono::steady_clock::now() < until && !(g_user.load() >= 1 && g_paints.load() > paintsBefore))
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::printf("during report: user=%d repainted=%d keys=%d clicks=%d beeps=%d\n", g_user.load(),
                g_paints.load() > paintsBefore ? 1 : 0, g_keys.load(), g_clicks.load(), ui::headless::BeepCount());
}

int RunWindowWithReport(bool failFirst, bool password = false, const std::string& text = "typed text")
{
    setenv("VEK_UI_BACKEND", "headless", 1);
    // The recording pipeline, with the waiting thread's pump and focus.
    class TPumpingHost final : public crashreport::TReportHost {
    public:
        bool RunReport(crashreport::TCapturedException& c) override { return capturetest::RecordingPipeline(c); }
        bool PumpWaiting() override { return crashreport::WaitingPumpRound(); }
        void FillFocus(crashreport::TExceptNotifyParams& p) override { crashreport::FillFocusOfThisThread(p); }
    };
    static TPumpingHost host;
    if (!capturetest::StartForTest(true, &host)) return 9;
    static bool s_failFirst = false;
    s_failFirst = failFirst;
    TWatchedForm form;
    form.SetBounds(10, 10, 200, 100);
    auto* edit = form.Add<ui::Edit>();
    edit->SetBounds(5, 5, 100, 20);
    edit->Password = password;
    edit->SetText(text);
    form.Show();
    edit->SetFocus();
    g_window = form.Handle();
    ui::Msg m;
    while (ui::PeekMessage(m)) ui::DispatchMessage(m);
    capturetest::g_duringReport = [](crashreport::TCapturedException&) { PostAndWait(s_failFirst); };
    rtl::Exception e("reported with a window");
    ExceptionManager(&e, &typeid(e), nullptr, crashreport::rkApplication, 0);
    return 0;
}

TEST(WaitingPump, MainThreadWindowRepaintsAndDropsInputWhileAReportRuns)
{
    const auto r = vektest::RunInChild([] { return RunWindowWithReport(false); });
    EXPECT_TRUE(r.Exited && r.ExitCode == 0) << r.Output;
    EXPECT_EQ(capturetest::CountReports(r.Output), 1) << r.Output;
    EXPECT_NE(r.Output.find("during report: user=1 repainted=1 keys=0 clicks=0 beeps=2"), std::string::npos)
        << r.Output;
    EXPECT_NE(r.Output.find("msg=reported with a window focus=Edit:typed text"), std::string::npos) << r.Output;
}

TEST(WaitingPump, AFocusedPasswordEditIsReportedAsOneStarPerCharacter)
{
    const auto r = vektest::RunInChild([] { return RunWindowWithReport(false, true, "s3cr\xC3\xA9t pass"); });
    EXPECT_TRUE(r.Exited && r.ExitCode == 0) << r.Output;
    EXPECT_NE(r.Output.find("focus=Edit:***********\n"), std::string::npos) << r.Output;
    EXPECT_EQ(r.Output.find("s3cr"), std::string::npos) << r.Output;
}

TEST(WaitingPump, AnExceptionWhileDispatchingEndsPumpingForThisWait)
{
    const auto r = vektest::RunInChild([] { return RunWindowWithReport(true); });
    EXPECT_TRUE(r.Exited && r.ExitCode == 0) << r.Output;
    EXPECT_EQ(capturetest::CountReports(r.Output), 1) << r.Output;
    EXPECT_NE(r.Output.find("during report: user=0 repainted=0 keys=0 clicks=0"), std::string::npos) << r.Output;
}

TEST(WaitingPump, DroppedMessageRanges)
{
    for (unsigned m : {0x00A1u, 0x00A9u, 0x0100u, 0x0102u, 0x0104u, 0x0106u, 0x0201u, 0x0209u})
        EXPECT_TRUE(crashreport::IsDroppedWhileWaiting(m)) << std::hex << m;
    for (unsigned m : {0x00A0u, 0x00AAu, 0x0103u, 0x0107u, 0x0200u, 0x020Au, 0x000Fu, 0x0012u})
        EXPECT_FALSE(crashreport::IsDroppedWhileWaiting(m)) << std::hex << m;
}

} // namespace
