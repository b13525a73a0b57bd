// The exception dialog in the headless backend: what each mode shows, the
// check boxes and buttons read back, the tabs and their pages, the state
// file, texts of absurd size, and the pictures of the documentation.
#include <gtest/gtest.h>

#include <filesystem>

#include "crashreport/ui/exception_dialog.h"
#include "crashreport/ui/request_dialog.h"
#include "platform/ui/app_windows.h"
#include "platform/ui/backend.h"
#include "platform/ui/headless.h"
#include "tests/crashreport/ui/ui_test_support.h"

namespace {

using namespace crashreport;
using namespace crashreport::ui;
using dialogtest::TDialogFixture;

class ExceptionDialog : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(::ui::SelectBackend(::ui::BackendKind::bkHeadless)); }
};

TDialogFlags Flags(std::initializer_list<TDialogFlag> flags) { return TDialogFlags(flags); }

// Runs the dialog and gives it the input once it has painted (timers come
// after paints in the loop), as a user would.
template <class Input> bool RunWith(TDialogFixture& f, Input input)
{
    TStateFile state;
    TExceptionDialog dialog(f.Dialog, f.Choices, state);
    bool given = false;
    const std::uintptr_t timer = ::ui::SetTimer(0, 0, 1, [&](::ui::HWND, std::uintptr_t) {
        if (given || !dialog.Painted()) return;
        given = true;
        input(dialog);
    });
    const bool painted = dialog.Execute();
    ::ui::KillTimer(0, timer);
    return painted && given;
}

TEST_F(ExceptionDialog, WithoutSendModeCopyBoxOrLinkTheBottomAreaIsEmpty)
{
    TDialogFixture f;
    f.Options.SetDialogFlags(Flags({dfShowDialog, dfShowDetailsButton}));
    TStateFile state;
    TExceptionDialog dialog(f.Dialog, f.Choices, state);
    EXPECT_EQ(dialog.ExtraHeight(), 0);
    EXPECT_FALSE(dialog.SendBox()->Visible());
    EXPECT_FALSE(dialog.ScreenshotBox()->Visible());
    EXPECT_FALSE(dialog.CopyBox()->Visible());
    EXPECT_FALSE(dialog.SupportLinkShown());
    EXPECT_FALSE(dialog.Detailed());
    EXPECT_FALSE(dialog.Tabs()->Visible());
    EXPECT_EQ(dialog.Caption(), "Error.");
    EXPECT_EQ(dialog.Message()->Text(), "List index out of bounds (5).");
    EXPECT_EQ(dialog.DetailsButton()->Text(), "&Details >>");
    EXPECT_EQ(dialog.OkButton()->Text(), "&OK");
    // Buttons sit on the row 32 pixels above the bottom, OK centred.
    EXPECT_EQ(dialog.OkButton()->Top(), dialog.Height() - 32);
    EXPECT_EQ(dialog.OkButton()->Left(), (dialog.Width() - dialog.ButtonWidth()) / 2);
    EXPECT_GE(dialog.Width(), 250);
}

TEST_F(ExceptionDialog, SendAndScreenshotBoxesTakeThirtyFourPixelsAndFollowTheFlags)
{
    TDialogFixture f;
    f.Options.SetMailMethod(mmSmtpClient);
    f.Dialog.SendConfigured = true;
    f.Choices.Send = true;
    f.Choices.Screenshot = true;
    f.Options.SetDialogFlags(Flags({dfShowDialog, dfSendChecked, dfShowDetailsButton}));
    TStateFile state;
    TExceptionDialog dialog(f.Dialog, f.Choices, state);
    EXPECT_EQ(dialog.ExtraHeight(), 34);
    EXPECT_TRUE(dialog.SendBox()->Visible());
    EXPECT_TRUE(dialog.SendBox()->Checked());
    EXPECT_TRUE(dialog.ScreenshotBox()->Visible());
    EXPECT_FALSE(dialog.ScreenshotBox()->Checked()) << "dfScreenshotChecked is clear";
    EXPECT_TRUE(dialog.ScreenshotBox()->Enabled());
    EXPECT_EQ(dialog.SendBox()->Text(), "&Send this error via Internet");
    // Unticking send disables the screenshot box.
    dialog.Show();
    dialog.SendBox()->Click();
    EXPECT_FALSE(dialog.ScreenshotBox()->Enabled());
    const int y = dialog.Height() - 34 - 32;
    EXPECT_EQ(dialog.SendBox()->Top(), y + 34);
    EXPECT_EQ(dialog.ScreenshotBox()->Top(), y + 50);
}

