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

void ListBox::EnsureVisible(int index)
{
    if (index < 0)
        return;
    if (index < top_)
        top_ = index;
    if (index >= top_ + VisibleCount())
        top_ = index - VisibleCount() + 1;
}

void ListBox::SetItemIndex(int index)
{
    index = Items.empty() ? -1 : std::clamp(index, -1, static_cast<int>(Items.size()) - 1);
    if (index == index_)
        return;
    index_ = index;
    EnsureVisible(index_);
    Invalidate();
    NotifyParent(LBN_SELCHANGE);
    if (OnSelect)
        OnSelect();
}

bool ListBox::KeyDown(unsigned vk, unsigned)
{
    const int last = static_cast<int>(Items.size()) - 1;
    switch (vk) {
    case VK_UP:
        SetItemIndex(std::max(0, index_ - 1));
        return true;
    case VK_DOWN:
        SetItemIndex(std::min(last, index_ + 1));
        return true;
    case VK_PRIOR:
        SetItemIndex(std::max(0, index_ - VisibleCount()));
        return true;
    case VK_NEXT:
        SetItemIndex(std::min(last, index_ + VisibleCount()));
        return true;
    case VK_HOME:
        SetItemIndex(0);
        return true;
    case VK_END:
        SetItemIndex(last);
        return true;
    default:
        return false;
    }
}

void ListBox::MouseDown(TPoint p, unsigned button, unsigned)
{
    if (button != MK_LBUTTON)
        return;
    const int i = top_ + (p.Y - 2) / std::max(1, ItemHeight);
    if (i >= 0 && i < static_cast<int>(Items.size()))
        SetItemIndex(i);
}

void ListBox::DoubleClick(TPoint p, unsigned flags)
{
    MouseDown(p, MK_LBUTTON, flags);
    const int i = top_ + (p.Y - 2) / std::max(1, ItemHeight);
    if (i == index_ && index_ >= 0) {
        NotifyParent(LBN_DBLCLK);
        if (Parent()) {
            NotifyHeader h{Handle(), Id, NM_DBLCLK};
            Parent()->Perform(WM_NOTIFY, static_cast<WPARAM>(Id), reinterpret_cast<LPARAM>(&h));
        }
        if (OnActivate)
            OnActivate();
    }
}

void ListBox::MouseWheel(int steps)
{
    const int maxTop = std::max(0, static_cast<int>(Items.size()) - VisibleCount());
    top_ = std::clamp(top_ - steps * 3, 0, maxTop);
    Invalidate();
}

void ListBox::Paint(gdi::Canvas& c)
{
    const TRect r = ClientRect();
    c.Brush.Style = gdi::BrushStyle::bsSolid;
    c.Brush.Color = Color;
    c.FillRect(r);
    DrawSunkenFrame(c, r);
    c.IntersectClipRect(gdi::Inflate(r, -2, -2));
    for (int i = top_; i < static_cast<int>(Items.size()); ++i) {
        const int y = 2 + (i - top_) * ItemHeight;
        if (y >= Height() - 2)
            break;
        const TRect item{2, y, Width() - 2, y + ItemHeight};
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
        if (selected && Focused())
            DrawFocusRect(c, item);
    }
}

} // namespace ui
