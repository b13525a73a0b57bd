// vek2avi-gui as a person uses it, on the X server in $DISPLAY: xdotool
// types and clicks, the real dialogs answer, ffprobe reads the AVI file.
// Texts shown in message boxes are read back with Ctrl+C, which copies a
// box to the clipboard. Skipped when no display is reachable.
#include <gtest/gtest.h>

#include <fstream>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "platform/ui/backend.h"
#include "platform/ui/clipboard.h"
#include "tests/platform/ui/x11_close.h"
#include "tests/platform/ui/x11_input_lock.h"
#include "tests/support/media_probe.h"
#include "tests/support/peer_process.h"
#include "tests/support/run_command.h"
#include "tests/support/temp_dir.h"
#include "tests/support/vek_writer.h"

extern char** environ;

using namespace testing_support;

namespace {

// The program under test, ended when the test ends.
class Program {
public:
    explicit Program(const std::vector<std::string>& args)
    {
        std::vector<char*> argv;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, argv[0], nullptr, nullptr, argv.data(), environ) != 0) pid_ = -1;
    }
    ~Program()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;
    pid_t pid() const { return pid_; }
    // Waits up to timeoutMs for the program to end; its exit status, or -1.
    int WaitExit(int timeoutMs)
    {
        for (int i = 0; i < timeoutMs / 20; ++i) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return -1;
    }
    bool Running() const { return pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0; }

private:
    pid_t pid_ = -1;
};

std::string Xdotool(const std::string& args) { return RunCommand("xdotool " + args + " 2>/dev/null"); }

