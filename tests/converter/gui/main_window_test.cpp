// The converter's main window on the headless backend: layout, tab order,
// the open dialog, and whole runs with the real dialogs answered by
// synthetic keys.
#include <gtest/gtest.h>

#include <cstdlib>
#include <csignal>
#include <unistd.h>
#include <filesystem>
#include <fstream>

#include "converter/gui/command_line.h"
#include "converter/gui/main_form.h"
#include "converter/gui/recorder_dialogs.h"
#include "converter/interrupt.h"
#include "platform/rtl/codepage.h"
#include "platform/ui/application.h"
#include "platform/ui/backend.h"
#include "platform/ui/compression_dialog.h"
#include "platform/ui/file_dialog.h"
#include "platform/ui/headless.h"
#include "platform/ui/message_box.h"
#include "tests/support/child_process.h"
#include "tests/support/media_probe.h"
#include "tests/support/temp_dir.h"
#include "tests/support/vek_writer.h"

using namespace converter::gui;
using namespace testing_support;
using ui::SimulateKey;
using ui::SimulateText;

namespace {

struct MainWindow : ::testing::Test {
    void SetUp() override
    {
        ASSERT_TRUE(ui::SelectBackend(ui::BackendKind::bkHeadless));
        ::setenv("LC_ALL", "C", 1); // English texts unless a test asks otherwise
        ui::App().Initialize();
        form = std::make_unique<TForm1>();
        form->Show();
        ui::PumpPending(false);
    }
    void TearDown() override
    {
        ui::OnFileDialogShown = nullptr;
        ui::OnMessageBoxShown = nullptr;
        ui::OnCompressionDialogShown = nullptr;
        form.reset();
        ui::PumpPending(false);
    }
    void Pump() { ui::PumpPending(false); }
    void PressStart()
    {
        ui::SimulateClick(*form->Button2, 10, 10);
        Pump();
    }
    std::unique_ptr<TForm1> form;
};

void ExpectBounds(const ui::Window& w, int left, int top, int width, int height)
{
    EXPECT_EQ(w.Left(), left) << w.Name;
    EXPECT_EQ(w.Top(), top) << w.Name;
    EXPECT_EQ(w.Width(), width) << w.Name;
    EXPECT_EQ(w.Height(), height) << w.Name;
}

ui::Window* Child(ui::Form& f, const std::string& name)
{
    for (ui::Window* c : f.Children())
        if (c->Name == name) return c;
    return nullptr;
}

// Where the documentation pictures go: the docs folder when asked for,
// otherwise the build tree.
std::string ImageDir()
{
    const char* write = std::getenv("VEK_WRITE_DOCS_IMAGES");
    std::string dir = (write && std::string(write) == "1") ? std::string(VEK_SOURCE_DIR) + "/docs/images"
                                                           : std::string(VEK_BUILD_DIR) + "/docs-images";
    std::filesystem::create_directories(dir);
    return dir;
}

bool IsPng(const std::string& path)
{
    const std::string bytes = ReadFile(path);
    return bytes.size() > 8 && bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") == 0;
}

} // namespace

