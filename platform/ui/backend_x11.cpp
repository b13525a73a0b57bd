// The X11 backend: one display connection per user-interface thread; one X
// window per form, showing the form's surface through a cairo Xlib surface.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <cairo-xlib.h>
#include <unistd.h>

#include <unordered_map>
#include <vector>

#include "platform/ui/backend.h"
#include "platform/gdi/cairo_handles.h"
#include "platform/ui/form.h"
#include "platform/ui/window_registry.h"
#include "platform/ui/x11_display.h"

namespace ui {
namespace {

struct Atoms {
    Atom wmProtocols, wmDelete, netWmName, utf8, motifHints, netWmWindowType, typeDialog, typeNormal, netWmPid;
    Atom netWmState, stateMaxH, stateMaxV, stateAbove, shownStamp;
    explicit Atoms(Display* d)
    {
        wmProtocols = XInternAtom(d, "WM_PROTOCOLS", False);
        wmDelete = XInternAtom(d, "WM_DELETE_WINDOW", False);
        netWmName = XInternAtom(d, "_NET_WM_NAME", False);
        utf8 = XInternAtom(d, "UTF8_STRING", False);
        motifHints = XInternAtom(d, "_MOTIF_WM_HINTS", False);
        netWmWindowType = XInternAtom(d, "_NET_WM_WINDOW_TYPE", False);
        typeDialog = XInternAtom(d, "_NET_WM_WINDOW_TYPE_DIALOG", False);
        typeNormal = XInternAtom(d, "_NET_WM_WINDOW_TYPE_NORMAL", False);
        netWmPid = XInternAtom(d, "_NET_WM_PID", False);
        netWmState = XInternAtom(d, "_NET_WM_STATE", False);
        stateMaxH = XInternAtom(d, "_NET_WM_STATE_MAXIMIZED_HORZ", False);
        stateMaxV = XInternAtom(d, "_NET_WM_STATE_MAXIMIZED_VERT", False);
        stateAbove = XInternAtom(d, "_NET_WM_STATE_ABOVE", False);
        shownStamp = XInternAtom(d, "_VEK_SHOWN", False);
    }
};

class X11Connection;

// Two presses this close (server milliseconds) make a double click.
constexpr Time kDoubleClickMs = 400;

class X11Window final : public NativeWindow {
public:
    X11Window(X11Connection& c, Form& form, const NativeWindowParams& p);
    ~X11Window() override;
    void SetCaption(const std::string& caption) override;
    void SetBounds(const TRect& r) override;
    void Show(bool visible) override;
    void SetInputGuard(bool on) override { guard_ = on; }
    void Present(cairo_surface_t* surface, const TRect& rect) override;
    void Activate() override;
    void SetState(bool maximized, bool minimized, bool stayOnTop) override;
    void SetFrame(bool fixedSize, bool dialogFrame, bool maximizeBox) override;
    std::uint64_t Handle() const override { return xid_; }

    void Mapped();
    // Without a window manager nothing enforces the size hints: a fixed
    // window that was resized from outside takes its own size back.
    // A resizable window takes the new size into its surface; answers
    // whether the size changed.
    bool Configured(int width, int height);
    // The server time at which the window was last shown (0: not seen yet).
    void NoteShown(Time when) { shownAt_ = when == 0 ? 1 : when; }
    // With the input guard on: whether this input event is to be dropped
    // because it was meant for what was there before the window appeared.
    bool EarlyInput(const XEvent& e);
    bool mapped = false;
    bool wantFocus = false;
    Time lastClick = 0;
    int lastX = -100, lastY = -100;

private:
    void ApplySizeHints();
    void ApplyFrameHints();
    X11Connection& c_;
    ::Window xid_ = 0;
    TRect bounds_;
    bool fixed_;
    bool dialogFrame_ = false;
    bool maximizeBox_ = true;
    bool guard_ = false;
    Time shownAt_ = 0;
    Time lastDroppedPress_ = 0;
    bool dropRelease_ = false;
    // Sizes asked for and not yet confirmed: their ConfigureNotify events
    // are our own, not a resize from outside.
    std::vector<TSize> requested_;
    gdi::detail::SurfacePtr xsurface_;
};

class X11Connection final : public Connection {
public:
    explicit X11Connection(x11::DisplayPtr d) : display_(std::move(d)), atoms(display_.get()) {}
    ~X11Connection() override
    {
        if (Lost()) {
            // A broken connection is not touched again, not even to close it.
            x11::ForgetDisplay(display_.get());
            (void)display_.release();
            return;
        }
        XSync(display_.get(), False);
    }

