#pragma once
// Faults as C++ exceptions: handlers for SIGSEGV, SIGBUS, SIGFPE, SIGILL and
// SIGTRAP that run on the thread's alternate signal stack, describe the
// fault with a Windows-style exception record, let the mapping hook
// (ExceptObjProc) build the exception object and throw it from the handler.
// Code built with -fnon-call-exceptions catches it with an ordinary catch.
//
// A signal sent with kill, tgkill or sigqueue is not a fault: it goes to the
// handler that was installed before (or to the default action). Handlers a
// program installs afterwards replace these as usual.
// Link platform_rtl_signals with any target that uses this.
#include "platform/rtl/external_exception.h"

#include <signal.h>

namespace rtl {

// Installs the handlers and gives the calling thread an alternate stack;
// every thread started through the kernel layer (and through thread
// tracking) gets its own. Not signal-safe. True when installed.
bool InstallSignalExceptions();
// Puts the previous handlers back. Not signal-safe.
void RemoveSignalExceptions();
bool SignalExceptionsInstalled();

// Gives the calling thread its alternate stack and its exception storage.
// Threads made elsewhere (plain pthread_create while thread tracking is not
// running) call it themselves. Not signal-safe.
void PrepareThreadForSignals();

// Fills an exception record for a fault signal, as the handler does.
// Signal-safe.
void MakeExceptionRecord(int signal, const siginfo_t* info, const ucontext_t* context, TExceptionRecord& record);

} // namespace rtl
