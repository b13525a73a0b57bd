#pragma once
// The one owner of background deliveries: a bounded queue of send jobs and
// the thread that works through it in order. Each queued job carries a
// TDeliveryHold until it has been sent or kept, so a further report waits
// for it (capture/report_turn.h) without sharing a lock with it. The
// worker's thread is off the capture list: it never reports itself, so it
// never waits for a report. The thread ends when the queue is empty and is
// started again by the next job.
// At the end of the process the deliveries get a bounded time; a job still
// being sent then has its copy beside the log (SendReport keeps one until
// the job is sent), and the jobs behind it are kept as copies unsent.
// Nothing here is signal-safe: it runs on the report, worker and exiting threads.
#include <chrono>
#include <memory>

namespace crashreport {

struct TSendJob;

class TDeliveryWorker {
public:
    // Made by the pipeline's start-up; never destroyed, so a delivery that
    // outlives the end of main never meets a destroyed owner.
    static TDeliveryWorker& Instance();

    // Queues the job, waiting while the queue is full; false (the job left
    // with the caller) when no worker thread could be started.
    bool Submit(std::unique_ptr<TSendJob>& job);
    // Waits until every queued job has been sent or kept. Not for the
    // worker's own thread.
    void WaitIdle();
    // The end of the process: waits up to `limit` for the queue to empty;
    // then the jobs not yet started are kept instead of sent (up to `keep`
    // more), and a job still being sent is left to its copy.
    void Drain(std::chrono::milliseconds limit, std::chrono::milliseconds keep);

private:
    struct TState;
    class TWorkerThread;
    TDeliveryWorker();
    void Work();
    TState& state_;
};

} // namespace crashreport
