// Controls and dialogs on the headless backend, driven by synthetic input.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "platform/rtl/exception.h"
#include "platform/ui/application.h"
#include "platform/ui/backend.h"
#include "platform/ui/button.h"
#include "platform/ui/clipboard.h"
#include "platform/ui/edit.h"
#include "platform/ui/headless.h"
#include "platform/ui/list_box.h"
#include "platform/ui/message_box.h"
#include "platform/ui/notify.h"
#include "platform/ui/progress_bar.h"

using namespace ui;

namespace {

struct Headless : ::testing::Test {
    void SetUp() override { ASSERT_TRUE(SelectBackend(BackendKind::bkHeadless)); }
    void TearDown() override
    {
        OnMessageBoxShown = nullptr;
        PumpPending(false);
    }
};

struct EditForm : Form {
    Edit* edit = Add<Edit>();
    Edit* second = Add<Edit>();
    EditForm()
    {
        SetBounds(100, 100, 300, 80);
        edit->SetBounds(10, 10, 200, 21);
        edit->TabOrder = 0;
        second->SetBounds(10, 40, 200, 21);
        second->TabOrder = 1;
        Show();
        PumpPending(false);
    }
};

void Pump() { PumpPending(false); }

} // namespace

using EditBox = Headless;

TEST_F(EditBox, TypingInsertsAtTheCaretAndBackspaceDeletes)
{
    EditForm f;
    ASSERT_TRUE(f.edit->Focused());
    SimulateText(f, "/tmp/a.vek");
    Pump();
    EXPECT_EQ(f.edit->Text(), "/tmp/a.vek");
    SimulateKey(f, VK_HOME);
    SimulateKey(f, VK_RIGHT);
    SimulateText(f, "x");
    Pump();
    EXPECT_EQ(f.edit->Text(), "/xtmp/a.vek");
    SimulateKey(f, VK_BACK);
    SimulateKey(f, VK_END);
    SimulateKey(f, VK_BACK);
    Pump();
    EXPECT_EQ(f.edit->Text(), "/tmp/a.ve");
    SimulateKey(f, VK_HOME);
    SimulateKey(f, VK_DELETE);
    Pump();
    EXPECT_EQ(f.edit->Text(), "tmp/a.ve");
}

TEST_F(EditBox, MultiByteCharactersAreEditedWhole)
{
    EditForm f;
    SimulateText(f,
                 "a\xE6\x96\x87"
                 "b"); // a, U+6587, b
    Pump();
    SimulateKey(f, VK_LEFT);
    SimulateKey(f, VK_BACK);
    Pump();
    EXPECT_EQ(f.edit->Text(), "ab");
    EXPECT_EQ(f.edit->CaretPos(), 1u);
}

TEST_F(EditBox, ShiftArrowsSelectAndTypingReplacesTheSelection)
{
    EditForm f;
    SimulateText(f, "hello world");
    SimulateKey(f, VK_HOME);
    for (int i = 0; i < 5; ++i) SimulateKey(f, VK_RIGHT, kmShift);
    Pump();
    EXPECT_EQ(f.edit->SelText(), "hello");
    SimulateText(f, "HI");
    Pump();
    EXPECT_EQ(f.edit->Text(), "HI world");
    // Ctrl+Shift+Left selects the word before the caret.
    SimulateKey(f, VK_END);
    SimulateKey(f, VK_LEFT, kmShift | kmCtrl);
    Pump();
    EXPECT_EQ(f.edit->SelText(), "world");
}

TEST_F(EditBox, MouseDragSelectsAndDoubleClickSelectsAWord)
{
    EditForm f;
    f.edit->SetText("alpha beta");
    Pump();
    SimulateDrag(*f.edit, TPoint{2, 10}, TPoint{199, 10});
    Pump();
    EXPECT_EQ(f.edit->SelText(), "alpha beta");
    SimulateClick(*f.edit, 2, 10);
    Pump();
    EXPECT_EQ(f.edit->SelLength(), 0u);
    EXPECT_EQ(f.edit->CaretPos(), 0u);
    SimulateDoubleClick(*f.edit, 8, 10);
    Pump();
    EXPECT_EQ(f.edit->SelText(), "alpha");
}

