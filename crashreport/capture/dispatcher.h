#pragma once
// The dispatcher: every road ends here. It runs the installed report host
// (report_host.h) on a
// TExceptionThread of its own at the highest priority while the faulting
// thread waits: the waiting thread pumps its messages when it is the main
// thread and runs the synchronised call that the report thread posts
// (RunInHandlingThread). Answers true when the caller's default handling is
// still to run, false when the exception has been dealt with.
// Not signal-safe, but made to work from the fault handler: the report
// thread is made ahead of time, so a dispatch does not have to create one.
#include "crashreport/capture/captured_exception.h"
#include "platform/rtl/thread.h"

namespace crashreport {

constexpr const char* kSafeCallPrefix = "[SafeCall Exception]: ";

class TExceptionThread : public rtl::TThread {
public:
    TExceptionThread();
    TCapturedException* Captured = nullptr;
    bool Result = true;

protected:
    void Execute() override;
};

bool Dispatch(TCapturedException& exception);

// Makes the next report thread ahead of time (start-up, and after each
// report) and frees it (shut-down). Not signal-safe.
void PrepareReportThread();
void ReleaseReportThread();

// True while the calling thread is inside the dispatcher.
bool InsideDispatch();

// For a thread that pauses another and then reports (the freeze watchdog):
// tries for the dispatcher's lock without waiting. Owned() is false when a
// report runs now; its thread waits in the dispatcher holding the lock, and
// pausing it there would leave the new report waiting for it for ever.
// While owned, no other report starts. Not signal-safe.
class TReportTryLock {
public:
    TReportTryLock();
    ~TReportTryLock();
    TReportTryLock(const TReportTryLock&) = delete;
    TReportTryLock& operator=(const TReportTryLock&) = delete;
    bool Owned() const { return owned_; }

private:
    bool owned_;
};

} // namespace crashreport