TEST_F(ExceptionDialog, ARepeatHidesTheSendBoxAndTheCopyBoxAloneTakesTwentyPixels)
{
    TDialogFixture f;
    f.Dialog.SendConfigured = true;
    f.Dialog.SendSuppressed = true;
    f.Options.SetDialogFlags(Flags({dfShowDialog, dfShowCopyButton}));
    TStateFile state;
    TExceptionDialog dialog(f.Dialog, f.Choices, state);
    EXPECT_FALSE(dialog.SendBox()->Visible());
    EXPECT_TRUE(dialog.CopyBox()->Visible());
    EXPECT_FALSE(dialog.CopyBox()->Checked());
    EXPECT_EQ(dialog.ExtraHeight(), 20);
    EXPECT_FALSE(dialog.DetailsButton()->Visible());
}

TEST_F(ExceptionDialog, TerminateButtonShowsOnlyAfterMoreErrorsThanTheThreshold)
{
    TDialogFixture f;
    f.Options.SetTerminateButtonAfter(3);
    f.Dialog.ErrorsHandled = 3;
    TStateFile state;
    {
        TExceptionDialog dialog(f.Dialog, f.Choices, state);
        EXPECT_FALSE(dialog.TerminateButton()->Visible());
    }
    f.Dialog.ErrorsHandled = 4;
    TExceptionDialog dialog(f.Dialog, f.Choices, state);
    EXPECT_TRUE(dialog.TerminateButton()->Visible());
    EXPECT_EQ(dialog.TerminateButton()->Text(), "&Restart") << "the default action restarts";
    f.Options.SetTerminateAction(taTerminate);
    TExceptionDialog second(f.Dialog, f.Choices, state);
    EXPECT_EQ(second.TerminateButton()->Text(), "&Terminate");
}

TEST_F(ExceptionDialog, EscapeActsAsOkAndTheChoicesAreReadBack)
{
    TDialogFixture f;
    f.Options.SetMailMethod(mmSmtpClient);
    f.Dialog.SendConfigured = true;
    f.Choices.Send = true;
    f.Choices.Screenshot = true;
    f.Options.SetDialogFlags(Flags({dfShowDialog, dfSendChecked, dfScreenshotChecked, dfShowCopyButton}));
    EXPECT_TRUE(RunWith(f, [](TExceptionDialog& d) {
        ::ui::SimulateClick(*d.CopyBox(), 5, 5);
        ::ui::SimulateClick(*d.ScreenshotBox(), 5, 5);
        ::ui::SimulateKey(d, ::ui::VK_ESCAPE);
    }));
    EXPECT_TRUE(f.Choices.Send);
    EXPECT_FALSE(f.Choices.Screenshot);
    EXPECT_TRUE(f.Choices.Copy);
    EXPECT_FALSE(f.Choices.Terminate);
}

TEST_F(ExceptionDialog, TheCloseBoxActsAsOkAndTheTerminateButtonSetsTheFlag)
{
    TDialogFixture f;
    f.Dialog.ErrorsHandled = 10;
    EXPECT_TRUE(RunWith(f, [](TExceptionDialog& d) { ::ui::PostMessage(d.Handle(), ::ui::WM_CLOSE); }));
    EXPECT_FALSE(f.Choices.Terminate);
    EXPECT_TRUE(RunWith(f, [](TExceptionDialog& d) { ::ui::SimulateClick(*d.TerminateButton(), 5, 5); }));
    EXPECT_TRUE(f.Choices.Terminate);
}

TEST_F(ExceptionDialog, AVetoedTerminationShowsTheSameReportAgain)
{
    TDialogFixture f;
    f.Dialog.ErrorsHandled = 10;
    int asked = 0;
    f.Dialog.TerminateNotify = [&](bool& terminate) {
        if (++asked == 1) terminate = false;
    };
    // Each showing gets a terminate click: the first is vetoed, the second stands.
    int shown = 0;
    const std::uintptr_t timer = ::ui::SetTimer(0, 0, 1, [&](::ui::HWND, std::uintptr_t) {
        for (::ui::Form* form : ::ui::ThreadForms())
            if (auto* d = dynamic_cast<TExceptionDialog*>(form); d && d->Painted() && d->ModalResult == 0) {
                ++shown;
                d->TerminateButton()->Click();
            }
    });
    EXPECT_TRUE(ShowExceptionDialog(f.Dialog, f.Choices));
    ::ui::KillTimer(0, timer);
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(shown, 2);
    EXPECT_TRUE(f.Choices.Terminate);
}