TEST_F(MainWindow, LayoutCaptionsAndFixedFrame)
{
    EXPECT_EQ(form->Caption(), "Vek to avi Converter");
    ExpectBounds(*form, 211, 210, 419, 128);
    EXPECT_EQ(form->Border, ui::BorderStyle::bsDialog);
    EXPECT_EQ(form->Color, gdi::clBtnFace);
    EXPECT_EQ(form->Font.Name, "MS Sans Serif");
    EXPECT_EQ(form->Font.Height, -11);
    ExpectBounds(*form->Button1, 312, 24, 85, 25);
    ExpectBounds(*form->Edit1, 48, 24, 249, 21);
    ExpectBounds(*form->Button2, 312, 72, 85, 25);
    ui::Window* gauge = Child(*form, "Gauge1");
    ASSERT_NE(gauge, nullptr);
    ExpectBounds(*gauge, 48, 72, 249, 20);
    EXPECT_EQ(form->Button1->Text(), "Open a file");
    EXPECT_EQ(form->Button2->Text(), "Start");
    EXPECT_EQ(form->Edit1->Text(), "");
    EXPECT_EQ(form->OpenDialog1.Filter, "Vek files(*.vek)|*.vek");

    EXPECT_EQ(form->Gauge1.ForeColor(), gdi::SysColor(27));
    EXPECT_EQ(form->Gauge1.Progress(), 0);
    EXPECT_EQ(form->Gauge1.Kind(), controls::gkHorizontalBar);
    EXPECT_TRUE(form->Gauge1.ShowText());
    EXPECT_EQ(form->Gauge1.BackColor(), gdi::clWhite);
    EXPECT_EQ(form->Gauge1.MaxValue(), 100);

    // The picture: button face around the controls, the gauge's white
    // empty bar inside its black border.
    gdi::Bitmap shot = form->Snapshot();
    ASSERT_EQ(shot.Width(), 419);
    ASSERT_EQ(shot.Height(), 128);
    const gdi::TColor face = gdi::ColorToRGB(gdi::clBtnFace);
    EXPECT_EQ(shot.ScanLine(5)[5 * 3 + 2], gdi::GetRValue(face));
    EXPECT_EQ(shot.ScanLine(72)[48 * 3], 0);           // gauge border
    EXPECT_EQ(shot.ScanLine(75)[(48 + 230) * 3], 255); // empty bar, right part
}

TEST_F(MainWindow, GaugeRepaintsAtOnceWithoutTheMessageLoop)
{
    // The screen as shown, at a point in the left part of the bar.
    auto shownPixel = [] {
        gdi::Bitmap screen = ui::headless::CaptureScreen();
        const uint8_t* p = screen.ScanLine(210 + 82) + (211 + 58) * 3;
        return gdi::RGB(p[2], p[1], p[0]);
    };
    EXPECT_EQ(shownPixel(), gdi::clWhite);
    form->Gauge1.SetProgress(60); // no message handled after this
    EXPECT_EQ(shownPixel(), gdi::ColorToRGB(gdi::clGradientActiveCaption));
    ui::Msg m;
    EXPECT_FALSE(ui::PeekMessage(m, 0, ui::WM_PAINT, ui::WM_PAINT, ui::PM_NOREMOVE));
}

TEST_F(MainWindow, TabOrderIsOpenEditStart)
{
    EXPECT_EQ(form->FocusedControl(), form->Button1);
    SimulateKey(*form, ui::VK_TAB);
    Pump();
    EXPECT_EQ(form->FocusedControl(), form->Edit1);
    SimulateKey(*form, ui::VK_TAB);
    Pump();
    EXPECT_EQ(form->FocusedControl(), form->Button2);
    SimulateKey(*form, ui::VK_TAB);
    Pump();
    EXPECT_EQ(form->FocusedControl(), form->Button1); // the gauge takes no focus
}

TEST_F(MainWindow, OpenDialogFiltersVekFilesAndCancelKeepsTypedText)
{
    TempDir dir;
    WriteFile(dir / "clip.vek", RandomVek(1, 2, 2, 1).Bytes());
    WriteFile(dir / "notes.txt", "x");
    std::filesystem::create_directory(dir / "sub");
    form->OpenDialog1.InitialDir = dir.path();

    ui::SimulateClick(*form->Edit1, 5, 5);
    SimulateText(*form, "typed by hand");
    Pump();
    std::vector<std::string> entries;
    std::string caption;
    ui::OnFileDialogShown = [&](ui::FileDialogForm& d) {
        entries = d.Entries->Items;
        caption = d.Caption();
        SimulateKey(d, ui::VK_ESCAPE);
    };
    ui::SimulateClick(*form->Button1, 5, 5);
    Pump();
    EXPECT_EQ(caption, "Open");
    EXPECT_EQ(entries, (std::vector<std::string>{"..", "sub/", "clip.vek"}));
    EXPECT_EQ(form->Edit1->Text(), "typed by hand");

    ui::OnFileDialogShown = [&](ui::FileDialogForm& d) { SimulateText(d, "clip.vek\n"); };
    ui::SimulateClick(*form->Button1, 5, 5);
    Pump();
    EXPECT_EQ(form->Edit1->Text(), dir / "clip.vek");
}

