#include "platform/ui/message_queue.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/kernel/unique_fd.h"
#include "platform/ui/window_registry.h"

namespace ui {
namespace {

struct SentMessage {
    Msg msg;
    LRESULT result = 0;
    bool done = false;
    std::mutex mutex;
    std::condition_variable cv;
};

struct Timer {
    HWND hwnd;
    std::uintptr_t id;
    unsigned interval;
    std::uint64_t due;
    TimerProc proc;
};

// An eventfd that other threads write to wake the queue's thread.
class WakeFd {
public:
    WakeFd() : fd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
    WakeFd(const WakeFd&) = delete;
    WakeFd& operator=(const WakeFd&) = delete;
    int fd() const { return fd_.Get(); }
    void Signal() const
    {
        std::uint64_t one = 1;
        [[maybe_unused]] auto n = write(fd_.Get(), &one, sizeof one);
    }
    void Drain() const
    {
        std::uint64_t value;
        [[maybe_unused]] auto n = read(fd_.Get(), &value, sizeof value);
    }

private:
    kernel::TUniqueFd fd_;
};

std::mutex g_handlerMutex;
DispatchExceptionHandler g_handler;

bool Matches(const Msg& m, HWND hwnd, UINT lo, UINT hi)
{
    if (hwnd != 0 && m.hwnd != hwnd) return false;
    if (lo == 0 && hi == 0) return true;
    return m.message >= lo && m.message <= hi;
}

bool InRange(UINT message, UINT lo, UINT hi) { return (lo == 0 && hi == 0) || (message >= lo && message <= hi); }

// Ends the queue with its thread: waiting senders are released and later
// sends fail at once.
struct ThreadQueueHolder {
    MessageQueuePtr queue;
    ~ThreadQueueHolder();
};
thread_local ThreadQueueHolder t_queue;

} // namespace

struct MessageQueue::Impl {
    std::thread::id owner = std::this_thread::get_id();
    std::mutex mutex;
    std::deque<Msg> posted;
    std::deque<std::shared_ptr<SentMessage>> sent;
    bool dead = false;
    bool quit = false;
    int quitCode = 0;
    // Own thread only:
    std::vector<Timer> timers;
    std::uintptr_t nextTimerId = 1;
    std::vector<HWND> paints;
    EventSource* source = nullptr;

    // Queues a message sent from another thread; null once the queue is dead.
    std::shared_ptr<SentMessage> Send(const Msg& msg)
    {
        auto s = std::make_shared<SentMessage>();
        s->msg = msg;
        s->msg.time = TickCount();
        std::lock_guard lock(mutex);
        if (dead) return nullptr;
        sent.push_back(s);
        return s;
    }
    WakeFd wake;

