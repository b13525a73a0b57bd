// The controls of the report dialogs: the rich text reader and view, the
// report list view with its header, the tab control, dialog units and the
// window placement of a form.
#include <gtest/gtest.h>

#include <thread>

#include "platform/ui/application.h"
#include "platform/ui/backend.h"
#include "platform/ui/dialog_units.h"
#include "platform/ui/form.h"
#include "platform/ui/headless.h"
#include "platform/ui/list_view.h"
#include "platform/ui/message_queue.h"
#include "platform/ui/rich_text_view.h"
#include "platform/ui/rtf_reader.h"
#include "platform/ui/tab_control.h"

namespace {

using namespace ui;

class ReportControls : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(SelectBackend(BackendKind::bkHeadless)); }
};

TEST(RtfReader, ColoursBoldEscapesAndUnicode)
{
    const RichDocument doc = ParseRTF(
        "{\\rtf1\\ansi{\\fonttbl{\\f0\\fmodern Lucida Console;}}\r\n{\\colortbl ;\\red0\\green100\\blue100;"
        "\\red0\\green0\\blue160;}\\f0\\fs16\r\n\\cf1\\b Title\\b0\\par\r\n\\cf2 a\\{b\\}c\\\\ \\u20013?\\u25991?"
        "\\'e9\\tab x\\par\r\n\\u-10179?\\u-8704?}");
    EXPECT_EQ(doc.FontFace, "Lucida Console");
    EXPECT_EQ(doc.PointSize, 8);
    ASSERT_EQ(doc.Lines.size(), 3u);
    ASSERT_EQ(doc.Lines[0].Runs.size(), 1u);
    EXPECT_EQ(doc.Lines[0].Runs[0].Text, "Title");
    EXPECT_TRUE(doc.Lines[0].Runs[0].Bold);
    EXPECT_EQ(doc.Lines[0].Runs[0].Color, gdi::RGB(0, 100, 100));
    EXPECT_EQ(doc.Lines[1].Text(), "a{b}c\\ \xE4\xB8\xAD\xE6\x96\x87\xC3\xA9\tx");
    EXPECT_EQ(doc.Lines[1].Runs[0].Color, gdi::RGB(0, 0, 160));
    EXPECT_FALSE(doc.Lines[1].Runs[0].Bold);
    EXPECT_EQ(doc.Lines[2].Text(), "\xF0\x9F\x98\x80") << "a surrogate pair";
}

TEST(RtfReader, DamagedInputGivesWhatCouldBeRead)
{
    EXPECT_EQ(ParseRTF("").PlainText(), "");
    EXPECT_EQ(ParseRTF("}}}abc{").PlainText(), "abc");
    EXPECT_EQ(ParseRTF("abc\\").PlainText(), "abc");
    EXPECT_EQ(ParseRTF("\\'4").PlainText(), "\x04") << "a cut escape reads its one digit";
    EXPECT_EQ(ParseRTF("\\cf99 x").Lines[0].Runs[0].Color, gdi::RGB(0, 0, 0));
    const std::string deep = std::string(100000, '{') + "deep" + std::string(100000, '}');
    EXPECT_EQ(ParseRTF(deep).PlainText(), "deep");
    EXPECT_EQ(ParseRTF("{\\*\\generator hidden;}shown").PlainText(), "shown");
}

TEST_F(ReportControls, RichTextViewScrollsSelectsAndCopies)
{
    Form form;
    form.SetBounds(0, 0, 400, 300);
    auto* view = form.Add<RichTextView>();
    view->SetBounds(0, 0, 400, 300);
    std::string text;
    for (int i = 0; i < 1000; ++i) text += "line " + std::to_string(i) + "\r\n";
    text += std::string(100000, 'w');
    view->SetPlainText(text);
    form.Show();
    EXPECT_EQ(view->Document().Lines.size(), 1001u);
    view->SetFocus();
    SimulateKey(form, VK_NEXT);
    PumpPending(false);
    EXPECT_EQ(view->TopLine(), view->VisibleLines());
    SimulateKey(form, VK_END);
    PumpPending(false);
    EXPECT_GT(view->ScrollX(), 90000 * 5) << "a 100,000-character line scrolls to its end";
    form.PaintNow();
    SimulateKey(form, 'A', kmCtrl);
    PumpPending(false);
    EXPECT_EQ(view->SelFirst(), 0);
    EXPECT_EQ(view->SelLast(), 1000);
    EXPECT_EQ(view->SelText().substr(0, 13), "line 0\nline 1");
}