TEST_F(EditBox, CopyCutAndPasteGoThroughTheClipboard)
{
    EditForm f;
    Clipboard().SetText("pasted");
    SimulateText(f, "ab");
    SimulateKey(f, 'V', kmCtrl);
    Pump();
    EXPECT_EQ(f.edit->Text(), "abpasted");
    SimulateKey(f, 'A', kmCtrl);
    SimulateKey(f, 'X', kmCtrl);
    Pump();
    EXPECT_EQ(f.edit->Text(), "");
    EXPECT_EQ(Clipboard().GetText().value_or(""), "abpasted");
    // A single-line box takes the first line of a multi-line paste.
    Clipboard().SetText("line1\nline2");
    SimulateKey(f, VK_INSERT, kmShift);
    Pump();
    EXPECT_EQ(f.edit->Text(), "line1");
}

// The picture of an edit that does not have the focus.
std::vector<gdi::TColor> PictureOf(Edit& edit)
{
    gdi::Canvas canvas(edit.Width(), edit.Height());
    edit.Paint(canvas);
    std::vector<gdi::TColor> pixels;
    for (int y = 0; y < canvas.Height(); ++y)
        for (int x = 0; x < canvas.Width(); ++x) pixels.push_back(canvas.Pixel(x, y));
    return pixels;
}

TEST_F(EditBox, APasswordBoxShowsBulletsAndKeepsItsTextOffTheClipboard)
{
    Form f;
    f.SetBounds(100, 100, 300, 110);
    auto* button = f.Add<Button>("OK");
    button->SetBounds(10, 70, 80, 25);
    auto* password = f.Add<Edit>();
    password->SetBounds(10, 10, 200, 21);
    password->Password = true;
    auto* plain = f.Add<Edit>();
    plain->SetBounds(10, 40, 200, 21);
    f.Show();
    button->SetFocus();
    Pump();
    password->SetText("pa\xC3\x9F w0rd"); // "paß w0rd": eight characters, nine bytes
    plain->SetText("\xE2\x80\xA2\xE2\x80\xA2\xE2\x80\xA2\xE2\x80\xA2\xE2\x80\xA2\xE2\x80\xA2\xE2\x80\xA2\xE2\x80\xA2");
    EXPECT_EQ(PictureOf(*password), PictureOf(*plain)) << "a bullet for every character";
    plain->SetText(password->Text());
    EXPECT_NE(PictureOf(*password), PictureOf(*plain));

    Clipboard().SetText("before");
    password->SetFocus();
    SimulateKey(f, 'A', kmCtrl);
    SimulateKey(f, 'C', kmCtrl);
    SimulateKey(f, VK_INSERT, kmCtrl);
    SimulateKey(f, 'X', kmCtrl);
    SimulateKey(f, VK_DELETE, kmShift);
    Pump();
    EXPECT_EQ(Clipboard().GetText().value_or(""), "before") << "copy and cut are refused";
    EXPECT_EQ(password->Text(), "pa\xC3\x9F w0rd");
    // No word boundaries are given away: the text is one word.
    SimulateKey(f, VK_END);
    SimulateKey(f, VK_LEFT, kmShift | kmCtrl);
    Pump();
    EXPECT_EQ(password->SelLength(), password->Text().size());
    SimulateDoubleClick(*password, 8, 10);
    Pump();
    EXPECT_EQ(password->SelLength(), password->Text().size());
    // Pasting into it still works.
    SimulateKey(f, 'V', kmCtrl);
    Pump();
    EXPECT_EQ(password->Text(), "before");
}

TEST_F(EditBox, ReadOnlyAndMaxLengthAreHonoured)
{
    EditForm f;
    f.edit->MaxLength = 3;
    SimulateText(f, "abcdef");
    Pump();
    EXPECT_EQ(f.edit->Text(), "abc");
    f.edit->ReadOnly = true;
    SimulateKey(f, VK_BACK);
    SimulateText(f, "z");
    Pump();
    EXPECT_EQ(f.edit->Text(), "abc");
}

TEST_F(EditBox, MemoTakesEnterAndMovesBetweenLines)
{
    Form f;
    f.SetBounds(0, 0, 300, 200);
    Memo* memo = f.Add<Memo>();
    memo->SetBounds(5, 5, 280, 150);
    Button* ok = f.Add<Button>("OK");
    ok->Default = true;
    int clicks = 0;
    ok->OnClick = [&] { ++clicks; };
    f.Show();
    SimulateText(f, "one\ntwo");
    SimulateKey(f, VK_UP);
    SimulateText(f, "!");
    Pump();
    EXPECT_EQ(memo->Text(), "one!\ntwo");
    EXPECT_EQ(clicks, 0); // Enter stayed in the memo
}

