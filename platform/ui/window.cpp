#include "platform/ui/window.h"

#include <cairo.h>

#include <algorithm>
#include <atomic>
#include <cassert>
#include <mutex>
#include <unordered_map>

#include "platform/gdi/canvas_cairo.h"
#include "platform/ui/form.h"
#include "platform/ui/window_registry.h"

namespace ui {
namespace detail {
namespace {
struct Entry {
    Window* window;
    MessageQueuePtr queue;
};
std::mutex g_mutex;
std::unordered_map<HWND, Entry> g_windows;
std::atomic<HWND> g_nextHandle{0x10000};
} // namespace

HWND RegisterWindow(Window* window, MessageQueuePtr queue)
{
    HWND h = g_nextHandle.fetch_add(4);
    std::lock_guard lock(g_mutex);
    g_windows.emplace(h, Entry{window, std::move(queue)});
    return h;
}

void UnregisterWindow(HWND hwnd)
{
    MessageQueuePtr queue;
    {
        std::lock_guard lock(g_mutex);
        auto it = g_windows.find(hwnd);
        if (it == g_windows.end()) return;
        queue = std::move(it->second.queue);
        g_windows.erase(it);
    }
    if (queue && queue->IsOwnThread()) queue->KillTimersOf(hwnd);
}

MessageQueuePtr QueueOf(HWND hwnd)
{
    std::lock_guard lock(g_mutex);
    auto it = g_windows.find(hwnd);
    return it == g_windows.end() ? nullptr : it->second.queue;
}

Window* LocalWindow(HWND hwnd)
{
    std::lock_guard lock(g_mutex);
    auto it = g_windows.find(hwnd);
    if (it == g_windows.end() || !it->second.queue->IsOwnThread()) return nullptr;
    return it->second.window;
}

LRESULT Deliver(const Msg& msg)
{
    Window* w = LocalWindow(msg.hwnd);
    if (!w) return 0;
    // Disabled windows (and everything in a form that a modal dialog
    // disabled) get no input, as on the original platform.
    if (IsInputMessage(msg.message) && !w->EnabledInForm()) return 0;
    if (w->OnMessage) {
        LRESULT r = 0;
        if (w->OnMessage(*w, msg, r)) return r;
    }
    return w->WndProc(msg.message, msg.wParam, msg.lParam);
}

} // namespace detail

bool IsWindow(HWND hwnd) { return detail::QueueOf(hwnd) != nullptr; }
Window* FindWindowByHandle(HWND hwnd) { return detail::LocalWindow(hwnd); }

Window::Window(Window* parent)
{
    handle_ = detail::RegisterWindow(this, CurrentQueue());
    if (parent) SetParent(parent);
}

Window::~Window()
{
    owned_.clear();
    for (Window* c : children_) c->parent_ = nullptr;
    children_.clear();
    if (parent_) {
        if (Form* f = TopLevel(); f && f->FocusedControl() == this) f->ForgetFocus();
        auto& s = parent_->children_;
        s.erase(std::remove(s.begin(), s.end(), this), s.end());
        parent_->Invalidate();
    }
    detail::UnregisterWindow(handle_);
}

Form* Window::TopLevel()
{
    Window* w = this;
    while (w->parent_) w = w->parent_;
    return dynamic_cast<Form*>(w);
}

const Form* Window::TopLevel() const { return const_cast<Window*>(this)->TopLevel(); }

void Window::SetParent(Window* parent)
{
    if (parent_) {
        auto& s = parent_->children_;
        s.erase(std::remove(s.begin(), s.end(), this), s.end());
        parent_->Invalidate();
    }
    parent_ = parent;
    if (parent_) {
        parent_->children_.push_back(this);
        Font = parent_->Font;
    }
    Invalidate();
}

void Window::SetBounds(int left, int top, int width, int height)
{
    TRect r{left, top, left + std::max(0, width), top + std::max(0, height)};
    if (r == bounds_) return;
    const bool resized = r.Width() != bounds_.Width() || r.Height() != bounds_.Height();
    bounds_ = r;
    if (resized) Resized();
    Invalidate();
}

TPoint Window::OriginInForm() const
{
    TPoint p;
    for (const Window* w = this; w->parent_; w = w->parent_) {
        p.X += w->bounds_.Left;
        p.Y += w->bounds_.Top;
    }
    return p;
}

void Window::SetText(const std::string& text)
{
    if (text == text_) return;
    text_ = text;
    TextChanged();
}

void Window::SetVisible(bool visible)
{
    if (visible == visible_) return;
    visible_ = visible;
    if (!visible) {
        if (Form* f = TopLevel(); f && f != static_cast<Window*>(this)) {
            Window* focus = f->FocusedControl();
            for (Window* w = focus; w; w = w->parent_)
                if (w == this) {
                    f->SelectNext(true);
                    break;
                }
        }
    }
    if (parent_) parent_->Invalidate();
    Invalidate();
}

bool Window::Showing() const
{
    for (const Window* w = this; w; w = w->parent_)
        if (!w->visible_) return false;
    return true;
}

void Window::SetEnabled(bool enabled)
{
    if (enabled == enabled_) return;
    enabled_ = enabled;
    Invalidate();
}

bool Window::EnabledInForm() const
{
    for (const Window* w = this; w; w = w->parent_)
        if (!w->enabled_) return false;
    return true;
}

bool Window::CanFocus() const { return TabStop && Showing() && EnabledInForm(); }

bool Window::Focused() const
{
    const Form* f = TopLevel();
    return f && f->FocusedControl() == this;
}

void Window::SetFocus()
{
    if (Form* f = TopLevel()) f->SetFocusedControl(this);
}

void Window::Invalidate()
{
    Form* f = TopLevel();
    if (f && f->Visible()) CurrentQueue()->RequestPaint(f->Handle());
}

void Window::Repaint()
{
    if (Form* f = TopLevel()) f->PaintControl(*this);
}

LRESULT Window::Perform(UINT message, WPARAM wParam, LPARAM lParam)
{
    return detail::Deliver(Msg{handle_, message, wParam, lParam, TickCount()});
}

void Window::NotifyParent(unsigned code)
{
    if (parent_)
        parent_->Perform(WM_COMMAND, MakeWParam(static_cast<unsigned>(Id), code), static_cast<LPARAM>(handle_));
}

LRESULT Window::WndProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    const TPoint pt = PointFromLParam(lParam);
    switch (message) {
    case WM_LBUTTONDOWN:
        if (CanFocus()) SetFocus();
        MouseDown(pt, MK_LBUTTON, static_cast<unsigned>(wParam));
        return 0;
    case WM_RBUTTONDOWN: MouseDown(pt, MK_RBUTTON, static_cast<unsigned>(wParam)); return 0;
    case WM_LBUTTONUP: MouseUp(pt, MK_LBUTTON, static_cast<unsigned>(wParam)); return 0;
    case WM_RBUTTONUP: MouseUp(pt, MK_RBUTTON, static_cast<unsigned>(wParam)); return 0;
    case WM_LBUTTONDBLCLK: DoubleClick(pt, static_cast<unsigned>(wParam)); return 0;
    case WM_MOUSEMOVE: MouseMove(pt, static_cast<unsigned>(wParam)); return 0;
    case WM_MOUSEWHEEL: MouseWheel(static_cast<int>(static_cast<std::intptr_t>(wParam))); return 0;
    case WM_KEYDOWN: return KeyDown(static_cast<unsigned>(wParam), static_cast<unsigned>(lParam)) ? 1 : 0;
    case WM_CHAR: KeyChar(static_cast<char32_t>(wParam)); return 0;
    case WM_SETFOCUS: FocusChanged(true); return 0;
    case WM_KILLFOCUS: FocusChanged(false); return 0;
    case WM_SETTEXT: SetText(lParam ? reinterpret_cast<const char*>(lParam) : ""); return 1;
    default: return 0;
    }
}