TEST_F(ReportControls, ListViewInsertsDeletesAndKeepsTheSelection)
{
    Form form;
    form.SetBounds(0, 0, 400, 300);
    auto* list = form.Add<ListView>();
    list->SetBounds(0, 0, 400, 300);
    list->AddColumn("A", 100);
    list->AddColumn("B", 100, ColumnAlign::caRight);
    for (int i = 0; i < 5; ++i) list->InsertItem(-1, ListItem{{std::to_string(i), "b"}, -1, 0});
    list->SetSelected(3);
    list->InsertItem(1, ListItem{{"new"}, -1, 0});
    EXPECT_EQ(list->ItemText(1, 0), "new");
    EXPECT_EQ(list->Selected(), 4) << "the selection follows its row";
    list->DeleteItem(4);
    EXPECT_EQ(list->Selected(), -1);
    list->InsertItem(99, ListItem{{"last"}, -1, 0});
    EXPECT_EQ(list->ItemText(list->ItemCount() - 1, 0), "last");
    EXPECT_EQ(list->ItemText(0, 7), "");
}

TEST_F(ReportControls, ListViewHeaderDragResizesAndNotifiesTheParent)
{
    Form form;
    form.SetBounds(0, 0, 400, 300);
    auto* list = form.Add<ListView>();
    list->SetBounds(0, 0, 400, 300);
    list->OwnerDraw = true;
    list->AddColumn("A", 100);
    list->AddColumn("B", 100);
    for (int i = 0; i < 10000; ++i) list->InsertItem(-1, ListItem{{std::to_string(i)}, -1, 0});
    std::vector<int> codes, rows, drawn;
    form.OnMessage = [&](Window&, const Msg& m, LRESULT&) {
        if (m.message == WM_NOTIFY) {
            const auto* a = reinterpret_cast<const ListViewActivate*>(m.lParam);
            codes.push_back(a->hdr.code);
            rows.push_back(a->hdr.code == HDN_ENDTRACK ? a->iSubItem : a->iItem);
        } else if (m.message == WM_DRAWITEM) {
            drawn.push_back(reinterpret_cast<const DrawItemParams*>(m.lParam)->itemId);
        }
        return false;
    };
    form.Show();
    form.PaintNow();
    EXPECT_LE(drawn.size(), static_cast<size_t>(list->VisibleCount() + 1)) << "only the visible rows are drawn";
    const int y = 2 + list->HeaderHeight() / 2;
    SimulateDrag(*list, TPoint{102, y}, TPoint{142, y});
    PumpPending(false);
    EXPECT_EQ(list->ColumnWidth(0), 140);
    const TRect row2 = list->ItemRect(2);
    SimulateClick(*list, row2.Left + 10, row2.Top + 3);
    SimulateDoubleClick(*list, row2.Left + 10, row2.Top + 3);
    PumpPending(false);
    ASSERT_GE(codes.size(), 3u);
    EXPECT_EQ(codes[0], HDN_ENDTRACK);
    EXPECT_EQ(rows[0], 0);
    EXPECT_EQ(codes[1], NM_CLICK);
    EXPECT_EQ(rows[1], 2);
    EXPECT_EQ(list->Selected(), 2);
    EXPECT_EQ(codes.back(), NM_DBLCLK);
    SimulateKey(form, VK_END);
    PumpPending(false);
    EXPECT_EQ(list->Selected(), 9999);
    EXPECT_EQ(list->TopIndex(), 10000 - list->VisibleCount());
}