using Focus = Headless;

TEST_F(Focus, TabAndShiftTabFollowTheTabOrderSkippingDisabledAndHidden)
{
    Form f;
    f.SetBounds(0, 0, 300, 200);
    Button* b2 = f.Add<Button>("b2");
    Edit* e0 = f.Add<Edit>();
    Button* b1 = f.Add<Button>("b1");
    CheckBox* hidden = f.Add<CheckBox>("hidden");
    StaticText* label = f.Add<StaticText>("label");
    b2->TabOrder = 3;
    e0->TabOrder = 0;
    b1->TabOrder = 1;
    hidden->TabOrder = 2;
    hidden->Hide();
    (void)label;
    f.Show();
    EXPECT_EQ(f.FocusedControl(), e0); // the first tab stop on showing
    SimulateKey(f, VK_TAB);
    Pump();
    EXPECT_EQ(f.FocusedControl(), b1);
    SimulateKey(f, VK_TAB);
    Pump();
    EXPECT_EQ(f.FocusedControl(), b2);
    SimulateKey(f, VK_TAB);
    Pump();
    EXPECT_EQ(f.FocusedControl(), e0); // wraps round
    SimulateKey(f, VK_TAB, kmShift);
    Pump();
    EXPECT_EQ(f.FocusedControl(), b2);
    b1->SetEnabled(false);
    SimulateKey(f, VK_TAB, kmShift);
    Pump();
    EXPECT_EQ(f.FocusedControl(), e0);
}

TEST_F(Focus, TypedTextFollowsTheFocusAfterAQueuedTab)
{
    EditForm f;
    // All queued before anything is handled, as a fast typist's keys are.
    SimulateText(f, "ab\tcd");
    Pump();
    EXPECT_EQ(f.edit->Text(), "ab");
    EXPECT_EQ(f.second->Text(), "cd");
}

TEST_F(Focus, ClickingAButtonFocusesAndPressesIt)
{
    EditForm f;
    Button* b = f.Add<Button>("Go");
    b->SetBounds(220, 10, 70, 25);
    int clicks = 0;
    b->OnClick = [&] { ++clicks; };
    SimulateClick(*b, 5, 5);
    Pump();
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(f.FocusedControl(), b);
    // Press inside, release outside: no click.
    SimulateDrag(*b, TPoint{5, 5}, TPoint{100, 100});
    Pump();
    EXPECT_EQ(clicks, 1);
    SimulateKey(f, VK_SPACE);
    Pump();
    EXPECT_EQ(clicks, 2);
}

using Dialogs = Headless;

TEST_F(Dialogs, EnterPressesTheDefaultButtonAndEscapeTheCancelButton)
{
    Form f;
    f.SetBounds(0, 0, 200, 100);
    Edit* e = f.Add<Edit>();
    e->SetBounds(5, 5, 100, 21);
    Button* ok = f.Add<Button>("OK");
    ok->Default = true;
    ok->ModalResult = mrOk;
    Button* cancel = f.Add<Button>("Cancel");
    cancel->Cancel = true;
    cancel->ModalResult = mrCancel;
    SimulateText(f, "x\n");
    EXPECT_EQ(f.ShowModal(), mrOk);
    EXPECT_EQ(e->Text(), "x");
    SimulateKey(f, VK_ESCAPE);
    EXPECT_EQ(f.ShowModal(), mrCancel);
    // Enter on a focused button presses that button, not the default one.
    SimulateKey(f, VK_TAB);
    SimulateKey(f, VK_TAB);
    SimulateKey(f, VK_RETURN);
    EXPECT_EQ(f.ShowModal(), mrCancel);
}

TEST_F(Dialogs, ModalFormDisablesItsOwnerUntilItCloses)
{
    EditForm owner;
    Form dialog;
    dialog.Owner = &owner;
    dialog.SetBounds(50, 50, 100, 60);
    bool ownerEnabledDuring = true;
    SetTimer(0, 0, 1, [&](HWND, std::uintptr_t id) {
        KillTimer(0, id);
        ownerEnabledDuring = owner.Enabled();
        // Input to the disabled owner is dropped.
        SimulateText(owner, "zz");
        dialog.Close();
    });
    EXPECT_EQ(dialog.ShowModal(), mrCancel);
    EXPECT_FALSE(ownerEnabledDuring);
    EXPECT_TRUE(owner.Enabled());
    EXPECT_EQ(owner.edit->Text(), "");
}

