#include "crashreport/freeze/main_thread_probe.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/kernel/libraries.h"
#include "platform/ui/app_windows.h"
#include "platform/ui/message_queue.h"
#include "platform/ui/window.h"

namespace crashreport {
namespace {

// A null message to the main window. One stays outstanding until the main
// thread handles it: an answer given while the watchdog was away (making a
// report) still ends the freeze.
class TWindowProbe final : public TMainThreadProbe {
public:
    explicit TWindowProbe(ui::HWND window) : window_(window) {}
    TProbeAnswer Ask(unsigned timeoutMs) override
    {
        // Refused at once: the window's thread has ended or is ending.
        if (!outstanding_ && !(outstanding_ = ui::SendMessagePending(window_, ui::WM_NULL))) return TProbeAnswer::paGone;
        if (outstanding_->Wait(timeoutMs)) {
            outstanding_.reset();
            return TProbeAnswer::paAnswered;
        }
        return ui::IsWindow(window_) ? TProbeAnswer::paUnanswered : TProbeAnswer::paGone;
    }

private:
    const ui::HWND window_;
    std::unique_ptr<ui::PendingSend> outstanding_;
};

// GLib's functions, by the C types they take (only pointers and ints).
using TGMainContext = void;
using TSourceFunc = int (*)(void*);
struct TGLib {
    TGMainContext* (*ContextDefault)() = nullptr;
    int (*ContextAcquire)(TGMainContext*) = nullptr;
    void (*ContextRelease)(TGMainContext*) = nullptr;
    void (*ContextInvoke)(TGMainContext*, TSourceFunc, void*) = nullptr;
};

// GLib's functions once it is loaded (it is never unloaded: it marks
// itself so); looked up again only while it is not. The watchdog looks
// until it finds a probe, twenty times a second.
bool FindGLib(TGLib& g)
{
    static std::mutex lock;
    static TGLib found;
    std::lock_guard guard(lock);
    if (!found.ContextInvoke) {
        auto find = [](const char* name) { return kernel::FindLibrarySymbol("libglib-2.0.so.0", name); };
        TGLib f;
        f.ContextDefault = reinterpret_cast<decltype(f.ContextDefault)>(find("g_main_context_default"));
        if (!f.ContextDefault) return false; // not loaded
        f.ContextAcquire = reinterpret_cast<decltype(f.ContextAcquire)>(find("g_main_context_acquire"));
        f.ContextRelease = reinterpret_cast<decltype(f.ContextRelease)>(find("g_main_context_release"));
        f.ContextInvoke = reinterpret_cast<decltype(f.ContextInvoke)>(find("g_main_context_invoke"));
        if (!f.ContextAcquire || !f.ContextRelease || !f.ContextInvoke) return false;
        found = f;
    }
    g = found;
    return true;
}

// One question to the main loop at a time: a frozen loop would otherwise
// gather a question per probe and answer them all at once later. Kept to
// the end of the process, since the loop may answer after the watchdog ended.
struct TPing {
    std::mutex Lock;
    std::condition_variable Answered;
    bool Outstanding = false;
    bool Answer = false;
};

TPing& Ping()
{
    static auto* ping = new TPing;
    return *ping;
}

// Runs on the thread of the main loop.
int Pong(void*)
{
    TPing& ping = Ping();
    {
        std::lock_guard lock(ping.Lock);
        ping.Answer = true;
    }
    ping.Answered.notify_all();
    return 0; // the source is removed
}

// An idle call on GLib's default main context, answered by the loop.
class TGLibProbe final : public TMainThreadProbe {
public:
    explicit TGLibProbe(const TGLib& g) : glib_(g) {}
    TProbeAnswer Ask(unsigned timeoutMs) override
    {
        TPing& ping = Ping();
        std::unique_lock lock(ping.Lock);
        if (!ping.Outstanding) {
            ping.Outstanding = true;
            ping.Answer = false;
            lock.unlock();
            // Made an idle source of the context; called here at once when
            // no thread runs the context (then nothing is frozen either).
            glib_.ContextInvoke(glib_.ContextDefault(), &Pong, nullptr);
            lock.lock();
        }
        if (!ping.Answered.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return ping.Answer; }))
            return TProbeAnswer::paUnanswered;
        ping.Outstanding = false;
        return TProbeAnswer::paAnswered;
    }

private:
    const TGLib glib_;
};

// Whether another thread runs GLib's default context now: it cannot be
// acquired then.
bool GLibLoopRuns(const TGLib& g)
{
    TGMainContext* context = g.ContextDefault();
    if (!context) return false;
    if (!g.ContextAcquire(context)) return true;
    g.ContextRelease(context);
    return false;
}

} // namespace

std::unique_ptr<TMainThreadProbe> FindMainThreadProbe()
{
    if (const ui::HWND window = ui::FindApplicationWindow()) return std::make_unique<TWindowProbe>(window);
    TGLib glib;
    if (FindGLib(glib) && GLibLoopRuns(glib)) return std::make_unique<TGLibProbe>(glib);
    return nullptr;
}

} // namespace crashreport
