// The CLIPBOARD selection, owned by a background thread with its own display
// connection and an unmapped window: text copied by any thread stays
// available to other programs until something else takes the selection.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/ui/clipboard.h"
#include "platform/ui/x11_display.h"

namespace ui {
namespace {

class X11Clipboard final : public ClipboardService {
public:
    explicit X11Clipboard(x11::DisplayPtr d) : display_(std::move(d)), wake_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
    {
        Display* dpy = display_.get();
        clipboard_ = XInternAtom(dpy, "CLIPBOARD", False);
        utf8_ = XInternAtom(dpy, "UTF8_STRING", False);
        targets_ = XInternAtom(dpy, "TARGETS", False);
        text_ = XInternAtom(dpy, "TEXT", False);
        property_ = XInternAtom(dpy, "VEK_CLIPBOARD", False);
        window_ = XCreateSimpleWindow(dpy, DefaultRootWindow(dpy), 0, 0, 1, 1, 0, 0, 0);
        XSelectInput(dpy, window_, PropertyChangeMask);
        XFlush(dpy);
        thread_ = std::thread([this] { Run(); });
    }

    ~X11Clipboard() override
    {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        Signal();
        thread_.join();
        XDestroyWindow(display_.get(), window_);
        close(wake_);
    }

    // Returns once the owner thread holds the selection (or gave up), so a
    // reader that asks next finds the text.
    bool SetText(const std::string& utf8) override
    {
        std::unique_lock lock(mutex_);
        owned_ = utf8;
        claim_ = true;
        const unsigned ticket = ++claimSerial_;
        Signal();
        cv_.wait_for(lock, std::chrono::seconds(1), [&] { return claimedSerial_ >= ticket; });
        return owning_;
    }

    std::optional<std::string> GetText() override
    {
        std::unique_lock lock(mutex_);
        if (owning_) return owned_;
        const unsigned ticket = ++requestSerial_;
        requested_ = true;
        Signal();
        const bool answered = cv_.wait_for(lock, std::chrono::seconds(1), [&] { return answeredSerial_ >= ticket; });
        if (!answered) return std::nullopt;
        return received_;
    }

private:
    void Signal()
    {
        std::uint64_t one = 1;
        [[maybe_unused]] auto n = write(wake_, &one, sizeof one);
    }

    void Run()
    {
        Display* dpy = display_.get();
        for (;;) {
            {
                std::unique_lock lock(mutex_);
                if (stop_) return;
                if (claim_) {
                    claim_ = false;
                    XSetSelectionOwner(dpy, clipboard_, window_, CurrentTime);
                    owning_ = XGetSelectionOwner(dpy, clipboard_) == window_;
                    claimedSerial_ = claimSerial_;
                    cv_.notify_all();
                }
                if (requested_) {
                    requested_ = false;
                    pendingSerial_ = requestSerial_;
                    XConvertSelection(dpy, clipboard_, utf8_, property_, window_, CurrentTime);
                }
            }
            XFlush(dpy);
            while (XPending(dpy) > 0) {
                XEvent e;
                XNextEvent(dpy, &e);
                Handle(e);
            }
            pollfd fds[2] = {{ConnectionNumber(dpy), POLLIN, 0}, {wake_, POLLIN, 0}};
            poll(fds, 2, 500);
            std::uint64_t v;
            [[maybe_unused]] auto n = read(wake_, &v, sizeof v);
        }
    }

    void Handle(XEvent& e)
    {
        Display* dpy = display_.get();
        if (e.type == SelectionClear) {
            std::lock_guard lock(mutex_);
            owning_ = false;
        } else if (e.type == SelectionRequest) {
            const XSelectionRequestEvent& r = e.xselectionrequest;
            XSelectionEvent reply{};
            reply.type = SelectionNotify;
            reply.requestor = r.requestor;
            reply.selection = r.selection;
            reply.target = r.target;
            reply.time = r.time;
            reply.property = None;
            Atom prop = r.property == None ? r.target : r.property;
            std::string text;
            {
                std::lock_guard lock(mutex_);
                text = owned_;
            }
            if (r.target == targets_) {
                Atom list[] = {targets_, utf8_, XA_STRING, text_};
                XChangeProperty(dpy, r.requestor, prop, XA_ATOM, 32, PropModeReplace,
                                reinterpret_cast<unsigned char*>(list), 4);
                reply.property = prop;
            } else if (r.target == utf8_ || r.target == XA_STRING || r.target == text_) {
                XChangeProperty(dpy, r.requestor, prop, r.target == XA_STRING ? XA_STRING : utf8_, 8, PropModeReplace,
                                reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
                reply.property = prop;
            }
            XSendEvent(dpy, r.requestor, False, 0, reinterpret_cast<XEvent*>(&reply));
            XFlush(dpy);
        } else if (e.type == SelectionNotify) {
            std::optional<std::string> got;
            if (e.xselection.property != None) {
                Atom type;
                int format;
                unsigned long count, after;
                unsigned char* data = nullptr;
                if (XGetWindowProperty(dpy, window_, property_, 0, 1 << 24, True, AnyPropertyType, &type, &format,
                                       &count, &after, &data) == Success &&
                    data && format == 8)
                    got = std::string(reinterpret_cast<char*>(data), count);
                if (data) XFree(data);
            }
            std::lock_guard lock(mutex_);
            received_ = got;
            answeredSerial_ = pendingSerial_;
            cv_.notify_all();
        }
    }

    x11::DisplayPtr display_;
    int wake_;
    ::Window window_;
    Atom clipboard_, utf8_, targets_, text_, property_;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable cv_;
    bool stop_ = false, claim_ = false, owning_ = false, requested_ = false;
    std::string owned_;
    std::optional<std::string> received_;
    unsigned requestSerial_ = 0, pendingSerial_ = 0, answeredSerial_ = 0;
    unsigned claimSerial_ = 0, claimedSerial_ = 0;
};

} // namespace

std::unique_ptr<ClipboardService> CreateX11Clipboard()
{
    auto d = x11::OpenDisplay();
    if (!d) return nullptr;
    return std::make_unique<X11Clipboard>(std::move(d));
}

} // namespace ui
