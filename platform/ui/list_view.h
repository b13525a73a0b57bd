#pragma once
// A report-style list view: a header with one column per field whose
// widths the user drags, rows inserted and deleted at a position, one
// selected and one focused row, and vertical and horizontal scrolling.
// With OwnerDraw the parent draws each row on WM_DRAWITEM (rcItem spans all
// columns, shifted by the horizontal scroll). Clicks and activations go to
// the parent as WM_NOTIFY with a ListViewActivate record (NM_CLICK,
// NM_DBLCLK, NM_RETURN); a finished column drag as HDN_ENDTRACK.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/ui/notify.h"
#include "platform/ui/window.h"

namespace ui {

enum : int { HDN_ENDTRACK = -306 };

enum class ColumnAlign { caLeft, caCenter, caRight };

struct ListColumn {
    std::string Caption;
    int Width = 80;
    ColumnAlign Align = ColumnAlign::caLeft;
};

struct ListItem {
    std::vector<std::string> Texts; // column 0 first
    int Image = -1;
    std::uintptr_t Data = 0;
};

struct ListViewActivate {
    NotifyHeader hdr;
    int iItem = -1;   // the row, -1: none
    int iSubItem = 0; // the column (HDN_ENDTRACK: the resized column)
    TPoint ptAction;  // the point in the list's client coordinates
};

class ListView : public Window {
public:
    explicit ListView(Window* parent);

    // Columns.
    void AddColumn(const std::string& caption, int width, ColumnAlign align = ColumnAlign::caLeft);
    int ColumnCount() const { return static_cast<int>(columns_.size()); }
    const ListColumn& Column(int index) const { return columns_.at(static_cast<size_t>(index)); }
    void SetColumnWidth(int index, int width);
    int ColumnWidth(int index) const { return Column(index).Width; }
    int TotalColumnWidth() const;
    std::function<void(int column)> OnColumnResized;

    // Rows. InsertItem at position (-1 or past the end: at the end) answers
    // the row's index.
    int InsertItem(int position, ListItem item);
    void SetItemText(int index, int column, const std::string& text);
    void DeleteItem(int index);
    void DeleteAllItems();
    int ItemCount() const { return static_cast<int>(items_.size()); }
    const ListItem& Item(int index) const { return items_.at(static_cast<size_t>(index)); }
    std::string ItemText(int index, int column) const;

    int Selected() const { return selected_; }
    void SetSelected(int index); // also focuses the row
    int FocusedItem() const { return focusedItem_; }

    bool OwnerDraw = false;
    int ItemHeight = 17;
    gdi::TColor TextColor = gdi::clWindowText;
    // Repainting off while many rows change; on again repaints.
    void SetRedraw(bool on);
    bool RedrawOn() const { return redraw_; }
    void RedrawItems(int first, int last);

    int HeaderHeight() const;
    // A row's rectangle in client coordinates (all columns, scrolled);
    // empty when the row is out of range.
    TRect ItemRect(int index) const;
    // The row at a client point, -1 for none.
    int ItemAt(TPoint p) const;
    // The divider at a header point (the column whose right edge it is), -1 for none.
    int DividerAt(TPoint p) const;

    int TopIndex() const { return top_; }
    void SetTopIndex(int index);
    int VisibleCount() const;
    int ScrollX() const { return scrollX_; }
    void SetScrollX(int x);
    void EnsureVisible(int index);

    static constexpr int kScrollBarWidth = 16;
    bool VScrollShown() const;
    bool HScrollShown() const;
    TRect RowsArea() const; // the client area below the header, inside the frame and scroll bars

    bool WantsDialogKey(unsigned vk) const override
    {
        return vk == VK_UP || vk == VK_DOWN || vk == VK_PRIOR || vk == VK_NEXT || vk == VK_HOME || vk == VK_END ||
            vk == VK_LEFT || vk == VK_RIGHT || vk == VK_RETURN;
    }
    void Paint(gdi::Canvas& canvas) override;

protected:
    void MouseDown(TPoint p, unsigned button, unsigned flags) override;
    void MouseMove(TPoint p, unsigned flags) override;
    void MouseUp(TPoint p, unsigned button, unsigned flags) override;
    void DoubleClick(TPoint p, unsigned flags) override;
    void MouseWheel(int steps) override;
    bool KeyDown(unsigned vk, unsigned modifiers) override;
    void Resized() override;

private:
    void Notify(int code, int item, TPoint p, int subItem = 0);
    bool ScrollBarMouseDown(TPoint p);
    void PaintHeader(gdi::Canvas& c);
    void PaintScrollBars(gdi::Canvas& c);
    int MaxTop() const;
    int MaxScrollX() const;

    std::vector<ListColumn> columns_;
    std::vector<ListItem> items_;
    int selected_ = -1;
    int focusedItem_ = -1;
    int top_ = 0;
    int scrollX_ = 0;
    bool redraw_ = true;
    int tracking_ = -1; // the column whose divider is being dragged
    int trackStart_ = 0;
};

// The text cut with "..." at its end so that it fits into width pixels in
// the canvas's font (the whole text when it fits).
std::string FitWithEllipsis(gdi::Canvas& canvas, const std::string& text, int width);

} // namespace ui
