// Start-up and shut-down of the exception capture, its switches, the
// exported entries and the delegation to the main executable.
#include "crashreport/capture/exception_capture.h"

#include "crashreport/capture/capture_errors.h"
#include "crashreport/capture/capture_state.h"
#include "crashreport/capture/dispatcher.h"
#include "crashreport/capture/handler_analysis.h"
#include "crashreport/capture/raise_capture.h"
#include "crashreport/threads/thread_tracking.h"
#include "crashreport/threads/thread_tracking_state.h"
#include "crashreport/options/module_options.h"
#include "crashreport/options/safe_run.h"
#include "crashreport/binding/module_exports.h"
#include "platform/kernel/modules.h"
#include "platform/rtl/thread.h"

#include <unwind.h>

#include <atomic>
#include <cstring>
#include <memory>

namespace crashreport {
namespace {

TCaptureStartup g_startup;
bool g_trackingStartedHere = false;

thread_local rtl::TExceptionStorage t_forwardedStorage;

// A function of this module that no other module can take the place of:
// its address tells which module this copy of the reporter lives in.
__attribute__((visibility("hidden"), noinline)) void OwnModuleMarker() { asm volatile(""); }

// Hands an exception that leaves a framework thread's body to ExceptionManager.
void BodyException(std::exception_ptr exception, rtl::TThread*)
{
    if (!exception) return;
    void* object = *reinterpret_cast<void**>(&exception);
    const std::type_info* type = exception.__cxa_exception_type();
    const TLastException last = LastExceptionCopy();
    ExceptionManager(object, type, last.Object.Object == object ? last.Address : nullptr, rkRuntime, CaptureModule());
}

void StepDelegation()
{
    TCaptureState& state = Capture();
    kernel::TModuleImage own;
    if (!kernel::FindModuleByAddress(reinterpret_cast<const void*>(&OwnModuleMarker), own))
        throw rtl::Exception("The module of the exception capture is not found");
    state.OwnModule = own.Handle;
    state.OwnModuleIsMain = own.IsMainExecutable;
    for (const kernel::TModuleImage& module : kernel::EnumerateModules())
        if (module.Path.find("/ld-linux") != std::string::npos) {
            state.LoaderStart = module.ImageStart;
            state.LoaderEnd = module.ImageEnd;
        }
    TExceptionCaptureDelegation& delegation = state.Delegation;
    delegation = TExceptionCaptureDelegation{};
    state.Delegates = false;
    if (own.IsMainExecutable) return;
    kernel::TModuleImage main;
    if (!kernel::FindModuleByName("", main)) return;
    // Found in the program's own symbols, never in this module.
    delegation.Manager =
        reinterpret_cast<decltype(delegation.Manager)>(FindModuleExport(main.Handle, "ExceptionManager"));
    delegation.GeneralRaise = reinterpret_cast<decltype(delegation.GeneralRaise)>(
        FindModuleExport(main.Handle, "TavrelLog_CallGeneralRaise"));
    delegation.ExceptObject = reinterpret_cast<decltype(delegation.ExceptObject)>(
        FindModuleExport(main.Handle, "TavrelLog_CallExceptObject"));
    state.Delegates = delegation.Manager != nullptr;
}

void StepState()
{
    TCaptureState& state = Capture();
    CachedThreadId(); // prepares the per-thread ID cache (and its fork handler)
    state.Options = g_startup.Options;
    state.Started = true;
    state.CaptureOn = true;
    for (auto& id : state.OffList) id = 0;
    state.OffListCount = 0;
    {
        TRaiseLockGuard guard(state.LastLock);
        state.Last = TLastException{};
    }
    state.LastCapturedAddress = nullptr;
    state.CurrentReport = nullptr;
    TRaiseLockGuard guard(state.SnapshotLock);
    if (!state.Snapshot.Buffer) state.Snapshot.Buffer = new std::uint8_t[kSnapshotSize];
    state.Snapshot.Length = 0;
    ClearAnalysisCache();
}

void StepThreads()
{
    if (g_startup.TrackThreads && !ThreadTrackingStarted()) g_trackingStartedHere = StartThreadTracking();
    SetBodyExceptionHandler(&BodyException);
    SetThreadBodyWrappers(detail::BodyWrapperAddress(), reinterpret_cast<const void*>(&rtl::TThread::ThreadProc));
}

void StepInterceptors()
{
    if (ModuleDelegates()) return; // the program's copy sees this module's raises through its GOT
    InstallRaiseCapture();
}

void StepReportThread()
{
    // A shared library's initialisation runs under the loader's lock, which a
    // new thread may need before it runs: the report thread is made later.
    if (CaptureModuleIsMainExecutable() || !InsideModuleInitialisationOrFinalisation()) PrepareReportThread();
}

void StepStopReportThread()
{
    // Waits for a report in progress: it holds the capture lock.
    std::lock_guard<std::recursive_mutex> lock(Capture().CaptureLock);
    ReleaseReportThread();
}

void StepStopInterceptors()
{
    if (!ModuleDelegates()) RemoveRaiseCapture();
}

void StepStopThreads()
{
    SetBodyExceptionHandler(nullptr);
    if (g_trackingStartedHere) StopThreadTracking();
    g_trackingStartedHere = false;
}

void StepStopState()
{
    TCaptureState& state = Capture();
    state.Started = false;
    state.Delegates = false;
    TRaiseLockGuard guard(state.SnapshotLock);
    delete[] state.Snapshot.Buffer;
    state.Snapshot.Buffer = nullptr;
    state.Snapshot.Length = 0;
}

} // namespace

bool StartExceptionCapture(const TCaptureStartup& startup)
{
    if (ExceptionCaptureStarted()) return true;
    g_startup = startup;
    if (!SafeRun(&StepDelegation, "TExceptionCapture.Delegation")) return false;
    if (!startup.Options && !startup.Force) return false; // this module carries no options: the capture stays off
    if (!SafeRun(&StepState, "TExceptionCapture.State")) return false;
    SafeRun(&StepThreads, "TExceptionCapture.Threads");
    SafeRun(&StepInterceptors, "TExceptionCapture.Interceptors");
    SafeRun(&StepReportThread, "TExceptionCapture.ReportThread");
    return true;
}

void StopExceptionCapture()
{
    if (!ExceptionCaptureStarted()) return;
    SafeRun(&StepStopReportThread, "TExceptionCapture.Done.ReportThread");
    SafeRun(&StepStopInterceptors, "TExceptionCapture.Done.Interceptors");
    SafeRun(&StepStopThreads, "TExceptionCapture.Done.Threads");
    SafeRun(&StepStopState, "TExceptionCapture.Done.State");
}

void StopExceptionCaptureAtExit()
{
    std::lock_guard<std::recursive_mutex> lock(Capture().CaptureLock);
    Capture().Started = false;
}

TTavrelModuleOptions& CurrentTavrelLogOptions()
{
    if (!ExceptionCaptureStarted() || !g_startup.Options)
        throw rtl::EAssertionFailed("\r\nCannot use 'CurrentTavrelLogOptions' function without activate TavrelLog.\r\n"
                                    "To activate TavrelLog use the new IDE \"Project/TavrelLog Options...\" menu.");
    return *g_startup.Options;
}

} // namespace crashreport