TEST_F(Dialogs, MessageBoxResults)
{
    std::string caption, text;
    int buttons = 0;
    OnMessageBoxShown = [&](MessageBoxForm& box) {
        caption = box.Caption();
        text = box.TextLabel()->Text();
        buttons = static_cast<int>(box.Buttons().size());
        SimulateKey(box, VK_RETURN);
    };
    EXPECT_EQ(ShowMessageBox(nullptr, "Done", "Title", MB_OK), mrOk);
    EXPECT_EQ(caption, "Title");
    EXPECT_EQ(text, "Done");
    EXPECT_EQ(buttons, 1);
    // Yes is the default of a Yes/No box.
    EXPECT_EQ(ShowMessageBox(nullptr, "Sure?", "Q", MB_YESNO | MB_ICONQUESTION), mrYes);
    EXPECT_EQ(buttons, 2);

    OnMessageBoxShown = [](MessageBoxForm& box) {
        SimulateKey(box, VK_TAB);
        SimulateKey(box, VK_RETURN);
    };
    EXPECT_EQ(ShowMessageBox(nullptr, "Sure?", "Q", MB_YESNO), mrNo);
    EXPECT_EQ(ShowMessageBox(nullptr, "Go on?", "Q", MB_OKCANCEL), mrCancel);
    // With MB_DEFBUTTON2 the second button is the default and has the focus.
    OnMessageBoxShown = [](MessageBoxForm& box) { SimulateKey(box, VK_RETURN); };
    EXPECT_EQ(ShowMessageBox(nullptr, "Replace?", "Q", MB_YESNO | MB_DEFBUTTON2), mrNo);
    EXPECT_EQ(ShowMessageBox(nullptr, "Go on?", "Q", MB_OKCANCEL | MB_DEFBUTTON2), mrCancel);

    // Escape: cancels an OK/Cancel box; does nothing in a Yes/No box.
    OnMessageBoxShown = [](MessageBoxForm& box) {
        SimulateKey(box, VK_ESCAPE);
        box.Close();
        SimulateClick(*box.Buttons().back(), 3, 3);
    };
    EXPECT_EQ(ShowMessageBox(nullptr, "Sure?", "Q", MB_YESNO), mrNo);
    EXPECT_EQ(ShowMessageBox(nullptr, "Go on?", "Q", MB_OKCANCEL), mrCancel);
}

TEST_F(Dialogs, MessageDlgConfirmationOffersYesAndNo)
{
    std::vector<std::string> captions;
    std::string title;
    OnMessageBoxShown = [&](MessageBoxForm& box) {
        title = box.Caption();
        captions.clear();
        for (Button* b : box.Buttons()) captions.push_back(b->Text());
        EXPECT_EQ(box.Icon(), MessageIcon::miQuestion);
        SimulateKey(box, VK_ESCAPE); // the framework's dialog takes No for Escape
    };
    EXPECT_EQ(ShowMessageDialog(nullptr, "Overwrite?", MsgDlgType::mtConfirmation, mbYes | mbNo), mrNo);
    EXPECT_EQ(title, "Confirm");
    EXPECT_EQ(captions, (std::vector<std::string>{"&Yes", "&No"}));
}

TEST_F(Dialogs, ApplicationShowsAnEscapedExceptionAndTheLoopGoesOn)
{
    App().Initialize();
    std::string shown;
    OnMessageBoxShown = [&](MessageBoxForm& box) {
        shown = box.TextLabel()->Text();
        EXPECT_EQ(box.Icon(), MessageIcon::miError);
        SimulateKey(box, VK_RETURN);
    };
    EditForm f;
    Button* b = f.Add<Button>("Fail");
    b->SetBounds(220, 10, 70, 25);
    int after = 0;
    b->OnClick = [&] {
        ++after;
        throw rtl::Exception("Cannot open file \"\". No such file or directory");
    };
    SimulateClick(*b, 5, 5);
    Pump();
    SimulateClick(*b, 5, 5);
    Pump();
    EXPECT_EQ(after, 2); // the loop went on after the first failure
    EXPECT_EQ(shown, "Cannot open file \"\". No such file or directory.");
    // A replaced hook takes over.
    int hooked = 0;
    App().OnException = [&](std::exception_ptr) { ++hooked; };
    shown.clear();
    SimulateClick(*b, 5, 5);
    Pump();
    App().OnException = nullptr;
    EXPECT_EQ(hooked, 1);
    EXPECT_EQ(shown, "");
}