    Display* dpy() const { return display_.get(); }
    bool Lost() const override { return lost_ || x11::DisplayLost(display_.get()); }
    int Fd() const override { return Lost() ? -1 : ConnectionNumber(display_.get()); }
    void Pump() override;
    std::unique_ptr<NativeWindow> CreateNativeWindow(Form& form, const NativeWindowParams& p) override
    {
        return std::make_unique<X11Window>(*this, form, p);
    }
    void Beep() override
    {
        if (Lost()) return;
        XBell(dpy(), 0);
        XFlush(dpy());
    }
    TSize ScreenSize() override
    {
        int s = DefaultScreen(dpy());
        return TSize{DisplayWidth(dpy(), s), DisplayHeight(dpy(), s)};
    }

    void Add(::Window xid, HWND form, X11Window* w) { windows_[xid] = Entry{form, w}; }
    void Remove(::Window xid) { windows_.erase(xid); }

private:
    x11::DisplayPtr display_; // before the atoms, which are looked up on it
    mutable bool lost_ = false;

public:
    Atoms atoms;

private:
    struct Entry {
        HWND form;
        X11Window* native;
    };
    void Handle(XEvent& e);
    std::unordered_map<::Window, Entry> windows_;
};

X11Window::X11Window(X11Connection& c, Form& form, const NativeWindowParams& p)
    : c_(c), bounds_(p.bounds), fixed_(p.fixedSize)
{
    Display* d = c.dpy();
    const int screen = DefaultScreen(d);
    XSetWindowAttributes a{};
    a.background_pixel = WhitePixel(d, screen);
    a.event_mask = ExposureMask | KeyPressMask | KeyReleaseMask | ButtonPressMask | ButtonReleaseMask |
        PointerMotionMask | StructureNotifyMask | FocusChangeMask | PropertyChangeMask;
    a.bit_gravity = NorthWestGravity;
    xid_ = XCreateWindow(d, RootWindow(d, screen), p.bounds.Left, p.bounds.Top, std::max(1, p.bounds.Width()),
                         std::max(1, p.bounds.Height()), 0, CopyFromParent, InputOutput, CopyFromParent,
                         CWBackPixel | CWEventMask | CWBitGravity, &a);
    Atom protocols[] = {c.atoms.wmDelete};
    XSetWMProtocols(d, xid_, protocols, 1);
    XClassHint cls{const_cast<char*>("vek2avi"), const_cast<char*>("Vek2avi")};
    XSetClassHint(d, xid_, &cls);
    const long pid = getpid();
    XChangeProperty(d, xid_, c.atoms.netWmPid, XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&pid), 1);
    // A dialog frame is a dialog to the window manager too, owned or not:
    // window managers that pass over the Motif hints give dialogs no
    // maximise button.
    Atom type = p.owner || p.dialogFrame ? c.atoms.typeDialog : c.atoms.typeNormal;
    XChangeProperty(d, xid_, c.atoms.netWmWindowType, XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&type), 1);
    if (p.owner) XSetTransientForHint(d, xid_, static_cast<::Window>(p.owner));
    dialogFrame_ = p.dialogFrame;
    maximizeBox_ = p.maximizeBox;
    ApplyFrameHints();
    ApplySizeHints();
    SetCaption(p.caption);
    c.Add(xid_, form.Handle(), this);
    xsurface_.reset(cairo_xlib_surface_create(d, xid_, DefaultVisual(d, screen), std::max(1, p.bounds.Width()),
                                              std::max(1, p.bounds.Height())));
}

