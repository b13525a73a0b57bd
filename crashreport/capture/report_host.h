#pragma once
// What the capture needs from the reporter above it: the report of a
// captured exception, and, while the faulting thread waits for it, one round
// of its messages and its focused window. The reporter's start-up installs
// its host once; the dispatcher reads it through one atomic pointer.
#include "crashreport/capture/captured_exception.h"

namespace crashreport {

class TReportHost {
public:
    // Answers false when the exception was dealt with, true when the
    // caller's default handling is still to run. Runs on the report thread.
    virtual bool RunReport(TCapturedException& exception) = 0;
    // One round of the waiting main thread's messages; false when pumping
    // is to stop for this wait. None by default.
    virtual bool PumpWaiting() { return false; }
    // The focus class and text of the faulting thread, on that thread.
    virtual void FillFocus(TExceptNotifyParams&) {}

protected:
    ~TReportHost() = default;
};

// Installs the host (the reporter's start-up, and tests that stand in for
// the reporter); answers the previous one. Without a host every exception
// gets its default handling. Both are signal-safe.
TReportHost* InstallReportHost(TReportHost* host);
TReportHost* ReportHost();

// A host that runs one function: for programs and tests that bring their
// own report step instead of the reporter's pipeline.
class TReportFunctionHost final : public TReportHost {
public:
    explicit TReportFunctionHost(bool (*run)(TCapturedException&)) : run_(run) {}
    bool RunReport(TCapturedException& exception) override { return run_(exception); }

private:
    bool (*run_)(TCapturedException&);
};

} // namespace crashreport
