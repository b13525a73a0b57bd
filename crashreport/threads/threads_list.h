#pragma once
// The tracked threads: a list of thread records guarded by a multi-reader,
// single-writer lock. A private copy (taken for one report) has no lock and
// owns duplicates of the starter stacks, so the report can read them while
// the live table changes. Nothing here is signal-safe (it locks and allocates).
#include "crashreport/threads/thread_record.h"

#include <memory>
#include <shared_mutex>
#include <vector>

namespace crashreport {

// Frees a record that is in no list (its stack copy and handle when owned).
struct TThreadRecordDeleter {
    void operator()(TTavrelThreadRecord* record) const;
};
using TThreadRecordOwner = std::unique_ptr<TTavrelThreadRecord, TThreadRecordDeleter>;

class TTavrelThreadsList {
public:
    TTavrelThreadsList();
    ~TTavrelThreadsList();
    TTavrelThreadsList(const TTavrelThreadsList&) = delete;
    TTavrelThreadsList& operator=(const TTavrelThreadsList&) = delete;

    // Copies every record under the source's read lock.
    static std::unique_ptr<TTavrelThreadsList> PrivateCopy(TTavrelThreadsList& source);
    bool IsCopy() const { return !lock_; }

    // Searches run from the last record to the first; -1 when absent. The
    // caller holds the read or write lock (TThreadsListReadLock / WriteLock).
    int FindByID(std::uint32_t threadId) const;
    int FindByHandle(kernel::THandle handle) const;
    int FindByThreadObject(const void* threadObject) const;
    int Count() const { return static_cast<int>(records_.size()); }
    TTavrelThreadRecord* Get(int index) const { return records_.at(static_cast<std::size_t>(index)).get(); }
    void Delete(int index);

    // A zero-filled record with Priority kPriorityNotRead, in no list yet.
    static TThreadRecordOwner NewRecord();
    // The list takes the record; returns it.
    TTavrelThreadRecord* Append(TThreadRecordOwner record);
    static void FreeStarterStack(TTavrelThreadRecord& record);

    // Take the write lock themselves.
    void Purge(); // drops records whose thread is no longer active
    void RemoveCurrentThread();

private:
    friend class TThreadsListReadLock;
    friend class TThreadsListWriteLock;
    void BeginRead()
    {
        if (lock_) lock_->lock_shared();
    }
    void EndRead()
    {
        if (lock_) lock_->unlock_shared();
    }
    void BeginWrite()
    {
        if (lock_) lock_->lock();
    }
    void EndWrite()
    {
        if (lock_) lock_->unlock();
    }

    explicit TTavrelThreadsList(bool copy);
    std::unique_ptr<std::shared_mutex> lock_;
    std::vector<TThreadRecordOwner> records_;
};

// Holds the list's read lock for a scope; a private copy has none to take.
class TThreadsListReadLock {
public:
    explicit TThreadsListReadLock(TTavrelThreadsList& list) : list_(list) { list_.BeginRead(); }
    ~TThreadsListReadLock() { list_.EndRead(); }
    TThreadsListReadLock(const TThreadsListReadLock&) = delete;
    TThreadsListReadLock& operator=(const TThreadsListReadLock&) = delete;

private:
    TTavrelThreadsList& list_;
};

// Holds the list's write lock for a scope.
class TThreadsListWriteLock {
public:
    explicit TThreadsListWriteLock(TTavrelThreadsList& list) : list_(list) { list_.BeginWrite(); }
    ~TThreadsListWriteLock() { list_.EndWrite(); }
    TThreadsListWriteLock(const TThreadsListWriteLock&) = delete;
    TThreadsListWriteLock& operator=(const TThreadsListWriteLock&) = delete;

private:
    TTavrelThreadsList& list_;
};

} // namespace crashreport
