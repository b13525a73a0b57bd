#pragma once
// The tracked threads: a list of thread records guarded by a multi-reader,
// single-writer lock. A private copy (taken for one report) has no lock and
// owns duplicates of the starter stacks, so the report can read them while
// the live table changes. Nothing here is signal-safe (it locks and allocates).
#include "crashreport/capture/thread_record.h"

#include <memory>
#include <shared_mutex>
#include <vector>

namespace crashreport {

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
    // caller holds the read or write lock.
    int FindByID(std::uint32_t threadId) const;
    int FindByHandle(kernel::THandle handle) const;
    int FindByThreadObject(const void* threadObject) const;
    int Count() const { return static_cast<int>(records_.size()); }
    TTavrelThreadRecord* Get(int index) const { return records_.at(static_cast<std::size_t>(index)); }
    void Delete(int index);

    // A zero-filled record with Priority kPriorityNotRead; appended when asked.
    TTavrelThreadRecord* NewRecord(bool append);
    void Append(TTavrelThreadRecord* record) { records_.push_back(record); }
    // Frees a record that is not in any list (its stack copy and handle when owned).
    static void FreeRecord(TTavrelThreadRecord* record);
    static void FreeStarterStack(TTavrelThreadRecord& record);

    // Take the write lock themselves.
    void Purge();                // drops records whose thread is no longer active
    void RemoveCurrentThread();

    void BeginRead() { if (lock_) lock_->lock_shared(); }
    void EndRead() { if (lock_) lock_->unlock_shared(); }
    void BeginWrite() { if (lock_) lock_->lock(); }
    void EndWrite() { if (lock_) lock_->unlock(); }

private:
    explicit TTavrelThreadsList(bool copy);
    std::unique_ptr<std::shared_mutex> lock_;
    std::vector<TTavrelThreadRecord*> records_;
};

} // namespace crashreport
