#include "crashreport/freeze/freeze_thread.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "crashreport/capture/dispatcher.h"
#include "crashreport/capture/exception_capture.h"
#include "crashreport/freeze/main_thread_probe.h"
#include "crashreport/threads/thread_tracking.h"
#include "crashreport/options/freeze_watch_hook.h"
#include "crashreport/options/module_options.h"
#include "platform/kernel/memory.h"

namespace crashreport {

namespace {

// The watchdog of the process; changed only under g_lifecycle.
std::recursive_mutex g_lifecycle;
TFreezeThread* g_thread = nullptr;
kernel::THandleOwner g_mainThread;
// Set once exit() has begun: an exiting process is not frozen.
std::atomic<bool> g_exiting{false};
std::once_flag g_exitHookOnce;

// How long an exiting process waits for the watchdog: a report running at
// exit may itself be waiting for something that exit has stopped.
constexpr int kExitWaitMs = 2000;
constexpr int kNormalPriority = 0;

// The top of the main thread's stack: as thread tracking recorded it, else
// the end of the process stack's mapping.
std::uintptr_t MainStackTop()
{
    if (ThreadTrackingStarted()) {
        if (TTavrelThreadsList* list = TrackedThreads()) {
            TThreadsListReadLock lock(*list);
            const int i = list->FindByID(kernel::MainThreadId());
            if (i >= 0 && list->Get(i)->StackTop != 0) return list->Get(i)->StackTop;
        }
    }
    for (const kernel::TMemoryRegion& region : kernel::ListMemoryRegions())
        if (std::string_view(region.Name) == "[stack]") return region.End;
    return 0;
}

void OnProcessExit()
{
    g_exiting = true;
    StopFreezeWatch();
}

class TControl final : public TFreezeWatchControl {
public:
    void StartFreezeWatch() override { crashreport::StartFreezeWatch(); }
    void StopFreezeWatch() override { crashreport::StopFreezeWatch(); }
};
TControl g_control;

} // namespace

void DispatchFrozenApplication(EFrozenApplication& exception, const TFreezeReport& report)
{
    try {
        TCapturedException captured;
        captured.Exception = ExceptionObjectOf(exception);
        captured.Address = reinterpret_cast<void*>(report.Address);
        captured.LanguageRaise = false;
        captured.CaptureMode = cmFullReport;
        captured.Module = CaptureModule();
        captured.RaiserKind = rkRuntime;
        captured.NotifyParams.Context = &report.Context;
        captured.NotifyParams.StackStart = report.StackStart;
        captured.NotifyParams.StackTop = report.StackTop;
        captured.NotifyParams.ThreadID = report.ThreadID;
        Dispatch(captured);
    } catch (...) {
        // Nothing of a failed report may keep the main thread suspended.
    }
}

TFreezeThread::TFreezeThread(int freezeSeconds, std::string freezeText, kernel::THandle mainThread)
    : rtl::TThread(true),
      limit_(std::chrono::seconds(freezeSeconds)),
      text_(freezeText.empty() ? std::string(kDefaultFreezeText) : std::move(freezeText)),
      mainThread_(mainThread)
{
}

bool TFreezeThread::Pause(int steps)
{
    for (int i = 0; i < steps; ++i) {
        if (Terminated()) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(kFreezeProbeMs));
    }
    return !Terminated();
}

void TFreezeThread::Execute()
{
    std::unique_ptr<TMainThreadProbe> probe;
    while (!Terminated() && !(probe = FindMainThreadProbe())) Pause(1);
    // True from the report of a freeze until the main thread answers again.
    bool freezeReported = false;
    while (!Terminated()) {
        std::chrono::steady_clock::duration unanswered{};
        while (!Terminated() && unanswered < limit_) {
            const auto sent = std::chrono::steady_clock::now();
            if (probe->Ask(kFreezeProbeMs) == TProbeAnswer::paUnanswered) {
                unanswered += std::chrono::steady_clock::now() - sent;
                continue;
            }
            // An answer ends a freeze; what is gone is not frozen (it is
            // watched on: a new window or loop is not looked for).
            freezeReported = false;
            unanswered = {};
            Pause(5);
        }
        if (Terminated() || g_exiting) break;
        // A freeze not reported because a report runs is watched on: its
        // time starts again.
        if (!freezeReported) freezeReported = ReportFreeze();
    }
}

bool TFreezeThread::ReportFreeze()
{
    // A main thread that waits for a report (its dialog open, with no pump
    // for the program's windows) is not frozen.
    TReportTryLock noReportRuns;
    if (!noReportRuns.Owned()) return false;
    if (kernel::SuspendThread(mainThread_) == kernel::kSuspendFailed) return true;
    {
        TBusyReporting busy;
        kernel::TThreadContext context{};
        // An exit that began meanwhile is not a freeze.
        if (!g_exiting && kernel::GetThreadContext(mainThread_, context)) {
            const std::uintptr_t ip = kernel::InstructionPointer(context), sp = kernel::StackPointer(context);
            if (ip != 0 && sp != 0) {
                EFrozenApplication exception(text_);
                const TFreezeReport report{context, ip, sp, MainStackTop(), kernel::GetThreadId(mainThread_)};
                DispatchFrozenApplication(exception, report);
                ++reported_;
            }
        }
        // Still marked busy: the resume goes straight to the kernel.
        ResumeThreadInterceptor(mainThread_);
    }
    return true;
}

bool StartFreezeWatch()
{
    std::lock_guard lock(g_lifecycle);
    if (g_thread != nullptr || g_exiting) return g_thread != nullptr;
    TTavrelModuleOptions* options = QueryCurrentOptions();
    if (options == nullptr || !options->FreezeWatch() || options->FreezeSeconds() <= 0) return false;
    std::call_once(g_exitHookOnce, [] { std::atexit(OnProcessExit); });
    g_mainThread.Reset(kernel::OpenThread(kernel::MainThreadId()));
    if (g_mainThread.Get() == 0) return false;
    auto* thread = rtl::TThread::Create<TFreezeThread>(static_cast<int>(options->FreezeSeconds()),
                                                       options->FreezeText(), g_mainThread.Get());
    thread->FreeOnTerminate = false;
    thread->SetPriority(kNormalPriority);
    g_thread = thread;
    thread->Resume();
    return true;
}

void StopFreezeWatch()
{
    std::lock_guard lock(g_lifecycle);
    TFreezeThread* thread = g_thread;
    if (thread == nullptr) return;
    thread->Terminate();
    if (kernel::GetCurrentThreadId() == thread->ThreadID())
        return; // the watchdog itself (a report that ends the process): it ends on its own
    if (g_exiting && !kernel::WaitForThread(thread->Handle(), kExitWaitMs)) return; // left to the process's end
    thread->WaitFor();
    delete thread;
    g_thread = nullptr;
    g_mainThread.Reset();
}

bool FreezeWatchRunning()
{
    std::lock_guard lock(g_lifecycle);
    return g_thread != nullptr;
}

TFreezeThread* FreezeThread()
{
    std::lock_guard lock(g_lifecycle);
    return g_thread;
}

void InstallFreezeWatchControl() { SetFreezeWatchControl(&g_control); }

void RemoveFreezeWatchControl()
{
    if (FreezeWatchControl() == &g_control) SetFreezeWatchControl(nullptr);
}

} // namespace crashreport
