// The open and save dialogs on the headless backend: filters, folders,
// default extension, and the checks the callers ask for.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "platform/ui/backend.h"
#include "platform/ui/file_dialog.h"
#include "platform/ui/headless.h"
#include "platform/ui/message_box.h"
#include "platform/ui/message_queue.h"
#include "platform/ui/screen_capture.h"
#include "tests/support/temp_dir.h"

using namespace ui;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

struct FileDialogs : ::testing::Test {
    void SetUp() override
    {
        ASSERT_TRUE(SelectBackend(BackendKind::bkHeadless));
        WriteFile(dir / "a.vek", "x");
        WriteFile(dir / "b.avi", "x");
        WriteFile(dir / "c.txt", "x");
        std::filesystem::create_directory(dir / "inner");
        WriteFile(dir / "inner/d.vek", "x");
    }
    void TearDown() override
    {
        OnFileDialogShown = nullptr;
        OnMessageBoxShown = nullptr;
    }
    FileDialogRequest Request(const std::string& filter, unsigned options = 0, const std::string& ext = {})
    {
        FileDialogRequest r;
        r.filter = filter;
        r.initialDir = dir.path();
        r.options = options;
        r.defaultExt = ext;
        return r;
    }
    // Runs a dialog that types text and presses Enter. Every message box
    // is answered with its first button (or the second), and then Escape
    // goes to the dialog, which ends it if it stayed open.
    bool Run(FileDialogForm::Kind kind, const FileDialogRequest& r, const std::string& typed, std::string& path,
             bool secondButton = false)
    {
        FileDialogForm* dialog = nullptr;
        OnFileDialogShown = [&](FileDialogForm& d) {
            dialog = &d;
            SimulateText(d, typed + "\n");
        };
        OnMessageBoxShown = [&](MessageBoxForm& box) {
            questions.push_back(box.TextLabel()->Text());
            if (secondButton) SimulateKey(box, VK_TAB);
            SimulateKey(box, VK_RETURN);
            SimulateKey(*dialog, VK_ESCAPE);
        };
        return RunFileDialog(r, kind, path);
    }
    TempDir dir;
    std::vector<std::string> questions;
};

} // namespace

TEST(FileFilter, ParsesDescriptionsAndPatterns)
{
    auto f = ParseFileFilter("Vek files(*.vek)|*.vek|Pictures|*.png;*.JPG|All|*.*");
    ASSERT_EQ(f.size(), 3u);
    EXPECT_EQ(f[0].description, "Vek files(*.vek)");
    EXPECT_EQ(f[1].patterns, (std::vector<std::string>{"*.png", "*.JPG"}));
    EXPECT_TRUE(MatchesFilter(f[0], "clip.vek"));
    EXPECT_TRUE(MatchesFilter(f[0], "CLIP.VEK")); // case does not matter
    EXPECT_FALSE(MatchesFilter(f[0], "clip.vek.bak"));
    EXPECT_TRUE(MatchesFilter(f[1], "x.jpg"));
    EXPECT_TRUE(MatchesFilter(f[2], "noextension"));
    EXPECT_TRUE(ParseFileFilter("").empty());
    EXPECT_TRUE(ParseFileFilter("only a description").empty());
}

TEST_F(FileDialogs, ListsFoldersThenFilteredFilesAndTheFilterButtonSteps)
{
    FileDialogForm d(Request("Vek files(*.vek)|*.vek|AVI|*.avi"), FileDialogForm::Kind::fdOpen);
    EXPECT_EQ(d.Entries->Items, (std::vector<std::string>{"..", "inner/", "a.vek"}));
    d.FilterButton->Click();
    EXPECT_EQ(d.Entries->Items, (std::vector<std::string>{"..", "inner/", "b.avi"}));
    EXPECT_EQ(d.FilterButton->Text(), "Type: AVI");
    // Typing a folder name opens it.
    d.PathEdit->SetText("inner");
    EXPECT_FALSE(d.Accept());
    EXPECT_EQ(d.Folder(), dir / "inner");
    EXPECT_EQ(d.PathEdit->Text(), "");
    d.PathEdit->SetText("..");
    d.Accept();
    EXPECT_EQ(d.Folder(), dir.path());
}

