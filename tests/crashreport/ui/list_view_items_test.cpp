// The grouped report list: nesting and indents, separators, folding and
// unfolding groups by the sign or by activation, and the colours drawn.
#include <gtest/gtest.h>

#include "crashreport/ui/list_view_items.h"
#include "platform/ui/backend.h"
#include "platform/ui/form.h"
#include "platform/ui/headless.h"

namespace {

using namespace crashreport::ui;

class ListViewItems : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(::ui::SelectBackend(::ui::BackendKind::bkHeadless));
        form = std::make_unique<::ui::Form>();
        form->SetBounds(0, 0, 600, 400);
        list = form->Add<::ui::ListView>();
        list->SetBounds(0, 0, 600, 400);
        list->OwnerDraw = true;
        list->AddColumn("Address", 120);
        list->AddColumn("Line", 60, ::ui::ColumnAlign::caRight);
        items = std::make_unique<TListViewItems>(*list);
        form->OnMessage = [this](::ui::Window&, const ::ui::Msg& m, ::ui::LRESULT& r) {
            if (m.message != ::ui::WM_DRAWITEM) return false;
            r = items->DrawRow(*reinterpret_cast<const ::ui::DrawItemParams*>(m.lParam));
            return true;
        };
    }
    void TearDown() override
    {
        items.reset();
        form.reset();
    }
    std::vector<std::string> Texts() const
    {
        std::vector<std::string> t;
        for (int i = 0; i < list->ItemCount(); ++i) t.push_back(list->ItemText(i, 0));
        return t;
    }
    // Whether a colour appears in a row of the painted list.
    bool RowHasColor(int position, gdi::TColor color)
    {
        const gdi::Bitmap b = form->Snapshot();
        const ::ui::TRect r = list->ItemRect(position);
        for (int y = std::max(0, r.Top); y < r.Bottom && y < b.Height(); ++y)
            for (int x = std::max(0, r.Left); x < r.Right && x < b.Width(); ++x) {
                const std::uint8_t* p = b.ScanLine(y) + x * 3;
                if (gdi::RGB(p[2], p[1], p[0]) == color) return true;
            }
        return false;
    }
    std::unique_ptr<::ui::Form> form;
    ::ui::ListView* list = nullptr;
    std::unique_ptr<TListViewItems> items;
};

TEST_F(ListViewItems, NestedGroupsIndentTheirRowsAndASeparatorEndsTheNesting)
{
    items->AddRow({"", ""}, "Thread 1", true, 1, -1);
    items->AddRow({"A1", "1"}, "", false, 0, 3);
    items->AddRow({"", ""}, "Inner", true, 0, -1);
    items->AddRow({"A2", "2"}, "", false, 0, 0);
    items->AddRow({" ", ""}, "", false, 0, -1);
    items->AddRow({"A3", ""}, "", false, 0, 0);
    EXPECT_GE(items->IndentStep(), 14);
    EXPECT_EQ(items->GetRow(1)->IndentLevel, 0);
    EXPECT_EQ(items->GetRow(3)->IndentLevel, 1);
    EXPECT_EQ(items->GetRow(3)->Columns[0], items->IndentText() + "A2");
    EXPECT_TRUE(items->GetRow(4)->IsSeparator);
    EXPECT_EQ(items->NestingCount(), 0);
    EXPECT_EQ(items->GetRow(5)->Parent, nullptr) << "no parent after a separator";
    EXPECT_EQ(items->GetRow(3)->Parent, items->GetRow(2));
    EXPECT_EQ(list->ItemCount(), 6);
}

