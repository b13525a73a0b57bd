#pragma once
// The report pipeline: every step of one report, from the choice of options
// to the dialog, the log, the sending and the terminate or restart decision.
// It runs on the report thread (TExceptionThread) while the faulting thread
// waits in the dispatcher. Each step sets its section code first; a failure
// escaping a step goes to the internal error log with that code, and the
// faulting thread still gets "handled".
// Nothing here is signal-safe: it runs on the report thread.
#include <cstdint>
#include <string>

#include "crashreport/capture/captured_exception.h"

namespace crashreport {

// The section codes of the steps.
enum TReportSection : int {
    scStart = 1,
    scOptionsOfAddressModule = 101,
    scOptionsOfGivenModule = 102,
    scOptionsOfMainModule = 103,
    scDesignTimeLook = 104,
    scFilters = 2,
    scFilterMatch = 201,
    scNotifyParams = 3,
    scCallStack = 4,
    scPauseThreads = 5,
    scReportGoesOn = 6,
    scPublish = 7,
    scReportText = 702,
    scExceptionRecord = 704,
    scClearWarning = 705,
    scScreenshot = 706,
    scCrashRule = 8,
    scCounter = 9,
    scMessage = 10,
    scDialog = 11,
    scBeforeDialog = 12,
    scDialogKind = 13,
    scAfterDialog = 14,
    scLog = 15,
    scSend = 16,
    scReleaseStack = 17,
    scTerminate = 18,
};

// Answers false when the reporter dealt with the exception, true when the
// caller shall go on with its default handling (a cancelled report).
bool RunReportPipeline(TCapturedException& exception);

// Whether a log whose newest report stored `stored` as its version ("1.3")
// belongs to another version than `running`: an empty stored version (the
// item hidden) says nothing.
bool LogOfOtherVersion(const std::string& stored, const std::string& running);

// What the pipeline keeps between reports.
unsigned ExceptionCounter();
std::string LastExceptionMessage();

// How the process ends when a report asks for it. The default starts the
// program again for a restart and ends the process with exit code 1; tests
// replace it to watch the decision.
using TProcessEnd = void (*)(bool restart);
TProcessEnd SetProcessEnd(TProcessEnd end);
void EndProcessAfterReport(bool restart);

} // namespace crashreport