TEST_F(FileDialogs, OpenReturnsTheFullPathOfAFileThatExists)
{
    std::string path;
    ASSERT_TRUE(Run(FileDialogForm::Kind::fdOpen, Request("V|*.vek"), "a.vek", path));
    EXPECT_EQ(path, dir / "a.vek");
    EXPECT_TRUE(questions.empty());
    // A missing file is refused, asked for or not: the dialog stays, Escape then cancels.
    for (unsigned options : {0u, unsigned(ofFileMustExist)}) {
        questions.clear();
        EXPECT_FALSE(Run(FileDialogForm::Kind::fdOpen, Request("V|*.vek", options), "none.vek", path));
        ASSERT_EQ(questions.size(), 1u);
        EXPECT_NE(questions[0].find("File not found."), std::string::npos);
    }
    // A save dialog takes a new name.
    ASSERT_TRUE(Run(FileDialogForm::Kind::fdSave, Request("V|*.vek"), "new.vek", path));
    EXPECT_EQ(path, dir / "new.vek");
    // A folder that does not exist is always refused.
    questions.clear();
    EXPECT_FALSE(Run(FileDialogForm::Kind::fdOpen, Request("V|*.vek"), "nowhere/x.vek", path));
    EXPECT_EQ(questions.size(), 1u);
}

TEST_F(FileDialogs, ASingleTypeFilterCanStillShowAllFiles)
{
    FileDialogForm d(Request("Vek files(*.vek)|*.vek"), FileDialogForm::Kind::fdOpen);
    EXPECT_EQ(d.Entries->Items, (std::vector<std::string>{"..", "inner/", "a.vek"}));
    EXPECT_TRUE(d.FilterButton->Enabled());
    d.FilterButton->Click();
    EXPECT_EQ(d.FilterButton->Text(), "Type: All files (*)");
    EXPECT_EQ(d.Entries->Items, (std::vector<std::string>{"..", "inner/", "a.vek", "b.avi", "c.txt"}));
    d.FilterButton->Click(); // and back
    EXPECT_EQ(d.Entries->Items, (std::vector<std::string>{"..", "inner/", "a.vek"}));
    // A filter that shows everything already gets no second one.
    FileDialogForm all(Request("Everything|*.*"), FileDialogForm::Kind::fdOpen);
    EXPECT_FALSE(all.FilterButton->Enabled());
}

TEST_F(FileDialogs, ALongFolderScrollsAndShowsNoCutRow)
{
    for (int i = 0; i < 40; ++i) WriteFile(dir / ("f" + std::to_string(100 + i) + ".vek"), "x");
    FileDialogForm d(Request("V|*.vek"), FileDialogForm::Kind::fdOpen);
    ListBox& list = *d.Entries;
    EXPECT_EQ((list.Height() - 4) % list.ItemHeight, 0) << "the list holds whole rows";
    ASSERT_TRUE(list.ScrollBarShown());
    const TRect bar = list.ScrollBarRect();
    EXPECT_EQ(bar.Width(), ListBox::kScrollBarWidth);
    // Rows are painted whole, and only the rows that fit.
    std::vector<int> painted;
    list.OnDrawItem = [&](gdi::Canvas&, int index, const TRect& r, bool) {
        painted.push_back(index);
        EXPECT_LE(r.Bottom, list.Height() - 2) << "row " << index << " is cut";
        EXPECT_LE(r.Right, bar.Left) << "row " << index << " runs under the scroll bar";
    };
    d.Show();
    d.Snapshot();
    ASSERT_FALSE(painted.empty());
    EXPECT_EQ(painted.back() - painted.front() + 1, list.VisibleCount());
    // The arrows scroll by a row, the track by a page; the end stops the scrolling.
    auto click = [&](int x, int y) {
        SimulateClick(list, x, y);
        PumpPending(false);
    };
    click(bar.Left + 4, bar.Bottom - 4);
    EXPECT_EQ(list.TopIndex(), 1);
    const TRect thumb = list.ThumbRect();
    click(bar.Left + 4, thumb.Bottom + 2);
    EXPECT_EQ(list.TopIndex(), 1 + list.VisibleCount());
    click(bar.Left + 4, bar.Top + 4);
    EXPECT_EQ(list.TopIndex(), list.VisibleCount());
    for (int i = 0; i < 60; ++i) click(bar.Left + 4, bar.Bottom - 4);
    EXPECT_EQ(list.TopIndex(), static_cast<int>(list.Items.size()) - list.VisibleCount());
    EXPECT_EQ(list.ItemIndex(), -1) << "clicks on the bar select nothing";
}

