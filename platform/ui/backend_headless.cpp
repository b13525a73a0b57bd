// The headless backend: no display. A form's surface is the window; the
// "screen" is the showing forms composed at their places.
#include <cairo.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <vector>

#include "platform/gdi/canvas_cairo.h"
#include "platform/ui/backend.h"
#include "platform/gdi/cairo_handles.h"
#include "platform/ui/headless.h"

namespace ui {
namespace {

constexpr TSize kScreen{1280, 1024};
std::atomic<int> g_beeps{0};

class HeadlessWindow;
std::mutex g_windowsMutex;
std::vector<HeadlessWindow*> g_windows;
HeadlessWindow* g_active = nullptr;

class HeadlessWindow final : public NativeWindow {
public:
    explicit HeadlessWindow(const NativeWindowParams& p) : caption_(p.caption), bounds_(p.bounds)
    {
        std::lock_guard lock(g_windowsMutex);
        g_windows.push_back(this);
    }
    ~HeadlessWindow() override
    {
        std::lock_guard lock(g_windowsMutex);
        g_windows.erase(std::remove(g_windows.begin(), g_windows.end(), this), g_windows.end());
        if (g_active == this) g_active = nullptr;
    }
    void SetCaption(const std::string& caption) override { caption_ = caption; }
    void SetBounds(const TRect& r) override
    {
        std::lock_guard lock(g_windowsMutex);
        bounds_ = r;
    }
    void Show(bool visible) override
    {
        std::lock_guard lock(g_windowsMutex);
        visible_ = visible;
        if (visible)
            g_active = this;
        else if (g_active == this)
            g_active = nullptr;
    }
    void Present(cairo_surface_t* surface, const TRect&) override
    {
        std::lock_guard lock(g_windowsMutex);
        if (shown_.get() != surface) shown_.reset(cairo_surface_reference(surface));
    }
    void Activate() override
    {
        std::lock_guard lock(g_windowsMutex);
        if (visible_) g_active = this;
    }
    TRect Bounds() const { return bounds_; }
    std::uint64_t Handle() const override { return 0; }

    // Under g_windowsMutex.
    void ComposeOnto(cairo_t* cr) const
    {
        if (!visible_ || !shown_) return;
        cairo_save(cr);
        cairo_set_source_surface(cr, shown_.get(), bounds_.Left, bounds_.Top);
        cairo_rectangle(cr, bounds_.Left, bounds_.Top, bounds_.Width(), bounds_.Height());
        cairo_fill(cr);
        cairo_restore(cr);
    }

private:
    std::string caption_;
    TRect bounds_;
    bool visible_ = false;
    gdi::detail::SurfacePtr shown_;
};

class HeadlessConnection final : public Connection {
public:
    int Fd() const override { return -1; }
    void Pump() override {}
    std::unique_ptr<NativeWindow> CreateNativeWindow(Form&, const NativeWindowParams& p) override
    {
        return std::make_unique<HeadlessWindow>(p);
    }
    void Beep() override { ++g_beeps; }
    TSize ScreenSize() override { return kScreen; }
};

} // namespace

std::unique_ptr<Connection> CreateHeadlessConnection() { return std::make_unique<HeadlessConnection>(); }

namespace headless {
int BeepCount() { return g_beeps.load(); }

gdi::Bitmap CaptureScreen()
{
    gdi::detail::SurfacePtr screen(cairo_image_surface_create(CAIRO_FORMAT_RGB24, kScreen.cx, kScreen.cy));
    {
        gdi::detail::ContextPtr cr(cairo_create(screen.get()));
        cairo_set_source_rgb(cr.get(), 0.23, 0.43, 0.65);
        cairo_paint(cr.get());
        std::lock_guard lock(g_windowsMutex);
        for (const HeadlessWindow* w : g_windows) w->ComposeOnto(cr.get());
    }
    cairo_surface_flush(screen.get());
    gdi::Canvas canvas = gdi::CairoAccess::Wrap(screen.get(), kScreen.cx, kScreen.cy);
    return canvas.ToBitmap();
}
TRect ActiveWindowRect()
{
    std::lock_guard lock(g_windowsMutex);
    return g_active ? g_active->Bounds() : TRect{};
}
} // namespace headless

// ---- synthetic input -------------------------------------------------------

namespace {
TPoint InForm(Window& w, int x, int y)
{
    const TPoint o = w.OriginInForm();
    return TPoint{o.X + x, o.Y + y};
}
} // namespace

void SimulateClick(Window& window, int x, int y)
{
    Form* f = window.TopLevel();
    if (!f) return;
    const TPoint p = InForm(window, x, y);
    f->InjectMouse(WM_LBUTTONDOWN, p, MK_LBUTTON);
    f->InjectMouse(WM_LBUTTONUP, p, 0);
}

void SimulateDoubleClick(Window& window, int x, int y)
{
    Form* f = window.TopLevel();
    if (!f) return;
    SimulateClick(window, x, y);
    const TPoint p = InForm(window, x, y);
    f->InjectMouse(WM_LBUTTONDBLCLK, p, MK_LBUTTON);
    f->InjectMouse(WM_LBUTTONUP, p, 0);
}

void SimulateDrag(Window& window, TPoint from, TPoint to)
{
    Form* f = window.TopLevel();
    if (!f) return;
    f->InjectMouse(WM_LBUTTONDOWN, InForm(window, from.X, from.Y), MK_LBUTTON);
    f->InjectMouse(WM_MOUSEMOVE, InForm(window, to.X, to.Y), MK_LBUTTON);
    f->InjectMouse(WM_LBUTTONUP, InForm(window, to.X, to.Y), 0);
}

void SimulateKey(Form& form, unsigned vk, unsigned modifiers) { form.InjectKey(vk, modifiers, 0); }

void SimulateText(Form& form, const std::string& utf8) { form.InjectText(utf8); }

} // namespace ui
