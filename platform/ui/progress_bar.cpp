#include "platform/ui/progress_bar.h"

#include <algorithm>

#include "platform/ui/frames.h"

namespace ui {

ProgressBar::ProgressBar(Window* parent) : Window(parent) {}

void ProgressBar::SetRange(int min, int max)
{
    if (max < min) std::swap(min, max);
    min_ = min;
    max_ = max;
    position_ = std::clamp(position_, min_, max_);
    Invalidate();
}

void ProgressBar::SetPosition(int position)
{
    position = std::clamp(position, min_, max_);
    if (position == position_) return;
    position_ = position;
    Invalidate();
}

LRESULT ProgressBar::WndProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case PBM_SETRANGE: {
        const int old = (min_ & 0xFFFF) | (max_ << 16);
        SetRange(static_cast<int>(lParam & 0xFFFF), static_cast<int>((lParam >> 16) & 0xFFFF));
        return old;
    }
    case PBM_SETPOS: {
        const int old = position_;
        SetPosition(static_cast<int>(wParam));
        return old;
    }
    case PBM_GETPOS: return position_;
    default: return Window::WndProc(message, wParam, lParam);
    }
}

void ProgressBar::Paint(gdi::Canvas& c)
{
    const TRect r = ClientRect();
    c.Brush.Style = gdi::BrushStyle::bsSolid;
    c.Brush.Color = gdi::clBtnFace;
    c.FillRect(r);
    DrawSunkenFrame(c, r);
    const TRect inner = gdi::Inflate(r, -2, -2);
    if (max_ == min_ || inner.IsEmpty()) return;
    const long long span = static_cast<long long>(max_) - min_;
    const int filled = static_cast<int>(inner.Width() * (static_cast<long long>(position_) - min_) / span);
    // Blocks, as the classic bar draws them.
    const int block = std::max(2, inner.Height() * 2 / 3);
    c.Brush.Color = gdi::clHighlight;
    for (int x = 0; x < filled; x += block + 2)
        c.FillRect(TRect{inner.Left + x, inner.Top + 1, inner.Left + std::min(filled, x + block), inner.Bottom - 1});
}

} // namespace ui
