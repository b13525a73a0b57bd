#pragma once
// The raw stack scan: every 8-byte slot of a thread's stack (at most the
// first 102400 bytes) whose value points just behind a call instruction is
// a return address; the call's address becomes a call-stack entry.
// AddStackEntries is not signal-safe (entries are resolved and allocated);
// ScanStackAddresses is the part that runs while the threads are suspended.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <utility>
#include <vector>

#include "crashreport/options/option_types.h"
#include "crashreport/stack/debug_info.h"

namespace crashreport {

inline constexpr std::size_t kMaxScannedStackBytes = 102400;
inline constexpr int kMaxWalkedFrames = 1024; // frames of one exact walk (frame_walk.h)
// Detail kinds as a bit set: bit n keeps entries of DebugDetail n.
inline constexpr std::uint32_t kAllDetailKinds = 31;

// The stack of one thread: an address to enter first (the fault's, or
// null) and the stack's bytes [Start, End), of which at most
// kMaxScannedStackBytes are scanned.
struct TStackArea {
    const void* FirstAddress = nullptr;
    const void* Start = nullptr;
    const void* End = nullptr;
};

// Which entries a scan keeps and how it makes them.
struct TStackScanOptions {
    std::uint32_t Kinds = kAllDetailKinds; // bit n keeps entries of DebugDetail n
    int FirstIndex = -1;                   // -1: every kept entry; else from the n-th kept one on...
    int MaxCount = -1;                     // ...at most this many (-1: no limit)
    bool AddCallTargets = false;           // also the target of a direct call that is an entry of its own
    bool UseDebugInfo = true;              // resolve names; without it, module and address only
    std::uint8_t RunningThread = 1;        // 0 for a thread's creation snapshot
    std::int32_t ThreadID = 0;
};

// The detail kinds a report shows as the module's stack flags choose them:
// debug lines always, export names with stDllFrames, names split out of
// exported (decorated) names with stPackageFrames.
std::uint32_t ShownDetailKinds(TStackFlags flags);

// Appends one thread's entries to the list: ScanStackAddresses, then
// AddResolvedEntries.
void AddStackEntries(TTavrelStackList& list, const TStackArea& area, const TStackScanOptions& options);

// A report reads the stacks of paused threads in two steps. While they are
// paused it only collects the addresses (ScanStackAddresses), into room and
// against code ranges made before the pause; after they run again it
// resolves them into entries (AddResolvedEntries), which reads module data,
// allocates and may load. So a thread paused inside the allocator or the
// dynamic linker cannot stop the report.

// Executable memory at one moment: a value outside it cannot be a return
// address, so it costs no readability probe. Making one reads the mapping
// table and allocates; Contains is signal-safe.
class TCodeRanges {
public:
    TCodeRanges();
    bool Contains(std::uintptr_t address) const;

private:
    std::vector<std::pair<std::uintptr_t, std::uintptr_t>> ranges_;
};

// The addresses one scan found, in stack order. The room is reserved when
// it is made (the default holds whatever one stack can give); Add never
// allocates and is signal-safe.
class TStackAddresses {
public:
    static constexpr std::size_t kMaxPerStack = 1 + kMaxWalkedFrames + 2 * (kMaxScannedStackBytes / sizeof(void*));
    explicit TStackAddresses(std::size_t capacity = kMaxPerStack);

    bool Add(std::uintptr_t address); // false when full
    bool AddWalked(std::uintptr_t address); // a frame the exact walk found
    void Clear() { count_ = 0; }
    std::span<const std::uintptr_t> Items() const { return {items_.get(), count_}; }
    // Items from `first` on were found by the raw scan where the walk ended.
    void MarkScanned(std::size_t first)
    {
        for (std::size_t i = first; i < count_; ++i) scanned_[i] = kScannedAfterWalk;
    }
    bool Scanned(std::size_t i) const { return scanned_[i] == kScannedAfterWalk; }
    bool Walked(std::size_t i) const { return scanned_[i] == kWalked; }

private:
    std::unique_ptr<std::uintptr_t[]> items_;
    enum : std::uint8_t { kFromScan = 0, kWalked = 1, kScannedAfterWalk = 2 };
    std::unique_ptr<std::uint8_t[]> scanned_; // how each item was found
    std::size_t capacity_;
    std::size_t count_ = 0;
};

// The return addresses of one stack (and the targets of direct calls that
// are entries, with addCallTargets), appended to `out`. Reads only the stack
// and the code it points into: no allocation, no file, no lock (a fault while
// a slot is examined raises, which allocates the exception, and the slot is
// skipped).
void ScanStackAddresses(const TStackArea& area, bool addCallTargets, const TCodeRanges& code, TStackAddresses& out);

// Resolves the addresses into entries as AddStackEntries keeps them (kinds,
// window, tidy step). Not signal-safe: resolution allocates and may load.
void AddResolvedEntries(TTavrelStackList& list, const TStackAddresses& addresses, const TStackScanOptions& options);

// A new list with the entries of one stack, always resolved with debug
// information and marked as a running thread's.
std::unique_ptr<TTavrelStackList> GetCallStack(const TStackArea& area, TStackScanOptions options);

// The tidy step over entries [first, Count()): an entry with a name whose
// next named entry of the same module (or the one after that) has the same
// address is hidden (detail 0).
void TidyStackEntries(TTavrelStackList& list, int first);

// The stack list of the report being built (replaced for every report).
TTavrelStackList* CurrentCallStack();
void SetCurrentCallStack(std::unique_ptr<TTavrelStackList> list);

} // namespace crashreport