using Controls = Headless;

TEST_F(Controls, CheckBoxTogglesAndProgressBarClampsAndAnswersMessages)
{
    Form f;
    f.SetBounds(0, 0, 200, 100);
    CheckBox* c = f.Add<CheckBox>("Tick");
    c->SetBounds(5, 5, 100, 17);
    ProgressBar* p = f.Add<ProgressBar>();
    p->SetBounds(5, 40, 150, 16);
    f.Show();
    SimulateKey(f, VK_SPACE);
    Pump();
    EXPECT_TRUE(c->Checked());
    SimulateClick(*c, 3, 3);
    Pump();
    EXPECT_FALSE(c->Checked());
    p->SetPosition(150);
    EXPECT_EQ(p->Position(), 100);
    EXPECT_EQ(SendMessage(p->Handle(), PBM_SETPOS, 40), 100);
    EXPECT_EQ(p->Position(), 40);
    // The bar's filled part shows in the picture: highlight colour at the
    // left of the inner area, button face at the far right.
    gdi::Bitmap shot = f.Snapshot();
    const uint8_t* row = shot.ScanLine(48);
    const gdi::TColor hl = gdi::ColorToRGB(gdi::clHighlight);
    EXPECT_EQ(row[(5 + 4) * 3 + 2], gdi::GetRValue(hl));
    EXPECT_EQ(row[(5 + 4) * 3 + 0], gdi::GetBValue(hl));
    const gdi::TColor face = gdi::ColorToRGB(gdi::clBtnFace);
    EXPECT_EQ(row[(5 + 140) * 3 + 0], gdi::GetBValue(face));
}

TEST_F(Controls, ListBoxKeyboardAndActivation)
{
    Form f;
    f.SetBounds(0, 0, 200, 200);
    ListBox* l = f.Add<ListBox>();
    l->SetBounds(5, 5, 150, 100);
    l->SetItems({"a", "b", "c"});
    int activated = -1;
    l->OnActivate = [&] { activated = l->ItemIndex(); };
    f.Show();
    SimulateKey(f, VK_DOWN);
    SimulateKey(f, VK_DOWN);
    Pump();
    EXPECT_EQ(l->ItemIndex(), 1);
    SimulateKey(f, VK_END);
    Pump();
    EXPECT_EQ(l->ItemIndex(), 2);
    SimulateDoubleClick(*l, 10, 2 + l->ItemHeight / 2);
    Pump();
    EXPECT_EQ(activated, 0);
}

TEST_F(Controls, OwnerDrawnListAsksItsParentToDrawEachItem)
{
    struct Host : Form {
        std::vector<std::pair<int, unsigned>> drawn;
        std::vector<int> notified;
        LRESULT WndProc(UINT message, WPARAM wParam, LPARAM lParam) override
        {
            if (message == WM_DRAWITEM) {
                auto* p = reinterpret_cast<DrawItemParams*>(lParam);
                drawn.emplace_back(p->itemId, p->itemState);
                p->canvas->Brush.Color = gdi::clRed;
                p->canvas->FillRect(p->rcItem);
                return 1;
            }
            if (message == WM_NOTIFY) notified.push_back(reinterpret_cast<NotifyHeader*>(lParam)->code);
            return Form::WndProc(message, wParam, lParam);
        }
    } f;
    f.SetBounds(0, 0, 200, 200);
    ListBox* l = f.Add<ListBox>();
    l->Id = 7;
    l->OwnerDraw = true;
    l->SetBounds(5, 5, 150, 100);
    l->SetItems({"a", "b"});
    l->SetItemIndex(1);
    f.Show();
    Pump();
    ASSERT_EQ(f.drawn.size(), 2u);
    EXPECT_EQ(f.drawn[0], std::make_pair(0, 0u));
    EXPECT_EQ(f.drawn[1], std::make_pair(1, unsigned(ODS_SELECTED | ODS_FOCUS)));
    // What the parent drew is in the list's picture.
    gdi::Bitmap shot = f.Snapshot();
    EXPECT_EQ(shot.ScanLine(5 + 2 + 3)[(5 + 10) * 3 + 2], 255);
    SimulateDoubleClick(*l, 10, 2 + l->ItemHeight + 3);
    Pump();
    EXPECT_EQ(f.notified, std::vector<int>{NM_DBLCLK});
}

