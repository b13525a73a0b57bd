#pragma once
// Pausing the process's threads while a report is made, as the options
// choose. Neither the calling thread nor the faulting thread is suspended.
#include "crashreport/threads/threads_list.h"
#include "crashreport/options/option_types.h"

#include <vector>

namespace crashreport {

class TPausedThreads {
public:
    TPausedThreads() = default;
    ~TPausedThreads() { ResumeAll(); }
    TPausedThreads(const TPausedThreads&) = delete;
    TPausedThreads& operator=(const TPausedThreads&) = delete;

    // Suspends every thread of the (private copy of the) table that the
    // behaviour flags pause. Not signal-safe.
    void Pause(const TTavrelThreadsList& threads, TBehaviourFlags behaviourFlags, std::uint32_t faultingThreadId);
    // Resumes them through the resume interceptor, which passes straight
    // through because the caller is marked busy reporting.
    void ResumeAll();
    const std::vector<std::uint32_t>& ThreadIds() const { return ids_; }

private:
    std::vector<kernel::THandle> handles_;
    std::vector<std::uint32_t> ids_;
};

} // namespace crashreport
