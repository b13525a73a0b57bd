#include "crashreport/capture/dispatcher.h"

#include "crashreport/capture/capture_errors.h"
#include "crashreport/capture/capture_state.h"
#include "crashreport/capture/capture_queries.h"
#include "crashreport/capture/report_host.h"
#include "crashreport/capture/report_turn.h"
#include "crashreport/options/module_options.h"
#include "crashreport/threads/thread_tracking.h"
#include "crashreport/binding/handling_thread.h"
#include "platform/kernel/process.h"
#include "platform/rtl/exception.h"
#include "platform/rtl/external_exception.h"


#include <atomic>
#include <cstring>

namespace crashreport {
namespace {

std::atomic<TExceptionThread*> g_nextThread{nullptr};
constexpr int kHighestPriority = 2;

class TInsideDispatchGuard {
public:
    TInsideDispatchGuard() { ThreadCapture().InsideDispatch = 1; }
    ~TInsideDispatchGuard() { ThreadCapture().InsideDispatch = 0; }
    TInsideDispatchGuard(const TInsideDispatchGuard&) = delete;
    TInsideDispatchGuard& operator=(const TInsideDispatchGuard&) = delete;
};

class THandlingGuard {
public:
    THandlingGuard() { BeginHandling(static_cast<int>(kernel::GetCurrentThreadId())); }
    ~THandlingGuard() { EndHandling(); }
    THandlingGuard(const THandlingGuard&) = delete;
    THandlingGuard& operator=(const THandlingGuard&) = delete;
};

// The report thread never reports itself: its exceptions are not captured.
class TOffListEntry {
public:
    TOffListEntry() : entered_(!AlreadyOff(self_) && SetThreadCaptureOff(self_, true)) {}
    ~TOffListEntry()
    {
        if (entered_) SetThreadCaptureOff(self_, false);
    }
    TOffListEntry(const TOffListEntry&) = delete;
    TOffListEntry& operator=(const TOffListEntry&) = delete;

private:
    // A thread the program switched off stays off after the report.
    static bool AlreadyOff(std::uint32_t id)
    {
        for (const auto& entry : Capture().OffList)
            if (entry.load() == id) return true;
        return false;
    }
    const std::uint32_t self_ = kernel::GetCurrentThreadId();
    const bool entered_;
};

// Makes the record final before a report reads it: the reported address
// (the call instruction of a language raise; a fault that the program caught
// and threw on, where it happened) and the raise-time snapshot that belongs
// to its thread. Runs once per record, on the report thread.
void FinaliseCapturedException(TCapturedException& exception)
{
    if (exception.Final) return;
    exception.Final = true;
    TCaptureState& state = Capture();
    state.LastCapturedAddress.store(exception.Address);
    if (exception.LanguageRaise && exception.Address) exception.Address = static_cast<char*>(exception.Address) - 5;
    if (const auto* fault = exception.Exception.Valid()
            ? dynamic_cast<const rtl::EExternal*>(AsStdException(exception.Exception))
            : nullptr)
        if (fault->ExceptionRecord.ExceptionAddress) exception.Address = fault->ExceptionRecord.ExceptionAddress;
    TRaiseLockGuard guard(state.SnapshotLock);
    const std::uint32_t thread = exception.NotifyParams.ThreadID;
    if (guard.Held() && state.Snapshot.Length && state.Snapshot.ThreadID == thread) {
        exception.Snapshot.ThreadID = thread;
        exception.Snapshot.Start = state.Snapshot.Start;
        exception.Snapshot.Length = state.Snapshot.Length;
    }
}

bool RunPipeline(TCapturedException& exception)
{
    TReportHost* host = ReportHost();
    if (!host) return true;
    FinaliseCapturedException(exception);
    Capture().CurrentReport.store(&exception);
    bool result = true;
    try {
        result = host->RunReport(exception);
    } catch (...) {
        CaptureInternalError("Dispatch", "the report pipeline raised an exception");
    }
    Capture().CurrentReport.store(nullptr);
    return result;
}

TExceptionThread* TakeReportThread()
{
    if (TExceptionThread* thread = g_nextThread.exchange(nullptr)) return thread;
    return rtl::TThread::Create<TExceptionThread>();
}

void ResetAfterReport()
{
    TCaptureState& state = Capture();
    {
        TRaiseLockGuard guard(state.LastLock);
        if (guard.Held()) state.Last.LanguageRaise = false;
    }
    TThreadCaptureState& t = ThreadCapture();
    t.RaiseFrame = 0;
    t.ContextFlags = 0;
    state.CurrentReport.store(nullptr);
}

void MarkSafeCall(TCapturedException& exception)
{
    const std::exception* e = AsStdException(exception.Exception);
    if (!e) return;
    auto* base = dynamic_cast<rtl::Exception*>(const_cast<std::exception*>(e));
    if (!base) return;
    const std::string current = base->what();
    if (current.find(kSafeCallPrefix) == std::string::npos) base->Message = kSafeCallPrefix + current;
}

} // namespace


TExceptionThread::TExceptionThread() : rtl::TThread(true) {}

void TExceptionThread::Execute()
{
    TOffListEntry off;
    TBusyReporting busy;
    if (Captured) Result = RunPipeline(*Captured);
}

void PrepareReportThread()
{
    if (g_nextThread.load()) return;
    TExceptionThread* thread = rtl::TThread::Create<TExceptionThread>();
    TExceptionThread* expected = nullptr;
    if (!g_nextThread.compare_exchange_strong(expected, thread))
        delete thread; // never started: its destructor lets it end at the gate
}

void ReleaseReportThread() { delete g_nextThread.exchange(nullptr); }

bool InsideDispatch() { return ThreadCapture().InsideDispatch != 0; }

bool Dispatch(TCapturedException& exception)
{
    if (!ExceptionCaptureStarted()) return true;
    const bool allowPump = !ClassDescendsFromName(exception.Exception.Type, "EStackOverflow");
    std::lock_guard<std::recursive_mutex> lock(Capture().CaptureLock);
    if (InsideDispatch()) return false; // raised while this thread is being reported: swallowed
    // The deliveries of earlier reports end first. Waited for under the
    // capture lock: a report that held the lock until now may just have
    // handed its delivery over. No delivery takes the capture lock.
    AwaitDeliveries();
    TInsideDispatchGuard inside;

    if (exception.Exception.Valid()) {
        if (!exception.ClassName[0])
            ShortClassName(*exception.Exception.Type, exception.ClassName, sizeof exception.ClassName);
        if (!exception.Message[0])
            CopyText(exception.Message, sizeof exception.Message, ExceptionMessage(exception.Exception));
    }
    if (std::strncmp(exception.Message, kSafeCallPrefix, std::strlen(kSafeCallPrefix)) == 0)
        return false; // reported before it crossed the safe-call boundary
    // ReporterActive of this module's options, which the capture started with.
    if (const TTavrelModuleOptions* own = Capture().Options; own && !own->ReporterActive()) return true;

    TExceptNotifyParams& params = exception.NotifyParams;
    if (!params.ThreadID) params.ThreadID = kernel::GetCurrentThreadId();
    if (!params.Context && ThreadCapture().ContextFlags == kContextAll) params.Context = &ThreadCapture().SavedContext;
    if (!params.StackStart) params.StackStart = ThreadCapture().RaiseFrame;
    if (!params.StackTop) params.StackTop = CurrentThreadStackTop();
    if (TReportHost* host = ReportHost(); host && !ThreadCapture().InFaultHandler) {
        try {
            host->FillFocus(params);
        } catch (...) {
            CaptureInternalError("Dispatch", "the focus window could not be read");
        }
    }

    bool result = true;
    if (!CaptureModuleIsMainExecutable() && InsideModuleInitialisationOrFinalisation()) {
        // A shared library inside its initialisation or finalisation: the
        // loader is busy with it, so the report runs here, without a thread.
        THandlingGuard handling;
        TOffListEntry off;
        TBusyReporting busy;
        result = RunPipeline(exception);
    } else {
        THandlingGuard handling;
        TExceptionThread* thread = TakeReportThread();
        thread->Captured = &exception;
        thread->SetPriority(kHighestPriority);
        thread->Resume();
        const bool mainThread = kernel::GetCurrentThreadId() == kernel::MainThreadId();
        bool pumping = allowPump && mainThread;
        while (!thread->Finished()) {
            if (pumping)
                if (TReportHost* host = ReportHost()) pumping = host->PumpWaiting();
            RunPostedStep();
            kernel::Sleep(10);
        }
        thread->WaitFor();
        result = thread->Result;
        delete thread;
    }
    ResetAfterReport();
    if (exception.CaptureMode == cmSafeCall) MarkSafeCall(exception);
    // Not in the fault handler (the allocator may not be usable there) nor
    // in a shared library's initialisation (the loader's lock is held).
    if (!ThreadCapture().InFaultHandler &&
        (CaptureModuleIsMainExecutable() || !InsideModuleInitialisationOrFinalisation()))
        PrepareReportThread();
    return result;
}

TReportTryLock::TReportTryLock() : owned_(Capture().CaptureLock.try_lock()) {}

TReportTryLock::~TReportTryLock()
{
    if (owned_) Capture().CaptureLock.unlock();
}

} // namespace crashreport
