#include "crashreport/threads/thread_classification.h"

#include "crashreport/options/module_options.h"

namespace crashreport {

bool IsMainThread(const TTavrelThreadRecord& record) { return record.ThreadID == kernel::MainThreadId(); }

bool IsRuntimeThread(const TTavrelThreadRecord& record)
{
    return IsMainThread(record) || record.ThreadObject != nullptr;
}

bool IsSystemThread(const TTavrelThreadRecord& record) { return !IsRuntimeThread(record); }

bool ShowThreadInReport(const TTavrelThreadRecord& record, TStackFlags stackFlags)
{
    return IsSystemThread(record) ? stackFlags.Contains(stSystemThreads) : stackFlags.Contains(stRuntimeThreads);
}

bool PauseThreadDuringReport(const TTavrelThreadRecord& record, TBehaviourFlags behaviourFlags)
{
    if (IsSystemThread(record)) return behaviourFlags.Contains(bhPauseSystemThreads);
    if (!behaviourFlags.Contains(bhPauseRuntimeThreads)) return false;
    return !(IsMainThread(record) && behaviourFlags.Contains(bhKeepMainThreadRunning));
}

bool ShowThreadInReport(const TTavrelThreadRecord& record, const TTavrelModuleOptions& options)
{
    return ShowThreadInReport(record, options.StackFlags());
}

bool PauseThreadDuringReport(const TTavrelThreadRecord& record, const TTavrelModuleOptions& options)
{
    return PauseThreadDuringReport(record, options.BehaviourFlags());
}

} // namespace crashreport