X11Window::~X11Window()
{
    if (c_.Lost()) {
        (void)xsurface_.release(); // its server side is gone with the connection
        c_.Remove(xid_);
        return;
    }
    xsurface_.reset();
    c_.Remove(xid_);
    XDestroyWindow(c_.dpy(), xid_);
    XFlush(c_.dpy());
}

void X11Window::ApplyFrameHints()
{
    if (fixed_) {
        // Motif hints: move and close only; border, title and window menu,
        // no resize handles and no minimise or maximise buttons.
        enum : long {
            kFunctions = 1,
            kDecorations = 2,
            kFuncMove = 4,
            kFuncMinimize = 8,
            kFuncClose = 32,
            kDecorBorder = 2,
            kDecorTitle = 8,
            kDecorMenu = 16,
            kDecorMinimize = 32
        };
        long hints[5] = {kFunctions | kDecorations, kFuncMove | kFuncClose | (dialogFrame_ ? 0L : long{kFuncMinimize}),
                         kDecorBorder | kDecorTitle | kDecorMenu | (dialogFrame_ ? 0L : long{kDecorMinimize}), 0, 0};
        XChangeProperty(c_.dpy(), xid_, c_.atoms.motifHints, c_.atoms.motifHints, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(hints), 5);
    } else if (!maximizeBox_) {
        // Resizable without the maximise box: every function and decoration
        // but maximising (flags 1 and 2 = "all but the listed ones").
        enum : long { kFunctions = 1, kDecorations = 2, kAllBut = 1, kFuncMaximize = 16, kDecorMaximize = 64 };
        long hints[5] = {kFunctions | kDecorations, kAllBut | kFuncMaximize, kAllBut | kDecorMaximize, 0, 0};
        XChangeProperty(c_.dpy(), xid_, c_.atoms.motifHints, c_.atoms.motifHints, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(hints), 5);
    } else {
        XDeleteProperty(c_.dpy(), xid_, c_.atoms.motifHints);
    }
}

void X11Window::SetFrame(bool fixedSize, bool dialogFrame, bool maximizeBox)
{
    if (c_.Lost()) return;
    fixed_ = fixedSize;
    dialogFrame_ = dialogFrame;
    maximizeBox_ = maximizeBox;
    ApplyFrameHints();
    ApplySizeHints();
    XFlush(c_.dpy());
}

void X11Window::ApplySizeHints()
{
    XSizeHints* h = XAllocSizeHints();
    h->flags = PPosition | USPosition | PSize | USSize;
    h->x = bounds_.Left;
    h->y = bounds_.Top;
    h->width = bounds_.Width();
    h->height = bounds_.Height();
    if (fixed_) {
        h->flags |= PMinSize | PMaxSize;
        h->min_width = h->max_width = bounds_.Width();
        h->min_height = h->max_height = bounds_.Height();
    }
    XSetWMNormalHints(c_.dpy(), xid_, h);
    XFree(h);
}

void X11Window::SetCaption(const std::string& caption)
{
    if (c_.Lost()) return;
    Display* d = c_.dpy();
    XChangeProperty(d, xid_, c_.atoms.netWmName, c_.atoms.utf8, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(caption.data()), static_cast<int>(caption.size()));
    XTextProperty tp{};
    char* list[] = {const_cast<char*>(caption.c_str())};
    if (Xutf8TextListToTextProperty(d, list, 1, XStdICCTextStyle, &tp) >= Success) {
        XSetWMName(d, xid_, &tp);
        XFree(tp.value);
    }
    XFlush(d);
}

void X11Window::SetBounds(const TRect& r)
{
    if (c_.Lost()) return;
    const bool resized = r.Width() != bounds_.Width() || r.Height() != bounds_.Height();
    bounds_ = r;
    if (resized) {
        requested_.push_back(TSize{std::max(1, r.Width()), std::max(1, r.Height())});
        if (requested_.size() > 16) requested_.erase(requested_.begin());
    }
    ApplySizeHints();
    XMoveResizeWindow(c_.dpy(), xid_, r.Left, r.Top, std::max(1, r.Width()), std::max(1, r.Height()));
    if (resized) cairo_xlib_surface_set_size(xsurface_.get(), std::max(1, r.Width()), std::max(1, r.Height()));
    XFlush(c_.dpy());
}

