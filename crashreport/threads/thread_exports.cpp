// The exported entries through which other modules that carry the crash
// reporter keep the main executable's thread table complete.
#include "crashreport/threads/thread_tracking_state.h"

#include <cstring>

void crashreport::detail::LinkExportedEntries() {}

using crashreport::TTavrelThreadRecord;
using crashreport::TTavrelThreadsList;

void TavrelLog_CallCreateThread(const TTavrelThreadRecord* record)
{
    TTavrelThreadsList* threads = crashreport::detail::ActiveThreads();
    if (!threads || !record) return;
    threads->Purge();
    crashreport::TThreadRecordOwner r = TTavrelThreadsList::NewRecord();
    std::memcpy(static_cast<void*>(r.get()), record, crashreport::kThreadRecordCopySize);
    r->StackCopyNotOwned = record->StackCopyNotOwned;
    r->OwnsHandle = false;
    crashreport::TThreadsListWriteLock lock(*threads);
    threads->Append(std::move(r));
}

void TavrelLog_CallResumeThread(kernel::THandle handle, const TTavrelThreadRecord* record)
{
    TTavrelThreadsList* threads = crashreport::detail::ActiveThreads();
    if (!threads || !record || crashreport::IsBusyReporting()) return;
    crashreport::TThreadsListWriteLock lock(*threads);
    const int i = threads->FindByHandle(handle);
    if (i >= 0) {
        TTavrelThreadRecord* r = threads->Get(i);
        TTavrelThreadsList::FreeStarterStack(*r);
        std::memcpy(static_cast<void*>(r), record, crashreport::kThreadRecordCopySize);
        r->StackCopyNotOwned = 1;
    }
}

void TavrelLog_CallExitThread()
{
    if (TTavrelThreadsList* threads = crashreport::detail::ActiveThreads()) threads->RemoveCurrentThread();
}
