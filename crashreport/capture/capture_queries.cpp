#include "crashreport/capture/capture_queries.h"

#include "crashreport/capture/capture_state.h"

#include <unwind.h>

namespace crashreport {
namespace {

// The dynamic loader's code: a module's constructors and destructors run
// from it (_dl_init, _dl_fini, dlclose).
_Unwind_Reason_Code FindLoaderFrame(_Unwind_Context* context, void* found)
{
    const std::uintptr_t ip = _Unwind_GetIP(context);
    if (ip >= Capture().LoaderStart && ip < Capture().LoaderEnd) {
        *static_cast<bool*>(found) = true;
        return _URC_END_OF_STACK;
    }
    return _URC_NO_REASON;
}

} // namespace

bool ExceptionCaptureStarted() { return Capture().Started.load(std::memory_order_acquire); }

void SetCaptureOn(bool on) { Capture().CaptureOn = on; }
bool CaptureOn() { return Capture().CaptureOn; }

bool SetThreadCaptureOff(std::uint32_t threadId, bool off)
{
    auto& list = Capture().OffList;
    for (auto& id : list)
        if (id.load() == threadId) {
            if (!off && id.exchange(0) == threadId) Capture().OffListCount.fetch_sub(1);
            return true;
        }
    if (!off) return true;
    Capture().OffListCount.fetch_add(1);
    for (auto& id : list) {
        std::uint32_t expected = 0;
        if (id.compare_exchange_strong(expected, threadId)) return true;
    }
    Capture().OffListCount.fetch_sub(1);
    return false;
}

bool InsideModuleInitialisationOrFinalisation()
{
    // The loader's frames below ours: a module's static initialisation or
    // finalisation is running on this thread, under the loader's lock.
    if (!Capture().LoaderStart) return false;
    bool found = false;
    _Unwind_Backtrace(&FindLoaderFrame, &found);
    return found;
}

bool CaptureModuleIsMainExecutable() { return Capture().OwnModuleIsMain; }

TExceptionCaptureDelegation* Delegation() { return ModuleDelegates() ? &Capture().Delegation : nullptr; }
bool ModuleDelegates() { return Capture().Delegates.load(); }
std::uintptr_t CaptureModule() { return Capture().OwnModule; }

} // namespace crashreport
