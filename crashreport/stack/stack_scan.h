#pragma once
// The raw stack scan: every 8-byte slot of a thread's stack (at most the
// first 102400 bytes) whose value points just behind a call instruction is
// a return address; the call's address becomes a call-stack entry.
// Not signal-safe: entries are resolved and allocated. It runs on the
// reporting thread while the scanned threads are suspended.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "crashreport/options/option_types.h"
#include "crashreport/stack/debug_info.h"

namespace crashreport {

inline constexpr std::size_t kMaxScannedStackBytes = 102400;
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
    std::uint32_t Kinds = kAllDetailKinds;  // bit n keeps entries of DebugDetail n
    int FirstIndex = -1;                    // -1: every kept entry; else from the n-th kept one on...
    int MaxCount = -1;                      // ...at most this many (-1: no limit)
    bool AddCallTargets = false;            // also the target of a direct call that is an entry of its own
    bool UseDebugInfo = true;               // resolve names; without it, module and address only
    std::uint8_t RunningThread = 1;         // 0 for a thread's creation snapshot
    std::int32_t ThreadID = 0;
};

// The detail kinds a report shows as the module's stack flags choose them:
// debug lines always, export names with stDllFrames, names split out of
// exported (decorated) names with stPackageFrames.
std::uint32_t ShownDetailKinds(TStackFlags flags);

// Appends one thread's entries to the list.
void AddStackEntries(TTavrelStackList& list, const TStackArea& area, const TStackScanOptions& options);

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