using namespace crashreport;

bool ExceptionManager(void* object, const std::type_info* type, void* address, std::uint8_t raiserKind,
                      std::uintptr_t module)
{
    try {
        TCaptureState& state = Capture();
        std::lock_guard<std::recursive_mutex> lock(state.CaptureLock);
        if (TExceptionCaptureDelegation* d = Delegation()) return d->Manager(object, type, address, raiserKind, module);
        if (!ExceptionCaptureStarted() || !CaptureOnForThisThread()) return true;
        TExceptionObject exception{object, type};
        const TLastException last = LastExceptionCopy();
        if (!IsManageable(exception) && !IsManageable(last.Object)) return true;
        if (!exception.Valid()) {
            exception = last.Object;
            address = last.Address;
        }
        TThreadCaptureState& t = ThreadCapture();
        if (!t.RaiseFrame) t.RaiseFrame = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
        TCapturedException captured;
        captured.Exception = exception;
        captured.Address = address;
        // The flag of the last raise is reset by every dispatch (a thread
        // body's exception was dispatched once to record its stack): a valid
        // object tells it by its class.
        captured.LanguageRaise =
            exception.Valid() ? !ClassDescendsFromName(exception.Type, "EExternal") : last.LanguageRaise;
        captured.CaptureMode = cmFullReport;
        captured.Module = module ? module : CaptureModule();
        captured.RaiserKind = raiserKind;
        if (last.Object.Object == exception.Object) { // copies from raise time survive a freed object
            std::memcpy(captured.ClassName, last.ClassName, sizeof captured.ClassName);
            std::memcpy(captured.Message, last.Message, sizeof captured.Message);
        }
        if (!InsideDispatch()) { // a nested call is answered handled, not reported
            state.LastCapturedAddress.store(address);
            state.LastCapturedObject.store(exception.Object);
        }
        return Dispatch(captured); // which prepares the next report thread
    } catch (...) {
        CaptureInternalError("ExceptionManager", "exception while handling an exception");
        return true;
    }
}

void TavrelLog_CallGeneralRaise(std::uint32_t, std::uint32_t, std::uint32_t, std::uintptr_t raiseFrame,
                                const std::uintptr_t*)
{
    // Another module's raise: its frame is this thread's raise frame; the
    // capture itself ran in that module (or runs here through the GOT).
    ThreadCapture().RaiseFrame = raiseFrame;
}

rtl::EExternal* TavrelLog_CallExceptObject(const rtl::TExceptionRecord* record, const ucontext_t* context, bool capture)
{
    if (!record) return nullptr;
    return MapAndCapture(*record, context, t_forwardedStorage, capture);
}