    void Shutdown()
    {
        std::deque<std::shared_ptr<SentMessage>> pending;
        {
            std::lock_guard lock(mutex);
            dead = true;
            pending.swap(sent);
        }
        for (auto& s : pending) {
            std::lock_guard lock(s->mutex);
            s->done = true;
            s->cv.notify_all();
        }
    }
};

namespace {
ThreadQueueHolder::~ThreadQueueHolder()
{
    if (queue) {
        queue->SetEventSource(nullptr);
        queue->Shutdown();
    }
}
} // namespace

MessageQueue::MessageQueue() : impl_(std::make_unique<Impl>()) {}
MessageQueue::~MessageQueue() { impl_->Shutdown(); }
void MessageQueue::Shutdown() { impl_->Shutdown(); }

TimerProc MessageQueue::TimerProcOf(HWND hwnd, std::uintptr_t id) const
{
    for (auto& t : impl_->timers)
        if (t.hwnd == hwnd && t.id == id) return t.proc;
    return {};
}

bool MessageQueue::IsOwnThread() const { return impl_->owner == std::this_thread::get_id(); }
void MessageQueue::Wake() { impl_->wake.Signal(); }
void MessageQueue::SetEventSource(EventSource* source) { impl_->source = source; }
EventSource* MessageQueue::Source() const { return impl_->source; }

void MessageQueue::Post(const Msg& msg)
{
    Msg m = msg;
    if (m.time == 0) m.time = TickCount();
    {
        std::lock_guard lock(impl_->mutex);
        if (impl_->dead) return;
        impl_->posted.push_back(m);
    }
    Wake();
}

void MessageQueue::Quit(int exitCode)
{
    {
        std::lock_guard lock(impl_->mutex);
        impl_->quit = true;
        impl_->quitCode = exitCode;
    }
    Wake();
}

bool MessageQueue::SendFromOtherThread(const Msg& msg, unsigned timeoutMs, LRESULT* result)
{
    assert(!IsOwnThread());
    const auto s = impl_->Send(msg);
    if (!s) return false;
    Wake();

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    MessageQueue* own = CurrentQueueIfAny();
    std::unique_lock lock(s->mutex);
    while (!s->done) {
        auto now = std::chrono::steady_clock::now();
        if (timeoutMs != UINT32_MAX && now >= deadline) break;
        // A thread with windows of its own keeps answering what is sent to it.
        auto slice = own ? std::chrono::milliseconds(2) : std::chrono::milliseconds(50);
        auto until = now + slice;
        if (timeoutMs != UINT32_MAX && until > deadline) until = deadline;
        s->cv.wait_until(lock, until);
        if (own && !s->done) {
            lock.unlock();
            own->HandleSentMessages();
            lock.lock();
        }
    }
    if (!s->done) {
        lock.unlock();
        std::lock_guard qlock(impl_->mutex);
        auto& q = impl_->sent;
        q.erase(std::remove(q.begin(), q.end(), s), q.end());
        return false;
    }
    if (result) *result = s->result;
    return true;
}

struct PendingSend::State {
    std::shared_ptr<SentMessage> Sent;
};

PendingSend::PendingSend(std::shared_ptr<State> state) : state_(std::move(state)) {}
PendingSend::~PendingSend() = default;

bool PendingSend::Wait(unsigned timeoutMs)
{
    SentMessage& s = *state_->Sent;
    std::unique_lock lock(s.mutex);
    return s.cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return s.done; });
}

std::unique_ptr<PendingSend> MessageQueue::SendPending(const Msg& msg)
{
    assert(!IsOwnThread());
    auto s = impl_->Send(msg);
    if (!s) return nullptr;
    Wake();
    return std::make_unique<PendingSend>(std::make_shared<PendingSend::State>(PendingSend::State{s}));
}

bool MessageQueue::HandleSentMessages()
{
    bool any = false;
    for (;;) {
        std::shared_ptr<SentMessage> s;
        {
            std::lock_guard lock(impl_->mutex);
            if (impl_->sent.empty()) break;
            s = impl_->sent.front();
            impl_->sent.pop_front();
        }
        any = true;
        LRESULT r = 0;
        try {
            GuardedCall([&] { r = detail::Deliver(s->msg); });
        } catch (const std::exception& e) {
            std::fprintf(stderr, "ui: exception in a sent message handler: %s\n", e.what());
        } catch (...) {
            std::fprintf(stderr, "ui: exception in a sent message handler\n");
        }
        std::lock_guard lock(s->mutex);
        s->result = r;
        s->done = true;
        s->cv.notify_all();
    }
    return any;
}

bool MessageQueue::Peek(Msg& msg, HWND hwnd, UINT lo, UINT hi, UINT removeFlags)
{
    assert(IsOwnThread());
    const bool remove = (removeFlags & PM_REMOVE) != 0;
    HandleSentMessages();
    if (impl_->source) impl_->source->Pump();
    {
        std::lock_guard lock(impl_->mutex);
        auto& q = impl_->posted;
        auto it = std::find_if(q.begin(), q.end(), [&](const Msg& m) { return Matches(m, hwnd, lo, hi); });
        if (it != q.end()) {
            msg = *it;
            if (remove) q.erase(it);
            return true;
        }
        if (impl_->quit && InRange(WM_QUIT, lo, hi)) {
            msg = Msg{0, WM_QUIT, static_cast<WPARAM>(impl_->quitCode), 0, TickCount()};
            if (remove) impl_->quit = false;
            return true;
        }
    }
    if (InRange(WM_PAINT, lo, hi)) {
        auto& p = impl_->paints;
        auto it = std::find_if(p.begin(), p.end(), [&](HWND w) { return hwnd == 0 || w == hwnd; });
        if (it != p.end()) {
            msg = Msg{*it, WM_PAINT, 0, 0, TickCount()};
            if (remove) p.erase(it);
            return true;
        }
    }
    if (InRange(WM_TIMER, lo, hi)) {
        const auto now = TickCount();
        for (auto& t : impl_->timers) {
            if (t.due <= now && (hwnd == 0 || t.hwnd == hwnd)) {
                msg = Msg{t.hwnd, WM_TIMER, t.id, 0, now};
                if (remove) t.due = now + t.interval;
                return true;
            }
        }
    }
    return false;
}

