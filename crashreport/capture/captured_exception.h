#pragma once
// What travels with a captured exception (TExceptNotifyParams) and the
// arguments of one run of the report pipeline (TCapturedException).
#include "crashreport/capture/exception_class.h"
#include "platform/kernel/threads.h"

#include <cstdint>
#include <string>

namespace crashreport {

// Capture modes.
enum : std::uint8_t {
    cmFullReport = 0,
    cmSafeCall = 1,   // inside a safe-call wrapper: report now and mark it
    cmThreadBody = 2, // about to leave a framework thread's body: call stack only
};

// Raiser kinds.
enum : std::uint8_t { rkRuntime = 0, rkApplication = 1, rkWebApplication = 2 };

struct TExceptNotifyParams {
    // The faulting thread's registers; null: the context saved for the
    // current thread when the exception was raised.
    const kernel::TThreadContext* Context = nullptr;
    // Where the call stack is walked from; 0: the raise frame of the current thread.
    std::uintptr_t StackStart = 0;
    // That thread's stack top; 0: the current thread's.
    std::uintptr_t StackTop = 0;
    std::uint32_t ThreadID = 0;
    std::string FocusClass; // up to 255 characters
    std::string FocusText;  // a password edit's text as a row of '*'
};

struct TCapturedException {
    TExceptionObject Exception;
    void* Address = nullptr;
    bool LanguageRaise = false;
    std::uint8_t CaptureMode = cmFullReport;
    std::uintptr_t Module = 0; // whose options apply
    std::uint8_t RaiserKind = rkRuntime;
    TExceptNotifyParams NotifyParams;
    // Copies taken at raise time: the object itself may be gone when the
    // pipeline looks (a caught and freed exception).
    char ClassName[128] = {};
    char Message[256] = {};
    // The raise-time copy of the faulting thread's stack that belongs to
    // this exception, as the capture's snapshot buffer held it when the
    // record was made final (Length 0: none). The bytes themselves are
    // copied out by the report (CopyRaiseSnapshot), off the fault handler.
    struct {
        std::uint32_t ThreadID = 0;
        std::uintptr_t Start = 0; // stack address of the first byte
        std::size_t Length = 0;
    } Snapshot;
    // Set once the capture made the record final (FinaliseCapturedException).
    bool Final = false;
};

} // namespace crashreport