// The first shown window of the program whose name matches, waiting up to 10 s.
std::string WaitWindow(pid_t pid, const std::string& name)
{
    for (int i = 0; i < 100; ++i) {
        std::string out =
            Xdotool("search --all --onlyvisible --pid " + std::to_string(pid) + " --name " + ShellQuote(name));
        if (!out.empty()) {
            // Mapped. Keys typed before the program has given it the
            // keyboard focus (as it handles the map, later under load) would
            // go to the window that had it: wait for the focus, then let the
            // double-click time pass during which a dialog ignores clicks
            // (the rest of the click that opened it).
            const std::string id = out.substr(0, out.find('\n'));
            for (int j = 0; j < 100; ++j) {
                std::string focus = Xdotool("getwindowfocus");
                if (focus.substr(0, focus.find('\n')) == id) break;
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(450));
            return id;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return {};
}

bool WaitGone(pid_t pid, const std::string& name)
{
    for (int i = 0; i < 100; ++i) {
        if (Xdotool("search --all --onlyvisible --pid " + std::to_string(pid) + " --name " + ShellQuote(name)).empty())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

// The client area's top-left corner on the screen.
std::pair<int, int> Origin(const std::string& window)
{
    const std::string info = RunCommand("xwininfo -id " + window);
    auto number = [&](const std::string& key) {
        size_t p = info.find(key);
        return p == std::string::npos ? -1 : std::atoi(info.c_str() + p + key.size());
    };
    return {number("Absolute upper-left X:"), number("Absolute upper-left Y:")};
}

void ClickAt(const std::string& window, int x, int y)
{
    auto [ox, oy] = Origin(window);
    Xdotool("mousemove " + std::to_string(ox + x) + " " + std::to_string(oy + y) + " click 1");
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
}

void Type(const std::string& text)
{
    Xdotool("type --delay 15 " + ShellQuote(text));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

void Key(const std::string& keys)
{
    Xdotool("key --delay 30 " + keys);
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
}

struct DesktopProgram : ::testing::Test {
    X11InputLock lock;
    void SetUp() override
    {
        if (!ui::X11DisplayReachable()) GTEST_SKIP() << "no X display reachable";
        ::setenv("LC_ALL", "C", 1); // the program's texts in English
        clipboard = ui::CreateX11Clipboard();
        ASSERT_TRUE(clipboard);
        program = std::make_unique<Program>(std::vector<std::string>{VEK_BUILD_DIR "/converter/gui/vek2avi-gui"});
        ASSERT_GT(program->pid(), 0);
        main = WaitWindow(program->pid(), "^Vek to avi Converter$");
        ASSERT_FALSE(main.empty()) << "the main window did not appear";
    }
    // What the program put on the clipboard with Ctrl+C.
    std::string Copied()
    {
        for (int i = 0; i < 20; ++i) {
            if (auto t = clipboard->GetText(); t && !t->empty()) return *t;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return {};
    }
    void ClearClipboard() { clipboard->SetText(""); }

    std::unique_ptr<ui::ClipboardService> clipboard;
    std::unique_ptr<Program> program;
    std::string main;
};

} // namespace

TEST_F(DesktopProgram, MainWindowHasAFixedDialogFrame)
{
    const std::string hints =
        RunCommand("xprop -id " + main + " WM_NORMAL_HINTS _MOTIF_WM_HINTS WM_NAME _NET_WM_WINDOW_TYPE");
    // A dialog to the window manager as well: no maximise button where the Motif hints are not read.
    EXPECT_NE(hints.find("_NET_WM_WINDOW_TYPE(ATOM) = _NET_WM_WINDOW_TYPE_DIALOG"), std::string::npos) << hints;
    EXPECT_NE(hints.find("minimum size: 419 by 128"), std::string::npos) << hints;
    EXPECT_NE(hints.find("maximum size: 419 by 128"), std::string::npos) << hints;
    EXPECT_NE(hints.find("location: 211, 210"), std::string::npos) << hints;
    // Move and close only; no resize, minimise or maximise.
    EXPECT_NE(hints.find("_MOTIF_WM_HINTS(_MOTIF_WM_HINTS) = 0x3, 0x24, 0x1a"), std::string::npos) << hints;
    EXPECT_NE(hints.find("\"Vek to avi Converter\""), std::string::npos) << hints;
    auto size = [&] {
        const std::string info = RunCommand("xwininfo -id " + main);
        auto number = [&](const std::string& key) {
            size_t p = info.find(key);
            return p == std::string::npos ? -1 : std::atoi(info.c_str() + p + key.size());
        };
        return std::make_pair(number("Width:"), number("Height:"));
    };
    EXPECT_EQ(size(), std::make_pair(419, 128));
    EXPECT_EQ(Origin(main), std::make_pair(211, 210));
    // A resize from outside does not stick.
    Xdotool("windowsize " + main + " 600 300");
    std::pair<int, int> now;
    for (int i = 0; i < 20; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if ((now = size()) == std::make_pair(419, 128)) break;
    }
    EXPECT_EQ(now, std::make_pair(419, 128));
}

TEST_F(DesktopProgram, ConvertsATypedPathThroughTheDialogs)
{
    TempDir dir;
    WriteFile(dir / "clip.vek", RandomVek(5, 16, 8, 11).Bytes());
    ClickAt(main, 60, 34); // into Edit1
    Type(dir / "clip.vek");
    ClickAt(main, 354, 84); // "Start"

    const std::string save = WaitWindow(program->pid(), "^Save As$");
    ASSERT_FALSE(save.empty()) << "no save dialog";
    Type(dir / "movie"); // the dialog adds ".avi"
    Key("Return");

    const std::string compression = WaitWindow(program->pid(), "^Video Compression$");
    ASSERT_FALSE(compression.empty()) << "no compression dialog";
    Key("Down"); // Microsoft Video 1
    Key("Return");

    const std::string done = WaitWindow(program->pid(), "^AVI file conversion$");
    ASSERT_FALSE(done.empty()) << "no completion message";
    ClearClipboard();
    Key("ctrl+c");
    const std::string text = Copied();
    EXPECT_NE(text.find("The AVI file was written:\n" + (dir / "movie.avi")), std::string::npos) << text;
    Key("Return");
    ASSERT_TRUE(WaitGone(program->pid(), "^AVI"));

    VideoProbe probe;
    for (int i = 0; i < 50 && !probe.ok; ++i) {
        probe = ProbeVideo(dir / "movie.avi");
        if (!probe.ok) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_TRUE(probe.ok) << probe.errors;
    EXPECT_EQ(probe.codecTag, "MSVC");
    EXPECT_EQ(probe.width, 16);
    EXPECT_EQ(probe.height, 8);
    EXPECT_EQ(probe.packets, 5);
    EXPECT_EQ(probe.keyPackets, 5);
    EXPECT_TRUE(program->Running());
}

// One program start for the checks of careless or quick input: a double and
// a triple click on "Start" never pick a file in the save dialog that opens
// under the pointer, Enter at the overwrite question keeps the file, and an
// expected error is a plain message with its reason, not a report.
TEST_F(DesktopProgram, QuickClicksAndEnterNeverReplaceAFile)
{
    TempDir dir;
    WriteFile(dir / "clip.vek", RandomVek(2, 16, 8, 5).Bytes());
    // The save dialog's list is full of files, so whatever row lies under
    // the pointer is one.
    for (int i = 0; i < 40; ++i) WriteFile(dir / ("one" + std::to_string(100 + i) + ".avi"), "keep me");
    ClickAt(main, 60, 34);
    Type(dir / "clip.vek");
    const auto [ox, oy] = Origin(main);
    const std::string start = std::to_string(ox + 354) + " " + std::to_string(oy + 84);
    for (const char* clicks : {"2", "3"}) {
        SCOPED_TRACE(std::string(clicks) + " clicks");
        Xdotool("mousemove " + start + " click --repeat " + clicks + " --delay 120 1");
        const std::string save = WaitWindow(program->pid(), "^Save As$");
        ASSERT_FALSE(save.empty()) << "no save dialog";
        ClearClipboard();
        Key("ctrl+a ctrl+c"); // the name box, which a picked file would fill
        EXPECT_EQ(Copied(), "clip.avi");
        Key("Escape");
        ASSERT_TRUE(WaitGone(program->pid(), "^Save As$"));
    }
    // Enter at the overwrite question: No.
    ClickAt(main, 354, 84);
    ASSERT_FALSE(WaitWindow(program->pid(), "^Save As$").empty());
    Key("ctrl+a");
    Type(dir / "one120.avi");
    Key("Return");
    const std::string question = WaitWindow(program->pid(), "^Confirm$");
    ASSERT_FALSE(question.empty()) << "no overwrite question";
    ClearClipboard();
    Key("ctrl+c");
    EXPECT_NE(Copied().find("Replace \"" + (dir / "one120.avi") + "\"?"), std::string::npos);
    Key("Return");
    ASSERT_TRUE(WaitGone(program->pid(), "^Confirm$"));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_TRUE(Xdotool("search --all --onlyvisible --pid " + std::to_string(program->pid()) +
                        " --name '^Video Compression$'")
                    .empty())
        << "the run went on";
    for (int i = 0; i < 40; ++i) EXPECT_EQ(ReadFile(dir / ("one" + std::to_string(100 + i) + ".avi")), "keep me");

    // A missing input: the reason in a plain message (captioned with the
    // program's name), no report dialog and nothing logged.
    const std::string log = VEK_BUILD_DIR "/converter/gui/vek2avi-gui.tlf";
    const std::string logBefore = FileExists(log) ? ReadFile(log) : std::string();
    ClickAt(main, 60, 34);
    Key("ctrl+a");
    Type(dir / "missing.vek");
    ClickAt(main, 354, 84);
    std::string box;
    for (int i = 0; i < 100 && box.empty(); ++i) {
        const std::string all = Xdotool("search --all --onlyvisible --pid " + std::to_string(program->pid()) +
                                        " --name '^Vek to avi Converter$|^Error\\.$'");
        for (size_t at = 0; at < all.size();) {
            const size_t end = all.find('\n', at);
            const std::string id = all.substr(at, end - at);
            if (!id.empty() && id != main) box = id;
            at = end == std::string::npos ? all.size() : end + 1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_FALSE(box.empty()) << "no message";
    std::this_thread::sleep_for(std::chrono::milliseconds(450));
    ClearClipboard();
    Key("ctrl+c");
    const std::string text = Copied();
    EXPECT_NE(text.find("Cannot open file \"" + (dir / "missing.vek") + "\". No such file or directory."),
              std::string::npos)
        << text;
    EXPECT_EQ(text.find("Error."), std::string::npos) << "the report dialog instead of the message: " << text;
    Key("Return");
    EXPECT_TRUE(program->Running());
    EXPECT_EQ(FileExists(log) ? ReadFile(log) : std::string(), logBefore) << "the error was logged";
}

TEST_F(DesktopProgram, CancellingTheOpenDialogLeavesTheTypedText)
{
    ClickAt(main, 60, 34);
    Type("typed by hand.vek");
    ClickAt(main, 354, 36); // "Open a file"
    ASSERT_FALSE(WaitWindow(program->pid(), "^Open$").empty()) << "no open dialog";
    Key("Escape");
    ASSERT_TRUE(WaitGone(program->pid(), "^Open$"));
    ClickAt(main, 60, 34);
    ClearClipboard();
    Key("ctrl+a ctrl+c");
    EXPECT_EQ(Copied(), "typed by hand.vek");
}

TEST_F(DesktopProgram, ClosingTheMainWindowEndsTheProgram)
{
    ASSERT_TRUE(SendDeleteWindow(std::stoul(main)));
    EXPECT_EQ(program->WaitExit(5000), 0);
}

TEST_F(DesktopProgram, AFileArgumentFillsThePathBox)
{
    program.reset();
    program = std::make_unique<Program>(
        std::vector<std::string>{VEK_BUILD_DIR "/converter/gui/vek2avi-gui", "file:///tmp/some%20clip.vek"});
    main = WaitWindow(program->pid(), "^Vek to avi Converter$");
    ASSERT_FALSE(main.empty());
    ClickAt(main, 60, 34);
    ClearClipboard();
    Key("ctrl+a ctrl+c");
    EXPECT_EQ(Copied(), "/tmp/some clip.vek");
}

namespace {

// The client rectangle of a window on the screen: left, top, width, height.
struct TClientBox {
    int Left = -1, Top = -1, Width = -1, Height = -1;
};
TClientBox ClientBox(const std::string& window)
{
    const std::string info = RunCommand("xwininfo -id " + window);
    auto number = [&](const std::string& key) {
        size_t p = info.find(key);
        return p == std::string::npos ? -1 : std::atoi(info.c_str() + p + key.size());
    };
    return {number("Absolute upper-left X:"), number("Absolute upper-left Y:"), number("Width:"), number("Height:")};
}

// Waits up to timeoutMs for a file to exist.
bool WaitFile(const std::string& path, int timeoutMs)
{
    for (int i = 0; i < timeoutMs / 100; ++i) {
        if (FileExists(path)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

// A copy of the desktop converter in its own folder, its reporter options
// rewritten to send to a loopback SMTP server and to offer "Restart"; the
// log file is kept beside the copy.
struct ReportingDesktopProgram : ::testing::Test {
    X11InputLock lock;
    TempDir folder, store;
    std::unique_ptr<net_testing::TPeerProcess> smtp;
    std::unique_ptr<Program> program;
    std::string main;
    std::string copy;

    void SetUp() override
    {
        if (!ui::X11DisplayReachable()) GTEST_SKIP() << "no X display reachable";
        smtp = std::make_unique<net_testing::TPeerProcess>(
            net_testing::kPython,
            std::vector<std::string>{net_testing::PeerScript("smtp_peer.py"), "store", store.path()});
        ASSERT_NE(smtp->Port(), 0) << smtp->Output();
        copy = folder / "vek2avi-gui";
        ASSERT_EQ(RunShell("cp " + ShellQuote(VEK_BUILD_DIR "/converter/gui/vek2avi-gui") + " " + ShellQuote(copy))
                      .ExitCode,
                  0);
        WriteFile(folder / "options.txt",
                  "DialogFlags = dfShowDialog, dfShowDetailsButton\n"
                  "SaveLog = true\n"
                  "LogFlags = lgModulesSection, lgCpuSection\n"
                  "MailMethod = mmSmtpClient\n"
                  "SmtpServer = 127.0.0.1\n"
                  "SmtpServerPort = " +
                      std::to_string(smtp->Port()) +
                      "\n"
                      "SmtpSender = converter@vek.invalid\n"
                      "MailRecipients = dev@vek.invalid\n"
                      "MailSubject = Converter report\n"
                      "MailBody = The converter stopped.\n"
                      "SendFlags = sfShowSendDialogs, sfAttachScreenshot, sfAttachXmlCopy, sfCompressAttachments\n"
                      "ShowTerminateButton = true\n"
                      "TerminateButtonAfter = 0\n"
                      "TerminateAction = taRestart\n");
        const TCommandResult written = RunShell(std::string(TAVREL_STORED_DATA) + " write " + ShellQuote(copy) +
                                                " --options " + ShellQuote(folder / "options.txt") + " 2>&1");
        ASSERT_EQ(written.ExitCode, 0) << written.Output;
        WriteFile(folder / "damaged.vek", "VEK?");
        program = std::make_unique<Program>(std::vector<std::string>{copy});
        ASSERT_GT(program->pid(), 0);
        main = WaitWindow(program->pid(), "^Vek to avi Converter$");
        ASSERT_FALSE(main.empty()) << "the main window did not appear";
    }

    // Types the damaged file's path and presses Start; the exception
    // dialog's window.
    std::string ConvertTheDamagedFile(bool typePath)
    {
        if (typePath) {
            ClickAt(main, 60, 34); // into Edit1
            Type(folder / "damaged.vek");
        }
        ClickAt(main, 354, 84); // "Start"
        return WaitWindow(program->pid(), "^Error\\.$");
    }

    // Clicks at a point of the dialog's bottom area: the button row starts
    // 32 pixels above the check-box area, which is 34 pixels high here
    // (the send and the screenshot box).
    void ClickInDialog(const std::string& dialog, int x, int yBelowButtonRow)
    {
        const TClientBox box = ClientBox(dialog);
        ASSERT_GT(box.Height, 0);
        const int buttonRow = box.Height - 34 - 32;
        Xdotool("windowraise " + dialog + " mousemove " + std::to_string(box.Left + x) + " " +
                std::to_string(box.Top + buttonRow + yBelowButtonRow) + " click 1");
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
};

} // namespace

TEST_F(ReportingDesktopProgram, ADamagedFileShowsTheDialogAndTheTickedReportArrivesByMail)
{
    const std::string dialog = ConvertTheDamagedFile(true);
    ASSERT_FALSE(dialog.empty()) << "no exception dialog";
    // Centred on the converter's window, and marked as belonging to it.
    const TClientBox d = ClientBox(dialog), m = ClientBox(main);
    EXPECT_NEAR(d.Left + d.Width / 2, m.Left + m.Width / 2, 2);
    EXPECT_NEAR(d.Top + d.Height / 2, m.Top + m.Height / 2, 2);
    char hex[32];
    std::snprintf(hex, sizeof hex, "0x%lx", std::stoul(main));
    EXPECT_NE(RunCommand("xprop -id " + dialog + " WM_TRANSIENT_FOR").find(std::string("window id # ") + hex),
              std::string::npos);
    ClickInDialog(dialog, 12, 34 + 8);  // "Send this error via Internet"
    ClickInDialog(dialog, 30, 50 + 8);  // "Attach a Screenshot image", enabled by the send box
    const TClientBox box = ClientBox(dialog);
    ClickInDialog(dialog, box.Width / 2, 12); // OK
    ASSERT_TRUE(WaitGone(program->pid(), "^Error\\.$"));

    // The log beside the program holds the report.
    const std::string log = folder / "vek2avi-gui.tlf";
    ASSERT_TRUE(WaitFile(log, 20000));
    EXPECT_NE(ReadFile(log).find("2.5 Message: Cannot convert"), std::string::npos) << ReadFile(log);

    // The mail: one packed attachment with the log copy, the XML and the
    // screenshot, unpacked by the real tar.
    const std::string archive = store / "1/attachments/CompressFiles.tgz";
    ASSERT_TRUE(WaitFile(archive, 30000)) << RunCommand("ls -R " + ShellQuote(store.path()));
    EXPECT_EQ(ReadFile(store / "1/subject"), "Converter report");
    TempDir unpacked;
    const TCommandResult listing =
        RunShell("tar -xzvf " + ShellQuote(archive) + " -C " + ShellQuote(unpacked.path()) + " 2>/dev/null");
    EXPECT_EQ(listing.ExitCode, 0);
    EXPECT_NE(listing.Output.find("vek2avi-gui.tlf"), std::string::npos) << listing.Output;
    EXPECT_NE(listing.Output.find(".xml"), std::string::npos) << listing.Output;
    EXPECT_NE(listing.Output.find("Screenshot.png"), std::string::npos) << listing.Output;
    EXPECT_NE(ReadFile(unpacked / "vek2avi-gui.tlf").find("2.5 Message: Cannot convert"), std::string::npos);
    EXPECT_EQ(RunShell("pngcheck -q " + ShellQuote(unpacked / "Screenshot.png")).ExitCode, 0);
    EXPECT_TRUE(program->Running()); // the user pressed OK: the program goes on
}

TEST_F(ReportingDesktopProgram, RestartStartsANewConverterWindow)
{
    const std::string dialog = ConvertTheDamagedFile(true);
    ASSERT_FALSE(dialog.empty()) << "no exception dialog";
    ClickInDialog(dialog, 30, 12); // "Restart", at the left of the button row
    EXPECT_EQ(program->WaitExit(20000), 1); // the program ends with exit code 1
    // A new converter window, of another process, started from the copy.
    std::string restarted;
    for (int i = 0; i < 100 && restarted.empty(); ++i) {
        const std::string pids = Xdotool("search --onlyvisible --name '^Vek to avi Converter$' getwindowpid %@");
        restarted = pids.substr(0, pids.find('\n'));
        if (restarted.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_FALSE(restarted.empty()) << "no new converter window";
    const pid_t pid = std::atoi(restarted.c_str());
    EXPECT_NE(pid, 0);
    EXPECT_EQ(RunCommand("readlink /proc/" + restarted + "/exe"), copy + "\n");
    ::kill(pid, SIGTERM);
}

// Without a display the program says so and ends with an error instead of
// running unseen; the off-screen backend runs only when asked for.
TEST(DesktopProgramWithoutDisplay, SaysSoAndEnds)
{
    const std::string program = ShellQuote(VEK_BUILD_DIR "/converter/gui/vek2avi-gui");
    struct Case {
        const char* env;
        int exitCode;
        const char* output;
    };
    const Case cases[] = {
        {"env -u DISPLAY -u VEK_UI_BACKEND", 1, "vek2avi-gui: cannot open display \"\"\n"},
        {"env -u VEK_UI_BACKEND DISPLAY=:4711", 1, "vek2avi-gui: cannot open display \":4711\"\n"},
        {"env -u DISPLAY VEK_UI_BACKEND=headless timeout 1", 124, ""}, // runs until ended
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.env);
        const TCommandResult r = RunShell(std::string(c.env) + " " + program + " 2>&1");
        EXPECT_EQ(r.ExitCode, c.exitCode);
        EXPECT_EQ(r.Output, c.output);
    }
}
