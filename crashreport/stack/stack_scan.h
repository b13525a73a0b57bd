#pragma once
// The raw stack scan: every 8-byte slot of a thread's stack (at most the
// first 102400 bytes) whose value points just behind a call instruction is
// a return address; the call's address becomes a call-stack entry.
// Not signal-safe: entries are resolved and allocated. It runs on the
// reporting thread while the scanned threads are suspended.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "crashreport/report/debug_info.h"

namespace crashreport {

inline constexpr std::size_t kMaxScannedStackBytes = 102400;
// Detail kinds as a bit set: bit n keeps entries of DebugDetail n.
inline constexpr std::uint32_t kAllDetailKinds = 31;

// Appends one thread's entries to the list.
void AddStackEntries(TTavrelStackList& list, const void* firstAddress, const void* stackStart,
                     std::uint32_t kinds, int maxCount, int firstIndex, bool addCallTargets, bool useDebugInfo,
                     std::uint8_t runningThread, std::int32_t threadID, const void* stackEnd);

// A new list with the entries of one stack, resolved with debug information.
std::unique_ptr<TTavrelStackList> GetCallStack(const void* firstAddress, const void* stackStart,
                                               const void* stackEnd, std::uint32_t kinds, int maxCount,
                                               int firstIndex, bool addCallTargets, std::int32_t threadID);

// The tidy step over entries [first, Count()): an entry with a name whose
// next named entry of the same module (or the one after that) has the same
// address is hidden (detail 0).
void TidyStackEntries(TTavrelStackList& list, int first);

// The stack list of the report being built (replaced for every report).
TTavrelStackList* CurrentCallStack();
void SetCurrentCallStack(std::unique_ptr<TTavrelStackList> list);

} // namespace crashreport