TEST_F(ListViewItems, FoldingRemovesTheRowsUpToTheSeparatorAndUnfoldingPutsThemBack)
{
    items->AddRow({"", ""}, "Thread 1", true, 1, -1);
    items->AddRow({"A1", "1"}, "", false, 0, 3);
    items->AddRow({"A2", "2"}, "", false, 0, 3);
    items->AddRow({"", ""}, "", false, 0, -1);
    items->AddRow({"", ""}, "Thread 2", true, 1, -1);
    items->AddRow({"B1", ""}, "", false, 0, 0);
    const std::vector<std::string> all = Texts();
    form->Show();
    const ::ui::TRect first = list->ItemRect(0);
    // A group without parent: its sign spans x 2..12, y 2..12 of the row.
    items->ToggleGroup(0, ::ui::TPoint{first.Left + 20, first.Top + 7}, true);
    EXPECT_EQ(list->ItemCount(), 6) << "x = 20 misses the sign";
    items->ToggleGroup(0, ::ui::TPoint{first.Left + 7, first.Top + 7}, true);
    EXPECT_EQ(Texts(), (std::vector<std::string>{"", "", "", "B1"}));
    EXPECT_FALSE(items->GetRow(0)->Expanded);
    EXPECT_FALSE(items->GetRow(1)->Visible);
    EXPECT_TRUE(list->RedrawOn()) << "redrawing is back on";
    items->ToggleGroup(0, ::ui::TPoint{first.Left + 300, first.Top + 15}, false);
    EXPECT_EQ(Texts(), all);
    // A group after a separator has no parent either; one after a row has,
    // and its sign starts one indent step further right.
    EXPECT_EQ(items->GetRow(4)->Parent, nullptr);
    items->AddRow({"", ""}, "Thread 3", true, 0, -1);
    items->AddRow({"C1", ""}, "", false, 0, 0);
    ASSERT_EQ(items->GetRow(6)->Parent, items->GetRow(5));
    const ::ui::TRect g3 = list->ItemRect(6);
    items->ToggleGroup(6, ::ui::TPoint{g3.Left + 7, g3.Top + 7}, true);
    EXPECT_EQ(list->ItemCount(), 8);
    items->ToggleGroup(6, ::ui::TPoint{g3.Left + items->IndentStep() + 7, g3.Top + 7}, true);
    EXPECT_EQ(list->ItemCount(), 7);
    // Folding the outer group takes the folded inner group's row with it;
    // unfolding stops after the folded inner group.
    items->ToggleGroup(4, ::ui::TPoint{0, 0}, false);
    EXPECT_EQ(list->ItemCount(), 5);
    items->ToggleGroup(4, ::ui::TPoint{0, 0}, false);
    EXPECT_EQ(list->ItemCount(), 7);
    // A normal row does not fold anything.
    items->ToggleGroup(1, ::ui::TPoint{0, 0}, false);
    EXPECT_EQ(list->ItemCount(), 7);
}

TEST_F(ListViewItems, GroupCaptionsTakeTheirColoursAndSeparatorsHaveNoRowLine)
{
    items->AddRow({"", ""}, "First", true, 0, -1);
    items->AddRow({"A1", "1"}, "", false, 0, 3);
    items->AddRow({"", ""}, "", false, 0, -1);
    items->AddRow({"", ""}, "Highlighted", true, 1, -1);
    items->AddRow({"", ""}, "", false, 0, -1);
    items->AddRow({"", ""}, "Plain", true, 0, -1);
    form->Show();
    EXPECT_TRUE(RowHasColor(0, rowcolors::FirstGroup));
    EXPECT_TRUE(RowHasColor(0, rowcolors::GroupUnderline));
    EXPECT_TRUE(RowHasColor(3, rowcolors::HighlightGroup));
    EXPECT_FALSE(RowHasColor(3, rowcolors::FirstGroup));
    EXPECT_TRUE(RowHasColor(5, rowcolors::PlainGroup));
    EXPECT_TRUE(RowHasColor(1, rowcolors::RowLine));
    EXPECT_FALSE(RowHasColor(2, rowcolors::RowLine));
    list->SetSelected(1);
    EXPECT_TRUE(RowHasColor(1, rowcolors::Selected));
    // The plain caption starts one indent step further right.
    auto firstColumnOf = [&](int position, gdi::TColor color) {
        const gdi::Bitmap b = form->Snapshot();
        const ::ui::TRect r = list->ItemRect(position);
        for (int x = r.Left; x < r.Right; ++x)
            for (int y = r.Top; y < r.Bottom - 2; ++y) {
                const std::uint8_t* p = b.ScanLine(y) + x * 3;
                if (gdi::RGB(p[2], p[1], p[0]) == color) return x;
            }
        return -1;
    };
    EXPECT_GE(firstColumnOf(5, rowcolors::PlainGroup) - firstColumnOf(3, rowcolors::HighlightGroup),
              items->IndentStep() - 2);
}

} // namespace

namespace {

// A procedure too long for its column keeps its marks: the name is cut.
TEST(FitCellText, ALongProcedureKeepsItsMarksAndTheNameIsCut)
{
    gdi::Canvas canvas(1, 1);
    const std::string name = "__invoke_impl<void, ui::DispatchMessage(const Msg&)::<lambda()>&>";
    struct TCase {
        std::string Text, Marks;
    };
    const TCase cases[] = {
        {name + " [inlined]", " [inlined]"},
        {name + " [scan]", " [scan]"},
        {name + " [inlined] [scan]", " [inlined] [scan]"},
        {name, ""},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Text);
        const int width = canvas.TextWidth(c.Text) / 2;
        const std::string fitted = FitCellText(canvas, c.Text, width);
        EXPECT_LE(canvas.TextWidth(fitted), width);
        EXPECT_EQ(fitted.rfind("__invoke", 0), 0u) << fitted;
        EXPECT_EQ(fitted.size() >= c.Marks.size() && fitted.compare(fitted.size() - c.Marks.size(), c.Marks.size(),
                                                                   c.Marks) == 0,
                  true)
            << fitted;
        EXPECT_NE(fitted.find("..."), std::string::npos) << fitted;
        // A text that fits is left as it is.
        EXPECT_EQ(FitCellText(canvas, c.Text, canvas.TextWidth(c.Text)), c.Text);
    }
}

} // namespace
