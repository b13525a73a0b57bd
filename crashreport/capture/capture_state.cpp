#include "crashreport/capture/capture_state.h"

#include "platform/kernel/memory.h"
#include "platform/kernel/signal_stack.h"

#include <pthread.h>

#include <cstring>

namespace crashreport {
namespace {

thread_local TThreadCaptureState t_state{};

} // namespace

void CopyText(char* out, std::size_t capacity, const char* text)
{
    if (capacity == 0) return;
    std::size_t n = 0;
    if (text)
        while (text[n] && n + 1 < capacity) {
            out[n] = text[n];
            ++n;
        }
    out[n] = 0;
}

TThreadCaptureState& ThreadCapture() { return t_state; }

std::uint32_t CachedThreadId()
{
    static const bool forkHandled = [] {
        pthread_atfork(nullptr, nullptr, [] { t_state.ThreadId = 0; });
        return true;
    }();
    (void)forkHandled;
    if (!t_state.ThreadId) t_state.ThreadId = kernel::GetCurrentThreadId();
    return t_state.ThreadId;
}

TCaptureState& Capture()
{
    static TCaptureState state;
    return state;
}

bool TRaiseLock::TryLock()
{
    const std::uint32_t self = CachedThreadId();
    for (;;) {
        std::uint32_t expected = 0;
        if (owner_.compare_exchange_weak(expected, self, std::memory_order_acquire)) return true;
        if (expected == self) return false;
        sched_yield();
    }
}

void TRaiseLock::Unlock() { owner_.store(0, std::memory_order_release); }

bool CaptureOnForThisThread()
{
    TCaptureState& state = Capture();
    if (!state.CaptureOn.load(std::memory_order_relaxed)) return false;
    if (state.OffListCount.load(std::memory_order_relaxed) == 0) return true;
    const std::uint32_t self = CachedThreadId();
    for (const auto& id : state.OffList)
        if (id.load(std::memory_order_relaxed) == self) return false;
    return true;
}

void RecordLastException(const TExceptionObject& object, void* address, bool languageRaise)
{
    TCaptureState& state = Capture();
    TRaiseLockGuard guard(state.LastLock);
    if (!guard.Held()) return;
    state.Last.Object = object;
    state.Last.Address = address;
    state.Last.LanguageRaise = languageRaise;
    if (object.Valid()) {
        state.Last.ClassName[0] = 0; // made from the type when asked: type data lives on
        CopyText(state.Last.Message, sizeof state.Last.Message, ExceptionMessage(object));
    } else {
        state.Last.ClassName[0] = state.Last.Message[0] = 0;
    }
}

TLastException LastExceptionCopy()
{
    TCaptureState& state = Capture();
    TLastException copy;
    {
        TRaiseLockGuard guard(state.LastLock);
        copy = state.Last;
    }
    if (copy.Object.Valid()) ShortClassName(*copy.Object.Type, copy.ClassName, sizeof copy.ClassName);
    return copy;
}

std::uintptr_t CurrentThreadStackTop()
{
    const kernel::TThreadSignalInfo& info = kernel::ThreadSignalInfo();
    if (info.StackTop) return info.StackTop;
    TThreadCaptureState& t = ThreadCapture();
    if (!t.StackTop) {
        std::uintptr_t top = 0, bottom = 0;
        if (kernel::GetCurrentThreadStack(top, bottom)) t.StackTop = top;
    }
    return t.StackTop;
}

void TakeStackSnapshot(std::uintptr_t from, void* address, const void* object, bool rethrow)
{
    TCaptureState& state = Capture();
    TRaiseLockGuard guard(state.SnapshotLock);
    if (!guard.Held() || !state.Snapshot.Buffer) return;
    if (rethrow && object && state.Snapshot.Length && state.Snapshot.Object == object &&
        state.Snapshot.ThreadID == CachedThreadId())
        return;
    const std::uintptr_t top = CurrentThreadStackTop();
    const auto here = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
    const kernel::TThreadSignalInfo& info = kernel::ThreadSignalInfo();
    const std::uintptr_t bottom = info.StackBottom ? info.StackBottom : (top > 8u << 20 ? top - (8u << 20) : 0);
    if (from == 0 || from >= top || from < bottom) from = here < top && here >= bottom ? here : top;
    std::size_t length = top - from;
    if (length > kSnapshotSize) length = kSnapshotSize;
#if defined(__SANITIZE_ADDRESS__)
    const bool liveStack = false; // the sanitizer checks a plain copy against each frame's redzones
#else
    const bool liveStack = from >= here && from < top;
#endif
    if (liveStack) {
        // Between this frame and the top the thread's own stack is in use,
        // so mapped: a plain copy.
        std::memcpy(state.Snapshot.Buffer, reinterpret_cast<const void*>(from), length);
        state.Snapshot.Length = length;
    } else {
        // Below the current frame (a fault on the alternate stack looks at
        // the interrupted stack): read through the kernel, so a page that is
        // gone gives an error, not a fault.
        state.Snapshot.Length =
            kernel::ReadOwnMemory(state.Snapshot.Buffer, reinterpret_cast<const void*>(from), length);
    }
    state.Snapshot.ThreadID = CachedThreadId();
    state.Snapshot.Address = address;
    state.Snapshot.Start = from;
    state.Snapshot.Object = object;
    const TThreadCaptureState& t = ThreadCapture();
    state.Snapshot.HasContext = t.ContextFlags == kContextAll && kernel::StackPointer(t.SavedContext) == from;
    if (state.Snapshot.HasContext) state.Snapshot.Context = t.SavedContext;
}

std::vector<std::uint8_t> CopyRaiseSnapshot(const TCapturedException& exception,
                                            std::optional<kernel::TThreadContext>* context)
{
    TCaptureState& state = Capture();
    TRaiseLockGuard guard(state.SnapshotLock);
    const auto& view = exception.Snapshot;
    if (!guard.Held() || !view.Length || !state.Snapshot.Buffer || state.Snapshot.ThreadID != view.ThreadID ||
        state.Snapshot.Start != view.Start || state.Snapshot.Length != view.Length)
        return {};
    if (context && state.Snapshot.HasContext) *context = state.Snapshot.Context;
    return std::vector<std::uint8_t>(state.Snapshot.Buffer, state.Snapshot.Buffer + view.Length);
}

} // namespace crashreport
