#include "platform/ui/form.h"

#include <cairo.h>

#include <algorithm>
#include <cassert>

#include "platform/gdi/canvas_cairo.h"
#include "platform/ui/app_windows.h"
#include "platform/ui/backend.h"
#include "platform/ui/button.h"
#include "platform/ui/window_registry.h"

namespace ui {
namespace {
thread_local std::vector<Form*> t_forms;
thread_local Form* t_active = nullptr;

void CollectTabStops(Window* parent, std::vector<Window*>& out)
{
    std::vector<Window*> kids = parent->Children();
    std::stable_sort(kids.begin(), kids.end(), [](Window* a, Window* b) { return a->TabOrder < b->TabOrder; });
    for (Window* c : kids) {
        if (!c->Visible()) continue;
        if (c->CanFocus()) out.push_back(c);
        CollectTabStops(c, out);
    }
}

template <class Pred> Button* FindButton(Window* parent, Pred pred)
{
    for (Window* c : parent->Children()) {
        if (auto* b = dynamic_cast<Button*>(c); b && pred(*b) && b->Showing() && b->EnabledInForm()) return b;
        if (Button* deeper = FindButton(c, pred)) return deeper;
    }
    return nullptr;
}
} // namespace

Form* ActiveForm() { return t_active; }

std::vector<Form*> ThreadForms()
{
    std::vector<Form*> v;
    for (Form* f : t_forms)
        if (f->Visible()) v.push_back(f);
    return v;
}

Form::Form() : Window(nullptr)
{
    visible_ = false;
    t_forms.push_back(this);
}

Form::~Form()
{
    t_forms.erase(std::remove(t_forms.begin(), t_forms.end(), this), t_forms.end());
    detail::NoteTopLevelHidden(Handle());
    if (t_active == this) t_active = nullptr;
    if (auto* q = CurrentQueueIfAny()) q->CancelPaint(Handle());
    native_.reset();
    if (surface_) cairo_surface_destroy(surface_);
}

void Form::SetCaption(const std::string& caption)
{
    SetText(caption);
    if (native_) native_->SetCaption(caption);
}

void Form::SetBounds(int left, int top, int width, int height)
{
    Window::SetBounds(left, top, width, height);
    if (native_) native_->SetBounds(BoundsRect());
}

std::uint64_t Form::NativeHandle() const { return native_ ? native_->Handle() : 0; }

void Form::EnsureNative()
{
    if (native_) return;
    Connection& c = ThreadConnection();
    const TSize screen = c.ScreenSize();
    if (Position == FormPosition::poOwnerCenter && Owner) {
        Window::SetBounds(Owner->Left() + (Owner->Width() - Width()) / 2,
                          Owner->Top() + (Owner->Height() - Height()) / 2, Width(), Height());
    } else if (Position == FormPosition::poOwnerCenter && ForeignOwnerBounds.Width() > 0) {
        // Centred on the other thread's window, and kept on the screen.
        const TRect& o = ForeignOwnerBounds;
        Window::SetBounds(std::clamp(o.Left + (o.Width() - Width()) / 2, 0, std::max(0, screen.cx - Width())),
                          std::clamp(o.Top + (o.Height() - Height()) / 2, 0, std::max(0, screen.cy - Height())),
                          Width(), Height());
    } else if (Position == FormPosition::poScreenCenter || Position == FormPosition::poOwnerCenter) {
        Window::SetBounds((screen.cx - Width()) / 2, (screen.cy - Height()) / 2, Width(), Height());
    }
    NativeWindowParams p;
    p.caption = Text();
    p.bounds = BoundsRect();
    p.fixedSize = Border != BorderStyle::bsSizeable;
    p.dialogFrame = Border == BorderStyle::bsDialog;
    p.maximizeBox = MaximizeBox && Border == BorderStyle::bsSizeable;
    p.owner = Owner ? Owner->NativeHandle() : ForeignOwner;
    native_ = c.CreateNativeWindow(*this, p);
    if (state_ != WindowState::wsNormal || stayOnTop_)
        native_->SetState(state_ == WindowState::wsMaximized, state_ == WindowState::wsMinimized, stayOnTop_);
}

void Form::SetVisible(bool visible)
{
    if (visible == Visible()) return;
    if (visible) {
        EnsureNative();
        Window::SetVisible(true);
        if (!FocusedControl()) SelectNext(true);
        native_->SetInputGuard(modal_);
        native_->Show(true);
        detail::NoteTopLevelShown(Handle(), Owner != nullptr);
        t_active = this;
        InvalidateAll();
    } else {
        Window::SetVisible(false);
        detail::NoteTopLevelHidden(Handle());
        CurrentQueue()->CancelPaint(Handle());
        if (native_) native_->Show(false);
        if (t_active == this) {
            t_active = nullptr;
            for (auto it = t_forms.rbegin(); it != t_forms.rend(); ++it)
                if ((*it)->Visible()) {
                    t_active = *it;
                    break;
                }
        }
    }
}

void Form::Close() { Perform(WM_CLOSE); }

int Form::ShowModal()
{
    std::vector<Form*> disabled;
    for (Form* f : t_forms)
        if (f != this && f->Visible() && f->Enabled()) {
            f->SetEnabled(false);
            disabled.push_back(f);
        }
    Form* previous = t_active;
    const HWND self = Handle();
    modal_ = true;
    ModalResult = mrNone;
    Show();
    Msg m;
    while (ModalResult == mrNone && Visible()) {
        if (!GetMessage(m)) {
            // Quitting ends the dialog; the outer loop still sees WM_QUIT.
            PostQuitMessage(static_cast<int>(m.wParam));
            ModalResult = mrCancel;
            break;
        }
        DispatchMessage(m);
        if (!detail::LocalWindow(self)) break; // destroyed by a handler
    }
    const int result = ModalResult == mrNone ? mrCancel : ModalResult;
    for (Form* f : disabled)
        if (std::find(t_forms.begin(), t_forms.end(), f) != t_forms.end()) f->SetEnabled(true);
    if (!detail::LocalWindow(self)) return result;
    modal_ = false;
    Hide();
    if (previous && std::find(t_forms.begin(), t_forms.end(), previous) != t_forms.end() && previous->Visible()) {
        t_active = previous;
        if (previous->native_) previous->native_->Activate();
    }
    return result;
}

Window* Form::FocusedControl() const { return focused_ ? detail::LocalWindow(focused_) : nullptr; }

void Form::SetFocusedControl(Window* control)
{
    const HWND next = control ? control->Handle() : 0;
    if (next == focused_) return;
    Window* old = FocusedControl();
    focused_ = next;
    if (old) old->Perform(WM_KILLFOCUS);
    if (control) control->Perform(WM_SETFOCUS);
}

void Form::SelectNext(bool forward)
{
    std::vector<Window*> stops;
    CollectTabStops(this, stops);
    if (stops.empty()) return;
    Window* current = FocusedControl();
    auto it = std::find(stops.begin(), stops.end(), current);
    size_t index;
    if (it == stops.end())
        index = forward ? 0 : stops.size() - 1;
    else {
        const size_t pos = static_cast<size_t>(it - stops.begin());
        index = forward ? (pos + 1) % stops.size() : (pos + stops.size() - 1) % stops.size();
    }
    SetFocusedControl(stops[index]);
}

Button* Form::DefaultButton() const
{
    return FindButton(const_cast<Form*>(this), [](const Button& b) { return b.Default; });
}

Button* Form::CancelButton() const
{
    return FindButton(const_cast<Form*>(this), [](const Button& b) { return b.Cancel; });
}

bool Form::PreviewKey(unsigned vk, unsigned modifiers)
{
    Window* focus = FocusedControl();
    if (focus && focus->WantsDialogKey(vk)) return false;
    switch (vk) {
    case VK_TAB:
        if (modifiers & (kmCtrl | kmAlt)) return false;
        SelectNext((modifiers & kmShift) == 0);
        return true;
    case VK_RETURN:
        if (auto* b = dynamic_cast<Button*>(focus); b && !dynamic_cast<CheckBox*>(b)) {
            b->Click();
            return true;
        }
        if (Button* b = DefaultButton()) {
            b->Click();
            return true;
        }
        return false;
    case VK_ESCAPE:
        if (Button* b = CancelButton()) {
            b->Click();
            return true;
        }
        if (modal_ && EscapeCancels) {
            ModalResult = mrCancel;
            return true;
        }
        return false;
    default: return false;
    }
}

void Form::InjectMouse(UINT message, TPoint p, unsigned flags)
{
    Window* target = nullptr;
    if (capture_) target = detail::LocalWindow(capture_);
    if (!target) {
        target = ChildAt(p);
        if (!target) target = this;
    }
    const TPoint o = target->OriginInForm();
    CurrentQueue()->Post(Msg{target->Handle(), message, flags, MakePoint(p.X - o.X, p.Y - o.Y), 0});
    if (message == WM_LBUTTONDOWN || message == WM_LBUTTONDBLCLK)
        capture_ = target->Handle();
    else if (message == WM_LBUTTONUP)
        capture_ = 0;
}

void Form::InjectKey(unsigned vk, unsigned modifiers, char32_t ch)
{
    // Keys go to the form and on to whichever control has the focus when
    // they are handled, so a Tab ahead of them in the queue moves them too.
    auto q = CurrentQueue();
    q->Post(Msg{Handle(), WM_KEYDOWN, vk, static_cast<LPARAM>(modifiers), 0});
    if (ch >= 0x20 && ch != 0x7F && !(modifiers & (kmCtrl | kmAlt)))
        q->Post(Msg{Handle(), WM_CHAR, static_cast<WPARAM>(ch), static_cast<LPARAM>(modifiers), 0});
    q->Post(Msg{Handle(), WM_KEYUP, vk, static_cast<LPARAM>(modifiers), 0});
}

void Form::InjectText(const std::string& utf8)
{
    for (size_t i = 0; i < utf8.size();) {
        unsigned char c = static_cast<unsigned char>(utf8[i]);
        char32_t cp;
        size_t len;
        if (c < 0x80)
            cp = c, len = 1;
        else if ((c >> 5) == 6)
            cp = c & 0x1F, len = 2;
        else if ((c >> 4) == 14)
            cp = c & 0x0F, len = 3;
        else
            cp = c & 0x07, len = 4;
        for (size_t k = 1; k < len && i + k < utf8.size(); ++k)
            cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        i += len;
        unsigned vk = 0;
        if (cp >= 'a' && cp <= 'z')
            vk = static_cast<unsigned>(cp - 'a' + 'A');
        else if ((cp >= 'A' && cp <= 'Z') || (cp >= '0' && cp <= '9'))
            vk = static_cast<unsigned>(cp);
        else if (cp == '\n' || cp == '\r')
            vk = VK_RETURN;
        else if (cp == '\t')
            vk = VK_TAB;
        else if (cp == ' ')
            vk = VK_SPACE;
        InjectKey(vk, (cp >= 'A' && cp <= 'Z') ? unsigned{kmShift} : 0u, cp);
    }
}

void Form::NativeMoved(int left, int top) { Window::SetBounds(left, top, Width(), Height()); }

void Form::NativeResized(int width, int height)
{
    if (Border != BorderStyle::bsSizeable || (width == Width() && height == Height())) return;
    Window::SetBounds(Left(), Top(), width, height);
    InvalidateAll();
}

void Form::SetFrame(BorderStyle border, bool maximizeBox)
{
    Border = border;
    MaximizeBox = maximizeBox;
    if (native_)
        native_->SetFrame(border != BorderStyle::bsSizeable, border == BorderStyle::bsDialog,
                          maximizeBox && border == BorderStyle::bsSizeable);
}

TSize Form::ScreenSize() { return ThreadConnection().ScreenSize(); }

void Form::SetWindowState(WindowState state)
{
    if (state == state_) return;
    if (state_ == WindowState::wsNormal) normal_ = BoundsRect();
    const WindowState previous = state_;
    state_ = state;
    if (state == WindowState::wsMaximized) {
        const TSize screen = ScreenSize();
        SetBounds(0, 0, screen.cx, screen.cy);
    } else if (state == WindowState::wsNormal && previous == WindowState::wsMaximized) {
        SetBounds(normal_.Left, normal_.Top, normal_.Width(), normal_.Height());
    }
    if (native_) native_->SetState(state == WindowState::wsMaximized, state == WindowState::wsMinimized, stayOnTop_);
}

void Form::SetNormalBounds(const TRect& bounds)
{
    if (state_ == WindowState::wsNormal)
        SetBounds(bounds.Left, bounds.Top, bounds.Width(), bounds.Height());
    else
        normal_ = bounds;
}

void Form::SetStayOnTop(bool on)
{
    stayOnTop_ = on;
    if (native_) native_->SetState(state_ == WindowState::wsMaximized, state_ == WindowState::wsMinimized, stayOnTop_);
}

void Form::NativeActivated(bool active)
{
    if (!active) return;
    t_active = this;
    detail::NoteTopLevelActivated(Handle());
}

void Form::BringToFront()
{
    if (!Visible()) return;
    t_active = this;
    detail::NoteTopLevelActivated(Handle());
    if (native_) native_->Activate();
}

void Form::InvalidateAll()
{
    if (Visible()) CurrentQueue()->RequestPaint(Handle());
}

LRESULT Form::WndProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_PAINT: PaintNow(); return 0;
    case WM_QUERYPLACEMENT: return detail::AnswerPlacementQuestion(wParam, {NativeHandle(), BoundsRect()}) ? 1 : 0;
    case WM_CLOSE:
        if (OnCloseQuery && !OnCloseQuery(*this)) return 0;
        if (modal_) ModalResult = mrCancel;
        Hide();
        if (OnClose) OnClose(*this);
        return 0;
    case WM_SYSCOMMAND:
        if (wParam != SC_RESTORE) return Window::WndProc(message, wParam, lParam);
        // Restored when minimised; then the form, or the pop-up of its
        // thread that was active last, comes to the front.
        if (state_ == WindowState::wsMinimized) SetWindowState(WindowState::wsNormal);
        if (!Visible()) Show();
        if (Form* popup = ActiveForm(); popup && popup != this && popup->Visible())
            popup->BringToFront();
        else
            BringToFront();
        return 0;
    case WM_KEYDOWN:
        if (PreviewKey(static_cast<unsigned>(wParam), static_cast<unsigned>(lParam))) return 1;
        [[fallthrough]];
    case WM_KEYUP:
    case WM_CHAR:
        if (Window* f = FocusedControl(); f && f != this) return f->Perform(message, wParam, lParam);
        return Window::WndProc(message, wParam, lParam);
    default: return Window::WndProc(message, wParam, lParam);
    }
}

