#include "platform/ui/list_box.h"

#include <algorithm>

#include "platform/ui/frames.h"
#include "platform/ui/notify.h"

namespace ui {

ListBox::ListBox(Window* parent) : Window(parent)
{
    TabStop = true;
    Color = gdi::clWindow;
}

void ListBox::SetItems(std::vector<std::string> items)
{
    Items = std::move(items);
    index_ = Items.empty() ? -1 : std::min(index_, static_cast<int>(Items.size()) - 1);
    top_ = 0;
    Invalidate();
}

int ListBox::VisibleCount() const { return std::max(1, (Height() - 4) / std::max(1, ItemHeight)); }

int ListBox::MaxTop() const { return std::max(0, static_cast<int>(Items.size()) - VisibleCount()); }

void ListBox::SetTopIndex(int index)
{
    index = std::clamp(index, 0, MaxTop());
    if (index == top_) return;
    top_ = index;
    Invalidate();
}

TRect ListBox::ScrollBarRect() const
{
    if (!ScrollBarShown()) return TRect{};
    return TRect{Width() - 2 - kScrollBarWidth, 2, Width() - 2, Height() - 2};
}

TRect ListBox::ThumbRect() const
{
    const TRect bar = ScrollBarRect();
    if (bar.Width() <= 0) return TRect{};
    const int trackTop = bar.Top + kScrollBarWidth, trackBottom = bar.Bottom - kScrollBarWidth;
    const int track = std::max(0, trackBottom - trackTop);
    const int count = std::max(1, static_cast<int>(Items.size()));
    const int thumb = std::min(track, std::max(8, track * VisibleCount() / count));
    const int maxTop = std::max(1, MaxTop());
    const int y = trackTop + (track - thumb) * std::min(top_, maxTop) / maxTop;
    return TRect{bar.Left, y, bar.Right, y + thumb};
}

bool ListBox::ScrollBarMouseDown(TPoint p)
{
    const TRect bar = ScrollBarRect();
    if (bar.Width() <= 0 || p.X < bar.Left) return false;
    const TRect thumb = ThumbRect();
    if (p.Y < bar.Top + kScrollBarWidth)
        SetTopIndex(top_ - 1);
    else if (p.Y >= bar.Bottom - kScrollBarWidth)
        SetTopIndex(top_ + 1);
    else if (p.Y < thumb.Top)
        SetTopIndex(top_ - VisibleCount());
    else if (p.Y >= thumb.Bottom)
        SetTopIndex(top_ + VisibleCount());
    return true;
}

void ListBox::EnsureVisible(int index)
{
    if (index < 0) return;
    if (index < top_) top_ = index;
    if (index >= top_ + VisibleCount()) top_ = index - VisibleCount() + 1;
}

void ListBox::SetItemIndex(int index)
{
    index = Items.empty() ? -1 : std::clamp(index, -1, static_cast<int>(Items.size()) - 1);
    if (index == index_) return;
    index_ = index;
    EnsureVisible(index_);
    Invalidate();
    NotifyParent(LBN_SELCHANGE);
    if (OnSelect) OnSelect();
}

bool ListBox::KeyDown(unsigned vk, unsigned)
{
    const int last = static_cast<int>(Items.size()) - 1;
    switch (vk) {
    case VK_UP: SetItemIndex(std::max(0, index_ - 1)); return true;
    case VK_DOWN: SetItemIndex(std::min(last, index_ + 1)); return true;
    case VK_PRIOR: SetItemIndex(std::max(0, index_ - VisibleCount())); return true;
    case VK_NEXT: SetItemIndex(std::min(last, index_ + VisibleCount())); return true;
    case VK_HOME: SetItemIndex(0); return true;
    case VK_END: SetItemIndex(last); return true;
    default: return false;
    }
}

void ListBox::MouseDown(TPoint p, unsigned button, unsigned)
{
    if (button != MK_LBUTTON || ScrollBarMouseDown(p)) return;
    const int row = (p.Y - 2) / std::max(1, ItemHeight);
    const int i = top_ + row;
    if (row < VisibleCount() && i >= 0 && i < static_cast<int>(Items.size())) SetItemIndex(i);
}

void ListBox::DoubleClick(TPoint p, unsigned flags)
{
    if (ScrollBarShown() && p.X >= ScrollBarRect().Left) {
        ScrollBarMouseDown(p);
        return;
    }
    MouseDown(p, MK_LBUTTON, flags);
    const int i = top_ + (p.Y - 2) / std::max(1, ItemHeight);
    if (i == index_ && index_ >= 0) {
        NotifyParent(LBN_DBLCLK);
        if (Parent()) {
            NotifyHeader h{Handle(), Id, NM_DBLCLK};
            Parent()->Perform(WM_NOTIFY, static_cast<WPARAM>(Id), reinterpret_cast<LPARAM>(&h));
        }
        if (OnActivate) OnActivate();
    }
}

void ListBox::MouseWheel(int steps) { SetTopIndex(top_ - steps * 3); }

namespace {
void Arrow(gdi::Canvas& c, const TRect& box, bool up)
{
    const int cx = (box.Left + box.Right) / 2, cy = (box.Top + box.Bottom) / 2;
    c.Pen.Color = gdi::clBtnText;
    c.Brush.Style = gdi::BrushStyle::bsSolid;
    c.Brush.Color = gdi::clBtnText;
    gdi::TPoint tri[3] = {{cx - 4, up ? cy + 2 : cy - 2}, {cx + 4, up ? cy + 2 : cy - 2}, {cx, up ? cy - 2 : cy + 2}};
    c.Polygon(tri);
}
} // namespace

void ListBox::PaintScrollBar(gdi::Canvas& c)
{
    const TRect bar = ScrollBarRect();
    c.Brush.Style = gdi::BrushStyle::bsSolid;
    c.Brush.Color = gdi::clScrollBar;
    c.FillRect(bar);
    const TRect upBox{bar.Left, bar.Top, bar.Right, bar.Top + kScrollBarWidth};
    const TRect downBox{bar.Left, bar.Bottom - kScrollBarWidth, bar.Right, bar.Bottom};
    const TRect thumb = ThumbRect();
    for (const TRect& box : {upBox, downBox, thumb}) {
        c.Brush.Style = gdi::BrushStyle::bsSolid;
        c.Brush.Color = gdi::clBtnFace;
        c.FillRect(box);
        DrawRaisedFrame(c, box, false);
    }
    Arrow(c, upBox, true);
    Arrow(c, downBox, false);
}

void ListBox::Paint(gdi::Canvas& c)
{
    const TRect r = ClientRect();
    c.Brush.Style = gdi::BrushStyle::bsSolid;
    c.Brush.Color = Color;
    c.FillRect(r);
    DrawSunkenFrame(c, r);
    c.IntersectClipRect(gdi::Inflate(r, -2, -2));
    const int right = Width() - 2 - (ScrollBarShown() ? kScrollBarWidth : 0);
    const int end = std::min(static_cast<int>(Items.size()), top_ + VisibleCount());
    for (int i = top_; i < end; ++i) {
        const int y = 2 + (i - top_) * ItemHeight;
        const TRect item{2, y, right, y + ItemHeight};
        const bool selected = i == index_;
        if (OnDrawItem) {
            OnDrawItem(c, i, item, selected);
            continue;
        }
        if (OwnerDraw && Parent()) {
            DrawItemParams p;
            p.ctlId = Id;
            p.hwndItem = Handle();
            p.itemId = i;
            p.itemState = (selected ? ODS_SELECTED : 0u) | (selected && Focused() ? ODS_FOCUS : 0u) |
                (EnabledInForm() ? 0u : ODS_DISABLED);
            p.canvas = &c;
            p.rcItem = item;
            Parent()->Perform(WM_DRAWITEM, static_cast<WPARAM>(Id), reinterpret_cast<LPARAM>(&p));
            continue;
        }
        c.Brush.Style = gdi::BrushStyle::bsSolid;
        c.Brush.Color = selected ? gdi::clHighlight : Color;
        c.FillRect(item);
        c.Font.Color = selected ? gdi::clHighlightText : gdi::clWindowText;
        c.Brush.Style = gdi::BrushStyle::bsClear;
        const int th = c.TextHeight("Ag");
        c.TextRect(item, item.Left + 2, y + (ItemHeight - th) / 2, Items[static_cast<size_t>(i)]);
        if (selected && Focused()) DrawFocusRect(c, item);
    }
    if (ScrollBarShown()) PaintScrollBar(c);
}

} // namespace ui