TEST_F(FileDialogs, SaveAddsTheDefaultExtensionOnlyWhenThereIsNone)
{
    std::string path;
    const auto r = Request("AVI Files (*.avi)|*.avi", ofHideReadOnly | ofNoReadOnlyReturn, ".avi");
    ASSERT_TRUE(Run(FileDialogForm::Kind::fdSave, r, "movie", path));
    EXPECT_EQ(path, dir / "movie.avi");
    ASSERT_TRUE(Run(FileDialogForm::Kind::fdSave, r, "movie.AVI", path));
    EXPECT_EQ(path, dir / "movie.AVI");
    ASSERT_TRUE(Run(FileDialogForm::Kind::fdSave, r, dir / "inner/x", path));
    EXPECT_EQ(path, dir / "inner/x.avi");
    // Without ofOverwritePrompt an existing file is returned without a
    // question: the caller asks for itself.
    ASSERT_TRUE(Run(FileDialogForm::Kind::fdSave, r, "b.avi", path));
    EXPECT_TRUE(questions.empty());
}

TEST_F(FileDialogs, OverwritePromptAsksAndNoKeepsTheDialogOpen)
{
    std::string path;
    const auto r = Request("AVI|*.avi", ofOverwritePrompt, "avi");
    EXPECT_FALSE(Run(FileDialogForm::Kind::fdSave, r, "b.avi", path, /*secondButton No*/ true));
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_EQ(questions[0], (dir / "b.avi") + " already exists.\nDo you want to replace it?");
    ASSERT_TRUE(Run(FileDialogForm::Kind::fdSave, r, "b.avi", path));
    EXPECT_EQ(path, dir / "b.avi");
}

TEST_F(FileDialogs, ReadOnlyFileIsRefusedWhenAsked)
{
    if (geteuid() == 0) GTEST_SKIP() << "every file is writable for root";
    chmod((dir / "b.avi").c_str(), 0444);
    std::string path;
    EXPECT_FALSE(Run(FileDialogForm::Kind::fdSave, Request("AVI|*.avi", ofNoReadOnlyReturn), "b.avi", path));
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_NE(questions[0].find("read-only"), std::string::npos);
}

TEST_F(FileDialogs, HeadlessScreenCaptureOfTheActiveWindow)
{
    Form f;
    f.SetBounds(40, 30, 120, 60);
    f.Show();
    PumpPending(false);
    gdi::Bitmap whole, active;
    ASSERT_TRUE(CaptureScreen(CaptureArea::caScreen, true, whole));
    ASSERT_TRUE(CaptureScreen(CaptureArea::caActiveWindow, true, active));
    EXPECT_EQ(whole.Width(), 1280);
    ASSERT_EQ(active.Width(), 120);
    ASSERT_EQ(active.Height(), 60);
    const gdi::TColor face = gdi::ColorToRGB(gdi::clBtnFace);
    EXPECT_EQ(active.ScanLine(10)[10 * 3], gdi::GetBValue(face));
    EXPECT_EQ(whole.ScanLine(40)[50 * 3], gdi::GetBValue(face));
}