TEST_F(MainWindow, StartWithAnEmptyPathFailsAtOnceThroughTheApplicationHandler)
{
    std::string text, boxCaption;
    bool saveDialogShown = false;
    ui::OnFileDialogShown = [&](ui::FileDialogForm& d) {
        saveDialogShown = true;
        SimulateKey(d, ui::VK_ESCAPE);
    };
    ui::OnMessageBoxShown = [&](ui::MessageBoxForm& box) {
        text = box.TextLabel()->Text();
        boxCaption = box.Caption();
        EXPECT_EQ(box.Icon(), ui::MessageIcon::miError);
        SimulateKey(box, ui::VK_RETURN);
    };
    const int beeps = ui::headless::BeepCount();
    PressStart();
    EXPECT_EQ(ui::headless::BeepCount(), beeps + 1); // the error box rings the bell
    EXPECT_EQ(text.rfind("Cannot open file \"\". ", 0), 0u) << text;
    EXPECT_EQ(boxCaption, ui::App().Title);
    EXPECT_FALSE(saveDialogShown);
    // The window goes on working afterwards: back from Start to the edit.
    SimulateKey(*form, ui::VK_TAB, ui::kmShift);
    SimulateText(*form, "abc");
    Pump();
    EXPECT_EQ(form->Edit1->Text(), "abc");
}

TEST_F(MainWindow, WholeRunWithTheRealDialogs)
{
    TempDir dir;
    WriteFile(dir / "in.vek", RandomVek(4, 8, 6, 7).Bytes());
    form->Edit1->SetText(dir / "in.vek");
    const std::string images = ImageDir();

    std::string saveCaption, compressionCaption, doneCaption, doneText;
    int progressAtEnd = -1;
    int boxes = 0;
    ui::OnFileDialogShown = [&](ui::FileDialogForm& d) {
        saveCaption = d.Caption();
        d.OpenFolder(dir.path());
        SimulateText(d, "out\n"); // no extension: ".avi" is added
    };
    ui::OnCompressionDialogShown = [&](ui::CompressionDialogForm& d) {
        compressionCaption = d.Caption();
        d.SaveToPng(images + "/compression-dialog.png");
        SimulateKey(d, ui::VK_RETURN); // the first compressor: full frames
    };
    ui::OnMessageBoxShown = [&](ui::MessageBoxForm& box) {
        ++boxes;
        doneCaption = box.Caption();
        doneText = box.TextLabel()->Text();
        progressAtEnd = form->Gauge1.Progress();
        form->SaveToPng(images + "/main-window.png");
        SimulateKey(box, ui::VK_RETURN);
    };
    PressStart();
    EXPECT_EQ(saveCaption, "Save As");
    EXPECT_EQ(compressionCaption, "Video Compression");
    EXPECT_EQ(boxes, 1);
    EXPECT_EQ(doneCaption, "AVI file conversion");
    EXPECT_EQ(doneText, "The AVI file was written:\n" + (dir / "out.avi"));
    EXPECT_EQ(progressAtEnd, 100);
    EXPECT_EQ(form->Gauge1.Progress(), 100); // kept after the run
    ui::OnFileDialogShown = [&](ui::FileDialogForm& d) { SimulateText(d, dir / "in.vek\n"); };
    ui::SimulateClick(*form->Button1, 5, 5); // "Open a file"
    Pump();
    EXPECT_EQ(form->Gauge1.Progress(), 0) << "a newly chosen input starts the gauge again";
    form->Gauge1.SetProgress(100);
    form->Edit1->SetFocus();
    SimulateText(*form, "x");
    Pump();
    EXPECT_EQ(form->Gauge1.Progress(), 0) << "a typed input starts the gauge again";

    const VideoProbe probe = ProbeVideo(dir / "out.avi");
    ASSERT_TRUE(probe.ok) << probe.errors;
    EXPECT_EQ(probe.width, 8);
    EXPECT_EQ(probe.height, 6);
    EXPECT_EQ(probe.packets, 4);
    EXPECT_EQ(probe.keyPackets, 4);
    EXPECT_TRUE(IsPng(images + "/main-window.png"));
    EXPECT_TRUE(IsPng(images + "/compression-dialog.png"));
}

