// A CGI program with the crash reporter that fails with an access
// violation: started by a web server ("REQUEST_METHOD" set), its report
// pipeline answers the request with the error page of the report.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "crashreport/capture/report_host.h"
#include "crashreport/capture/dispatcher.h"
#include "crashreport/capture/exception_capture.h"
#include "crashreport/report/captured_report.h"
#include "crashreport/report/web_page.h"

namespace {

crashreport::TTavrelModuleOptions* g_options = nullptr;

bool WebPipeline(crashreport::TCapturedException& exception)
{
    crashreport::TGatherOptions gather;
    gather.CustomData = std::getenv("QUERY_STRING") ? std::getenv("QUERY_STRING") : "";
    const crashreport::TErrorReport report = crashreport::BuildCapturedReport(exception, *g_options, gather);
    if (crashreport::IsWebApplication())
        crashreport::ShowWebError(g_options->GetText(3) + "\r\n\r\n" + report.Text, *g_options);
    return true;
}

// An address that is not mapped (a store through null would be undefined
// behaviour rather than a fault).
volatile std::uintptr_t g_nowhere = 0x30;

__attribute__((noinline)) void HandleRequest() { *reinterpret_cast<volatile int*>(g_nowhere) = 1; }

} // namespace

int main()
{
    g_options = new crashreport::TTavrelModuleOptions("", false);
    g_options->SetHtmlTemplate("<html><head><TITLE>Failed request</TITLE></head><body><%html_tag%></body></html>");
    static crashreport::TReportFunctionHost host(&WebPipeline);
    crashreport::InstallReportHost(&host);
    crashreport::TCaptureStartup startup;
    startup.Options = g_options;
    startup.Force = true;
    if (!crashreport::StartExceptionCapture(startup)) return 9;
    HandleRequest();
    std::printf("Content-Type: text/plain\r\n\r\nno failure\r\n");
    return 0;
}