void MessageQueue::Wait(int timeoutMs)
{
    assert(IsOwnThread());
    if (impl_->source) impl_->source->Pump();
    std::int64_t wait = timeoutMs;
    {
        std::lock_guard lock(impl_->mutex);
        if (!impl_->posted.empty() || !impl_->sent.empty() || impl_->quit) return;
    }
    if (!impl_->paints.empty()) return;
    const auto now = TickCount();
    for (auto& t : impl_->timers) {
        std::int64_t left = t.due > now ? static_cast<std::int64_t>(t.due - now) : 0;
        if (wait < 0 || left < wait) wait = left;
    }
    if (wait == 0) return;
    pollfd fds[2] = {{impl_->wake.fd(), POLLIN, 0}, {-1, POLLIN, 0}};
    int n = 1;
    if (impl_->source && impl_->source->Fd() >= 0) {
        fds[1].fd = impl_->source->Fd();
        n = 2;
    }
    poll(fds, n, static_cast<int>(std::min<std::int64_t>(wait, INT32_MAX)));
    impl_->wake.Drain();
}

std::uintptr_t MessageQueue::SetTimer(HWND hwnd, std::uintptr_t id, unsigned intervalMs, TimerProc proc)
{
    assert(IsOwnThread());
    if (hwnd == 0 && id == 0) {
        do id = impl_->nextTimerId++;
        while (std::any_of(impl_->timers.begin(), impl_->timers.end(),
                           [&](const Timer& t) { return t.hwnd == 0 && t.id == id; }));
    }
    const std::uint64_t due = TickCount() + intervalMs;
    for (auto& t : impl_->timers) {
        if (t.hwnd == hwnd && t.id == id) {
            t.interval = intervalMs;
            t.due = due;
            t.proc = std::move(proc);
            return id;
        }
    }
    impl_->timers.push_back(Timer{hwnd, id, intervalMs, due, std::move(proc)});
    return id;
}

bool MessageQueue::KillTimer(HWND hwnd, std::uintptr_t id)
{
    auto& v = impl_->timers;
    auto it = std::find_if(v.begin(), v.end(), [&](const Timer& t) { return t.hwnd == hwnd && t.id == id; });
    if (it == v.end()) return false;
    v.erase(it);
    return true;
}

void MessageQueue::KillTimersOf(HWND hwnd)
{
    auto& v = impl_->timers;
    v.erase(std::remove_if(v.begin(), v.end(), [&](const Timer& t) { return t.hwnd == hwnd; }), v.end());
    auto& p = impl_->paints;
    p.erase(std::remove(p.begin(), p.end(), hwnd), p.end());
    std::lock_guard lock(impl_->mutex);
    auto& q = impl_->posted;
    q.erase(std::remove_if(q.begin(), q.end(), [&](const Msg& m) { return m.hwnd == hwnd; }), q.end());
}

void MessageQueue::RequestPaint(HWND topLevel)
{
    auto& p = impl_->paints;
    if (std::find(p.begin(), p.end(), topLevel) == p.end()) p.push_back(topLevel);
}

void MessageQueue::CancelPaint(HWND topLevel)
{
    auto& p = impl_->paints;
    p.erase(std::remove(p.begin(), p.end(), topLevel), p.end());
}

// ---- free functions -------------------------------------------------------

