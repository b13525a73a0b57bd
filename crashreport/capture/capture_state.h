#pragma once
// The capture's per-thread and process-wide state, shared by its sources.
#include "crashreport/capture/capture_queries.h"
#include "crashreport/capture/captured_exception.h"
#include "platform/kernel/threads.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

namespace crashreport {

class TTavrelModuleOptions;

constexpr std::uint32_t kContextAll = 0x10007; // the saved context's flags: all registers
constexpr std::size_t kSnapshotSize = 102400;

// Per thread (thread-local, plain data: readable from the fault handler).
struct TThreadCaptureState {
    kernel::TThreadContext SavedContext;
    std::uint32_t ContextFlags; // kContextAll while SavedContext is valid
    std::uintptr_t RaiseFrame;  // stack position of the last raise
    std::atomic<std::uint8_t> InsideRaiseHook;
    std::uint8_t InsideDispatch;
    // Set by the language-raise interceptor for the raise in progress.
    void* ThrowObject;
    void* ThrowAddress;
    // Set by the mapping hook: the object about to be thrown from the fault
    // handler was captured already.
    void* SignalObject;
    // Set while the fault handler (or the abort handler) captures.
    std::uint8_t InFaultHandler;
    // Set while a raise of an object raised before (a rethrow) is captured.
    std::uint8_t Rethrow;
    std::uint32_t ThreadId;
    // Stack bounds of a thread that has no alternate-stack record.
    std::uintptr_t StackTop;
};
TThreadCaptureState& ThreadCapture(); // signal-safe

// The calling thread's ID, kept per thread (reset in the child of a fork).
// Signal-safe.
std::uint32_t CachedThreadId();

// Copies the zero-terminated `text` (null: nothing) into `out`, cut to fit
// `capacity` bytes with its terminator. Signal-safe.
void CopyText(char* out, std::size_t capacity, const char* text);

// A spin lock for state touched on the raise path (never held while
// calling out). A thread that finds itself the owner (a fault inside the
// section) does not wait: TryLock fails.
class TRaiseLock {
public:
    bool TryLock(); // false when this thread holds it already
    void Unlock();

private:
    std::atomic<std::uint32_t> owner_{0};
};

class TRaiseLockGuard {
public:
    explicit TRaiseLockGuard(TRaiseLock& lock) : lock_(lock), held_(lock.TryLock()) {}
    ~TRaiseLockGuard()
    {
        if (held_) lock_.Unlock();
    }
    TRaiseLockGuard(const TRaiseLockGuard&) = delete;
    TRaiseLockGuard& operator=(const TRaiseLockGuard&) = delete;
    bool Held() const { return held_; }

private:
    TRaiseLock& lock_;
    bool held_;
};

struct TLastException {
    TExceptionObject Object;
    void* Address = nullptr;
    bool LanguageRaise = false;
    char ClassName[128] = {};
    char Message[256] = {};
};

struct TStackSnapshot {
    std::uint8_t* Buffer = nullptr; // kSnapshotSize bytes, allocated at start-up
    std::size_t Length = 0;
    std::uint32_t ThreadID = 0;
    void* Address = nullptr;
    std::uintptr_t Start = 0; // stack address of the first byte
    const void* Object = nullptr; // the exception object raised
    // The raiser's registers when the copy starts at their stack pointer:
    // the copy can then be walked frame by frame.
    bool HasContext = false;
    kernel::TThreadContext Context{};
};

constexpr int kOffListSize = 64;

struct TCaptureState {
    std::atomic<bool> Started{false};
    std::atomic<bool> CaptureOn{true};
    std::atomic<bool> Delegates{false};
    std::atomic<std::uint32_t> OffList[kOffListSize] = {};
    std::atomic<int> OffListCount{0}; // entries in use, never fewer than there are

    TRaiseLock LastLock;
    TLastException Last;
    std::atomic<void*> LastCapturedAddress{nullptr};
    // The object of the last full report: the unhandled procedure does not
    // report it again.
    std::atomic<void*> LastCapturedObject{nullptr};

    TRaiseLock SnapshotLock;
    TStackSnapshot Snapshot;

    // Serialises ExceptionManager and the dispatcher; re-entrant.
    std::recursive_mutex CaptureLock;
    std::atomic<TCapturedException*> CurrentReport{nullptr};
    std::uintptr_t OwnModule = 0;
    bool OwnModuleIsMain = true;
    // The dynamic loader's code: a module's initialisation runs from it.
    std::uintptr_t LoaderStart = 0, LoaderEnd = 0;
    TExceptionCaptureDelegation Delegation; // valid while Delegates
    const TTavrelModuleOptions* Options = nullptr; // this module's, when it has them
};
TCaptureState& Capture(); // signal-safe once made (at start-up)

// Capture is on for the calling thread (global switch on, thread not in the
// off-list). Signal-safe.
bool CaptureOnForThisThread();

// Records the last exception (with copies of its class name and message).
// Signal-safe.
void RecordLastException(const TExceptionObject& object, void* address, bool languageRaise);
// A copy with the class name made from the type. Signal-safe.
TLastException LastExceptionCopy();

// Copies the calling thread's stack from `from` up to its top (at most
// kSnapshotSize bytes) into the snapshot. A rethrow of the object the
// snapshot shows keeps it: its picture of the first raise is the one that
// names where the exception came from. Signal-safe.
void TakeStackSnapshot(std::uintptr_t from, void* address, const void* object, bool rethrow);

// Copies the snapshot's bytes that the record describes, while the buffer
// still holds them (a later raise replaces them); empty otherwise. With
// `context`, also the raiser's registers when the snapshot kept them.
std::vector<std::uint8_t> CopyRaiseSnapshot(const TCapturedException& exception,
                                            std::optional<kernel::TThreadContext>* context = nullptr);

// The calling thread's stack top. Signal-safe once the thread has its
// alternate-stack record; otherwise (first raise on a thread made elsewhere)
// it reads the thread attributes.
std::uintptr_t CurrentThreadStackTop();

} // namespace crashreport
