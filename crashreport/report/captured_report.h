#pragma once
// The report of a captured exception, built without any dialog or
// delivery: the exception fields, the general part's values read from the
// process and the system, the call stacks and the modules. Used by the
// report pipeline and by tests. Not signal-safe: it runs on the reporting
// thread, reads files and allocates.
#include <string>

#include "crashreport/capture/captured_exception.h"
#include "crashreport/report/report_text.h"

namespace crashreport {

// Exception fields of the general part.
std::string GetExceptionAddress(const void* address); // empty for 0
std::string GetExceptionModule(const void* address);  // file name without folder
std::string GetExceptionType(const TCapturedException& exception);
// The message, an access violation's rebuilt with its module, ending in ".".
std::string GetExceptionMessage(const TCapturedException& exception);

// Where the report's readings come from; tests replace what the system
// cannot make repeatable.
struct TGatherOptions {
    // The call stacks to report; null: the exception thread's stack is
    // walked from the exception's raise frame.
    const TTavrelStackList* CallStack = nullptr;
    // With no stack list given: also the stacks of the other tracked
    // threads that the stack flags show (stRuntimeThreads, stSystemThreads),
    // each paused only while its stack is walked.
    bool RunningThreads = false;
    bool ReadSystemInformation = true; // the Computer, Operating System and Network items
    std::string FormClass, FormText;   // the foreground window, when the user interface knows it
    std::string CustomData;
};

// Fills the sources of one report. `ownedStack` receives the stack list
// made here when none was given; the sources point into it.
TReportSources GatherReportSources(const TCapturedException& exception, const TTavrelModuleOptions& options,
                                   const TGatherOptions& gather, std::unique_ptr<TTavrelStackList>& ownedStack);

// Gathers and renders in one step.
TErrorReport BuildCapturedReport(const TCapturedException& exception, const TTavrelModuleOptions& options,
                                 const TGatherOptions& gather = {});

} // namespace crashreport
