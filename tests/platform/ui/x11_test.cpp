// The toolkit against a real X server ($DISPLAY, e.g. Xvfb): window
// properties read back with xprop, typing with xdotool, the clipboard
// between two connections, and screen capture. Skipped without a display.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/ui/backend.h"
#include "platform/ui/button.h"
#include "platform/ui/clipboard.h"
#include "platform/ui/edit.h"
#include "platform/ui/form.h"
#include "platform/ui/screen_capture.h"
#include "platform/ui/x11_display.h"
#include "tests/platform/ui/x11_close.h"
#include "tests/platform/ui/x11_input_lock.h"
#include "tests/support/run_command.h"

using namespace ui;
using testing_support::RunCommand;

namespace {

// Runs a command while this thread keeps handling its windows' messages.
std::string RunPumping(const std::string& cmd)
{
    std::string out;
    std::atomic<bool> done{false};
    std::thread t([&] {
        out = RunCommand(cmd);
        done = true;
    });
    while (!done) {
        WaitMessage(10);
        PumpPending(false);
    }
    t.join();
    for (int i = 0; i < 5; ++i) {
        WaitMessage(10);
        PumpPending(false);
    }
    return out;
}

void PumpFor(int ms)
{
    const auto end = TickCount() + static_cast<unsigned>(ms);
    while (TickCount() < end) {
        WaitMessage(10);
        PumpPending(false);
    }
}

struct X11 : ::testing::Test {
    testing_support::X11InputLock lock;
    void SetUp() override
    {
        if (!X11DisplayReachable() || !SelectBackend(BackendKind::bkX11)) GTEST_SKIP() << "no X display reachable";
    }
};

std::string Id(const Form& f) { return std::to_string(f.NativeHandle()); }

// Keys typed before the form has the X server's keyboard focus (it asks for
// it as it handles its map, later under load) would go to the window that
// had it: pumps until the server reports the form focused, up to 10 s.
bool PumpUntilFocused(const Form& f)
{
    for (int i = 0; i < 200; ++i) {
        const std::string focus = RunCommand("xdotool getwindowfocus 2>/dev/null");
        if (focus.substr(0, focus.find('\n')) == Id(f)) return true;
        PumpFor(50);
    }
    return false;
}

} // namespace

TEST_F(X11, FixedDialogFormCarriesItsHintsAndCaption)
{
    Form f;
    f.Border = BorderStyle::bsDialog;
    f.SetCaption("Toolkit \xE6\xB5\x8B\xE8\xAF\x95");
    f.SetBounds(211, 210, 419, 128);
    f.Show();
    PumpFor(100);
    ASSERT_NE(f.NativeHandle(), 0u);
    const std::string props = RunCommand("xprop -id " + Id(f) + " WM_NORMAL_HINTS _NET_WM_NAME _MOTIF_WM_HINTS 2>&1");
    EXPECT_NE(props.find("minimum size: 419 by 128"), std::string::npos) << props;
    EXPECT_NE(props.find("maximum size: 419 by 128"), std::string::npos) << props;
    EXPECT_NE(props.find("_NET_WM_NAME(UTF8_STRING) = \"Toolkit \xE6\xB5\x8B\xE8\xAF\x95\""), std::string::npos)
        << props;
    // Functions move + close (0x24), decorations border + title + menu (0x1a).
    EXPECT_NE(props.find("0x3, 0x24, 0x1a"), std::string::npos) << props;
    const std::string info = RunCommand("xwininfo -id " + Id(f));
    EXPECT_NE(info.find("Width: 419"), std::string::npos) << info;
    EXPECT_NE(info.find("Height: 128"), std::string::npos) << info;
    EXPECT_NE(info.find("Absolute upper-left X:  211"), std::string::npos) << info;
}

TEST_F(X11, XdotoolTypingAndTabReachTheFocusedEdits)
{
    Form f;
    f.SetCaption("typing");
    f.SetBounds(100, 100, 300, 100);
    Edit* a = f.Add<Edit>();
    a->SetBounds(10, 10, 200, 21);
    Edit* b = f.Add<Edit>();
    b->SetBounds(10, 40, 200, 21);
    b->TabOrder = 1;
    f.Show();
    ASSERT_TRUE(PumpUntilFocused(f));
    RunPumping("xdotool type --delay 5 '/tmp/x_Y.vek'; xdotool key Tab; xdotool type --delay 5 'two words'");
    EXPECT_EQ(a->Text(), "/tmp/x_Y.vek");
    EXPECT_EQ(b->Text(), "two words");
    RunPumping("xdotool key shift+Home BackSpace");
    EXPECT_EQ(b->Text(), "");
}

