#pragma once
// The native side of the toolkit, one implementation per backend: an X11
// display connection per user-interface thread, or the headless backend that
// keeps windows as images. Forms talk to their NativeWindow; the thread's
// Connection turns native events into messages of the thread's queue.
#include <cstdint>
#include <memory>
#include <string>

#include "platform/gdi/bitmap.h"
#include "platform/ui/message_queue.h"
#include "platform/ui/types.h"

typedef struct _cairo_surface cairo_surface_t;

namespace ui {

class Form;

struct NativeWindowParams {
    std::string caption;
    TRect bounds; // the client area on the screen
    bool fixedSize = false;
    bool dialogFrame = false; // no minimise or maximise box
    bool maximizeBox = true;  // a resizable window offers maximising
    std::uint64_t owner = 0;  // native handle of the owner form, 0: none
};

class NativeWindow {
public:
    virtual ~NativeWindow() = default;
    virtual void SetCaption(const std::string& caption) = 0;
    virtual void SetBounds(const TRect& screenClient) = 0;
    virtual void Show(bool visible) = 0;
    // While on, pointer and key input that was queued before the window
    // was shown, and the further presses of a double or triple click that
    // showed it, are dropped (a dialog that opens under the pointer).
    virtual void SetInputGuard(bool /*on*/) {}
    // Shows the part rect of the form's surface (client coordinates).
    virtual void Present(cairo_surface_t* surface, const TRect& rect) = 0;
    virtual void Activate() = 0;
    // Asks the window manager for the window's state; the form has already
    // given itself the matching bounds, so without one nothing else is needed.
    virtual void SetState(bool /*maximized*/, bool /*minimized*/, bool /*stayOnTop*/) {}
    // The frame changed between fixed and resizable (a dialog that grows a
    // detailed mode).
    virtual void SetFrame(bool /*fixedSize*/, bool /*dialogFrame*/, bool /*maximizeBox*/) {}
    virtual std::uint64_t Handle() const = 0;
};

class Connection : public EventSource {
public:
    virtual std::unique_ptr<NativeWindow> CreateNativeWindow(Form& form, const NativeWindowParams& params) = 0;
    virtual void Beep() = 0;
    virtual TSize ScreenSize() = 0;
    // The connection to the display broke (the server went away); its
    // windows are gone and nothing more is shown through it.
    virtual bool Lost() const { return false; }
};

enum class BackendKind { bkHeadless, bkX11 };

// The backend of this process: VEK_UI_BACKEND=headless or x11 when set;
// otherwise X11 when $DISPLAY can be opened, else headless. Decided once.
BackendKind CurrentBackend();
// Chooses the backend before the first window exists (tests). False when a
// window already exists or X11 is asked for and no display is reachable.
bool SelectBackend(BackendKind kind);
// The calling thread's connection, opened on first use.
Connection& ThreadConnection();

// Whether this thread's display connection broke. A thread whose
// connection breaks gets WM_QUIT once, which ends its modal loops.
bool ThreadDisplayLost();

// The system bell.
void Beep();

std::unique_ptr<Connection> CreateHeadlessConnection();
std::unique_ptr<Connection> CreateX11Connection(); // nullptr when no display
bool X11DisplayReachable();

} // namespace ui