void X11Window::Show(bool visible)
{
    if (c_.Lost()) return;
    Display* d = c_.dpy();
    if (visible) {
        wantFocus = true;
        XMapRaised(d, xid_);
        // An empty append still changes the property: its PropertyNotify
        // carries the server time at which the window went up.
        shownAt_ = 0;
        lastDroppedPress_ = 0;
        dropRelease_ = false;
        XChangeProperty(d, xid_, c_.atoms.shownStamp, XA_INTEGER, 32, PropModeAppend, nullptr, 0);
        // Without a window manager the position given at creation holds;
        // with one, this asks for it again once mapped.
        XMoveWindow(d, xid_, bounds_.Left, bounds_.Top);
    } else {
        XUnmapWindow(d, xid_);
        mapped = false;
    }
    XFlush(d);
}

void X11Window::Mapped()
{
    mapped = true;
    if (wantFocus) {
        wantFocus = false;
        XSetInputFocus(c_.dpy(), xid_, RevertToParent, CurrentTime);
    }
}

bool X11Window::EarlyInput(const XEvent& e)
{
    if (!guard_) return false;
    const bool key = e.type == KeyPress || e.type == KeyRelease;
    const Time t = key ? e.xkey.time : e.xbutton.time;
    // Queued before the window was up: aimed at what was under the pointer
    // or had the focus then.
    const bool before = shownAt_ == 0 || static_cast<long>(t - shownAt_) < 0;
    if (key) return before;
    if (e.type == ButtonRelease) {
        const bool drop = before || dropRelease_;
        dropRelease_ = false;
        return drop;
    }
    // The rest of a double or triple click that opened the window: presses
    // within the double-click time of its appearance or of a dropped press.
    const bool early = before || t - shownAt_ < kDoubleClickMs ||
        (lastDroppedPress_ != 0 && t - lastDroppedPress_ < kDoubleClickMs);
    if (early) {
        lastDroppedPress_ = t == 0 ? 1 : t;
        dropRelease_ = true;
    }
    return early;
}

bool X11Window::Configured(int width, int height)
{
    for (size_t i = 0; i < requested_.size(); ++i)
        if (requested_[i] == TSize{width, height}) {
            requested_.erase(requested_.begin(), requested_.begin() + static_cast<long>(i) + 1);
            return false;
        }
    if (width == bounds_.Width() && height == bounds_.Height()) return false;
    if (fixed_) {
        XResizeWindow(c_.dpy(), xid_, std::max(1, bounds_.Width()), std::max(1, bounds_.Height()));
        XFlush(c_.dpy());
        return false;
    }
    bounds_.Right = bounds_.Left + width;
    bounds_.Bottom = bounds_.Top + height;
    cairo_xlib_surface_set_size(xsurface_.get(), std::max(1, width), std::max(1, height));
    return true;
}

void X11Window::SetState(bool maximized, bool minimized, bool stayOnTop)
{
    if (c_.Lost()) return;
    Display* d = c_.dpy();
    auto request = [&](bool on, Atom first, Atom second) {
        XEvent e{};
        e.xclient.type = ClientMessage;
        e.xclient.window = xid_;
        e.xclient.message_type = c_.atoms.netWmState;
        e.xclient.format = 32;
        e.xclient.data.l[0] = on ? 1 : 0; // _NET_WM_STATE_ADD / _REMOVE
        e.xclient.data.l[1] = static_cast<long>(first);
        e.xclient.data.l[2] = static_cast<long>(second);
        e.xclient.data.l[3] = 1;
        XSendEvent(d, DefaultRootWindow(d), False, SubstructureRedirectMask | SubstructureNotifyMask, &e);
    };
    if (mapped) {
        request(maximized, c_.atoms.stateMaxH, c_.atoms.stateMaxV);
        request(stayOnTop, c_.atoms.stateAbove, 0);
    } else {
        // Before mapping the state is a property the window manager reads.
        std::vector<Atom> atoms;
        if (maximized) atoms.insert(atoms.end(), {c_.atoms.stateMaxH, c_.atoms.stateMaxV});
        if (stayOnTop) atoms.push_back(c_.atoms.stateAbove);
        XChangeProperty(d, xid_, c_.atoms.netWmState, XA_ATOM, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(atoms.data()), static_cast<int>(atoms.size()));
    }
    if (minimized && mapped) XIconifyWindow(d, xid_, DefaultScreen(d));
    XFlush(d);
}

