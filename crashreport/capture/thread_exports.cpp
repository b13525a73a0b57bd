// The exported entries through which other modules that carry the crash
// reporter keep the main executable's thread table complete.
#include "crashreport/capture/thread_tracking_state.h"

#include <cstring>

void crashreport::detail::LinkExportedEntries() {}

using crashreport::TTavrelThreadRecord;
using crashreport::TTavrelThreadsList;

void TavrelLog_CallCreateThread(const TTavrelThreadRecord* record)
{
    TTavrelThreadsList* threads = crashreport::detail::ActiveThreads();
    if (!threads || !record)
        return;
    threads->Purge();
    auto* r = threads->NewRecord(false);
    std::memcpy(r, record, crashreport::kThreadRecordCopySize);
    r->StackCopyNotOwned = record->StackCopyNotOwned;
    r->OwnsHandle = false;
    threads->BeginWrite();
    threads->Append(r);
    threads->EndWrite();
}

void TavrelLog_CallResumeThread(kernel::THandle handle, const TTavrelThreadRecord* record)
{
    TTavrelThreadsList* threads = crashreport::detail::ActiveThreads();
    if (!threads || !record || crashreport::IsBusyReporting())
        return;
    threads->BeginWrite();
    const int i = threads->FindByHandle(handle);
    if (i >= 0) {
        TTavrelThreadRecord* r = threads->Get(i);
        TTavrelThreadsList::FreeStarterStack(*r);
        std::memcpy(r, record, crashreport::kThreadRecordCopySize);
        r->StackCopyNotOwned = 1;
    }
    threads->EndWrite();
}

void TavrelLog_CallExitThread()
{
    if (TTavrelThreadsList* threads = crashreport::detail::ActiveThreads())
        threads->RemoveCurrentThread();
}
