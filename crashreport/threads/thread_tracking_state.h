#pragma once
// Thread tracking's process-wide state, shared by its source files.
#include "crashreport/threads/thread_tracking.h"

#include <atomic>
#include <mutex>
#include <vector>

namespace crashreport::detail {

using TPthreadCreate = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
using TPthreadExit = void (*)(void*);
using TResume = std::uint32_t (*)(kernel::THandle);

// The main executable's entries when this module delegates.
struct TDelegation {
    void (*Create)(const TTavrelThreadRecord*) = nullptr;
    void (*Resume)(kernel::THandle, const TTavrelThreadRecord*) = nullptr;
    void (*Exit)() = nullptr;
};

struct TTrackingState {
    std::atomic<bool> Started{false};
    // Never freed once made: a thread that read it may still take its lock.
    std::atomic<TTavrelThreadsList*> Threads{nullptr};
    std::atomic<TPthreadCreate> RealCreate{nullptr};
    std::atomic<TPthreadExit> RealExit{nullptr};
    std::atomic<TResume> RealResume{nullptr}; // the resume trampoline
    std::atomic<TBodyExceptionHandler> BodyHandler{nullptr};
    TDelegation Delegation;
    // Virtual tables whose body slot holds the body wrapper.
    std::mutex BodyTablesLock;
    std::vector<void*> BodyTables;
};

TTrackingState& Tracking();

// The table while tracking runs, else null.
TTavrelThreadsList* ActiveThreads();

// The calling thread's stack top (cached per thread).
std::uintptr_t CurrentStackTop();
// The kernel's resume without recording anything.
std::uint32_t RealResume(kernel::THandle handle);
// Replaces the record's starter stack copy with the caller's stack, from
// here up to its top, with the registers to walk it from; the frames below
// `framesFrom` (a stack position) are the tracking's own.
void CopyCallerStack(TTavrelThreadRecord& record, std::uintptr_t framesFrom);
// The stack position above the frames of the outermost thread interceptor
// running on this thread (0: none).
std::uintptr_t InterceptorFramesEnd();
// Marks the calling interceptor's frame as the outermost while it runs.
class TInterceptorFrame {
public:
    explicit TInterceptorFrame(std::uintptr_t callerStack);
    ~TInterceptorFrame();
    TInterceptorFrame(const TInterceptorFrame&) = delete;
    TInterceptorFrame& operator=(const TInterceptorFrame&) = delete;

private:
    bool outermost_;
};

// The body wrapper (thread_body_wrapper.cpp).
void* InterceptBody(rtl::TThread* object);
void RestoreBodies();
// Defined beside the exported entries: calling it links them into the module.
void LinkExportedEntries();

// The body wrapper's entry (the exception capture recognises its catch).
const void* BodyWrapperAddress();

} // namespace crashreport::detail