void X11Window::Activate()
{
    if (c_.Lost()) return;
    XRaiseWindow(c_.dpy(), xid_);
    if (mapped)
        XSetInputFocus(c_.dpy(), xid_, RevertToParent, CurrentTime);
    else
        wantFocus = true;
    XFlush(c_.dpy());
}

void X11Window::Present(cairo_surface_t* surface, const TRect& r)
{
    if (c_.Lost()) return;
    gdi::detail::ContextPtr cr(cairo_create(xsurface_.get()));
    cairo_set_source_surface(cr.get(), surface, 0, 0);
    cairo_rectangle(cr.get(), r.Left, r.Top, r.Width(), r.Height());
    cairo_fill(cr.get());
    cr.reset();
    cairo_surface_flush(xsurface_.get());
    XFlush(c_.dpy());
}

unsigned TranslateKeysym(KeySym ks)
{
    if (ks >= XK_a && ks <= XK_z) return static_cast<unsigned>('A' + (ks - XK_a));
    if (ks >= XK_A && ks <= XK_Z) return static_cast<unsigned>('A' + (ks - XK_A));
    if (ks >= XK_0 && ks <= XK_9) return static_cast<unsigned>('0' + (ks - XK_0));
    if (ks >= XK_F1 && ks <= XK_F12) return static_cast<unsigned>(VK_F1 + (ks - XK_F1));
    switch (ks) {
    case XK_Tab:
    case XK_ISO_Left_Tab: return VK_TAB;
    case XK_Return:
    case XK_KP_Enter: return VK_RETURN;
    case XK_Escape: return VK_ESCAPE;
    case XK_BackSpace: return VK_BACK;
    case XK_Delete:
    case XK_KP_Delete: return VK_DELETE;
    case XK_Insert: return VK_INSERT;
    case XK_Left: return VK_LEFT;
    case XK_Right: return VK_RIGHT;
    case XK_Up: return VK_UP;
    case XK_Down: return VK_DOWN;
    case XK_Home: return VK_HOME;
    case XK_End: return VK_END;
    case XK_Prior: return VK_PRIOR;
    case XK_Next: return VK_NEXT;
    case XK_space: return VK_SPACE;
    case XK_Shift_L:
    case XK_Shift_R: return VK_SHIFT;
    case XK_Control_L:
    case XK_Control_R: return VK_CONTROL;
    default: return 0;
    }
}

char32_t KeysymChar(KeySym ks)
{
    if ((ks >= 0x20 && ks <= 0x7E) || (ks >= 0xA0 && ks <= 0xFF)) return static_cast<char32_t>(ks);
    if ((ks & 0xFF000000) == 0x01000000) return static_cast<char32_t>(ks & 0x00FFFFFF);
    return 0;
}

void X11Connection::Pump()
{
    if (lost_) return;
    Display* d = dpy();
    if (!Lost()) XFlush(d);
    while (!Lost() && XPending(d) > 0) {
        XEvent e;
        XNextEvent(d, &e);
        Handle(e);
    }
    if (Lost()) {
        // Once: the thread's modal loops end, and its windows stay away.
        lost_ = true;
        PostQuitMessage(0);
    }
}