TEST_F(ExceptionDialog, AWindowOfTheProgramThatTakesTheForegroundGivesItBack)
{
    TDialogFixture f;
    ::ui::Form main;
    main.SetBounds(10, 10, 200, 100);
    main.Show();
    TStateFile state;
    TExceptionDialog dialog(f.Dialog, f.Choices, state);
    int step = 0;
    ::ui::HWND seen = 0;
    ::ui::Form* later = nullptr;
    const std::uintptr_t timer = ::ui::SetTimer(0, 0, 1, [&](::ui::HWND, std::uintptr_t) {
        if (!dialog.Painted()) return;
        if (step == 0) {
            EXPECT_EQ(::ui::ForegroundWindow(), dialog.Handle());
            main.NativeActivated(true); // the user clicks the main window
            step = 1;
        } else if (step < 40 && ::ui::ForegroundWindow() != dialog.Handle()) {
            ++step;
        } else if (step < 100) {
            seen = ::ui::ForegroundWindow();
            // A window made after the dialog opened keeps the foreground.
            later = new ::ui::Form();
            later->SetBounds(0, 0, 50, 50);
            later->Show();
            step = 100;
        } else if (step < 140) {
            ++step;
        } else {
            EXPECT_EQ(::ui::ForegroundWindow(), later->Handle());
            dialog.OkButton()->Click();
        }
    });
    dialog.Execute();
    ::ui::KillTimer(0, timer);
    delete later;
    EXPECT_EQ(seen, dialog.Handle()) << "the dialog took the foreground back";
}

TEST_F(ExceptionDialog, FirstTabNamesAFullIndexAndAbsentPagesShiftIt)
{
    EXPECT_EQ(FirstTabIndex(tabOther, true, true, false), 0) << "Other absent opens page 0";
    EXPECT_EQ(FirstTabIndex(tabCPU, false, true, false), 2) << "the third visible tab";
    EXPECT_EQ(FirstTabIndex(tabCPU, true, true, true), 3);
    EXPECT_EQ(FirstTabIndex(0x80 | tabCallStack, true, true, true), 1) << "only the low 7 bits count";
    EXPECT_EQ(FirstTabIndex(99, true, true, true), 0);

    TDialogFixture f;
    f.Options.SetFirstTab(tabCPU);
    f.Options.SetLogFlags(TLogFlags({lgCpuSection}));
    TStateFile state;
    TExceptionDialog dialog(f.Dialog, f.Choices, state);
    ASSERT_EQ(dialog.VisiblePages().size(), 3u);
    EXPECT_EQ(dialog.Tabs()->TabIndex(), 2);
    ASSERT_NE(dialog.Page(), nullptr);
    EXPECT_EQ(dialog.Page()->Kind(), pkCPU);
}