TEST_F(ReportControls, EllipsisFitsAnyText)
{
    gdi::Canvas c(1, 1);
    const std::string huge(100 * 1024, 'm');
    const std::string cut = FitWithEllipsis(c, huge, 200);
    EXPECT_LE(c.TextWidth(cut), 200);
    EXPECT_EQ(cut.substr(cut.size() - 3), "...");
    EXPECT_EQ(FitWithEllipsis(c, "short", 200), "short");
    EXPECT_EQ(FitWithEllipsis(c, "short", 0), "");
    const std::string cjk = "\xE4\xB8\xAD\xE6\x96\x87\xE4\xB8\xAD\xE6\x96\x87\xE4\xB8\xAD\xE6\x96\x87";
    const std::string part = FitWithEllipsis(c, cjk, c.TextWidth(cjk) - 1);
    EXPECT_EQ(part.size() % 3, 0u) << "cut on a character boundary";
}

TEST_F(ReportControls, TabControlSelectsByClickAndKeys)
{
    Form form;
    form.SetBounds(0, 0, 400, 300);
    auto* tabs = form.Add<TabControl>();
    tabs->SetBounds(0, 0, 400, 300);
    tabs->SetTabs({"&General", "Call Stack", "CPU"});
    std::vector<int> codes;
    form.OnMessage = [&](Window&, const Msg& m, LRESULT&) {
        if (m.message == WM_NOTIFY) codes.push_back(reinterpret_cast<const NotifyHeader*>(m.lParam)->code);
        return false;
    };
    form.Show();
    const TRect second = tabs->TabRect(1);
    SimulateClick(*tabs, second.Left + 3, second.Top + 3);
    PumpPending(false);
    EXPECT_EQ(tabs->TabIndex(), 1);
    EXPECT_EQ(codes, (std::vector<int>{TCN_SELCHANGING, TCN_SELCHANGE}));
    SimulateKey(form, VK_RIGHT);
    SimulateKey(form, VK_RIGHT);
    PumpPending(false);
    EXPECT_EQ(tabs->TabIndex(), 2);
    EXPECT_TRUE(tabs->DisplayRect().Top >= tabs->StripHeight());
    tabs->SetTabIndex(0);
    EXPECT_EQ(codes.size(), 4u) << "setting the index does not notify";
}

TEST_F(ReportControls, DialogUnitsAndWindowPlacement)
{
    gdi::TFont small;
    small.SetSize(8);
    gdi::TFont big = small;
    big.SetSize(16);
    const DialogBaseUnits a = BaseUnitsOf(small), b = BaseUnitsOf(big);
    EXPECT_GT(b.cx, a.cx);
    EXPECT_GT(b.cy, a.cy);
    const TRect r = DialogRect(a, 4, 8, 8, 16);
    EXPECT_EQ(r.Left, a.cx);
    EXPECT_EQ(r.Top, a.cy);
    EXPECT_EQ(r.Width(), 2 * a.cx);
    EXPECT_EQ(r.Height(), 2 * a.cy);

    Form form;
    form.SetBounds(50, 60, 300, 200);
    form.Show();
    form.SetWindowState(WindowState::wsMaximized);
    const TSize screen = Form::ScreenSize();
    EXPECT_EQ(form.BoundsRect(), (TRect{0, 0, screen.cx, screen.cy}));
    EXPECT_EQ(form.NormalBounds(), (TRect{50, 60, 350, 260}));
    form.SetWindowState(WindowState::wsNormal);
    EXPECT_EQ(form.BoundsRect(), (TRect{50, 60, 350, 260}));

    // Another thread asks for the window back (the crash reporter does so
    // before its dialog): minimised, it is restored and comes to the front.
    form.SetWindowState(WindowState::wsMinimized);
    std::thread([&] { PostMessage(form.Handle(), WM_SYSCOMMAND, SC_RESTORE); }).join();
    App().ProcessMessages();
    EXPECT_EQ(form.State(), WindowState::wsNormal);
    EXPECT_EQ(ActiveForm(), &form);
}

} // namespace