void Form::EnsureSurface()
{
    const int w = std::max(1, Width()), h = std::max(1, Height());
    if (surface_ && cairo_image_surface_get_width(surface_) == w && cairo_image_surface_get_height(surface_) == h)
        return;
    if (surface_) cairo_surface_destroy(surface_);
    surface_ = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h);
}

void Form::Present(const TRect& rect)
{
    cairo_surface_flush(surface_);
    if (native_) native_->Present(surface_, rect);
}

void Form::PaintNow()
{
    CurrentQueue()->CancelPaint(Handle());
    if (painting_) return;
    painting_ = true;
    EnsureSurface();
    try {
        PaintTree(surface_, TPoint{0, 0}, ClientRect(), true);
    } catch (...) {
        painting_ = false;
        throw;
    }
    painting_ = false;
    if (Visible()) Present(ClientRect());
}

void Form::PaintControl(Window& control)
{
    if (&control == this || !surface_ || cairo_image_surface_get_width(surface_) != std::max(1, Width()) ||
        cairo_image_surface_get_height(surface_) != std::max(1, Height())) {
        PaintNow();
        return;
    }
    if (!control.Showing()) return;
    TRect clip = ClientRect();
    for (Window* w = control.Parent(); w && w != this; w = w->Parent()) {
        const TPoint o = w->OriginInForm();
        clip = gdi::Intersect(clip, TRect{o.X, o.Y, o.X + w->Width(), o.Y + w->Height()});
    }
    const TPoint o = control.OriginInForm();
    control.PaintTree(surface_, o, clip);
    if (Visible()) Present(gdi::Intersect(clip, TRect{o.X, o.Y, o.X + control.Width(), o.Y + control.Height()}));
}

gdi::Bitmap Form::Snapshot()
{
    EnsureSurface();
    PaintTree(surface_, TPoint{0, 0}, ClientRect(), true);
    cairo_surface_flush(surface_);
    gdi::Canvas c = gdi::CairoAccess::Wrap(surface_, Width(), Height());
    return c.ToBitmap();
}

void Form::SaveToPng(const std::string& path)
{
    EnsureSurface();
    PaintTree(surface_, TPoint{0, 0}, ClientRect(), true);
    cairo_surface_flush(surface_);
    gdi::Canvas c = gdi::CairoAccess::Wrap(surface_, Width(), Height());
    c.SaveToPng(path);
}

} // namespace ui
