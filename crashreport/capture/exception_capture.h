#pragma once
// The exception capture as a whole: start-up and shut-down, the switches,
// the exported entries (ExceptionManager, TavrelLog_CallGeneralRaise,
// TavrelLog_CallExceptObject), delegation to the main executable, and
// CurrentTavrelLogOptions.
#include "crashreport/capture/capture_queries.h"
#include "crashreport/capture/captured_exception.h"
#include "platform/rtl/external_exception.h"

#include <cstdint>
#include <typeinfo>

namespace crashreport {

class TTavrelModuleOptions;

struct TCaptureStartup {
    // This module's working options (what CurrentTavrelLogOptions answers
    // and the dispatcher consults); null: the module has none, and the
    // capture does not start unless Force is set.
    TTavrelModuleOptions* Options = nullptr;
    bool Force = false;
    // Start thread tracking as part of the start-up (off for programs that
    // run it themselves).
    bool TrackThreads = true;
};

// Start-up in its order, each step under SafeRun: delegation, state and
// snapshot buffer, thread tracking, the interceptors and replaced
// procedures (unless this module delegates), the first report thread.
// Answers whether the capture runs. Not signal-safe.
bool StartExceptionCapture(const TCaptureStartup& startup = {});
// Shut-down in reverse: waits until no report holds the capture lock.
void StopExceptionCapture();
// The stop while the process exits: waits for a report in progress and
// switches the capture off; the interceptors stay and pass everything on.
void StopExceptionCaptureAtExit();
// The options of this module; raises rtl::EAssertionFailed with the
// reporter's assertion text when the capture is not started or the module has none.
TTavrelModuleOptions& CurrentTavrelLogOptions();

} // namespace crashreport

extern "C" {
// True: the caller goes on with its own default handling. Not signal-safe
// (it waits for the report thread); the fault handler dispatches directly.
__attribute__((visibility("default"))) bool ExceptionManager(void* object, const std::type_info* type, void* address,
                                                             std::uint8_t raiserKind, std::uintptr_t module);
// Signal-safe: stores the raise frame of the calling thread.
__attribute__((visibility("default"))) void TavrelLog_CallGeneralRaise(std::uint32_t code, std::uint32_t flags,
                                                                       std::uint32_t argumentCount,
                                                                       std::uintptr_t raiseFrame,
                                                                       const std::uintptr_t* arguments);
// As signal-safe as the mapping hook it runs (reports like the fault handler).
__attribute__((visibility("default"))) rtl::EExternal*
TavrelLog_CallExceptObject(const rtl::TExceptionRecord* record, const ucontext_t* context, bool capture);
}
