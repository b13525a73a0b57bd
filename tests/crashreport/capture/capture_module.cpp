// A shared library that carries its own copy of the reporter (linked with
// the reporter's export map): its capture delegates to the program's.
#include "crashreport/capture/exception_capture.h"
#include "platform/rtl/exception.h"

#include <typeinfo>

extern "C" {

__attribute__((visibility("default"))) bool TavrelLog_TestStartModuleCapture()
{
    crashreport::TCaptureStartup startup;
    startup.Force = true;
    startup.TrackThreads = false;
    return crashreport::StartExceptionCapture(startup);
}

__attribute__((visibility("default"))) bool TavrelLog_TestModuleDelegates() { return crashreport::ModuleDelegates(); }

__attribute__((visibility("default"), noinline)) void TavrelLog_TestThrowUncaught()
{
    throw rtl::Exception("thrown in the library");
}

__attribute__((visibility("default"))) bool TavrelLog_TestManagerFromModule()
{
    rtl::Exception e("handed over by the library");
    return ExceptionManager(&e, &typeid(e), nullptr, crashreport::rkApplication, 0);
}

}
