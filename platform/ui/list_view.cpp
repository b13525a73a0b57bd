#include "platform/ui/list_view.h"

#include <algorithm>

#include "platform/ui/edit.h"
#include "platform/ui/frames.h"

namespace ui {

namespace {
constexpr int kDividerGrip = 3; // pixels either side of a column edge that start a drag
} // namespace

std::string FitWithEllipsis(gdi::Canvas& canvas, const std::string& text, int width)
{
    if (width <= 0) return {};
    // No glyph is narrower than a pixel: a longer text never fits, so only
    // its first `width` characters are ever measured.
    size_t cut = 0;
    for (int n = 0; cut < text.size() && n <= width; ++n) cut = NextCharOffset(text, cut);
    if (cut >= text.size() && canvas.TextWidth(text) <= width) return text;
    const std::string dots = "...";
    const int dotsWidth = canvas.TextWidth(dots);
    if (dotsWidth > width) return {};
    size_t lo = 0, hi = cut; // lo fits, hi does not (or is the cut)
    while (lo < hi) {
        size_t mid = lo + (hi - lo + 1) / 2;
        while (mid > lo && mid < text.size() && (static_cast<unsigned char>(text[mid]) & 0xC0) == 0x80) --mid;
        if (mid == lo) break;
        if (canvas.TextWidth(text.substr(0, mid)) + dotsWidth <= width)
            lo = mid;
        else
            hi = mid - 1;
    }
    while (lo > 0 && lo < text.size() && (static_cast<unsigned char>(text[lo]) & 0xC0) == 0x80) --lo;
    return text.substr(0, lo) + dots;
}

ListView::ListView(Window* parent) : Window(parent)
{
    TabStop = true;
    Color = gdi::clWindow;
}

void ListView::AddColumn(const std::string& caption, int width, ColumnAlign align)
{
    columns_.push_back(ListColumn{caption, std::max(0, width), align});
    Invalidate();
}

void ListView::SetColumnWidth(int index, int width)
{
    if (index < 0 || index >= ColumnCount()) return;
    columns_[static_cast<size_t>(index)].Width = std::clamp(width, 0, 100000);
    scrollX_ = std::min(scrollX_, MaxScrollX());
    Invalidate();
}

int ListView::TotalColumnWidth() const
{
    int total = 0;
    for (const ListColumn& c : columns_) total += c.Width;
    return total;
}

int ListView::InsertItem(int position, ListItem item)
{
    if (position < 0 || position > ItemCount()) position = ItemCount();
    items_.insert(items_.begin() + position, std::move(item));
    if (selected_ >= position) ++selected_;
    if (focusedItem_ >= position) ++focusedItem_;
    if (redraw_) Invalidate();
    return position;
}

void ListView::SetItemText(int index, int column, const std::string& text)
{
    if (index < 0 || index >= ItemCount() || column < 0) return;
    auto& texts = items_[static_cast<size_t>(index)].Texts;
    if (texts.size() <= static_cast<size_t>(column)) texts.resize(static_cast<size_t>(column) + 1);
    texts[static_cast<size_t>(column)] = text;
    if (redraw_) Invalidate();
}

std::string ListView::ItemText(int index, int column) const
{
    if (index < 0 || index >= ItemCount() || column < 0) return {};
    const auto& texts = items_[static_cast<size_t>(index)].Texts;
    return static_cast<size_t>(column) < texts.size() ? texts[static_cast<size_t>(column)] : std::string();
}

void ListView::DeleteItem(int index)
{
    if (index < 0 || index >= ItemCount()) return;
    items_.erase(items_.begin() + index);
    auto adjust = [&](int& row) {
        if (row == index)
            row = -1;
        else if (row > index)
            --row;
    };
    adjust(selected_);
    adjust(focusedItem_);
    top_ = std::min(top_, MaxTop());
    if (redraw_) Invalidate();
}

void ListView::DeleteAllItems()
{
    items_.clear();
    selected_ = focusedItem_ = -1;
    top_ = 0;
    Invalidate();
}

void ListView::SetSelected(int index)
{
    index = items_.empty() ? -1 : std::clamp(index, -1, ItemCount() - 1);
    selected_ = focusedItem_ = index;
    EnsureVisible(index);
    Invalidate();
}

void ListView::SetRedraw(bool on)
{
    redraw_ = on;
    if (on) {
        top_ = std::min(top_, MaxTop());
        Invalidate();
    }
}

void ListView::RedrawItems(int, int)
{
    if (redraw_) Invalidate();
}

int ListView::HeaderHeight() const
{
    gdi::Canvas measure(1, 1);
    measure.Font = Font;
    return measure.TextHeight("Ag") + 6;
}

bool ListView::HScrollShown() const { return TotalColumnWidth() > Width() - 4 - kScrollBarWidth; }

bool ListView::VScrollShown() const
{
    const int rowsHeight = Height() - 4 - HeaderHeight() - (TotalColumnWidth() > Width() - 4 ? kScrollBarWidth : 0);
    return ItemCount() * std::max(1, ItemHeight) > rowsHeight;
}

TRect ListView::RowsArea() const
{
    return TRect{2, 2 + HeaderHeight(), std::max(2, Width() - 2 - (VScrollShown() ? kScrollBarWidth : 0)),
                 std::max(2 + HeaderHeight(), Height() - 2 - (HScrollShown() ? kScrollBarWidth : 0))};
}

int ListView::VisibleCount() const { return std::max(1, RowsArea().Height() / std::max(1, ItemHeight)); }
int ListView::MaxTop() const { return std::max(0, ItemCount() - VisibleCount()); }
int ListView::MaxScrollX() const { return std::max(0, TotalColumnWidth() - RowsArea().Width()); }

void ListView::SetTopIndex(int index)
{
    index = std::clamp(index, 0, MaxTop());
    if (index == top_) return;
    top_ = index;
    Invalidate();
}

void ListView::SetScrollX(int x)
{
    x = std::clamp(x, 0, MaxScrollX());
    if (x == scrollX_) return;
    scrollX_ = x;
    Invalidate();
}

void ListView::EnsureVisible(int index)
{
    if (index < 0) return;
    if (index < top_) top_ = index;
    if (index >= top_ + VisibleCount()) top_ = index - VisibleCount() + 1;
    top_ = std::clamp(top_, 0, MaxTop());
}

void ListView::Resized()
{
    top_ = std::min(top_, MaxTop());
    scrollX_ = std::min(scrollX_, MaxScrollX());
}

TRect ListView::ItemRect(int index) const
{
    if (index < 0 || index >= ItemCount()) return TRect{};
    const TRect area = RowsArea();
    const int y = area.Top + (index - top_) * ItemHeight;
    return TRect{area.Left - scrollX_, y, area.Left - scrollX_ + std::max(TotalColumnWidth(), area.Width()),
                 y + ItemHeight};
}

int ListView::ItemAt(TPoint p) const
{
    const TRect area = RowsArea();
    if (!area.Contains(p.X, p.Y)) return -1;
    const int row = top_ + (p.Y - area.Top) / std::max(1, ItemHeight);
    return row < ItemCount() ? row : -1;
}

int ListView::DividerAt(TPoint p) const
{
    if (p.Y < 2 || p.Y >= 2 + HeaderHeight()) return -1;
    int x = 2 - scrollX_;
    int found = -1;
    for (int i = 0; i < ColumnCount(); ++i) {
        x += columns_[static_cast<size_t>(i)].Width;
        // The last column whose edge is near wins, so a column dragged to
        // width 0 can be pulled out again.
        if (std::abs(p.X - x) <= kDividerGrip) found = i;
    }
    return found;
}

void ListView::Notify(int code, int item, TPoint p, int subItem)
{
    if (!Parent()) return;
    ListViewActivate a;
    a.hdr = NotifyHeader{Handle(), Id, code};
    a.iItem = item;
    a.iSubItem = subItem;
    a.ptAction = p;
    Parent()->Perform(WM_NOTIFY, static_cast<WPARAM>(Id), reinterpret_cast<LPARAM>(&a));
}

bool ListView::ScrollBarMouseDown(TPoint p)
{
    const TRect area = RowsArea();
    if (VScrollShown() && p.X >= area.Right && p.Y >= area.Top && p.Y < area.Bottom) {
        const int mid = (area.Top + area.Bottom) / 2;
        if (p.Y < area.Top + kScrollBarWidth)
            SetTopIndex(top_ - 1);
        else if (p.Y >= area.Bottom - kScrollBarWidth)
            SetTopIndex(top_ + 1);
        else
            SetTopIndex(p.Y < mid ? top_ - VisibleCount() : top_ + VisibleCount());
        return true;
    }
    if (HScrollShown() && p.Y >= area.Bottom && p.X < area.Right) {
        const int mid = (area.Left + area.Right) / 2;
        if (p.X < area.Left + kScrollBarWidth)
            SetScrollX(scrollX_ - 20);
        else if (p.X >= area.Right - kScrollBarWidth)
            SetScrollX(scrollX_ + 20);
        else
            SetScrollX(p.X < mid ? scrollX_ - area.Width() : scrollX_ + area.Width());
        return true;
    }
    return false;
}

void ListView::MouseDown(TPoint p, unsigned button, unsigned)
{
    if (button != MK_LBUTTON) return;
    SetFocus();
    if (ScrollBarMouseDown(p)) return;
    const int divider = DividerAt(p);
    if (divider >= 0) {
        tracking_ = divider;
        trackStart_ = p.X - columns_[static_cast<size_t>(divider)].Width;
        return;
    }
    const int row = ItemAt(p);
    if (row < 0) return;
    selected_ = focusedItem_ = row;
    EnsureVisible(row);
    Invalidate();
    Notify(NM_CLICK, row, p);
}

void ListView::MouseMove(TPoint p, unsigned flags)
{
    if (tracking_ < 0 || !(flags & MK_LBUTTON)) return;
    SetColumnWidth(tracking_, p.X - trackStart_);
}

void ListView::MouseUp(TPoint p, unsigned, unsigned)
{
    if (tracking_ < 0) return;
    const int column = tracking_;
    SetColumnWidth(column, p.X - trackStart_);
    tracking_ = -1;
    Notify(HDN_ENDTRACK, -1, p, column);
    if (OnColumnResized) OnColumnResized(column);
}

void ListView::DoubleClick(TPoint p, unsigned flags)
{
    if (ScrollBarMouseDown(p) || DividerAt(p) >= 0) return;
    const int row = ItemAt(p);
    if (row < 0) return;
    selected_ = focusedItem_ = row;
    Invalidate();
    Notify(NM_DBLCLK, row, p);
    (void)flags;
}

void ListView::MouseWheel(int steps) { SetTopIndex(top_ - steps * 3); }

bool ListView::KeyDown(unsigned vk, unsigned)
{
    const int last = ItemCount() - 1;
    int next = focusedItem_;
    switch (vk) {
    case VK_UP: next = std::max(0, focusedItem_ - 1); break;
    case VK_DOWN: next = std::min(last, focusedItem_ + 1); break;
    case VK_PRIOR: next = std::max(0, focusedItem_ - VisibleCount()); break;
    case VK_NEXT: next = std::min(last, focusedItem_ + VisibleCount()); break;
    case VK_HOME: next = 0; break;
    case VK_END: next = last; break;
    case VK_LEFT: SetScrollX(scrollX_ - 20); return true;
    case VK_RIGHT: SetScrollX(scrollX_ + 20); return true;
    case VK_RETURN:
        if (focusedItem_ >= 0) {
            const TRect r = ItemRect(focusedItem_);
            Notify(NM_RETURN, focusedItem_, TPoint{r.Left, r.Top});
        }
        return true;
    default: return false;
    }
    if (last >= 0) SetSelected(next);
    return true;
}

void ListView::PaintHeader(gdi::Canvas& c)
{
    const int h = HeaderHeight();
    const TRect strip{2, 2, Width() - 2, 2 + h};
    c.Brush.Style = gdi::BrushStyle::bsSolid;
    c.Brush.Color = gdi::clBtnFace;
    c.FillRect(strip);
    c.Font = Font;
    c.Font.Color = gdi::clBtnText;
    const int th = c.TextHeight("Ag");
    int x = 2 - scrollX_;
    for (const ListColumn& col : columns_) {
        const TRect box{x, 2, x + col.Width, 2 + h};
        x += col.Width;
        if (box.Right < 2 || col.Width <= 0) continue;
        DrawRaisedFrame(c, box, false);
        const std::string caption = FitWithEllipsis(c, col.Caption, col.Width - 10);
        const int tw = c.TextWidth(caption);
        int tx = box.Left + 5;
        if (col.Align == ColumnAlign::caRight)
            tx = box.Right - 5 - tw;
        else if (col.Align == ColumnAlign::caCenter)
            tx = box.Left + (col.Width - tw) / 2;
        c.Brush.Style = gdi::BrushStyle::bsClear;
        c.TextRect(gdi::Inflate(box, -2, -1), tx, 2 + (h - th) / 2, caption);
    }
    if (x < strip.Right) DrawRaisedFrame(c, TRect{x, 2, strip.Right, 2 + h}, false);
}

void ListView::PaintScrollBars(gdi::Canvas& c)
{
    const TRect area = RowsArea();
    auto button = [&](const TRect& box, int dx, int dy) {
        c.Brush.Style = gdi::BrushStyle::bsSolid;
        c.Brush.Color = gdi::clBtnFace;
        c.FillRect(box);
        DrawRaisedFrame(c, box, false);
        if (dx || dy) DrawScrollArrow(c, box, dx, dy); // thumbs carry no arrow
    };
    if (VScrollShown()) {
        const TRect bar{area.Right, area.Top, area.Right + kScrollBarWidth, area.Bottom};
        c.Brush.Style = gdi::BrushStyle::bsSolid;
        c.Brush.Color = gdi::clScrollBar;
        c.FillRect(bar);
        button(TRect{bar.Left, bar.Top, bar.Right, bar.Top + kScrollBarWidth}, 0, -1);
        button(TRect{bar.Left, bar.Bottom - kScrollBarWidth, bar.Right, bar.Bottom}, 0, 1);
        const int track = std::max(0, bar.Height() - 2 * kScrollBarWidth);
        const int thumb = std::min(track, std::max(8, track * VisibleCount() / std::max(1, ItemCount())));
        const int y = bar.Top + kScrollBarWidth + (track - thumb) * top_ / std::max(1, MaxTop());
        button(TRect{bar.Left, y, bar.Right, y + thumb}, 0, 0);
    }
    if (HScrollShown()) {
        const TRect bar{area.Left, area.Bottom, area.Right, area.Bottom + kScrollBarWidth};
        c.Brush.Style = gdi::BrushStyle::bsSolid;
        c.Brush.Color = gdi::clScrollBar;
        c.FillRect(bar);
        button(TRect{bar.Left, bar.Top, bar.Left + kScrollBarWidth, bar.Bottom}, -1, 0);
        button(TRect{bar.Right - kScrollBarWidth, bar.Top, bar.Right, bar.Bottom}, 1, 0);
        const int track = std::max(0, bar.Width() - 2 * kScrollBarWidth);
        const int thumb = std::min(track, std::max(8, track * area.Width() / std::max(1, TotalColumnWidth())));
        const int x = bar.Left + kScrollBarWidth + (track - thumb) * scrollX_ / std::max(1, MaxScrollX());
        button(TRect{x, bar.Top, x + thumb, bar.Bottom}, 0, 0);
    }
    if (VScrollShown() && HScrollShown()) {
        c.Brush.Color = gdi::clBtnFace;
        c.FillRect(TRect{area.Right, area.Bottom, area.Right + kScrollBarWidth, area.Bottom + kScrollBarWidth});
    }
}

void ListView::Paint(gdi::Canvas& c)
{
    const TRect r = ClientRect();
    const TRect outer = c.ClipRect(); // what the parents leave visible
    auto restoreClip = [&](const TRect& inner) {
        c.ResetClip();
        c.IntersectClipRect(outer);
        c.IntersectClipRect(inner);
    };
    c.Brush.Style = gdi::BrushStyle::bsSolid;
    c.Brush.Color = Color;
    c.FillRect(r);
    DrawSunkenFrame(c, r);
    {
        gdi::Canvas header = c.SubCanvas(TRect{0, 0, Width() - (VScrollShown() ? kScrollBarWidth + 2 : 0), Height()});
        header.IntersectClipRect(TRect{2, 2, header.Width() - 2, 2 + HeaderHeight()});
        PaintHeader(header);
    }
    const TRect area = RowsArea();
    c.IntersectClipRect(area);
    const int end = std::min(ItemCount(), top_ + VisibleCount() + 1);
    for (int i = top_; i < end; ++i) {
        const TRect item = ItemRect(i);
        const bool selected = i == selected_;
        const bool focused = i == focusedItem_;
        if (OwnerDraw && Parent()) {
            DrawItemParams p;
            p.ctlId = Id;
            p.hwndItem = Handle();
            p.itemId = i;
            p.itemState =
                (selected ? ODS_SELECTED : 0u) | (focused ? ODS_FOCUS : 0u) | (EnabledInForm() ? 0u : ODS_DISABLED);
            p.canvas = &c;
            p.rcItem = item;
            p.itemData = items_[static_cast<size_t>(i)].Data;
            Parent()->Perform(WM_DRAWITEM, static_cast<WPARAM>(Id), reinterpret_cast<LPARAM>(&p));
            restoreClip(area);
            continue;
        }
        c.Brush.Style = gdi::BrushStyle::bsSolid;
        c.Brush.Color = selected ? gdi::clHighlight : Color;
        c.FillRect(item);
        c.Font = Font;
        c.Font.Color = selected ? gdi::clHighlightText : TextColor;
        c.Brush.Style = gdi::BrushStyle::bsClear;
        const int th = c.TextHeight("Ag");
        int x = item.Left;
        for (int col = 0; col < ColumnCount(); ++col) {
            const ListColumn& column = columns_[static_cast<size_t>(col)];
            const TRect cell{x + 4, item.Top, x + column.Width - 4, item.Bottom};
            x += column.Width;
            const std::string text = FitWithEllipsis(c, ItemText(i, col), cell.Width());
            int tx = cell.Left;
            if (column.Align == ColumnAlign::caRight)
                tx = cell.Right - c.TextWidth(text);
            else if (column.Align == ColumnAlign::caCenter)
                tx = cell.Left + (cell.Width() - c.TextWidth(text)) / 2;
            c.TextRect(cell, tx, item.Top + (ItemHeight - th) / 2, text);
        }
        if (focused && Focused()) DrawFocusRect(c, item);
    }
    restoreClip(r);
    PaintScrollBars(c);
}

} // namespace ui
