#include "platform/ui/tab_control.h"

#include <algorithm>

#include "platform/ui/frames.h"
#include "platform/ui/notify.h"

namespace ui {

TabControl::TabControl(Window* parent) : Window(parent) { TabStop = true; }

void TabControl::SetTabs(std::vector<std::string> tabs)
{
    tabs_ = std::move(tabs);
    index_ = tabs_.empty() ? -1 : std::clamp(index_, 0, static_cast<int>(tabs_.size()) - 1);
    Invalidate();
}

void TabControl::SetTabIndex(int index)
{
    if (index < 0 || index >= static_cast<int>(tabs_.size())) return;
    index_ = index;
    Invalidate();
}

void TabControl::Notify(int code)
{
    if (!Parent()) return;
    NotifyHeader h{Handle(), Id, code};
    Parent()->Perform(WM_NOTIFY, static_cast<WPARAM>(Id), reinterpret_cast<LPARAM>(&h));
}

void TabControl::SelectTab(int index)
{
    if (index < 0 || index >= static_cast<int>(tabs_.size()) || index == index_) return;
    Notify(TCN_SELCHANGING);
    index_ = index;
    Invalidate();
    Notify(TCN_SELCHANGE);
    if (OnChange) OnChange();
}

int TabControl::StripHeight() const
{
    gdi::Canvas measure(1, 1);
    measure.Font = Font;
    return measure.TextHeight("Ag") + 8;
}

TRect TabControl::TabRect(int index) const
{
    if (index < 0 || index >= static_cast<int>(tabs_.size())) return TRect{};
    gdi::Canvas measure(1, 1);
    measure.Font = Font;
    int x = 2;
    const int h = StripHeight();
    for (int i = 0; i < static_cast<int>(tabs_.size()); ++i) {
        // Tabs keep their mnemonic ampersands out of their width.
        std::string caption = tabs_[static_cast<size_t>(i)];
        caption.erase(std::remove(caption.begin(), caption.end(), '&'), caption.end());
        const int w = std::min(measure.TextWidth(caption) + 16, 240);
        if (i == index) return TRect{x, 2, x + w, h};
        x += w;
    }
    return TRect{};
}

TRect TabControl::DisplayRect() const
{
    const int top = StripHeight();
    return TRect{4, top + 2, std::max(4, Width() - 4), std::max(top + 2, Height() - 4)};
}

void TabControl::MouseDown(TPoint p, unsigned button, unsigned)
{
    if (button != MK_LBUTTON) return;
    for (int i = 0; i < static_cast<int>(tabs_.size()); ++i)
        if (TabRect(i).Contains(p.X, p.Y)) {
            SetFocus();
            SelectTab(i);
            return;
        }
}

bool TabControl::KeyDown(unsigned vk, unsigned)
{
    if (tabs_.empty()) return false;
    const int last = static_cast<int>(tabs_.size()) - 1;
    if (vk == VK_LEFT)
        SelectTab(std::max(0, index_ - 1));
    else if (vk == VK_RIGHT)
        SelectTab(std::min(last, index_ + 1));
    else
        return false;
    return true;
}

void TabControl::Paint(gdi::Canvas& c)
{
    const int strip = StripHeight();
    c.Brush.Style = gdi::BrushStyle::bsSolid;
    c.Brush.Color = Color;
    c.FillRect(ClientRect());
    // The page frame below the strip.
    const TRect frame{0, strip, Width(), Height()};
    DrawRaisedFrame(c, frame, false);
    c.Font = Font;
    const int th = c.TextHeight("Ag");
    for (int i = 0; i < static_cast<int>(tabs_.size()); ++i) {
        TRect r = TabRect(i);
        const bool selected = i == index_;
        if (selected) r = TRect{r.Left - 2, r.Top - 2, r.Right + 2, r.Bottom + 1};
        c.Brush.Style = gdi::BrushStyle::bsSolid;
        c.Brush.Color = Color;
        c.FillRect(r);
        c.Pen.Color = gdi::clBtnHighlight;
        c.MoveTo(r.Left, r.Bottom - 1);
        c.LineTo(r.Left, r.Top);
        c.LineTo(r.Right - 1, r.Top);
        c.Pen.Color = gdi::clBtnShadow;
        c.LineTo(r.Right - 1, r.Bottom);
        std::string caption = tabs_[static_cast<size_t>(i)];
        caption.erase(std::remove(caption.begin(), caption.end(), '&'), caption.end());
        c.Brush.Style = gdi::BrushStyle::bsClear;
        c.Font.Color = gdi::clBtnText;
        const TRect textArea{r.Left + 6, r.Top, r.Right - 6, r.Bottom};
        c.TextRect(textArea, textArea.Left + 2, r.Top + (r.Height() - th) / 2, caption);
        if (selected && Focused()) DrawFocusRect(c, gdi::Inflate(textArea, 0, -3));
    }
}

} // namespace ui