TEST_F(X11, ClickWithXdotoolPressesAButton)
{
    Form f;
    f.SetCaption("clicking");
    f.SetBounds(300, 300, 200, 80);
    Button* b = f.Add<Button>("Press");
    b->SetBounds(20, 20, 85, 25);
    int clicks = 0;
    b->OnClick = [&] { ++clicks; };
    f.Show();
    ASSERT_TRUE(PumpUntilFocused(f)); // mapped, and so under the pointer's target
    RunPumping("xdotool mousemove 340 330 click 1");
    EXPECT_EQ(clicks, 1);
}

TEST_F(X11, ClipboardTextReachesAnotherConnection)
{
    auto reader = CreateX11Clipboard();
    auto writer = CreateX11Clipboard();
    ASSERT_TRUE(writer && reader);
    ASSERT_TRUE(writer->SetText("copied \xE2\x82\xAC"));
    // The other connection asks the owner thread for the selection.
    EXPECT_EQ(reader->GetText().value_or("<none>"), "copied \xE2\x82\xAC");
}

TEST_F(X11, TextCopiedInAnEditOutlivesItsWindow)
{
    {
        Form f;
        f.SetBounds(10, 10, 200, 50);
        Edit* e = f.Add<Edit>();
        e->SetBounds(5, 5, 150, 21);
        f.Show();
        e->SetText("from a closed dialog");
        e->SelectAll();
        e->CopyToClipboard();
    }
    PumpFor(20);
    auto reader = CreateX11Clipboard();
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->GetText().value_or("<none>"), "from a closed dialog");
}

TEST_F(X11, ScreenCaptureSeesAShownWindow)
{
    struct Red : Form {
        void Paint(gdi::Canvas& c) override
        {
            c.Brush.Color = gdi::RGB(250, 10, 20);
            c.FillRect(ClientRect());
        }
    } f;
    f.SetBounds(50, 60, 120, 90);
    f.Show();
    // The server maps and paints the window when it gets to it: on a busy
    // machine that can take longer than any fixed pause.
    gdi::Bitmap shot;
    const uint8_t* px = nullptr;
    for (int waited = 0; waited < 10000; waited += 50) {
        PumpFor(50);
        ASSERT_TRUE(CaptureScreen(CaptureArea::caScreen, false, shot));
        ASSERT_GE(shot.Width(), 200);
        px = shot.ScanLine(100) + 100 * 3;
        if (px[2] == 250 && px[1] == 10 && px[0] == 20) break;
    }
    EXPECT_EQ(px[2], 250);
    EXPECT_EQ(px[1], 10);
    EXPECT_EQ(px[0], 20);
    // The active window is ours (it took the focus when shown).
    gdi::Bitmap active;
    ASSERT_TRUE(CaptureScreen(CaptureArea::caActiveWindow, true, active));
    EXPECT_EQ(active.Width(), 120);
    EXPECT_EQ(active.Height(), 90);
}

TEST_F(X11, CloseBoxAsksTheFormAndItsHandlerMayRefuse)
{
    Form f;
    f.SetCaption("closing");
    f.SetBounds(400, 100, 150, 60);
    int asked = 0, closed = 0;
    bool allow = false;
    f.OnCloseQuery = [&](Form&) {
        ++asked;
        return allow;
    };
    f.OnClose = [&](Form&) { ++closed; };
    f.Show();
    PumpFor(50);
    ASSERT_TRUE(testing_support::SendDeleteWindow(f.NativeHandle()));
    PumpFor(100);
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(closed, 0);
    EXPECT_TRUE(f.Visible());
    allow = true;
    ASSERT_TRUE(testing_support::SendDeleteWindow(f.NativeHandle()));
    PumpFor(100);
    EXPECT_EQ(closed, 1);
    EXPECT_FALSE(f.Visible());
}

namespace {
int g_hostErrors = 0;
int CountHostError(Display*, XErrorEvent*)
{
    ++g_hostErrors;
    return 0;
}

// A request that fails: the attributes of a window that does not exist.
void FailOneRequest(Display* d)
{
    XWindowAttributes attributes;
    XGetWindowAttributes(d, 0x7ffffff0, &attributes);
    XSync(d, False);
}
} // namespace

TEST(X11Errors, TheHostProgramsConnectionsKeepTheirErrorHandler)
{
    if (!X11DisplayReachable()) GTEST_SKIP() << "no X display reachable";
    // A host program with a handler of its own, then our connection opened
    // after it, as when the reporter's dialog opens in a running program.
    Display* host = x11::ConnectToServer();
    ASSERT_NE(host, nullptr);
    XSetErrorHandler(CountHostError);
    x11::DisplayPtr ours = x11::OpenDisplay();
    ASSERT_NE(ours, nullptr);
    FailOneRequest(host);
    EXPECT_EQ(g_hostErrors, 1) << "the host's error went elsewhere";
    FailOneRequest(ours.get());
    EXPECT_EQ(g_hostErrors, 1) << "our error went to the host";
    ours.reset();
    FailOneRequest(host);
    EXPECT_EQ(g_hostErrors, 2);
    XCloseDisplay(host);
}