// The overwrite question and the completion message in the user's
// language; Enter at the question keeps the file.
TEST_F(MainWindow, DeclinedSaveOrOverwriteIsNotReportedAsSuccess)
{
    struct Case {
        const char* locale;
        std::string questionStart, doneCaption, doneStart;
    };
    const Case cases[] = {
        {"C", "Replace \"", "AVI file conversion", "The AVI file was written:\n"},
        {"en_GB.UTF-8", "Replace \"", "AVI file conversion", "The AVI file was written:\n"},
        // "是否覆盖 ", "AVI文件转换", "AVI文件转换成功"
        {"zh_CN.UTF-8", rtl::CP936ToUtf8("\xCA\xC7\xB7\xF1\xB8\xB2\xB8\xC7 "),
         "AVI\xE6\x96\x87\xE4\xBB\xB6\xE8\xBD\xAC\xE6\x8D\xA2",
         "AVI\xE6\x96\x87\xE4\xBB\xB6\xE8\xBD\xAC\xE6\x8D\xA2\xE6\x88\x90\xE5\x8A\x9F\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.locale);
        ::setenv("LC_ALL", c.locale, 1);
        TempDir dir;
        WriteFile(dir / "in.vek", RandomVek(2, 4, 4, 3).Bytes());
        WriteFile(dir / "old.avi", "keep me");
        form->Edit1->SetText(dir / "in.vek");
        int compressionShown = 0;
        std::vector<std::string> texts, captions;
        ui::OnCompressionDialogShown = [&](ui::CompressionDialogForm& d) {
            ++compressionShown;
            SimulateKey(d, ui::VK_RETURN);
        };
        ui::OnMessageBoxShown = [&](ui::MessageBoxForm& box) {
            texts.push_back(box.TextLabel()->Text());
            captions.push_back(box.Caption());
            if (texts.size() == 1 && std::string(c.locale) == "C") box.SaveToPng(ImageDir() + "/overwrite-question.png");
            SimulateKey(box, ui::VK_RETURN); // the default answer
        };
        // Cancel in the save dialog.
        ui::OnFileDialogShown = [&](ui::FileDialogForm& d) { SimulateKey(d, ui::VK_ESCAPE); };
        PressStart();
        EXPECT_TRUE(texts.empty());
        EXPECT_EQ(compressionShown, 0);

        // An existing file, and Enter at the overwrite question: No.
        ui::OnFileDialogShown = [&](ui::FileDialogForm& d) { SimulateText(d, dir / "old.avi\n"); };
        PressStart();
        ASSERT_EQ(texts.size(), 1u);
        EXPECT_EQ(texts[0], c.questionStart + (dir / "old.avi") + (c.questionStart[0] == 'R' ? "\"?" : "?"));
        EXPECT_EQ(compressionShown, 0);
        EXPECT_EQ(ReadFile(dir / "old.avi"), "keep me");
        EXPECT_EQ(ListDir(dir.path()), (std::vector<std::string>{"in.vek", "old.avi"}));

        // A new file: the completion message names it.
        ui::OnFileDialogShown = [&](ui::FileDialogForm& d) { SimulateText(d, dir / "new.avi\n"); };
        PressStart();
        ASSERT_EQ(texts.size(), 2u);
        EXPECT_EQ(captions[1], c.doneCaption);
        EXPECT_EQ(texts[1], c.doneStart + (dir / "new.avi"));
    }
}

TEST(CommandLine, PathsAndFileUris)
{
    EXPECT_EQ(PathFromArgument("/home/u/a b.vek"), "/home/u/a b.vek");
    EXPECT_EQ(PathFromArgument("rel/x.vek"), "rel/x.vek");
    EXPECT_EQ(PathFromArgument("file:///home/u/a%20b.vek"), "/home/u/a b.vek");
    EXPECT_EQ(PathFromArgument("file://localhost/tmp/%E6%96%87.vek"), "/tmp/\xE6\x96\x87.vek");
    EXPECT_EQ(PathFromArgument("file://otherhost/tmp/x.vek"), "");
    EXPECT_EQ(PathFromArgument("https://example.org/x.vek"), "");
}

TEST_F(MainWindow, SaveDialogSuggestsTheInputsNameAndTheInputIsNeverReplaced)
{
    TempDir dir;
    const std::string bytes = RandomVek(2, 4, 4, 3).Bytes();
    WriteFile(dir / "clip.vek", bytes);
    form->Edit1->SetText(dir / "clip.vek");
    std::string suggested, folder, message;
    int questions = 0;
    ui::OnFileDialogShown = [&](ui::FileDialogForm& d) {
        suggested = d.PathEdit->Text();
        folder = d.Folder();
        d.PathEdit->SetText("");
        SimulateText(d, dir / "clip.vek\n"); // the input itself
    };
    ui::OnMessageBoxShown = [&](ui::MessageBoxForm& box) {
        const std::string text = box.TextLabel()->Text();
        if (text.find("Replace \"") == 0)
            ++questions; // the overwrite question
        else
            message = text;
        SimulateKey(box, ui::VK_RETURN);
    };
    PressStart();
    EXPECT_EQ(suggested, "clip.avi");
    EXPECT_EQ(folder, dir.path());
    EXPECT_EQ(questions, 0) << "refused before the overwrite question";
    EXPECT_EQ(message,
              "Cannot convert \"" + (dir / "clip.vek") + "\": the output file \"" + (dir / "clip.vek") +
                  "\" is the input file itself.");
    EXPECT_EQ(ReadFile(dir / "clip.vek"), bytes);
    EXPECT_EQ(SuggestedOutputName("/a.b/c"), "/a.b/c.avi");
    EXPECT_EQ(SuggestedOutputName("x.vek"), "x.avi");
    EXPECT_EQ(SuggestedOutputName("/d/.hidden"), "/d/.hidden.avi");
}

TEST_F(MainWindow, TheGaugeOutlivesTheWindowThatHostsIt)
{
    // The host unhooks itself from Gauge1 while Gauge1 exists; the other
    // order stops the program in the gauge's destructor.
    EXPECT_NE(form->Gauge1.Host(), nullptr);
    // In a child: the wrong order ends it with the gauge's message instead.
    EXPECT_EXIT(
        {
            form.reset();
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

namespace {
// A child window that notes the gauge's value whenever it is painted.
struct PaintProbe : ui::Window {
    PaintProbe(ui::Window* parent, const controls::TGauge& gauge) : ui::Window(parent), gauge_(gauge) {}
    void Paint(gdi::Canvas&) override
    {
        progressAtPaint.push_back(gauge_.Progress());
        if (OnPainted) OnPainted();
    }
    std::vector<int> progressAtPaint;
    std::function<void()> OnPainted;

private:
    const controls::TGauge& gauge_;
};
} // namespace

TEST_F(MainWindow, PaintRequestsAreServedWhileTheRunGoesOn)
{
    TempDir dir;
    WriteFile(dir / "in.vek", RandomVek(4, 8, 6, 7).Bytes());
    form->Edit1->SetText(dir / "in.vek");
    auto* probe = form->Add<PaintProbe>(form->Gauge1);
    probe->SetBounds(0, 0, 4, 4);
    Pump();
    std::vector<int> paintsBeforeRun;
    ui::OnFileDialogShown = [&](ui::FileDialogForm& d) { SimulateText(d, dir / "out.avi\n"); };
    ui::OnCompressionDialogShown = [&](ui::CompressionDialogForm& d) {
        // The dialog's closing leaves the main window to be painted again.
        probe->progressAtPaint.clear();
        probe->Invalidate();
        SimulateKey(d, ui::VK_RETURN);
    };
    int progressAtEnd = -1;
    ui::OnMessageBoxShown = [&](ui::MessageBoxForm& box) {
        progressAtEnd = form->Gauge1.Progress();
        paintsBeforeRun = probe->progressAtPaint;
        SimulateKey(box, ui::VK_RETURN);
    };
    PressStart();
    EXPECT_EQ(progressAtEnd, 100);
    ASSERT_FALSE(paintsBeforeRun.empty()) << "the window was not painted before the completion message";
    EXPECT_LT(paintsBeforeRun.front(), 75) << "painted only after the run";
}

TEST_F(MainWindow, TheCompressionChoiceIsOfferedAgainInTheNextRun)
{
    TempDir dir;
    WriteFile(dir / "in.vek", RandomVek(1, 8, 8, 7).Bytes()); // a size every compressor takes
    form->Edit1->SetText(dir / "in.vek");
    std::vector<int> offered;
    std::vector<std::string> quality;
    int run = 0;
    ui::OnFileDialogShown = [&](ui::FileDialogForm& d) { SimulateText(d, dir / ("out" + std::to_string(run) + ".avi\n")); };
    ui::OnCompressionDialogShown = [&](ui::CompressionDialogForm& d) {
        offered.push_back(d.CompressorList->ItemIndex());
        quality.push_back(d.QualityEdit->Text());
        if (run == 0) {
            d.CompressorList->SetFocus();
            SimulateKey(d, ui::VK_DOWN);
            d.QualityEdit->SetText("42");
        }
        SimulateKey(d, ui::VK_RETURN);
    };
    ui::OnMessageBoxShown = [&](ui::MessageBoxForm& box) { SimulateKey(box, ui::VK_RETURN); };
    for (run = 0; run < 2; ++run) PressStart();
    ASSERT_EQ(offered.size(), 2u);
    EXPECT_EQ(offered[0], 0);
    EXPECT_EQ(offered[1], 1) << "the second run starts from the first run's compressor";
    EXPECT_EQ(quality[1], "42");
}

// A data rate the compressor cannot keep: the completion message says so
// and why, as a warning.
TEST_F(MainWindow, ADataRateThatCannotBeKeptIsToldWithTheCompletion)
{
    TempDir dir;
    WriteFile(dir / "in.vek", RandomVek(5, 64, 48, 7).Bytes());
    form->Edit1->SetText(dir / "in.vek");
    std::string text;
    ui::OnFileDialogShown = [&](ui::FileDialogForm& d) { SimulateText(d, dir / "out.avi\n"); };
    ui::OnCompressionDialogShown = [&](ui::CompressionDialogForm& d) {
        for (size_t i = 0; i < d.Compressors().size(); ++i)
            if (avifile::FourCCToString(d.Compressors()[i].fourcc) == "divx") d.CompressorList->SetItemIndex(int(i));
        d.DataRateCheck->SetChecked(true);
        d.DataRateEdit->SetText("1");
        SimulateKey(d, ui::VK_RETURN);
    };
    ui::OnMessageBoxShown = [&](ui::MessageBoxForm& box) {
        text = box.TextLabel()->Text();
        box.SaveToPng(ImageDir() + "/data-rate-not-kept.png");
        SimulateKey(box, ui::VK_RETURN);
    };
    PressStart();
    EXPECT_EQ(text, "The AVI file was written:\n" + (dir / "out.avi") +
                        "\n\nThe data rate of 1 KB/sec was not kept: 5 of 5 frames are larger than their share even "
                        "at the compressor's lowest quality. Choose a higher data rate or a smaller frame.");
    const VideoProbe probe = ProbeVideo(dir / "out.avi");
    ASSERT_TRUE(probe.ok) << probe.errors;
    EXPECT_EQ(probe.codecTag, "DIVX");
}

// A compressor that cannot take the frames is marked in the list with the
// reason, and OK with it selected is refused with that reason.
TEST_F(MainWindow, ACompressorThatCannotTakeTheFramesIsMarked)
{
    TempDir dir;
    WriteFile(dir / "in.vek", RandomVek(1, 321, 241, 7).Bytes());
    form->Edit1->SetText(dir / "in.vek");
    std::vector<std::string> items, refusals;
    ui::CompressionDialogForm* dialog = nullptr;
    ui::OnFileDialogShown = [&](ui::FileDialogForm& d) { SimulateText(d, dir / "out.avi\n"); };
    ui::OnCompressionDialogShown = [&](ui::CompressionDialogForm& d) {
        items = d.CompressorList->Items;
        for (size_t i = 0; i < d.Compressors().size(); ++i)
            if (avifile::FourCCToString(d.Compressors()[i].fourcc) == "MSVC") d.CompressorList->SetItemIndex(int(i));
        d.SaveToPng(ImageDir() + "/compression-dialog-refused.png");
        dialog = &d;
        SimulateKey(d, ui::VK_RETURN); // refused: a message, the dialog stays
    };
    ui::OnMessageBoxShown = [&](ui::MessageBoxForm& box) {
        refusals.push_back(box.TextLabel()->Text());
        SimulateKey(box, ui::VK_RETURN);
        SimulateKey(*dialog, ui::VK_ESCAPE); // handled once the box is gone
    };
    PressStart();
    EXPECT_NE(std::find(items.begin(), items.end(), "Microsoft Video 1 (MSVC): needs multiples of 4 x 4"), items.end());
    EXPECT_NE(std::find(items.begin(), items.end(), "Full Frames (Uncompressed) (DIB)"), items.end());
    ASSERT_EQ(refusals.size(), 1u);
    EXPECT_EQ(refusals[0], "Microsoft Video 1 cannot be used: needs multiples of 4 x 4.");
    EXPECT_EQ(ListDir(dir.path()), (std::vector<std::string>{"in.vek"}));
}

// Closing the window during a run, and a run that fails half-way: the file
// that was to be replaced stays as it was, nothing else is left, and the
// gauge is back at 0.
TEST_F(MainWindow, AStoppedOrFailedRunKeepsTheOldFileAndResetsTheGauge)
{
    struct Case {
        const char* name;
        bool closeWindow; // else the input ends early
    };
    for (const Case& c : {Case{"closed", true}, Case{"failed", false}}) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        std::string bytes = RandomVek(8, 8, 6, 7).Bytes();
        if (!c.closeWindow) bytes.resize(bytes.size() - 3 * 8 * 6 * 3); // refused: frames 6 to 8 missing
        WriteFile(dir / "in.vek", bytes);
        WriteFile(dir / "out.avi", "old");
        form->Show();
        form->Edit1->SetText(dir / "in.vek");
        form->Gauge1.SetProgress(100); // as a run before left it
        auto* probe = form->Add<PaintProbe>(form->Gauge1);
        probe->SetBounds(0, 0, 4, 4);
        Pump();
        // The close arrives with the first paint the run serves.
        probe->OnPainted = [&] {
            if (c.closeWindow) ui::PostMessage(form->Handle(), ui::WM_CLOSE);
        };
        ui::OnFileDialogShown = [&](ui::FileDialogForm& d) { SimulateText(d, dir / "out.avi\n"); };
        ui::OnCompressionDialogShown = [&](ui::CompressionDialogForm& d) {
            probe->Invalidate();
            SimulateKey(d, ui::VK_RETURN);
        };
        std::vector<std::string> texts;
        ui::OnMessageBoxShown = [&](ui::MessageBoxForm& box) {
            texts.push_back(box.TextLabel()->Text());
            if (texts.size() == 1)
                ui::SimulateClick(*box.Buttons()[0], 5, 5); // Yes, replace it
            else
                SimulateKey(box, ui::VK_RETURN);
        };
        PressStart();
        EXPECT_EQ(ReadFile(dir / "out.avi"), "old");
        EXPECT_EQ(ListDir(dir.path()), (std::vector<std::string>{"in.vek", "out.avi"}));
        EXPECT_EQ(form->Gauge1.Progress(), 0);
        ASSERT_FALSE(texts.empty());
        if (c.closeWindow) {
            EXPECT_EQ(texts.size(), 1u) << "only the overwrite question";
            EXPECT_FALSE(form->Visible()) << "the window closes once the run has stopped";
        } else {
            ASSERT_EQ(texts.size(), 1u) << "refused before the overwrite question";
            EXPECT_EQ(texts[0].rfind("Cannot convert", 0), 0u) << texts[0];
            EXPECT_TRUE(form->Visible());
        }
        probe->OnPainted = nullptr;
    }
}

// SIGTERM during a run (a session ending, say): the unfinished file goes,
// the file it would have replaced stays, and the program ends by the signal.
// A signal during a run: held while the run goes on (the compression
// dialog answered after it), or while a dialog of the run waits for the
// user (nobody answers; the dialog goes). Either way nothing is written, the
// file to be replaced stays, and the program ends by the signal.
TEST(MainWindowSignals, ATerminationDuringARunLeavesNoPartialFile)
{
    struct Case {
        const char* waiting; // the dialog that is shown when the signal comes
        bool answered;       // and is then answered all the same
    } cases[] = {{"compression", true}, {"save", false}, {"overwrite", false}, {"compression", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.waiting) + (c.answered ? ", answered" : ", waiting"));
        const std::string waiting = c.waiting;
        TempDir dir;
        WriteFile(dir / "in.vek", RandomVek(3, 16, 16, 7).Bytes());
        WriteFile(dir / "out.avi", "old");
        const vektest::TChildResult r = vektest::RunInChild([&]() -> int {
            ::alarm(30); // a dialog that stays ends the child by SIGALRM instead
            ui::SelectBackend(ui::BackendKind::bkHeadless);
            ui::App().Initialize();
            converter::InstallInterruptHandlers();
            TForm1 form;
            form.Show();
            form.Edit1->SetText(dir / "in.vek");
            ui::OnFileDialogShown = [&](ui::FileDialogForm& d) {
                if (waiting == "save")
                    ::raise(SIGTERM);
                else
                    SimulateText(d, dir / "out.avi\n");
            };
            ui::OnMessageBoxShown = [&](ui::MessageBoxForm& box) {
                if (box.TextLabel()->Text().find("out.avi") == std::string::npos)
                    ::_exit(3); // a completion or error message: the run was not stopped
                if (waiting == "overwrite")
                    ::raise(SIGTERM);
                else
                    ui::SimulateClick(*box.Buttons()[0], 5, 5); // Yes, replace it
            };
            ui::OnCompressionDialogShown = [&](ui::CompressionDialogForm& d) {
                ::raise(SIGTERM);
                if (c.answered) SimulateKey(d, ui::VK_RETURN);
            };
            ui::SimulateClick(*form.Button2, 10, 10);
            ui::PumpPending(false);
            ::_exit(4); // the run ended and the program went on
        });
        ASSERT_TRUE(r.Signaled) << "exit status " << (r.Exited ? r.ExitCode : -1) << ": " << r.Output;
        EXPECT_EQ(r.Signal, SIGTERM);
        EXPECT_EQ(ReadFile(dir / "out.avi"), "old");
        EXPECT_EQ(ListDir(dir.path()), (std::vector<std::string>{"in.vek", "out.avi"}));
    }
}

TEST_F(MainWindow, TheWindowIsPaintedBehindAMessageBox)
{
    auto* probe = form->Add<PaintProbe>(form->Gauge1);
    probe->SetBounds(0, 0, 4, 4);
    Pump();
    bool boxUp = false;
    size_t paintsWhileUp = 0;
    ui::OnMessageBoxShown = [&](ui::MessageBoxForm& box) {
        boxUp = true;
        probe->progressAtPaint.clear();
        probe->Invalidate(); // as an exposure of the main window would
        // Answered a little later, once the box's loop has run.
        ui::SetTimer(0, 0, 20, [&box, &paintsWhileUp, probe](ui::HWND, std::uintptr_t id) {
            ui::KillTimer(0, id);
            paintsWhileUp = probe->progressAtPaint.size();
            SimulateKey(box, ui::VK_RETURN);
        });
    };
    ui::ShowMessageBox(form.get(), "Cannot convert.", "Error", ui::MB_OK | ui::MB_ICONERROR);
    EXPECT_TRUE(boxUp);
    EXPECT_GE(paintsWhileUp, 1u) << "the main window was not painted while the box was up";
}
