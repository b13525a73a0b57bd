#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "platform/rtl/exception.h"
#include "platform/ui/message_queue.h"
#include "platform/ui/window.h"

using namespace ui;

namespace {

struct RecordingWindow : Window {
    std::vector<Msg> seen;
    LRESULT WndProc(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        seen.push_back(Msg{Handle(), message, wParam, lParam, 0});
        if (message == WM_USER + 1) return static_cast<LRESULT>(wParam * 2);
        if (message == WM_USER + 9) throw rtl::Exception("handler failed");
        return 0;
    }
};

void DrainQueue()
{
    Msg m;
    while (PeekMessage(m))
        ;
}

} // namespace

TEST(MessageQueue, PostedMessagesComeBackInOrderAndFilterByRange)
{
    RecordingWindow w;
    PostMessage(w.Handle(), WM_USER + 1, 1);
    PostMessage(w.Handle(), WM_KEYDOWN, 'A');
    PostMessage(w.Handle(), WM_USER + 2, 2);
    Msg m;
    // Only the key range: the user messages around it stay queued.
    ASSERT_TRUE(PeekMessage(m, 0, WM_KEYFIRST, WM_KEYLAST, PM_REMOVE));
    EXPECT_EQ(m.message, static_cast<UINT>(WM_KEYDOWN));
    EXPECT_FALSE(PeekMessage(m, 0, WM_KEYFIRST, WM_KEYLAST, PM_REMOVE));
    // PM_NOREMOVE looks without taking.
    ASSERT_TRUE(PeekMessage(m, 0, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(m.message, static_cast<UINT>(WM_USER + 1));
    ASSERT_TRUE(PeekMessage(m));
    EXPECT_EQ(m.wParam, 1u);
    ASSERT_TRUE(PeekMessage(m));
    EXPECT_EQ(m.message, static_cast<UINT>(WM_USER + 2));
    EXPECT_FALSE(PeekMessage(m));
}

TEST(MessageQueue, WindowFilterAndDispatch)
{
    RecordingWindow a, b;
    PostMessage(a.Handle(), WM_USER + 3);
    PostMessage(b.Handle(), WM_USER + 4);
    Msg m;
    ASSERT_TRUE(PeekMessage(m, b.Handle()));
    EXPECT_EQ(m.message, static_cast<UINT>(WM_USER + 4));
    DispatchMessage(m);
    ASSERT_EQ(b.seen.size(), 1u);
    EXPECT_TRUE(a.seen.empty());
    DrainQueue();
}

TEST(MessageQueue, PostToDestroyedWindowFails)
{
    HWND h;
    {
        RecordingWindow w;
        h = w.Handle();
        EXPECT_TRUE(IsWindow(h));
    }
    EXPECT_FALSE(IsWindow(h));
    EXPECT_FALSE(PostMessage(h, WM_USER));
    LRESULT r = 5;
    EXPECT_FALSE(SendMessageTimeout(h, WM_USER, 0, 0, 100, &r));
}

TEST(MessageQueue, GetMessageReturnsFalseOnQuit)
{
    RecordingWindow w;
    PostMessage(w.Handle(), WM_USER + 5);
    PostQuitMessage(3);
    Msg m;
    // Posted messages come before the quit.
    ASSERT_TRUE(GetMessage(m));
    EXPECT_EQ(m.message, static_cast<UINT>(WM_USER + 5));
    EXPECT_FALSE(GetMessage(m));
    EXPECT_EQ(m.wParam, 3u);
}

TEST(MessageQueueThreads, SendAcrossThreadsRunsOnTheOwnerThread)
{
    std::promise<HWND> made;
    std::atomic<bool> stop{false};
    std::thread::id handlerThread;
    std::thread owner([&] {
        struct W : Window {
            std::thread::id* where;
            LRESULT WndProc(UINT message, WPARAM wParam, LPARAM) override
            {
                *where = std::this_thread::get_id();
                return message == WM_USER + 1 ? static_cast<LRESULT>(wParam + 100) : 0;
            }
        } w;
        w.where = &handlerThread;
        made.set_value(w.Handle());
        while (!stop) {
            WaitMessage(20);
            PumpPending(false);
        }
    });
    const HWND h = made.get_future().get();
    LRESULT r = 0;
    ASSERT_TRUE(SendMessageTimeout(h, WM_USER + 1, 5, 0, 2000, &r));
    EXPECT_EQ(r, 105);
    EXPECT_EQ(handlerThread, owner.get_id());
    EXPECT_EQ(SendMessage(h, WM_USER + 1, 1), 101);
    stop = true;
    owner.join();
}

TEST(MessageQueueThreads, SendTimesOutWhenTheOwnerDoesNotPump)
{
    std::promise<HWND> made;
    std::promise<void> release;
    std::thread owner([&] {
        RecordingWindow w;
        made.set_value(w.Handle());
        release.get_future().wait(); // busy: never looks at its queue
    });
    const HWND h = made.get_future().get();
    LRESULT r = -1;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(SendMessageTimeout(h, WM_USER + 1, 1, 0, 50, &r));
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(45));
    EXPECT_LT(took, std::chrono::milliseconds(1000));
    EXPECT_EQ(r, -1);
    release.set_value();
    owner.join();
    // The owner thread has gone with its window: no wait at all now.
    EXPECT_FALSE(SendMessageTimeout(h, WM_USER + 1, 1, 0, 5000, &r));
}

// A pending send keeps an answer given while its sender was not waiting (the
// freeze watchdog, away making a report while the main thread answered).
TEST(MessageQueueThreads, APendingSendKeepsAnAnswerGivenWhileNobodyWaited)
{
    std::promise<HWND> made;
    std::promise<void> pump, pumped, release;
    std::atomic<int> handled{0};
    std::thread owner([&] {
        struct W : Window {
            std::atomic<int>* handled;
            LRESULT WndProc(UINT message, WPARAM, LPARAM) override
            {
                if (message == WM_USER + 1) ++*handled;
                return 0;
            }
        } w;
        w.handled = &handled;
        made.set_value(w.Handle());
        pump.get_future().wait(); // busy until told
        PumpPending(false);
        pumped.set_value();
        release.get_future().wait();
    });
    const HWND h = made.get_future().get();
    auto pending = SendMessagePending(h, WM_USER + 1);
    ASSERT_NE(pending, nullptr);
    EXPECT_FALSE(pending->Wait(30));
    pump.set_value();
    pumped.get_future().wait();
    EXPECT_TRUE(pending->Wait(0));
    EXPECT_EQ(handled.load(), 1);
    release.set_value();
    owner.join();
    EXPECT_EQ(SendMessagePending(h, WM_USER + 1), nullptr); // the window has gone
}

TEST(MessageQueueThreads, SenderAnswersMessagesSentToItWhileWaiting)
{
    // Thread B, while handling A's message, sends one back to A. A is
    // blocked in SendMessage; it must still answer, or both would hang.
    struct Echo : Window {
        HWND peer = 0;
        LRESULT WndProc(UINT message, WPARAM wParam, LPARAM) override
        {
            if (message == WM_USER + 1) return SendMessage(peer, WM_USER + 2, wParam) + 1;
            if (message == WM_USER + 2) return static_cast<LRESULT>(wParam * 10);
            return 0;
        }
    };
    Echo a;
    std::promise<HWND> made;
    std::atomic<bool> stop{false};
    std::thread other([&] {
        Echo b;
        b.peer = a.Handle();
        made.set_value(b.Handle());
        while (!stop) {
            WaitMessage(20);
            PumpPending(false);
        }
    });
    const HWND bh = made.get_future().get();
    LRESULT r = 0;
    ASSERT_TRUE(SendMessageTimeout(bh, WM_USER + 1, 4, 0, 3000, &r));
    EXPECT_EQ(r, 41);
    stop = true;
    other.join();
}

TEST(MessageQueue, TimersFireRepeatedlyUntilKilled)
{
    int fired = 0;
    auto id = SetTimer(0, 0, 5, [&](HWND, std::uintptr_t) { ++fired; });
    const auto until = TickCount() + 2000;
    Msg m;
    while (fired < 3 && TickCount() < until) {
        if (GetMessage(m)) DispatchMessage(m);
    }
    EXPECT_EQ(fired, 3);
    EXPECT_TRUE(KillTimer(0, id));
    EXPECT_FALSE(KillTimer(0, id));
    const auto end = TickCount() + 40;
    while (TickCount() < end) {
        WaitMessage(10);
        PumpPending(false);
    }
    EXPECT_EQ(fired, 3);
}

TEST(MessageQueue, WindowTimerDeliversWmTimerWithItsId)
{
    RecordingWindow w;
    SetTimer(w.Handle(), 42, 1);
    Msg m;
    ASSERT_TRUE(GetMessage(m));
    EXPECT_EQ(m.message, static_cast<UINT>(WM_TIMER));
    EXPECT_EQ(m.wParam, 42u);
    DispatchMessage(m);
    ASSERT_FALSE(w.seen.empty());
    EXPECT_EQ(w.seen.back().message, static_cast<UINT>(WM_TIMER));
    KillTimer(w.Handle(), 42);
}

TEST(MessageQueue, PumpPendingCanDropInputButKeepsOtherMessages)
{
    RecordingWindow w;
    PostMessage(w.Handle(), WM_KEYDOWN, 'X');
    PostMessage(w.Handle(), WM_LBUTTONDOWN);
    PostMessage(w.Handle(), WM_USER + 7);
    PumpPending(true);
    ASSERT_EQ(w.seen.size(), 1u);
    EXPECT_EQ(w.seen[0].message, static_cast<UINT>(WM_USER + 7));
    Msg m;
    EXPECT_FALSE(PeekMessage(m));
}

TEST(MessageQueue, PumpPaintsServesPaintRequestsAndLeavesTheRestQueued)
{
    RecordingWindow w;
    PostMessage(w.Handle(), WM_LBUTTONDOWN);
    PostMessage(w.Handle(), WM_USER + 7);
    CurrentQueue()->RequestPaint(w.Handle());
    PumpPaints();
    ASSERT_EQ(w.seen.size(), 1u);
    EXPECT_EQ(w.seen[0].message, static_cast<UINT>(WM_PAINT));
    Msg m;
    ASSERT_TRUE(PeekMessage(m)); // the click and the posted message wait, in order
    EXPECT_EQ(m.message, static_cast<UINT>(WM_LBUTTONDOWN));
    ASSERT_TRUE(PeekMessage(m));
    EXPECT_EQ(m.message, static_cast<UINT>(WM_USER + 7));
    EXPECT_FALSE(PeekMessage(m));
}

TEST(MessageQueue, EscapingExceptionGoesToTheHandlerAndTheLoopGoesOn)
{
    RecordingWindow w;
    std::string caught;
    auto previous = SetDispatchExceptionHandler([&](std::exception_ptr e) {
        try {
            std::rethrow_exception(e);
        } catch (const rtl::Exception& x) {
            caught = x.Message;
        }
    });
    PostMessage(w.Handle(), WM_USER + 9);
    PostMessage(w.Handle(), WM_USER + 1, 2);
    PumpPending(false);
    SetDispatchExceptionHandler(previous);
    EXPECT_EQ(caught, "handler failed");
    ASSERT_EQ(w.seen.size(), 2u); // the second message was still handled
    // Without a handler the exception leaves DispatchMessage.
    Msg m{w.Handle(), WM_USER + 9, 0, 0, 0};
    EXPECT_THROW(DispatchMessage(m), rtl::Exception);
}
