#pragma once
// Shared by the capture's crash tests: a recording report pipeline that
// writes one line per report to standard output (with write(2), so it works
// while the allocator is held), and the start of the capture in a child.
#include "crashreport/capture/dispatcher.h"
#include "crashreport/capture/report_host.h"
#include "crashreport/capture/exception_capture.h"
#include "tests/support/child_process.h"

#include <atomic>
#include <cstdio>
#include <string>

namespace capturetest {

inline std::atomic<int> g_reports{0};
inline std::atomic<bool> g_answer{true};
// Run by the pipeline on the report thread before it records (may be null).
inline void (*g_duringReport)(crashreport::TCapturedException&) = nullptr;

inline bool RecordingPipeline(crashreport::TCapturedException& c)
{
    if (g_duringReport) g_duringReport(c);
    char line[640];
    const bool mainThread = c.NotifyParams.ThreadID == kernel::MainThreadId();
    const int n = std::snprintf(
        line, sizeof line, "REPORT mode=%d lang=%d class=%s thread=%s context=%d msg=%s%s%s%s%s\n", c.CaptureMode,
        c.LanguageRaise ? 1 : 0, c.ClassName, mainThread ? "main" : "other", c.NotifyParams.Context ? 1 : 0, c.Message,
        c.NotifyParams.FocusClass.empty() ? "" : " focus=", c.NotifyParams.FocusClass.c_str(),
        c.NotifyParams.FocusClass.empty() ? "" : ":", c.NotifyParams.FocusText.c_str());
    if (n > 0) vektest::WriteOut(line);
    ++g_reports;
    return g_answer.load();
}

// Starts the capture with `host`, by default one that runs RecordingPipeline.
inline bool StartForTest(bool trackThreads = true, crashreport::TReportHost* host = nullptr)
{
    static crashreport::TReportFunctionHost recording(&RecordingPipeline);
    crashreport::InstallReportHost(host ? host : &recording);
    crashreport::TCaptureStartup startup;
    startup.Force = true;
    startup.TrackThreads = trackThreads;
    return crashreport::StartExceptionCapture(startup);
}

inline int CountReports(const std::string& output)
{
    int count = 0;
    for (std::size_t at = output.find("REPORT "); at != std::string::npos; at = output.find("REPORT ", at + 1)) ++count;
    return count;
}

// Reports that are full reports (capture mode 0 or 1); mode 2 only records
// the call stack of an exception leaving a thread's body.
inline int CountFullReports(const std::string& output)
{
    return CountReports(output) - [&] {
        int count = 0;
        for (std::size_t at = output.find("REPORT mode=2"); at != std::string::npos;
             at = output.find("REPORT mode=2", at + 1))
            ++count;
        return count;
    }();
}

} // namespace capturetest
