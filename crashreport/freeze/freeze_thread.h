#pragma once
// The freeze watchdog: a thread of the reporter's own (TFreezeThread) that
// keeps asking the main thread for an answer with a 50 ms time limit: a null
// message to the application's main window, or an idle call on a GTK
// program's GLib main loop (main_thread_probe.h). When the main thread has
// not answered for FreezeSeconds, the main
// thread is suspended, its registers are read, and an EFrozenApplication is
// handed to the exception dispatch with that context, so that the report
// shows where the main thread was stuck. One freeze is reported once: only
// an answer of the main thread ends it. Nothing here is signal-safe.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

#include "platform/kernel/threads.h"
#include "platform/rtl/exception.h"
#include "platform/rtl/thread.h"

namespace crashreport {

// The probe's time limit, and the watchdog's sleeping step.
inline constexpr unsigned kFreezeProbeMs = 50;

class EFrozenApplication : public rtl::Exception {
public:
    using rtl::Exception::Exception;
};

// The main thread as the watchdog stopped it.
struct TFreezeReport {
    kernel::TThreadContext Context;
    std::uintptr_t Address;    // the main thread's instruction pointer
    std::uintptr_t StackStart; // its stack pointer
    std::uintptr_t StackTop;   // the top of its stack
    std::uint32_t ThreadID;    // the main thread's ID
};

// Hands the freeze to the exception dispatch as an exception of the main
// thread at its instruction pointer, with its registers and stack, through
// the normal capture road (not a language raise, full report, this module,
// raised by the runtime). Runs on the watchdog thread while the main thread
// is suspended. Catches everything.
void DispatchFrozenApplication(EFrozenApplication& exception, const TFreezeReport& report);

class TFreezeThread : public rtl::TThread {
public:
    // freezeSeconds > 0. The thread is made suspended.
    TFreezeThread(int freezeSeconds, std::string freezeText, kernel::THandle mainThread);

    // Freezes reported so far (each one dispatched once).
    int ReportedFreezes() const { return reported_.load(); }

protected:
    void Execute() override;

private:
    // Sleeps `steps` steps of 50 ms; false when told to terminate meanwhile.
    bool Pause(int steps);
    // False when a report runs now: the main thread may be waiting for it.
    bool ReportFreeze();

    const std::chrono::milliseconds limit_;
    const std::string text_;
    const kernel::THandle mainThread_;
    std::atomic<int> reported_{0};
};

// Starts the watchdog when the reporter's current options have FreezeWatch
// on (and FreezeSeconds above 0) and none runs yet. Answers whether one runs.
bool StartFreezeWatch();
// Tells the watchdog to end, waits for it and frees it; nothing when none
// runs. Called from the watchdog's own thread it only tells it to end.
void StopFreezeWatch();
bool FreezeWatchRunning();
// The running watchdog or null; valid until StopFreezeWatch.
TFreezeThread* FreezeThread();

// Makes StartFreezeWatch/StopFreezeWatch the options' freeze-watch control,
// so that changing FreezeWatch of the reporter's options starts or stops it.
void InstallFreezeWatchControl();
void RemoveFreezeWatchControl();

} // namespace crashreport
