// The body wrapper: replaces Execute of every tracked framework thread
// class, records the thread's stack top, and reports an exception that leaves
// the body once before the framework sees it.
#include "crashreport/hook/hook_engine.h"
#include "crashreport/threads/thread_tracking_state.h"
#include "platform/rtl/thread.h"

#include <cxxabi.h>

#include <algorithm>

namespace crashreport::detail {
namespace {

using TBody = void (*)(rtl::TThread*);

// The forced unwind of pthread_exit carries no C++ object, so its catch
// binds a reference to null by the runtime's own design; the null check of
// a sanitized build is off here for that reason alone.
__attribute__((no_sanitize("null"))) void BodyWrapper(rtl::TThread* self)
{
    TTavrelThreadRecord record{};
    bool found = false;
    if (TTavrelThreadsList* threads = ActiveThreads()) {
        TThreadsListWriteLock lock(*threads);
        const int i = threads->FindByThreadObject(self);
        if (i >= 0) {
            TTavrelThreadRecord* r = threads->Get(i);
            r->StackTop = CurrentStackTop();
            record = *r; // private copy: the table may change while the body runs
            found = true;
        }
    }
    auto body = reinterpret_cast<TBody>(record.SavedBodyMethod);
    if (!body) // the slot's record still knows the method it replaced
        body = reinterpret_cast<TBody>(hook::InterceptVirtualMethod(
            *reinterpret_cast<void**>(self), rtl::TThread::BodySlot(), reinterpret_cast<void*>(&BodyWrapper)));
    if (!body || body == &BodyWrapper) return;
    try {
        body(self);
    } catch (abi::__forced_unwind&) {
        throw; // pthread_exit or cancellation: the thread ends, no exception
    } catch (...) {
        // Reported once here, on the thread itself; the framework's own
        // handling still gets the exception.
        if (found && record.ThreadID == kernel::GetCurrentThreadId())
            if (TBodyExceptionHandler handler = Tracking().BodyHandler.load()) handler(std::current_exception(), self);
        throw;
    }
}

} // namespace

void* InterceptBody(rtl::TThread* object)
{
    void* vtable = *reinterpret_cast<void**>(object);
    void* previous =
        hook::InterceptVirtualMethod(vtable, rtl::TThread::BodySlot(), reinterpret_cast<void*>(&BodyWrapper));
    auto& state = Tracking();
    std::lock_guard<std::mutex> lock(state.BodyTablesLock);
    if (std::find(state.BodyTables.begin(), state.BodyTables.end(), vtable) == state.BodyTables.end())
        state.BodyTables.push_back(vtable);
    return previous;
}

const void* BodyWrapperAddress() { return reinterpret_cast<const void*>(&BodyWrapper); }

void RestoreBodies()
{
    auto& state = Tracking();
    std::lock_guard<std::mutex> lock(state.BodyTablesLock);
    for (void* vtable : state.BodyTables) hook::RestoreVirtualMethod(vtable, rtl::TThread::BodySlot());
    state.BodyTables.clear();
}

} // namespace crashreport::detail
