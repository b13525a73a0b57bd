#include "crashreport/capture/threads_list.h"

#include <cstring>

namespace crashreport {

TTavrelThreadsList::TTavrelThreadsList() : lock_(std::make_unique<std::shared_mutex>()) {}

TTavrelThreadsList::TTavrelThreadsList(bool) {}

TTavrelThreadsList::~TTavrelThreadsList()
{
    while (!records_.empty())
        Delete(Count() - 1);
}

std::unique_ptr<TTavrelThreadsList> TTavrelThreadsList::PrivateCopy(TTavrelThreadsList& source)
{
    std::unique_ptr<TTavrelThreadsList> copy(new TTavrelThreadsList(true));
    source.BeginRead();
    try {
        for (const TTavrelThreadRecord* r : source.records_) {
            auto* c = copy->NewRecord(true);
            std::memcpy(c, r, kThreadRecordCopySize);
            c->StackCopyNotOwned = r->StackCopyNotOwned;
            c->OwnsHandle = false;
            if (r->StarterStack && r->StarterStackSize) {
                c->StarterStack = new std::uint8_t[r->StarterStackSize];
                std::memcpy(c->StarterStack, r->StarterStack, r->StarterStackSize);
            }
        }
    } catch (...) {
        source.EndRead();
        throw;
    }
    source.EndRead();
    return copy;
}

int TTavrelThreadsList::FindByID(std::uint32_t threadId) const
{
    for (int i = Count() - 1; i >= 0; --i)
        if (records_[static_cast<std::size_t>(i)]->ThreadID == threadId)
            return i;
    return -1;
}

int TTavrelThreadsList::FindByHandle(kernel::THandle handle) const
{
    for (int i = Count() - 1; i >= 0; --i)
        if (records_[static_cast<std::size_t>(i)]->Handle == handle)
            return i;
    return -1;
}

int TTavrelThreadsList::FindByThreadObject(const void* threadObject) const
{
    for (int i = Count() - 1; i >= 0; --i)
        if (records_[static_cast<std::size_t>(i)]->ThreadObject == threadObject)
            return i;
    return -1;
}

void TTavrelThreadsList::FreeStarterStack(TTavrelThreadRecord& record)
{
    if (!record.StackCopyNotOwned)
        delete[] record.StarterStack;
    record.StarterStack = nullptr;
    record.StarterStackSize = 0;
    record.StackCopyNotOwned = 0;
}

void TTavrelThreadsList::FreeRecord(TTavrelThreadRecord* record)
{
    if (!record)
        return;
    FreeStarterStack(*record);
    if (record->OwnsHandle && record->Handle)
        kernel::CloseHandle(record->Handle);
    delete record;
}

void TTavrelThreadsList::Delete(int index)
{
    TTavrelThreadRecord* r = Get(index);
    records_.erase(records_.begin() + index);
    // A copy's stacks are its own duplicates; its handles belong to the table.
    r->OwnsHandle = r->OwnsHandle && !IsCopy();
    FreeRecord(r);
}

TTavrelThreadRecord* TTavrelThreadsList::NewRecord(bool append)
{
    auto* r = new TTavrelThreadRecord{};
    r->Priority = kPriorityNotRead;
    if (append)
        Append(r);
    return r;
}

void TTavrelThreadsList::Purge()
{
    BeginWrite();
    for (int i = Count() - 1; i >= 0; --i)
        if (!kernel::IsThreadActive(Get(i)->Handle))
            Delete(i);
    EndWrite();
}

void TTavrelThreadsList::RemoveCurrentThread()
{
    BeginWrite();
    const int i = FindByID(kernel::GetCurrentThreadId());
    if (i >= 0)
        Delete(i);
    EndWrite();
}

} // namespace crashreport
