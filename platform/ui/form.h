#pragma once
// A top-level window: caption, frame, the surface its controls are drawn on,
// keyboard focus and tab order, default and cancel buttons, and a modal
// loop. The native side (an X11 window, or an image in the headless
// backend) is made when the form is first shown.
#include <memory>
#include <string>

#include "platform/ui/dialogs.h"
#include "platform/ui/window.h"

namespace ui {

class NativeWindow;
class Button;

enum class BorderStyle {
    bsSizeable, // an ordinary resizable window
    bsDialog,   // fixed size; no minimise or maximise box
    bsSingle,   // fixed size, with minimise box
};

enum class FormPosition { poDesigned, poScreenCenter, poOwnerCenter };

enum class WindowState { wsNormal, wsMaximized, wsMinimized };

class Form : public Window {
public:
    Form();
    ~Form() override;

    std::string Caption() const { return Text(); }
    void SetCaption(const std::string& caption);
    BorderStyle Border = BorderStyle::bsSizeable;
    FormPosition Position = FormPosition::poDesigned;
    Form* Owner = nullptr; // for modal dialogs: the window they belong to
    // A window of another thread this form belongs to (Owner must be one of
    // this thread): its native handle marks the form transient for it, and
    // poOwnerCenter centres on its bounds. Set before the form is shown.
    std::uint64_t ForeignOwner = 0;
    TRect ForeignOwnerBounds{};
    // Escape ends a modal form with mrCancel when it has no cancel button.
    bool EscapeCancels = true;
    // A resizable form offers the maximise box.
    bool MaximizeBox = true;
    // Changes Border and MaximizeBox of a form that may already be shown.
    void SetFrame(BorderStyle border, bool maximizeBox);

    // Window placement: the state, and the bounds the form has when normal.
    // Maximising fills the screen and remembers the normal bounds.
    WindowState State() const { return state_; }
    void SetWindowState(WindowState state);
    TRect NormalBounds() const { return state_ == WindowState::wsNormal ? BoundsRect() : normal_; }
    void SetNormalBounds(const TRect& bounds);
    // Kept above other windows.
    bool StayOnTop() const { return stayOnTop_; }
    void SetStayOnTop(bool on);
    // The screen size of this thread's connection.
    static TSize ScreenSize();

    // The client area on the screen.
    void SetBounds(int left, int top, int width, int height) override;
    void SetClientSize(int width, int height) { SetBounds(Left(), Top(), width, height); }
    void SetVisible(bool visible) override;
    void Close(); // as if the user closed the window
    // Called on WM_CLOSE; return false to keep the window open. Default: hide
    // it (a modal form ends with mrCancel).
    std::function<bool(Form&)> OnCloseQuery;
    std::function<void(Form&)> OnClose;

    // Modal use: shows the form, disables the other forms of this thread and
    // runs a message loop until ModalResult is set or the form is closed.
    int ShowModal();
    int ModalResult = mrNone;
    bool IsModal() const { return modal_; }

    // Focus and dialog keys.
    Window* FocusedControl() const;
    void SetFocusedControl(Window* control);
    void ForgetFocus() { focused_ = 0; } // the focused control is going away
    // Moves the focus to the next (or previous) tab stop.
    void SelectNext(bool forward);
    Button* DefaultButton() const;
    Button* CancelButton() const;
    // Dialog keys (Tab, Enter, Escape) handled before the focused control
    // sees them; true when used.
    virtual bool PreviewKey(unsigned vk, unsigned modifiers);

    // Native events, from the backend or from synthetic input: they are
    // queued as messages to the control under the pointer or with the focus.
    void InjectMouse(UINT message, TPoint clientPoint, unsigned flags);
    void InjectKey(unsigned vk, unsigned modifiers, char32_t ch);
    void InjectText(const std::string& utf8);
    void NativeMoved(int left, int top);
    // The window was resized from outside (the user or the window manager).
    void NativeResized(int width, int height);
    void NativeExposed() { InvalidateAll(); }
    void NativeActivated(bool active);
    // Raises the window and gives it the keyboard focus.
    void BringToFront();

    void InvalidateAll();
    // Paints the whole form into its surface and shows it.
    void PaintNow();
    // Paints one window of this form now (Window::Repaint).
    void PaintControl(Window& control);
    // The form's picture as last painted (painting it first when needed).
    gdi::Bitmap Snapshot();
    void SaveToPng(const std::string& path);

    NativeWindow* Native() const { return native_.get(); }
    std::uint64_t NativeHandle() const; // X window id; 0 in the headless backend

    LRESULT WndProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    void EnsureNative();
    void EnsureSurface();
    void Present(const TRect& rect);

    std::unique_ptr<NativeWindow> native_;
    cairo_surface_t* surface_ = nullptr; // the backing image, client size
    HWND focused_ = 0;
    HWND capture_ = 0;
    bool modal_ = false;
    bool painting_ = false;
    WindowState state_ = WindowState::wsNormal;
    TRect normal_{};
    bool stayOnTop_ = false;
};

// The form of this thread that was last activated (shown or focused), or null.
Form* ActiveForm();
// Every form of this thread that is showing, in creation order.
std::vector<Form*> ThreadForms();

} // namespace ui