// Boxes take the size of their texts: Chinese characters come from a taller
// fallback font, and the Latin letters beside them keep their descenders;
// a short text does not cut the caption.
TEST_F(Dialogs, MessageBoxesAreSizedToTheirTextsAndCaptions)
{
    const std::string question = "\xE6\x98\xAF\xE5\x90\xA6\xE8\xA6\x86\xE7\x9B\x96 /tmp/gui_out.avi?";
    const std::string caption = "AVI\xE6\x96\x87\xE4\xBB\xB6\xE8\xBD\xAC\xE6\x8D\xA2";
    struct Seen {
        TRect label;
        int width = 0, height = 0;
        int textHeight = 0, captionWidth = 0;
    } seen;
    OnMessageBoxShown = [&](MessageBoxForm& box) {
        seen.label = box.TextLabel()->BoundsRect();
        seen.width = box.Width();
        seen.height = box.Height();
        gdi::Canvas measure(1, 1);
        measure.Font = box.TextLabel()->Font;
        seen.textHeight = measure.TextHeight(box.TextLabel()->Text());
        seen.captionWidth = measure.TextWidth(box.Caption());
        SimulateKey(box, VK_RETURN);
    };
    ShowMessageDialog(nullptr, question, MsgDlgType::mtConfirmation, mbYes | mbNo);
    EXPECT_GE(seen.label.Height(), seen.textHeight) << "the label cuts the line's descenders";

    ShowMessageBox(nullptr, "AVI\xE6\x96\x87\xE4\xBB\xB6\xE8\xBD\xAC\xE6\x8D\xA2\xE6\x88\x90\xE5\x8A\x9F", caption,
                   MB_OK);
    EXPECT_GE(seen.label.Height(), seen.textHeight);
    EXPECT_GE(seen.width, seen.captionWidth + 96) << "room for the caption beside the title bar's buttons";
    EXPECT_GE(seen.width, 200);
}

// Long texts wrap (a path without blanks breaks between characters), the box
// stays within two thirds of the screen's width, and the end of the text, the
// reason, is drawn inside the label.
TEST_F(Dialogs, LongTextsWrapAndNothingIsHidden)
{
    const std::string reason = "No such file or directory.";
    const std::string ordinary = "/home/user/projects/2026/recordings/session-long-name/" + std::string(50, 'v') + ".vek";
    std::string huge = "/";
    while (huge.size() < 3000) huge += "very-long-folder-name/";
    for (const std::string& path : {ordinary, huge}) {
        SCOPED_TRACE(path.size());
        const std::string text = "Cannot open file \"" + path + "\". " + reason;
        TRect label{}, box{};
        TSize needed{};
        int lineHeight = 0;
        int inkRows = 0, lastInkRow = -1;
        OnMessageBoxShown = [&](MessageBoxForm& b) {
            label = b.TextLabel()->BoundsRect();
            box = b.BoundsRect();
            gdi::Canvas measure(1, 1);
            measure.Font = b.TextLabel()->Font;
            needed = MeasureTextBlock(measure, text, label.Width());
            lineHeight = measure.TextHeight("Ag");
            // Rows of the label with dark (text) pixels.
            const gdi::Bitmap shot = b.Snapshot();
            for (int y = label.Top; y < label.Bottom; ++y) {
                bool ink = false;
                const uint8_t* row = shot.ScanLine(y); // blue, green, red
                for (int x = label.Left; x < label.Right && !ink; ++x) ink = row[x * 3 + 2] < 100;
                if (ink) ++inkRows, lastInkRow = y;
            }
            SimulateKey(b, VK_RETURN);
        };
        ShowMessageBox(nullptr, text, "Error", MB_OK | MB_ICONERROR);
        EXPECT_LE(box.Width(), Form::ScreenSize().cx * 2 / 3);
        EXPECT_LE(needed.cx, label.Width()) << "a line runs past the label";
        EXPECT_LE(needed.cy, label.Height()) << "lines are cut at the bottom";
        EXPECT_LE(label.Right, box.Width());
        EXPECT_GT(inkRows, 0);
        // The last line (the reason) is drawn near the label's bottom.
        EXPECT_GE(lastInkRow, label.Top + needed.cy - lineHeight) << "the last line is not drawn";
    }
}
