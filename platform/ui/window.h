#pragma once
// The window: a rectangle in its parent with a handle, a text, a font and
// colours, that paints itself through a gdi::Canvas and reacts to messages.
// Top-level windows are Forms (form.h); everything inside them is a child
// window drawn on the form's surface. A window belongs to the thread that
// created it and must be used and destroyed on that thread only; other
// threads reach it through PostMessage/SendMessage with its handle.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/gdi/canvas.h"

typedef struct _cairo_surface cairo_surface_t;
#include "platform/ui/message_queue.h"
#include "platform/ui/types.h"

namespace ui {

class Form;

// Mouse button and modifier flags of mouse messages' wParam.
enum : unsigned { MK_LBUTTON = 0x1, MK_RBUTTON = 0x2, MK_SHIFT = 0x4, MK_CONTROL = 0x8 };

struct Window {
public:
    explicit Window(Window* parent = nullptr);
    virtual ~Window();
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    HWND Handle() const { return handle_; }
    Window* Parent() const { return parent_; }
    const std::vector<Window*>& Children() const { return children_; }
    Form* TopLevel();
    const Form* TopLevel() const;
    // Makes the window a child of parent (nullptr: none), last in z-order.
    void SetParent(Window* parent);
    // Creates a child that this window owns and destroys.
    template <class T, class... Args> T* Add(Args&&... args)
    {
        auto child = std::make_unique<T>(this, std::forward<Args>(args)...);
        T* raw = child.get();
        owned_.push_back(std::move(child));
        return raw;
    }

    // Geometry: children relative to the parent's client area; forms on the
    // screen (the client area's top-left corner).
    int Left() const { return bounds_.Left; }
    int Top() const { return bounds_.Top; }
    int Width() const { return bounds_.Width(); }
    int Height() const { return bounds_.Height(); }
    TRect BoundsRect() const { return bounds_; }
    TRect ClientRect() const { return TRect{0, 0, Width(), Height()}; }
    virtual void SetBounds(int left, int top, int width, int height);
    // The window's client origin in its form's client coordinates.
    TPoint OriginInForm() const;

    const std::string& Text() const { return text_; }
    void SetText(const std::string& text);

    bool Visible() const { return visible_; }
    virtual void SetVisible(bool visible);
    void Show() { SetVisible(true); }
    void Hide() { SetVisible(false); }
    // Visible itself and every parent up to the form.
    bool Showing() const;
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool enabled);
    bool EnabledInForm() const; // enabled itself and every parent

    // Keyboard focus and tab order.
    bool TabStop = false;
    int TabOrder = 0;
    bool CanFocus() const;
    // Keys a control takes for itself instead of the dialog (Enter in a
    // multi-line edit, arrows in a list).
    virtual bool WantsDialogKey(unsigned /*vk*/) const { return false; }
    bool Focused() const;
    void SetFocus();

    int Id = 0;       // control identifier carried by WM_COMMAND and WM_NOTIFY
    std::string Name; // the component name of the designer ("Form1", "Edit1")
    gdi::TFont Font;
    gdi::TColor Color = gdi::clBtnFace;

    // Marks the window for repainting through the message loop.
    void Invalidate();
    // Paints the window and its children now and shows the result, without
    // waiting for the message loop (what a progress display needs while its
    // thread is busy).
    void Repaint();

    // Runs before the window's own handling of a message; return true to
    // swallow it. For an owner that wants to see a child's messages.
    std::function<bool(Window&, const Msg&, LRESULT&)> OnMessage;

    // Handles one message; the default routes to the virtual handlers below.
    virtual LRESULT WndProc(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Perform(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);

    // Paints the window's own client area; children are painted afterwards
    // on top. The canvas's origin is the window's client origin and it is
    // clipped to the window.
    virtual void Paint(gdi::Canvas& canvas);

    // The deepest visible child at a point of this window's client area.
    Window* ChildAt(TPoint p);

protected:
    virtual void MouseDown(TPoint, unsigned /*button MK_*/, unsigned /*flags*/) {}
    virtual void MouseUp(TPoint, unsigned, unsigned) {}
    virtual void MouseMove(TPoint, unsigned) {}
    virtual void DoubleClick(TPoint, unsigned) {}
    virtual void MouseWheel(int /*steps*/) {}
    // Return true when the key was used.
    virtual bool KeyDown(unsigned /*vk*/, unsigned /*modifiers*/) { return false; }
    virtual void KeyChar(char32_t) {}
    virtual void FocusChanged(bool /*gained*/) { Invalidate(); }
    virtual void TextChanged() { Invalidate(); }
    virtual void Resized() {}
    // Child-to-parent notifications.
    void NotifyParent(unsigned code);

private:
    friend class Form;
    // root: paint this window even while it is hidden (a form's snapshot).
    void PaintTree(cairo_surface_t* surface, TPoint origin, const TRect& clip, bool root = false);

    HWND handle_ = 0;
    Window* parent_ = nullptr;
    std::vector<Window*> children_;
    std::vector<std::unique_ptr<Window>> owned_;
    TRect bounds_{};
    std::string text_;
    bool visible_ = true;
    bool enabled_ = true;
};

// Text of a window by handle, and whether a handle is alive; own thread.
bool IsWindow(HWND hwnd);
Window* FindWindowByHandle(HWND hwnd);

} // namespace ui