MessageQueuePtr CurrentQueue()
{
    if (!t_queue.queue) t_queue.queue = std::make_shared<MessageQueue>();
    return t_queue.queue;
}

MessageQueue* CurrentQueueIfAny() { return t_queue.queue.get(); }

std::uint64_t TickCount()
{
    using namespace std::chrono;
    return static_cast<std::uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

bool PostMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto q = detail::QueueOf(hwnd);
    if (!q) return false;
    q->Post(Msg{hwnd, message, wParam, lParam, 0});
    return true;
}

bool SendMessageTimeout(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, unsigned timeoutMs, LRESULT* result)
{
    auto q = detail::QueueOf(hwnd);
    if (!q) return false;
    Msg m{hwnd, message, wParam, lParam, TickCount()};
    if (q->IsOwnThread()) {
        LRESULT r = detail::Deliver(m);
        if (result) *result = r;
        return true;
    }
    return q->SendFromOtherThread(m, timeoutMs, result);
}

std::unique_ptr<PendingSend> SendMessagePending(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto q = detail::QueueOf(hwnd);
    if (!q || q->IsOwnThread()) return nullptr;
    return q->SendPending(Msg{hwnd, message, wParam, lParam, TickCount()});
}

LRESULT SendMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    LRESULT r = 0;
    SendMessageTimeout(hwnd, message, wParam, lParam, UINT32_MAX, &r);
    return r;
}

bool PeekMessage(Msg& msg, HWND hwnd, UINT lo, UINT hi, UINT removeFlags)
{
    return CurrentQueue()->Peek(msg, hwnd, lo, hi, removeFlags);
}

bool GetMessage(Msg& msg, HWND hwnd, UINT lo, UINT hi)
{
    auto q = CurrentQueue();
    while (!q->Peek(msg, hwnd, lo, hi, PM_REMOVE)) q->Wait(-1);
    return msg.message != WM_QUIT;
}

void WaitMessage(int timeoutMs) { CurrentQueue()->Wait(timeoutMs); }

void PostQuitMessage(int exitCode) { CurrentQueue()->Quit(exitCode); }

LRESULT DispatchMessage(const Msg& msg)
{
    LRESULT r = 0;
    if (msg.message == WM_TIMER) {
        // Timer procedures are looked up at dispatch, so a timer killed in
        // between does not fire.
        auto* q = CurrentQueueIfAny();
        TimerProc proc = q ? q->TimerProcOf(msg.hwnd, msg.wParam) : TimerProc();
        if (proc) {
            GuardedCall([&] { proc(msg.hwnd, msg.wParam); });
            return 0;
        }
    }
    GuardedCall([&] { r = detail::Deliver(msg); });
    return r;
}

void PumpPaints()
{
    Msg m;
    while (PeekMessage(m, 0, WM_PAINT, WM_PAINT, PM_REMOVE)) DispatchMessage(m);
}

void PumpPending(bool dropInput)
{
    auto q = CurrentQueue();
    Msg m;
    while (q->Peek(m, 0, 0, 0, PM_REMOVE)) {
        if (m.message == WM_QUIT) {
            q->Quit(static_cast<int>(m.wParam)); // leave it for the real loop
            break;
        }
        if (dropInput && IsInputMessage(m.message)) continue;
        DispatchMessage(m);
    }
}

std::uintptr_t SetTimer(HWND hwnd, std::uintptr_t id, unsigned intervalMs, TimerProc proc)
{
    return CurrentQueue()->SetTimer(hwnd, id, intervalMs, std::move(proc));
}

bool KillTimer(HWND hwnd, std::uintptr_t id) { return CurrentQueue()->KillTimer(hwnd, id); }

DispatchExceptionHandler SetDispatchExceptionHandler(DispatchExceptionHandler handler)
{
    std::lock_guard lock(g_handlerMutex);
    std::swap(handler, g_handler);
    return handler;
}

void GuardedCall(const std::function<void()>& fn)
{
    try {
        fn();
    } catch (...) {
        DispatchExceptionHandler handler;
        {
            std::lock_guard lock(g_handlerMutex);
            handler = g_handler;
        }
        if (!handler) throw;
        handler(std::current_exception());
    }
}

} // namespace ui
