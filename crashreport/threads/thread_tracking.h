#pragma once
// Thread tracking: the table of live threads, kept complete by interceptors
// of thread creation (pthread_create in the GOT of the named modules),
// resumption (the kernel layer's ResumeThread, intercepted as a procedure)
// and exit (pthread_exit), by start wrappers that record each thread's stack
// top, and by a body wrapper around every framework thread's Execute.
#include "crashreport/threads/threads_list.h"

#include <pthread.h>

#include <exception>
#include <string>
#include <vector>

namespace crashreport {

// The modules whose imports are intercepted when no list is given: the
// executable (which links the kernel layer) and libstdc++ (std::thread).
std::vector<std::string> DefaultThreadModules();

// Creates the table with the calling thread's process main thread as its
// first record and installs the interceptors. Failures of single
// interceptions go to the hooking engine's internal error handler. Answers
// whether tracking runs. Not signal-safe.
bool StartThreadTracking(const std::vector<std::string>& modules = DefaultThreadModules());
void StopThreadTracking();
bool ThreadTrackingStarted();
TTavrelThreadsList* TrackedThreads();

// Set on the thread that runs a report: its own suspensions and resumptions
// go straight to the kernel, and the resume interceptor records nothing.
void SetBusyReporting(bool busy);
bool IsBusyReporting();

class TBusyReporting {
public:
    TBusyReporting() : previous_(IsBusyReporting()) { SetBusyReporting(true); }
    ~TBusyReporting() { SetBusyReporting(previous_); }
    TBusyReporting(const TBusyReporting&) = delete;
    TBusyReporting& operator=(const TBusyReporting&) = delete;

private:
    bool previous_;
};

// Receives an exception that leaves a framework thread's body on that
// thread, before the framework sees it (the exception manager registers
// itself here). The handler must not throw.
using TBodyExceptionHandler = void (*)(std::exception_ptr exception, rtl::TThread* thread);
void SetBodyExceptionHandler(TBodyExceptionHandler handler);

// When this module is not the main executable and the main executable
// exports the TavrelLog_Call...Thread entries, every change is passed on.
void SetThreadTrackingDelegation(bool delegates);

// The interceptors themselves (also the real functions' stand-ins while
// tracking is stopped).
int CreateThreadInterceptor(pthread_t* thread, const pthread_attr_t* attr, void* (*start)(void*), void* arg);
std::uint32_t ResumeThreadInterceptor(kernel::THandle handle);
[[noreturn]] void ExitThreadInterceptor(void* result);

} // namespace crashreport

extern "C" {
__attribute__((visibility("default"))) void TavrelLog_CallCreateThread(const crashreport::TTavrelThreadRecord* record);
__attribute__((visibility("default"))) void TavrelLog_CallResumeThread(kernel::THandle handle,
                                                                       const crashreport::TTavrelThreadRecord* record);
__attribute__((visibility("default"))) void TavrelLog_CallExitThread();
}
