#include "crashreport/threads/thread_pause.h"

#include "crashreport/threads/thread_classification.h"
#include "crashreport/threads/thread_tracking.h"

namespace crashreport {

void TPausedThreads::Pause(const TTavrelThreadsList& threads, TBehaviourFlags behaviourFlags,
                           std::uint32_t faultingThreadId)
{
    const std::uint32_t self = kernel::GetCurrentThreadId();
    TBusyReporting busy;
    for (int i = 0; i < threads.Count(); ++i) {
        const TTavrelThreadRecord& r = *threads.Get(i);
        if (r.ThreadID == self || r.ThreadID == faultingThreadId || !PauseThreadDuringReport(r, behaviourFlags))
            continue;
        if (kernel::SuspendThread(r.Handle) == kernel::kSuspendFailed) continue; // ended meanwhile
        handles_.push_back(r.Handle);
        ids_.push_back(r.ThreadID);
    }
}

void TPausedThreads::ResumeAll()
{
    TBusyReporting busy;
    for (auto it = handles_.rbegin(); it != handles_.rend(); ++it) kernel::ResumeThread(*it);
    handles_.clear();
    ids_.clear();
}

} // namespace crashreport
