#include "crashreport/pipeline/delivery_worker.h"

#include "crashreport/capture/exception_capture.h"
#include "crashreport/capture/report_turn.h"
#include "crashreport/pipeline/send_report.h"
#include "platform/kernel/process.h"
#include "platform/rtl/thread.h"

#include <condition_variable>
#include <deque>
#include <mutex>

namespace crashreport {
namespace {

constexpr std::size_t kMaxQueued = 4;
constexpr int kHighestPriority = 2;

thread_local bool t_workerThread = false;

// Keeps a thread off the capture list for its lifetime.
class TCaptureOffScope {
public:
    TCaptureOffScope() { SetThreadCaptureOff(id_, true); }
    ~TCaptureOffScope() { SetThreadCaptureOff(id_, false); }
    TCaptureOffScope(const TCaptureOffScope&) = delete;
    TCaptureOffScope& operator=(const TCaptureOffScope&) = delete;

private:
    const std::uint32_t id_ = kernel::GetCurrentThreadId();
};

} // namespace

struct TDeliveryWorker::TState {
    struct TQueuedJob {
        std::unique_ptr<TSendJob> Job;
        TDeliveryHold Hold;
    };
    std::mutex Lock;
    std::condition_variable Changed;
    std::deque<TQueuedJob> Queue;
    bool ThreadRunning = false;
    bool Sending = false;
    bool KeepOnly = false;  // the process ends: queued jobs are kept, not sent
    bool Abandoned = false; // the process ends without waiting for the worker
};

class TDeliveryWorker::TWorkerThread : public rtl::TThread {
public:
    explicit TWorkerThread(TDeliveryWorker& worker) : rtl::TThread(true), worker_(worker) { FreeOnTerminate = true; }

protected:
    void Execute() override
    {
        TCaptureOffScope off;
        t_workerThread = true;
        worker_.Work();
    }

private:
    TDeliveryWorker& worker_;
};

TDeliveryWorker::TDeliveryWorker() : state_(*new TState) {}

TDeliveryWorker& TDeliveryWorker::Instance()
{
    static TDeliveryWorker* worker = new TDeliveryWorker;
    return *worker;
}

bool TDeliveryWorker::Submit(std::unique_ptr<TSendJob>& job)
{
    TState& s = state_;
    std::unique_lock<std::mutex> lock(s.Lock);
    s.Changed.wait(lock, [&] { return s.Queue.size() < kMaxQueued || s.Abandoned; });
    if (s.Abandoned) return false;
    if (!s.ThreadRunning) {
        TWorkerThread* thread = nullptr;
        try {
            thread = rtl::TThread::Create<TWorkerThread>(*this);
        } catch (...) {
            thread = nullptr;
        }
        if (!thread) return false;
        s.ThreadRunning = true;
        thread->SetPriority(kHighestPriority);
        thread->Resume();
    }
    s.Queue.push_back(TState::TQueuedJob{std::move(job), TDeliveryHold()});
    s.Changed.notify_all();
    return true;
}

void TDeliveryWorker::Work()
{
    TState& s = state_;
    for (;;) {
        TState::TQueuedJob item;
        bool keepOnly = false;
        {
            std::unique_lock<std::mutex> lock(s.Lock);
            if (s.Queue.empty() || s.Abandoned) {
                s.ThreadRunning = false;
                s.Changed.notify_all();
                return;
            }
            item = std::move(s.Queue.front());
            s.Queue.pop_front();
            s.Sending = true;
            keepOnly = s.KeepOnly;
            s.Changed.notify_all();
        }
        bool finish = true;
        try {
            if (keepOnly)
                KeepUnsentReport(*item.Job);
            else
                SendReport(*item.Job);
        } catch (...) {
        }
        {
            std::lock_guard<std::mutex> lock(s.Lock);
            finish = !s.Abandoned; // the process is ending: its clean-up is not ours
        }
        if (finish && item.Job->AfterSend) {
            try {
                item.Job->AfterSend();
            } catch (...) {
            }
        }
        item.Job.reset();
        item.Hold.Release();
        std::lock_guard<std::mutex> lock(s.Lock);
        s.Sending = false;
        s.Changed.notify_all();
    }
}

void TDeliveryWorker::WaitIdle()
{
    if (t_workerThread) return;
    TState& s = state_;
    std::unique_lock<std::mutex> lock(s.Lock);
    s.Changed.wait(lock, [&] { return s.Abandoned || (s.Queue.empty() && !s.Sending); });
}

void TDeliveryWorker::Drain(std::chrono::milliseconds limit, std::chrono::milliseconds keep)
{
    if (t_workerThread) return; // an event handler ended the process from a delivery
    TState& s = state_;
    std::unique_lock<std::mutex> lock(s.Lock);
    if (s.Changed.wait_for(lock, limit, [&] { return !s.ThreadRunning; })) return;
    s.KeepOnly = true;
    s.Changed.wait_for(lock, keep, [&] { return !s.ThreadRunning; });
    s.Abandoned = true;
    s.Changed.notify_all();
}

} // namespace crashreport
