// A program that carries the crash reporter. It starts the exception
// capture, hands every exception that nothing catches to its own report
// step, and there names the code where the exception happened: module,
// unit (source file), procedure and line, read from the stored debug data
// even when the program is stripped.
//
//   app           runs and ends normally
//   app crash     writes through a null pointer in ParseRecord()
#include <cstdio>
#include <cstring>

#include "crashreport/capture/exception_capture.h"
#include "crashreport/capture/report_host.h"
#include "crashreport/stack/debug_info.h"

namespace {

// The report step runs on the reporter's own thread after the faulting
// thread has stopped. Returning true lets the capture go on as for any
// unhandled exception (the program ends).
bool ReportStep(crashreport::TCapturedException& e)
{
    crashreport::TTavrelDebugInfo where;
    crashreport::GetDebugInfo(where, e.Address, e.NotifyParams.ThreadID, 1);
    std::printf("exception %s: %s\n", e.ClassName, e.Message);
    std::printf("at %s %s %s line %d\n", where.UnitName.c_str(), where.ClassName.c_str(), where.ProcedureName.c_str(),
                where.Line);
    std::fflush(stdout);
    return true;
}

} // namespace

namespace app {

volatile int* g_records = nullptr;

__attribute__((noinline)) int ParseRecord(int value)
{
    g_records[value] = value; // the fault: g_records is null
    return value + 1;
}

} // namespace app

int main(int argc, char** argv)
{
    static crashreport::TReportFunctionHost host(&ReportStep);
    crashreport::InstallReportHost(&host);
    crashreport::TCaptureStartup startup;
    startup.Force = true; // this program has no options record of its own
    if (!crashreport::StartExceptionCapture(startup)) {
        std::fprintf(stderr, "the exception capture did not start\n");
        return 2;
    }
    if (argc > 1 && std::strcmp(argv[1], "crash") == 0) return app::ParseRecord(3);
    std::printf("no crash asked for\n");
    return 0;
}
