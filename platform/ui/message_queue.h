#pragma once
// One message queue per user-interface thread, and the Win32-style calls that
// use it. A window belongs to the thread that created it: messages posted or
// sent to it from any thread are handled on that thread, inside its message
// loop (GetMessage/PeekMessage) or while that thread itself waits in
// SendMessage, so a window procedure never runs on a foreign thread.
#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>

#include "platform/ui/types.h"

namespace ui {

// Where a queue's native input comes from (the thread's display
// connection). Pump runs on the queue's thread, never blocks, and turns
// pending native events into messages of this queue.
class EventSource {
public:
    virtual ~EventSource() = default;
    virtual int Fd() const = 0; // readable when native events wait; -1 for none
    virtual void Pump() = 0;
};

using TimerProc = std::function<void(HWND, std::uintptr_t id)>;

class MessageQueue;
using MessageQueuePtr = std::shared_ptr<MessageQueue>;

// The calling thread's queue, created on first use.
MessageQueuePtr CurrentQueue();
// The calling thread's queue if it has one already, else nullptr.
MessageQueue* CurrentQueueIfAny();

std::uint64_t TickCount(); // milliseconds of the monotonic clock

// Queues a message for the window's thread and returns at once. False when
// the window does not exist.
bool PostMessage(HWND hwnd, UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
// Calls the window procedure on the window's thread and waits for the result.
// From the window's own thread the call is direct. While waiting, the calling
// thread handles messages sent to its own windows, so two threads that send to
// each other do not deadlock.
LRESULT SendMessage(HWND hwnd, UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
// As SendMessage, but gives up after timeoutMs: false on time-out or when the
// window does not exist. A message that timed out may still be handled later;
// its result is then discarded.
bool SendMessageTimeout(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, unsigned timeoutMs, LRESULT* result);

// A message handed to another thread's window without waiting: its answer is
// awaited in turns, and one given while the sender looked away is kept.
class PendingSend {
public:
    struct State;
    explicit PendingSend(std::shared_ptr<State> state);
    ~PendingSend();
    // True once the window's thread has handled the message; waits at most
    // timeoutMs for that.
    bool Wait(unsigned timeoutMs);

private:
    std::shared_ptr<State> state_;
};
// Null when the window does not exist, its thread is ending, or it is the
// calling thread's own.
std::unique_ptr<PendingSend> SendMessagePending(HWND hwnd, UINT message, WPARAM wParam = 0, LPARAM lParam = 0);

// Looks for a message of this thread whose window is hwnd (0: any, including
// thread messages) and whose number lies in [filterMin, filterMax] (both 0:
// any). Messages sent from other threads are handled first, whatever the
// filter. Order: posted messages (input included), WM_QUIT, WM_PAINT, WM_TIMER.
bool PeekMessage(Msg& msg, HWND hwnd = 0, UINT filterMin = 0, UINT filterMax = 0, UINT removeFlags = PM_REMOVE);
// Waits for a message as PeekMessage finds it; false when it is WM_QUIT.
bool GetMessage(Msg& msg, HWND hwnd = 0, UINT filterMin = 0, UINT filterMax = 0);
// Sleeps until a message may have arrived for this thread, or the time-out
// (negative: none). Returns at once when one is already waiting.
void WaitMessage(int timeoutMs = -1);
// Hands a message to its window (or timer procedure). Exceptions that escape
// the handler go to the dispatch exception handler.
LRESULT DispatchMessage(const Msg& msg);
void PostQuitMessage(int exitCode);

// Handles every message waiting now without blocking: sent messages and
// paints always; input messages are dropped when dropInput is set. For a
// thread that waits for another one and must keep its windows alive.
void PumpPending(bool dropInput);
// Handles the paint requests waiting now (native exposures included) and
// messages sent from other threads; everything else stays queued. For a
// thread busy with long work, so that its windows stay drawn.
void PumpPaints();

// Timers deliver WM_TIMER (wParam = id) to hwnd, or call proc when given.
// hwnd 0 makes a thread timer; its id is chosen when id is 0. Returns the id.
std::uintptr_t SetTimer(HWND hwnd, std::uintptr_t id, unsigned intervalMs, TimerProc proc = nullptr);
bool KillTimer(HWND hwnd, std::uintptr_t id);

// The handler of exceptions that escape a window procedure during dispatch.
// The application installs its HandleException; without one the exception
// propagates out of DispatchMessage.
using DispatchExceptionHandler = std::function<void(std::exception_ptr)>;
DispatchExceptionHandler SetDispatchExceptionHandler(DispatchExceptionHandler handler);
// Runs fn; an exception goes to the dispatch exception handler.
void GuardedCall(const std::function<void()>& fn);

class MessageQueue : public std::enable_shared_from_this<MessageQueue> {
public:
    MessageQueue();
    ~MessageQueue();
    MessageQueue(const MessageQueue&) = delete;
    MessageQueue& operator=(const MessageQueue&) = delete;

    void Post(const Msg& msg); // any thread
    // Any other thread: hand the message to this queue's thread and wait.
    bool SendFromOtherThread(const Msg& msg, unsigned timeoutMs, LRESULT* result);
    // Any other thread: hand the message to this queue's thread; null once
    // the queue is shut down.
    std::unique_ptr<PendingSend> SendPending(const Msg& msg);

    bool Peek(Msg& msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeFlags);
    void Wait(int timeoutMs);
    void Quit(int exitCode);
    // Handles the messages sent from other threads now waiting. Own thread only.
    bool HandleSentMessages();

    std::uintptr_t SetTimer(HWND hwnd, std::uintptr_t id, unsigned intervalMs, TimerProc proc);
    bool KillTimer(HWND hwnd, std::uintptr_t id);
    void KillTimersOf(HWND hwnd);
    TimerProc TimerProcOf(HWND hwnd, std::uintptr_t id) const;

    // A top-level window with something to repaint; WM_PAINT is generated
    // when no other message is waiting.
    void RequestPaint(HWND topLevel);
    void CancelPaint(HWND topLevel);

    void SetEventSource(EventSource* source);
    EventSource* Source() const;
    bool IsOwnThread() const;
    void Wake(); // any thread
    // The thread is ending: waiting senders are released, later messages dropped.
    void Shutdown();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace ui