TEST_F(ExceptionDialog, DetailedModeShowsTheTabsAndSelectingATabMakesItsPage)
{
    TDialogFixture f;
    f.Dialog.CustomData = "Build 4711\r\nUser action: convert";
    f.Options.SetDialogFlags(Flags({dfShowDialog, dfShowDetailsButton, dfStartDetailed}));
    TStateFile state;
    TExceptionDialog dialog(f.Dialog, f.Choices, state);
    dialog.Show();
    EXPECT_TRUE(dialog.Detailed());
    EXPECT_TRUE(dialog.Tabs()->Visible());
    EXPECT_EQ(dialog.Border, ::ui::BorderStyle::bsSizeable);
    EXPECT_TRUE(dialog.MaximizeBox);
    EXPECT_EQ(dialog.Message()->Text(), f.Options.GetText(3));
    EXPECT_EQ(dialog.DetailsButton()->Text(), "<< &Details");
    const std::vector<std::string> expected = {"General", "Call Stack", "Modules", "CPU", "Other"};
    EXPECT_EQ(dialog.Tabs()->Tabs(), expected);
    EXPECT_EQ(dialog.Width(), 745);
    EXPECT_EQ(dialog.Height(), 468);
    for (int tab = 0; tab < 5; ++tab) {
        const ::ui::TRect r = dialog.Tabs()->TabRect(tab);
        ::ui::SimulateClick(*dialog.Tabs(), r.Left + 4, r.Top + 4);
        ::ui::PumpPending(false);
        ASSERT_NE(dialog.Page(), nullptr);
        EXPECT_EQ(dialog.Page()->Kind(), static_cast<TPageKind>(tab));
        EXPECT_EQ(dialog.Page()->Header()->Text(), f.Options.GetText(static_cast<std::size_t>(5 + 2 * tab)));
        EXPECT_EQ(dialog.Page()->Content()->Id, idPageContent);
        EXPECT_EQ(dialog.Page()->Content()->Top(), 20);
        EXPECT_EQ(dialog.Page()->Content()->Width(), dialog.Page()->Width() - 8);
    }
    // The General page holds the coloured general part.
    ::ui::SimulateClick(*dialog.Tabs(), dialog.Tabs()->TabRect(0).Left + 4, 8);
    ::ui::PumpPending(false);
    const auto& doc = dialog.Page()->Text()->Document();
    ASSERT_GE(doc.Lines.size(), 3u);
    EXPECT_EQ(doc.Lines[0].Text(), "TavrelLog 5.1.5");
    EXPECT_TRUE(doc.Lines[0].Runs[0].Bold);
    // Leaving detailed mode: the state file gets the placement.
    dialog.DetailsButton()->Click();
    EXPECT_FALSE(dialog.Detailed());
    EXPECT_FALSE(dialog.Tabs()->Visible());
    EXPECT_EQ(state.ReadInteger("Width", -1), 745);
    EXPECT_EQ(state.ReadInteger("WindowsState", -1), 1);
}

TEST_F(ExceptionDialog, PlacementFromTheStateFileIsClampedToTheScreen)
{
    TDialogFixture f;
    f.Options.SetDialogFlags(Flags({dfShowDialog, dfStartDetailed}));
    const ::ui::TSize screen = ::ui::Form::ScreenSize();
    TStateFile state;
    ASSERT_TRUE(state.WriteIntegers({{"Width", 600}, {"Height", 400}, {"Left", screen.cx - 100}, {"Top", -50}}));
    TExceptionDialog dialog(f.Dialog, f.Choices, state);
    EXPECT_EQ(dialog.Left(), screen.cx - 600) << "flush with the right edge";
    EXPECT_EQ(dialog.Top(), 0) << "negative becomes 0";
    EXPECT_EQ(dialog.Width(), 600);
    EXPECT_EQ(dialog.Height(), 400);
}

TEST_F(ExceptionDialog, MaximisedStateIsRestoredAndWrittenWithoutTheSize)
{
    TDialogFixture f;
    f.Options.SetDialogFlags(Flags({dfShowDialog, dfStartDetailed}));
    TStateFile state;
    ASSERT_TRUE(state.WriteIntegers({{"Width", 700}, {"Height", 420}, {"WindowsState", 3}}));
    {
        TExceptionDialog dialog(f.Dialog, f.Choices, state);
        EXPECT_EQ(dialog.State(), ::ui::WindowState::wsMaximized);
        EXPECT_EQ(dialog.Width(), ::ui::Form::ScreenSize().cx);
        EXPECT_EQ(dialog.NormalBounds().Width(), 700);
        dialog.SaveState();
    }
    EXPECT_EQ(state.ReadInteger("WindowsState", -1), 3);
    EXPECT_EQ(state.ReadInteger("Width", -1), 700);
}

TEST_F(ExceptionDialog, ADamagedStateFileGivesTheDefaults)
{
    TDialogFixture f;
    f.Options.SetDialogFlags(Flags({dfShowDialog, dfStartDetailed}));
    testing_support::WriteFile(f.StatePath(),
                               std::string("\x7f"
                                           "ELF\0\0garbage[Coordinates]\nWidth=9",
                                           25));
    TStateFile state;
    TExceptionDialog dialog(f.Dialog, f.Choices, state);
    EXPECT_EQ(dialog.Width(), 745);
    EXPECT_EQ(dialog.Height(), 468);
}

