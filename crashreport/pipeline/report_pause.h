#pragma once
// Pausing the other threads for the rest of a report, as the behaviour
// options ask. The report goes on allocating, reading files and showing
// dialogs while they are paused, so a thread caught inside the C library
// (where the allocator's and the loader's locks are taken) is let go again
// and tried once more a moment later; a thread still there is left running
// rather than risk a report that never ends. Never the calling or the
// faulting thread. Not signal-safe.
#include <cstdint>
#include <vector>

#include "crashreport/threads/threads_list.h"
#include "crashreport/options/option_types.h"

namespace crashreport {

class TReportPause {
public:
    TReportPause() = default;
    ~TReportPause() { ResumeAll(); }
    TReportPause(const TReportPause&) = delete;
    TReportPause& operator=(const TReportPause&) = delete;

    void Pause(const TTavrelThreadsList& threads, TBehaviourFlags behaviourFlags, std::uint32_t faultingThreadId);
    void ResumeAll();
    const std::vector<std::uint32_t>& ThreadIds() const { return ids_; }
    // Threads that were left running because they stayed inside the C library.
    int LeftRunning() const { return leftRunning_; }

private:
    std::vector<kernel::THandle> handles_;
    std::vector<std::uint32_t> ids_;
    int leftRunning_ = 0;
};

// The address ranges of the C library and the dynamic loader, read before
// any thread is paused (reading them takes the loader's lock and allocates);
// Contains itself neither locks nor allocates.
class TSystemLibraryRanges {
public:
    TSystemLibraryRanges();
    bool Contains(std::uintptr_t address) const;

private:
    std::vector<std::pair<std::uintptr_t, std::uintptr_t>> ranges_;
};

} // namespace crashreport
