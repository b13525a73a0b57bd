#pragma once
// One report's way through the pipeline, and what its stages share: the
// run's own record (TReportRun) and what is kept between reports
// (TPipelineState: the counter, the last message, the crash rule, the copy
// choice). Each stage is a file of its own (stage_*.cpp) that sets its
// section codes; RunReportPipeline runs them in order:
//   options and filters -> gathering and pausing -> what the user sees ->
//   the log -> the delivery -> the end of the run.
// Nothing here is signal-safe: it runs on the report thread.
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "crashreport/capture/captured_exception.h"
#include "crashreport/threads/threads_list.h"
#include "crashreport/options/module_options.h"
#include "crashreport/pipeline/crash_rule.h"
#include "crashreport/pipeline/report_pause.h"
#include "crashreport/pipeline/report_screenshot.h"
#include "crashreport/report/report_dialogs.h"
#include "crashreport/report/report_text.h"
#include "crashreport/stack/debug_info.h"

namespace crashreport {

// Kept between reports. Reports run one at a time; the lock is for the
// readers on other threads.
struct TPipelineState {
    std::mutex Lock;
    unsigned Counter = 0;
    std::string LastMessage;
    TCrashRule CrashRule;
    bool CopyChoice = false;
};
TPipelineState& PipelineState(); // never destroyed: it outlives every report

// The record one report's stages share.
struct TReportRun {
    explicit TReportRun(const TCapturedException& captured);
    ~TReportRun(); // keeps the copy choice for the next report, whatever happened
    TReportRun(const TReportRun&) = delete;
    TReportRun& operator=(const TReportRun&) = delete;

    bool SendConfigured() const;
    // The report is sent: a route is set, it is no repeat, and the user
    // ticked sending or saw no dialog.
    bool WillSend() const;

    TCapturedException Exception; // final as the capture made it
    TPipelineState& State = PipelineState();
    double ExceptionTime = 0;
    bool Gui = false;
    std::unique_ptr<TTavrelThreadsList> Threads;
    std::unique_ptr<TTavrelModuleOptions> Options;
    std::unique_ptr<TTavrelStackList> Stack;
    TReportSources Sources;
    TErrorReport Report;
    TReportChoices Choices;
    TReportPause Pause;
    std::optional<TReportScreenshotScope> Screenshot;
    TTerminateAction TerminateAction = taTerminate;
    bool Repeat = false;
    bool Background = false; // the delivery went to the worker, with the run's follow-up
};

void SetSection(int section);
// Publishes the exception record that the event handlers receive.
void PublishRecord(const TReportRun& run);

// In a filter's message this stands for the exception's own message; a
// message without it is shown as it is.
inline constexpr char kFilterMessagePlaceholder[] = "%ExceptionMessage%";
std::string FilterMessageText(const std::string& text, const TCapturedException& exception);

// The stages, in order.
// Chooses the options and brings the application to the front; false when
// a filter skipped the report.
bool ChooseOptionsAndFilter(TReportRun& run);
// Gathers the report's facts and call stacks; pauses the threads the
// options ask for. False for a thread body's exception (its stack only).
bool GatherAndPause(TReportRun& run);
// The report text, the events, the screenshot and what the user sees;
// false when an event handler cancelled the report.
bool Show(TReportRun& run);
// The log file and the clipboard copy.
void Persist(TReportRun& run);
// The delivery, on this thread or by the worker; the crash rule.
void Deliver(TReportRun& run);
// Resumes the threads, releases the call stack, ends or restarts the
// process when asked.
void EndRun(TReportRun& run);

} // namespace crashreport
