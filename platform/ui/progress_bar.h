#pragma once
// Progress bar. Also answers PBM_SETRANGE, PBM_SETPOS and PBM_GETPOS, so another thread
// can move it with SendMessage.
#include "platform/ui/window.h"

namespace ui {

enum : UINT { PBM_SETRANGE = WM_USER + 1, PBM_SETPOS = WM_USER + 2, PBM_GETPOS = WM_USER + 8 };

class ProgressBar : public Window {
public:
    explicit ProgressBar(Window* parent);
    int Min() const { return min_; }
    int Max() const { return max_; }
    int Position() const { return position_; }
    void SetRange(int min, int max);
    void SetPosition(int position); // clamped into the range
    void Paint(gdi::Canvas& canvas) override;
    LRESULT WndProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    int min_ = 0, max_ = 100, position_ = 0;
};

} // namespace ui
