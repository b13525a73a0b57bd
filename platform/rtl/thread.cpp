#include "platform/rtl/thread.h"

#include "platform/rtl/exception.h"

#include <cxxabi.h>

#include <cstring>

namespace rtl {

TThread::TThread(bool createSuspended) : createSuspended_(createSuspended) {}

TThread::~TThread()
{
    if (handle_ && !finished_ && kernel::GetCurrentThreadId() != threadId_) {
        Terminate();
        // A thread that never ran still has to leave its gate to end.
        while (kernel::ResumeThread(handle_) > 1) {}
        suspended_ = false;
        kernel::WaitForThread(handle_);
    }
    if (handle_) kernel::CloseHandle(handle_);
}

void TThread::AfterConstruction()
{
    if (handle_) return;
    suspended_ = createSuspended_;
    // Made suspended and let go only once handle and ID are stored: a thread
    // that frees itself on termination may be gone as soon as it runs.
    handle_ = kernel::CreateThread(&TThread::ThreadProc, this, kernel::CREATE_SUSPENDED, &threadId_);
    if (!handle_) throw Exception("Thread creation error");
    if (!createSuspended_) kernel::ResumeThread(handle_); // `this` may be freed from here on
}

void TThread::Resume()
{
    if (!handle_) {
        createSuspended_ = false;
        AfterConstruction();
        return;
    }
    if (kernel::ResumeThread(handle_) == 1) suspended_ = false;
}

void TThread::Suspend()
{
    suspended_ = true;
    kernel::SuspendThread(handle_);
}

int TThread::WaitFor()
{
    kernel::WaitForThread(handle_);
    return ReturnValue;
}

int TThread::Priority() const { return kernel::GetThreadPriority(handle_); }

void TThread::SetPriority(int priority) { kernel::SetThreadPriority(handle_, priority); }

// The forced unwind of pthread_exit carries no C++ object, so its catch
// binds a reference to null by the runtime's own design; the null check of
// a sanitized build is off here for that reason alone.
__attribute__((no_sanitize("null"))) std::intptr_t TThread::ThreadProc(void* parameter)
{
    auto* self = static_cast<TThread*>(parameter);
    if (!self->terminated_) {
        try {
            self->Execute();
        } catch (abi::__forced_unwind&) {
            self->finished_ = true; // pthread_exit or cancellation ends the thread
            throw;
        } catch (...) {
            self->fatal_ = std::current_exception();
        }
    }
    const bool freeThread = self->FreeOnTerminate;
    const std::intptr_t result = self->ReturnValue;
    self->finished_ = true;
    if (freeThread) delete self;
    return result;
}

int TThread::BodySlot()
{
    // Itanium C++ ABI: a pointer to a virtual member holds 1 + the byte
    // offset of its slot from the table's address point.
    void (TThread::*body)() = &TThread::Execute;
    std::uintptr_t raw;
    static_assert(sizeof body >= sizeof raw);
    std::memcpy(&raw, &body, sizeof raw);
    return static_cast<int>((raw - 1) / sizeof(void*));
}

} // namespace rtl
