#include "crashreport/binding/handling_thread.h"

#include <atomic>
#include <mutex>

#include "platform/kernel/process.h"
#include "platform/kernel/threads.h"

namespace crashreport {
namespace {

std::atomic<int> g_handlingThread{0};
std::atomic<const THandlingStep*> g_posted{nullptr};
std::mutex g_postLock; // only one step can be posted at a time
std::mutex g_checkLock;
std::function<void()> g_duplicateCheck;

int CurrentThreadId() { return static_cast<int>(kernel::GetCurrentThreadId()); }

void RunGuarded(const THandlingStep& step)
{
    try {
        step();
    } catch (...) {
        // A failing event handler must not stop the report.
    }
}

void RunDuplicateCheck()
{
    std::function<void()> check;
    {
        std::lock_guard<std::mutex> lock(g_checkLock);
        check = g_duplicateCheck;
    }
    if (check) RunGuarded(check);
}

} // namespace

void BeginHandling(int handlingThreadId) { g_handlingThread = handlingThreadId; }
void EndHandling() { g_handlingThread = 0; }
bool IsHandlingException() { return g_handlingThread.load() != 0; }

void SetDuplicateCheck(std::function<void()> check)
{
    std::lock_guard<std::mutex> lock(g_checkLock);
    g_duplicateCheck = std::move(check);
}

bool RunPostedStep()
{
    const THandlingStep* step = g_posted.load();
    if (!step) return false;
    RunGuarded(*step);
    g_posted = nullptr; // clears the posting: the poster goes on
    return true;
}

void RunInHandlingThread(const THandlingStep& step)
{
    const int handler = g_handlingThread.load();
    if (handler != 0 && handler != CurrentThreadId()) {
        std::lock_guard<std::mutex> lock(g_postLock);
        g_posted = &step;
        while (g_posted.load() != nullptr && g_handlingThread.load() != 0) kernel::Sleep(10);
        // Handling ended before the step ran: run it here rather than lose it.
        const THandlingStep* left = &step;
        if (g_posted.compare_exchange_strong(left, nullptr)) RunGuarded(step);
    } else {
        RunGuarded(step);
    }
    RunDuplicateCheck();
}

} // namespace crashreport
