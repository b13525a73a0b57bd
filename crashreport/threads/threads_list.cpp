#include "crashreport/threads/threads_list.h"

#include <cstring>

namespace crashreport {

TTavrelThreadsList::TTavrelThreadsList() : lock_(std::make_unique<std::shared_mutex>()) {}

TTavrelThreadsList::TTavrelThreadsList(bool) {}

TTavrelThreadsList::~TTavrelThreadsList()
{
    while (!records_.empty()) Delete(Count() - 1);
}

std::unique_ptr<TTavrelThreadsList> TTavrelThreadsList::PrivateCopy(TTavrelThreadsList& source)
{
    std::unique_ptr<TTavrelThreadsList> copy(new TTavrelThreadsList(true));
    TThreadsListReadLock lock(source);
    for (const auto& r : source.records_) {
        TThreadRecordOwner c = NewRecord();
        std::memcpy(static_cast<void*>(c.get()), r.get(), kThreadRecordCopySize);
        c->OwnsHandle = false;
        // The copy's stack is always its own duplicate (also of a stack that
        // another module owns), so the copy frees it and nothing else.
        c->StarterStack = nullptr;
        c->StackCopyNotOwned = 0;
        TTavrelThreadRecord* kept = copy->Append(std::move(c));
        if (r->StarterStack && r->StarterStackSize) {
            kept->StarterStack = new std::uint8_t[r->StarterStackSize];
            std::memcpy(kept->StarterStack, r->StarterStack, r->StarterStackSize);
            kept->StarterStackStart = r->StarterStackStart;
            kept->StarterFramesFrom = r->StarterFramesFrom;
            kept->HasStarterContext = r->HasStarterContext;
            kept->StarterContext = r->StarterContext;
        } else {
            kept->StarterStackSize = 0;
        }
    }
    return copy;
}

int TTavrelThreadsList::FindByID(std::uint32_t threadId) const
{
    for (int i = Count() - 1; i >= 0; --i)
        if (records_[static_cast<std::size_t>(i)]->ThreadID == threadId) return i;
    return -1;
}

int TTavrelThreadsList::FindByHandle(kernel::THandle handle) const
{
    for (int i = Count() - 1; i >= 0; --i)
        if (records_[static_cast<std::size_t>(i)]->Handle == handle) return i;
    return -1;
}

int TTavrelThreadsList::FindByThreadObject(const void* threadObject) const
{
    for (int i = Count() - 1; i >= 0; --i)
        if (records_[static_cast<std::size_t>(i)]->ThreadObject == threadObject) return i;
    return -1;
}

void TTavrelThreadsList::FreeStarterStack(TTavrelThreadRecord& record)
{
    if (!record.StackCopyNotOwned) delete[] record.StarterStack;
    record.StarterStack = nullptr;
    record.StarterStackSize = 0;
    record.StarterStackStart = 0;
    record.HasStarterContext = false;
    record.StackCopyNotOwned = 0;
}

void TThreadRecordDeleter::operator()(TTavrelThreadRecord* record) const
{
    if (!record) return;
    TTavrelThreadsList::FreeStarterStack(*record);
    if (record->OwnsHandle && record->Handle) kernel::CloseHandle(record->Handle);
    delete record;
}

void TTavrelThreadsList::Delete(int index)
{
    TThreadRecordOwner r = std::move(records_.at(static_cast<std::size_t>(index)));
    records_.erase(records_.begin() + index);
    // A copy's stacks are its own duplicates; its handles belong to the table.
    r->OwnsHandle = r->OwnsHandle && !IsCopy();
}

TThreadRecordOwner TTavrelThreadsList::NewRecord()
{
    TThreadRecordOwner r(new TTavrelThreadRecord{});
    r->Priority = kPriorityNotRead;
    return r;
}

TTavrelThreadRecord* TTavrelThreadsList::Append(TThreadRecordOwner record)
{
    records_.push_back(std::move(record));
    return records_.back().get();
}

void TTavrelThreadsList::Purge()
{
    TThreadsListWriteLock lock(*this);
    for (int i = Count() - 1; i >= 0; --i)
        if (!kernel::IsThreadActive(Get(i)->Handle)) Delete(i);
}

void TTavrelThreadsList::RemoveCurrentThread()
{
    TThreadsListWriteLock lock(*this);
    const int i = FindByID(kernel::GetCurrentThreadId());
    if (i >= 0) Delete(i);
}

} // namespace crashreport
