// The capture starts before this program's own static objects are made,
// from the stored options alone; main only says where reports go.
//
//   autostart_app         says whether the capture was on before its statics
//   autostart_app crash   writes through a null pointer in Store()
#include <cstdio>
#include <cstring>

#include "crashreport/capture/report_host.h"
#include "crashreport/capture/dispatcher.h"
#include "crashreport/capture/exception_capture.h"
#include "crashreport/stack/debug_info.h"

namespace {

struct TProgramStatic {
    TProgramStatic() : CaptureStarted(crashreport::ExceptionCaptureStarted()) {}
    bool CaptureStarted;
};
TProgramStatic g_static;

bool ReportStep(crashreport::TCapturedException& e)
{
    crashreport::TTavrelDebugInfo where;
    crashreport::GetDebugInfo(where, e.Address, e.NotifyParams.ThreadID, 1);
    std::printf("reported %s in %s line %d\n", e.ClassName, where.ProcedureName.c_str(), where.Line);
    std::fflush(stdout);
    return true;
}

} // namespace

namespace app {

volatile int* g_slots = nullptr;

__attribute__((noinline, noclone)) int Store(int value)
{
    g_slots[value] = value; // the fault
    return value;
}

} // namespace app

int main(int argc, char** argv)
{
    std::printf("capture before statics: %s\n", g_static.CaptureStarted ? "on" : "off");
    std::fflush(stdout);
    static crashreport::TReportFunctionHost host(&ReportStep);
    crashreport::InstallReportHost(&host);
    if (argc > 1 && std::strcmp(argv[1], "crash") == 0) return app::Store(5);
    return 0;
}
