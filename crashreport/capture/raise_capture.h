#pragma once
// Raise-time capture. Three roads lead here:
//   - the language raise: __cxa_throw, intercepted in the GOT of every
//     loaded module, records the raise address, raise frame and registers;
//   - the unwinding road: _Unwind_RaiseException, intercepted in the GOT of
//     every module (libstdc++'s own throws and libgcc_s's rethrows
//     included), where the exception header is complete: it captures;
//   - the mapping of faults: the runtime's mapping hook is replaced; the
//     replacement captures in the fault handler before the object is thrown,
//     and reports a fault that nothing will catch from there.
// The unhandled-exception procedure (the std::terminate handler) and the
// SIGABRT handler are replaced too.
#include "crashreport/capture/handler_analysis.h"
#include "platform/rtl/external_exception.h"

#include <unwind.h>

namespace crashreport {

// Installs every interceptor and replaced procedure (not for a module that
// delegates). Each part that cannot be installed is reported as an internal
// error. Not signal-safe.
bool InstallRaiseCapture();
void RemoveRaiseCapture();

// Step 4 of the capture, common to the roads: records the last exception,
// takes the stack snapshot, asks the handler analysis and dispatches an
// exception no handler takes. `forceUnhandled` skips the analysis (the
// unhandled procedure). Answers the analysis. Signal-safe up to the dispatch.
TAnalysis CaptureAtRaise(const TExceptionObject& object, void* address, bool languageRaise, bool noRecord,
                         _Unwind_Exception* exception, const TWalkStart& start, bool forceUnhandled);

// The end of an exception nothing handles: the main thread halts
// the process with exit code 1, another thread ends with exit code 1
// (its tracked record removed). Signal-safe except for the record removal.
[[noreturn]] void EndUnhandled();

// The replacement mapping, also behind TavrelLog_CallExceptObject: maps
// with the previous hook, saves the context, captures. With capture false
// it only maps.
rtl::EExternal* MapAndCapture(const rtl::TExceptionRecord& record, const ucontext_t* context,
                              rtl::TExceptionStorage& storage, bool capture);

// The interceptor of the unwinding road (the language raise's is an
// assembly stub, TavrelCaptureCxaThrowStub).
_Unwind_Reason_Code UnwindRaiseInterceptor(_Unwind_Exception* exception);

// Whether the thrown-copy memory of a fault comes from the runtime's
// emergency pool (libstdc++'s malloc import intercepted).
bool RaiseAllocatorInstalled();

} // namespace crashreport

extern "C" __attribute__((visibility("hidden"))) void TavrelCaptureCxaThrowStub(void* object, std::type_info* type,
                                                                                void (*destroy)(void*));
