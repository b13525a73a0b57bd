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

// Thread tracking in the library, delegating to the program's table.
#include "crashreport/threads/thread_tracking.h"
#include "crashreport/threads/thread_tracking_state.h"

#include <dlfcn.h>
#include <pthread.h>

namespace {

void Marker() {}

struct TPlainThread {
    bool (*SeenByProgram)(std::uint32_t);
    bool Seen = false;
};

void* PlainThreadBody(void* p)
{
    auto* t = static_cast<TPlainThread*>(p);
    t->Seen = t->SeenByProgram(kernel::GetCurrentThreadId());
    return nullptr;
}

} // namespace

extern "C" {

__attribute__((visibility("default"))) bool TavrelLog_TestStartModuleTracking()
{
    Dl_info info;
    if (!dladdr(reinterpret_cast<void*>(&Marker), &info) || !info.dli_fname) return false;
    if (!crashreport::StartThreadTracking({info.dli_fname})) return false;
    crashreport::SetThreadTrackingDelegation(true);
    return crashreport::detail::Tracking().Delegation.Create != nullptr;
}

// Starts a plain pthread from the library and answers whether the program's
// table knew it while it ran.
__attribute__((visibility("default"))) bool TavrelLog_TestRunPlainThread(bool (*seenByProgram)(std::uint32_t))
{
    TPlainThread t{seenByProgram};
    pthread_t thread;
    if (pthread_create(&thread, nullptr, &PlainThreadBody, &t) != 0) return false;
    pthread_join(thread, nullptr);
    return t.Seen;
}

__attribute__((visibility("default"))) void TavrelLog_TestPurgeModuleThreads()
{
    if (crashreport::TTavrelThreadsList* threads = crashreport::TrackedThreads()) threads->Purge();
}

__attribute__((visibility("default"))) void TavrelLog_TestStopModuleTracking() { crashreport::StopThreadTracking(); }
}