TEST_F(ExceptionDialog, AHugeMessageIsCutToTheScreenAndTenThousandRowsStayUsable)
{
    std::string message;
    for (int i = 0; message.size() < 100 * 1024; ++i)
        message += "Line " + std::to_string(i) +
            " \x01\x02 of a long message with \xD8\xA7\xD9\x84\xD8\xB9 and \xE4\xB8\xAD\xE6\x96\x87\r\n";
    TDialogFixture f(message);
    // 10,000 stack rows of the exception thread.
    for (int i = 0; i < 10000; ++i) {
        auto e = std::make_unique<TTavrelDebugInfo>();
        e->Addr = reinterpret_cast<void*>(0x1000 + i);
        e->ThreadID = 4242;
        e->RunningThread = 1;
        e->ModuleInfo = f.Sample->Modules[0].get();
        e->ProcedureName = std::string(300, 'p');
        e->DebugDetail = dkDebugLine;
        e->Line = i + 1;
        f.Sample->Stack->Add(std::move(e));
    }
    reporttest::CopyRowsIntoSources(*f.Sample);
    f.Options.SetDialogFlags(Flags({dfShowDialog, dfShowDetailsButton}));
    TStateFile state;
    TExceptionDialog dialog(f.Dialog, f.Choices, state);
    const ::ui::TSize screen = ::ui::Form::ScreenSize();
    EXPECT_LE(dialog.Height(), screen.cy);
    EXPECT_LE(dialog.Width(), 640);
    EXPECT_LE(dialog.Message()->Top() + dialog.Message()->Height(), dialog.OkButton()->Top());
    dialog.Show();
    dialog.PaintNow();
    dialog.DetailsButton()->Click();
    dialog.SelectPage(1);
    ASSERT_NE(dialog.Page()->List(), nullptr);
    EXPECT_GT(dialog.Page()->List()->ItemCount(), 10000);
    dialog.PaintNow();
    dialog.SelectPage(0);
    dialog.PaintNow();
}

TEST_F(ExceptionDialog, TheRequestInsertsTheTrimmedAnswerAfterTheGeneralPart)
{
    TDialogFixture f;
    const std::string general = f.Report.GeneralPart;
    const std::string before = f.Report.Text;
    InsertReproduceSection(f.Report, f.Options, "  opened a file\r\n\r\nthen pressed Start  ");
    const std::string section = "Request:\r\n--------\r\n  opened a file\r\n.\r\nthen pressed Start  \r\n";
    EXPECT_EQ(f.Report.Text, general + "\r\n" + section + "\r\n" + before.substr(general.size() + 2));
    EXPECT_EQ(f.Report.GeneralPart, general + "\r\n" + section);

    TDialogFixture g;
    g.Options.SetLogFlags(TLogFlags({lgAddReproduceText}));
    TRequestDialog dialog(g.Options);
    dialog.Show();
    EXPECT_EQ(dialog.Caption(), "Request");
    EXPECT_EQ(dialog.Label()->Text(), g.Options.GetText(82));
    ::ui::SimulateText(dialog, "  clicked twice\n");
    ::ui::SimulateClick(*dialog.OkButton(), 5, 5);
    std::string typed;
    ASSERT_TRUE(dialog.Execute(typed));
    EXPECT_EQ(typed, "clicked twice");
}

TEST_F(ExceptionDialog, PicturesOfBothModesAndEveryTab)
{
    TDialogFixture f;
    f.Dialog.CustomData = "Build 4711\r\nCustomer: test lab";
    f.Options.SetMailMethod(mmSmtpClient);
    f.Options.SetSupportPage("https://example.invalid/support");
    f.Dialog.SendConfigured = true;
    f.Dialog.ErrorsHandled = 5;
    f.Choices.Send = true;
    f.Choices.Screenshot = true;
    const std::string dir = dialogtest::ImagesDir();
    std::filesystem::create_directories(dir);
    TStateFile state;
    {
        TExceptionDialog dialog(f.Dialog, f.Choices, state);
        dialog.Show();
        dialog.SaveToPng(dir + "/exception-dialog-simple.png");
    }
    f.Options.SetDialogFlags(TDialogFlags::FromBits(f.Options.DialogFlags().ToBits()).Include(dfStartDetailed));
    TExceptionDialog dialog(f.Dialog, f.Choices, state);
    dialog.Show();
    {
        TRequestDialog request(f.Options);
        request.Show();
        ::ui::SimulateText(request, "Opened in.vek and pressed Start.");
        ::ui::PumpPending(false);
        request.SaveToPng(dir + "/request-dialog.png");
    }
    const char* names[] = {"general", "callstack", "modules", "cpu", "other"};
    for (int tab = 0; tab < 5; ++tab) {
        dialog.SelectPage(tab);
        const std::string path = dir + "/exception-dialog-" + names[tab] + ".png";
        dialog.SaveToPng(path);
        EXPECT_GT(std::filesystem::file_size(path), 1000u);
    }
}

} // namespace