void X11Connection::Handle(XEvent& e)
{
    if (e.type == MappingNotify) {
        XRefreshKeyboardMapping(&e.xmapping);
        return;
    }
    auto it = windows_.find(e.xany.window);
    if (it == windows_.end()) return;
    auto* form = dynamic_cast<Form*>(detail::LocalWindow(it->second.form));
    if (!form) return;
    X11Window* native = it->second.native;
    switch (e.type) {
    case Expose:
        if (e.xexpose.count == 0) form->NativeExposed();
        break;
    case MapNotify: native->Mapped(); break;
    case UnmapNotify: native->mapped = false; break;
    case ConfigureNotify: {
        int x = e.xconfigure.x, y = e.xconfigure.y;
        if (!e.xconfigure.send_event) {
            ::Window child;
            XTranslateCoordinates(dpy(), e.xconfigure.window, DefaultRootWindow(dpy()), 0, 0, &x, &y, &child);
        }
        form->NativeMoved(x, y);
        if (native->Configured(e.xconfigure.width, e.xconfigure.height))
            form->NativeResized(e.xconfigure.width, e.xconfigure.height);
        break;
    }
    case ClientMessage:
        if (static_cast<Atom>(e.xclient.data.l[0]) == atoms.wmDelete) PostMessage(form->Handle(), WM_CLOSE);
        break;
    case PropertyNotify:
        if (e.xproperty.atom == atoms.shownStamp && e.xproperty.state == PropertyNewValue)
            native->NoteShown(e.xproperty.time);
        break;
    case FocusIn: form->NativeActivated(true); break;
    case KeyPress: {
        if (native->EarlyInput(e)) break;
        char buf[32];
        KeySym ks = 0;
        XLookupString(&e.xkey, buf, sizeof buf, &ks, nullptr);
        unsigned mods = 0;
        if (e.xkey.state & ShiftMask) mods |= kmShift;
        if (e.xkey.state & ControlMask) mods |= kmCtrl;
        if (e.xkey.state & Mod1Mask) mods |= kmAlt;
        if (ks == XK_ISO_Left_Tab) mods |= kmShift;
        const unsigned vk = TranslateKeysym(ks);
        const char32_t ch = KeysymChar(ks);
        if (vk || ch) form->InjectKey(vk, mods, ch);
        break;
    }
    case ButtonPress:
    case ButtonRelease: {
        if (native->EarlyInput(e)) break;
        const TPoint p{e.xbutton.x, e.xbutton.y};
        unsigned flags = 0;
        if (e.xbutton.state & ShiftMask) flags |= MK_SHIFT;
        if (e.xbutton.state & ControlMask) flags |= MK_CONTROL;
        const bool press = e.type == ButtonPress;
        switch (e.xbutton.button) {
        case Button1:
            if (press) {
                const bool dbl = e.xbutton.time - native->lastClick < kDoubleClickMs && std::abs(p.X - native->lastX) < 4 &&
                    std::abs(p.Y - native->lastY) < 4;
                form->InjectMouse(dbl ? WM_LBUTTONDBLCLK : WM_LBUTTONDOWN, p, flags | MK_LBUTTON);
                native->lastClick = dbl ? 0 : e.xbutton.time;
                native->lastX = p.X;
                native->lastY = p.Y;
            } else {
                form->InjectMouse(WM_LBUTTONUP, p, flags);
            }
            break;
        case Button3: form->InjectMouse(press ? WM_RBUTTONDOWN : WM_RBUTTONUP, p, flags); break;
        case Button4:
        case Button5:
            if (press) {
                Window* target = form->ChildAt(p);
                PostMessage(target ? target->Handle() : form->Handle(), WM_MOUSEWHEEL,
                            static_cast<WPARAM>(e.xbutton.button == Button4 ? 1 : -1), MakePoint(p.X, p.Y));
            }
            break;
        default: break;
        }
        break;
    }
    case MotionNotify: {
        unsigned flags = 0;
        if (e.xmotion.state & Button1Mask) flags |= MK_LBUTTON;
        if (e.xmotion.state & ShiftMask) flags |= MK_SHIFT;
        form->InjectMouse(WM_MOUSEMOVE, TPoint{e.xmotion.x, e.xmotion.y}, flags);
        break;
    }
    default: break;
    }
}

} // namespace

std::unique_ptr<Connection> CreateX11Connection()
{
    auto d = x11::OpenDisplay();
    if (!d) return nullptr;
    return std::make_unique<X11Connection>(std::move(d));
}

} // namespace ui
