// A shared library that carries the reporter with its stored options and
// the start from module initialisation; its own static initialisation hands
// an exception to ExceptionManager, which reports it on the same thread.
#include "crashreport/capture/report_host.h"
#include "crashreport/capture/dispatcher.h"
#include "crashreport/capture/exception_capture.h"
#include "platform/rtl/exception.h"

#include <atomic>
#include <cstdint>
#include <typeinfo>

namespace {

std::atomic<std::uint32_t> g_pipelineThread{0};
std::uint32_t g_initThread = 0;
bool g_answer = true;
bool g_started = false;

bool RecordOnThisThread(crashreport::TCapturedException&)
{
    g_pipelineThread = kernel::GetCurrentThreadId();
    return false;
}

struct TInitProbe {
    TInitProbe()
    {
        g_started = crashreport::ExceptionCaptureStarted();
        g_initThread = kernel::GetCurrentThreadId();
        static crashreport::TReportFunctionHost host(&RecordOnThisThread);
        crashreport::InstallReportHost(&host);
        rtl::Exception e("raised in the library's initialisation");
        g_answer = ExceptionManager(&e, &typeid(e), nullptr, crashreport::rkRuntime, 0);
    }
};
TInitProbe g_probe;

} // namespace

extern "C" __attribute__((visibility("default"))) void
TavrelLog_TestInitReport(bool* started, bool* answer, std::uint32_t* initThread, std::uint32_t* pipelineThread)
{
    *started = g_started;
    *answer = g_answer;
    *initThread = g_initThread;
    *pipelineThread = g_pipelineThread;
}