void Window::Paint(gdi::Canvas& canvas)
{
    canvas.Brush.Color = Color;
    canvas.Brush.Style = gdi::BrushStyle::bsSolid;
    canvas.FillRect(ClientRect());
}

Window* Window::ChildAt(TPoint p)
{
    for (auto it = children_.rbegin(); it != children_.rend(); ++it) {
        Window* c = *it;
        if (c->visible_ && c->bounds_.Contains(p.X, p.Y)) {
            Window* deeper = c->ChildAt(TPoint{p.X - c->bounds_.Left, p.Y - c->bounds_.Top});
            return deeper ? deeper : c;
        }
    }
    return nullptr;
}

void Window::PaintTree(cairo_surface_t* surface, TPoint origin, const TRect& clip, bool root)
{
    if (!visible_ && !root) return;
    const TRect area{origin.X, origin.Y, origin.X + Width(), origin.Y + Height()};
    const TRect visible = gdi::Intersect(area, clip);
    if (visible.IsEmpty() || origin.X < 0 || origin.Y < 0) return;
    {
        cairo_surface_t* sub = cairo_surface_create_for_rectangle(surface, origin.X, origin.Y, Width(), Height());
        gdi::Canvas canvas = gdi::CairoAccess::Wrap(sub, Width(), Height());
        cairo_surface_destroy(sub); // the canvas holds its own reference
        canvas.IntersectClipRect(TRect{visible.Left - origin.X, visible.Top - origin.Y, visible.Right - origin.X,
                                       visible.Bottom - origin.Y});
        canvas.Font = Font;
        Paint(canvas);
        canvas.Flush();
    }
    for (Window* c : children_)
        c->PaintTree(surface, TPoint{origin.X + c->bounds_.Left, origin.Y + c->bounds_.Top}, visible);
}

} // namespace ui
