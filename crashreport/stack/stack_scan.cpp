#include "crashreport/stack/stack_scan.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#include "crashreport/stack/call_recognizer.h"
#include "crashreport/modules/module_identity_info.h"
#include "crashreport/modules/readable_memory.h"
#include "platform/kernel/memory.h"
#include "platform/kernel/modules.h"

namespace crashreport {
namespace {

constexpr std::size_t kSlot = sizeof(void*);
constexpr std::size_t kBudgetBlock = 400;

class TEntryAdder {
public:
    TEntryAdder(TTavrelStackList& list, const TStackScanOptions& options)
        : list_(list),
          kinds_(options.Kinds),
          maxCount_(options.MaxCount),
          firstIndex_(options.FirstIndex),
          useDebugInfo_(options.UseDebugInfo),
          runningThread_(options.RunningThread),
          threadID_(options.ThreadID)
    {
    }

    // The rows of one address (more than one in inlined code) are kept,
    // counted and appended together.
    void Add(std::uintptr_t address, bool scanned, bool walked)
    {
        std::vector<std::unique_ptr<TTavrelDebugInfo>> rows;
        const void* a = reinterpret_cast<const void*>(address);
        if (useDebugInfo_) {
            rows = GetDebugInfoRows(a, threadID_, runningThread_);
        } else {
            rows.push_back(std::make_unique<TTavrelDebugInfo>());
            TTavrelDebugInfo* entry = rows.back().get();
            entry->DebugDetail = dkModuleOnly;
            entry->Addr = const_cast<void*>(a);
            entry->ThreadID = threadID_;
            entry->RunningThread = runningThread_;
            kernel::TModuleImage image;
            if (kernel::FindModuleByAddress(a, image)) {
                entry->OwnModuleInfo = std::make_unique<TTavrelModuleInfo>();
                entry->OwnModuleInfo->Handle = image.Handle;
                entry->OwnModuleInfo->FileName = ModuleFileName(image.Handle);
                entry->ModuleInfo = entry->OwnModuleInfo.get();
            }
        }
        for (auto& row : rows) {
            row->Scanned = scanned;
            row->Walked = walked;
        }
        const std::uint8_t detail = rows.back()->DebugDetail;
        if (detail > 7 || !((kinds_ >> detail) & 1)) return;
        const int index = seen_++;
        const bool append = firstIndex_ == -1 || (index >= firstIndex_ && (maxCount_ < 0 || appended_ < maxCount_));
        if (append) {
            for (auto& row : rows) list_.Add(std::move(row));
            ++appended_;
        }
    }

private:
    TTavrelStackList& list_;
    std::uint32_t kinds_;
    int maxCount_, firstIndex_;
    bool useDebugInfo_;
    std::uint8_t runningThread_;
    std::int32_t threadID_;
    int seen_ = 0, appended_ = 0;
};

bool Named(const TTavrelDebugInfo* e) { return e->DebugDetail >= dkExportName && e->DebugDetail <= dkDebugLine; }

std::uintptr_t HandleOf(const TTavrelDebugInfo* e) { return e->ModuleInfo ? e->ModuleInfo->Handle : 0; }

std::mutex g_currentLock;
std::unique_ptr<TTavrelStackList> g_current;

} // namespace

void TidyStackEntries(TTavrelStackList& list, int first)
{
    // The rows of one address count as one entry: its last row (the
    // function that holds the code) stands for them, and hiding it hides
    // its inlined rows before it.
    auto nextNamed = [&list](int from, std::uintptr_t module) {
        for (int j = from; j < list.Count(); ++j)
            if (Named(list.Item(j)) && !list.Item(j)->Inlined && HandleOf(list.Item(j)) == module) return j;
        return -1;
    };
    auto hide = [&list, first](int i) {
        void* const addr = list.Item(i)->Addr;
        list.Item(i)->DebugDetail = dkUnknown;
        for (int j = i - 1; j >= first && list.Item(j)->Inlined && list.Item(j)->Addr == addr; --j)
            list.Item(j)->DebugDetail = dkUnknown;
    };
    for (int i = list.Count() - 2; i >= first; --i) {
        TTavrelDebugInfo* e = list.Item(i);
        // A frame of the exact walk was live: a repeated address there is a
        // recursion, not a stale copy.
        if (!Named(e) || e->Inlined || e->Walked) continue;
        const int j = nextNamed(i + 1, HandleOf(e));
        if (j < 0) continue;
        if (list.Item(j)->Addr == e->Addr) {
            hide(i);
            continue;
        }
        const int k = nextNamed(j + 1, HandleOf(e));
        if (k >= 0 && list.Item(k)->Addr == e->Addr) hide(i);
    }
}

std::uint32_t ShownDetailKinds(TStackFlags flags)
{
    std::uint32_t kinds = 1u << dkDebugLine;
    if (flags.Contains(stDllFrames)) kinds |= 1u << dkExportName;
    if (flags.Contains(stPackageFrames)) kinds |= 1u << dkDecoratedName;
    return kinds;
}

TCodeRanges::TCodeRanges()
{
    for (const auto& r : kernel::ListMemoryRegions())
        if (r.Protection & kernel::kProtectExecute) ranges_.push_back({r.Start, r.End});
}

bool TCodeRanges::Contains(std::uintptr_t a) const
{
    auto it = std::upper_bound(ranges_.begin(), ranges_.end(), a,
                               [](std::uintptr_t v, const auto& r) { return v < r.first; });
    return it != ranges_.begin() && a < (it - 1)->second;
}

TStackAddresses::TStackAddresses(std::size_t capacity)
    : items_(std::make_unique<std::uintptr_t[]>(capacity)),
      scanned_(std::make_unique<std::uint8_t[]>(capacity)),
      capacity_(capacity)
{
}

bool TStackAddresses::Add(std::uintptr_t address)
{
    if (count_ == capacity_) return false;
    scanned_[count_] = kFromScan;
    items_[count_++] = address;
    return true;
}

bool TStackAddresses::AddWalked(std::uintptr_t address)
{
    if (!Add(address)) return false;
    scanned_[count_ - 1] = kWalked;
    return true;
}

// One slot of a stack that is not ours: a plain load (the memory checker's
// copy routines would take other frames' guard zones for errors).
__attribute__((no_sanitize("address"))) static std::uintptr_t ReadSlot(std::uintptr_t slot)
{
    return *reinterpret_cast<const volatile std::uintptr_t*>(slot);
}

void ScanStackAddresses(const TStackArea& area, bool addCallTargets, const TCodeRanges& code, TStackAddresses& out)
{
    if (area.FirstAddress) out.Add(reinterpret_cast<std::uintptr_t>(area.FirstAddress));
    std::uintptr_t start = reinterpret_cast<std::uintptr_t>(area.Start);
    std::uintptr_t end = reinterpret_cast<std::uintptr_t>(area.End);
    start = (start + kSlot - 1) & ~(kSlot - 1);
    if (start == 0 || end <= start) return;
    if (end - start > kMaxScannedStackBytes) end = start + kMaxScannedStackBytes;
    std::size_t budget = 0;
    for (std::uintptr_t slot = start; slot + kSlot <= end; slot += kSlot) {
        try {
            if (budget == 0) {
                const std::size_t block = std::min<std::size_t>(kBudgetBlock, end - slot);
                if (IsReadableMemory(reinterpret_cast<const void*>(slot), block))
                    budget = block;
                else if (IsReadableMemory(reinterpret_cast<const void*>(slot), kSlot))
                    budget = kSlot;
                else
                    continue;
            }
            budget = budget >= kSlot ? budget - kSlot : 0;
            const std::uintptr_t value = ReadSlot(slot);
            if (!code.Contains(value)) continue;
            TRecognizedCall call;
            if (!RecognizeCall(value, addCallTargets, call)) continue;
            if (addCallTargets && call.TargetIsEntry) out.Add(call.Target);
            out.Add(call.Site);
        } catch (...) {
            budget = 0; // a fault while examining the slot: skip it
        }
    }
}

void AddResolvedEntries(TTavrelStackList& list, const TStackAddresses& addresses, const TStackScanOptions& options)
{
    const int countBefore = list.Count();
    TEntryAdder adder(list, options);
    const auto items = addresses.Items();
    for (std::size_t i = 0; i < items.size(); ++i) adder.Add(items[i], addresses.Scanned(i), addresses.Walked(i));
    TidyStackEntries(list, countBefore);
}

void AddStackEntries(TTavrelStackList& list, const TStackArea& area, const TStackScanOptions& options)
{
    const TCodeRanges code;
    TStackAddresses addresses;
    ScanStackAddresses(area, options.AddCallTargets, code, addresses);
    AddResolvedEntries(list, addresses, options);
}

std::unique_ptr<TTavrelStackList> GetCallStack(const TStackArea& area, TStackScanOptions options)
{
    options.UseDebugInfo = true;
    options.RunningThread = 1;
    auto list = std::make_unique<TTavrelStackList>();
    AddStackEntries(*list, area, options);
    return list;
}

TTavrelStackList* CurrentCallStack()
{
    std::lock_guard<std::mutex> lock(g_currentLock);
    return g_current.get();
}

void SetCurrentCallStack(std::unique_ptr<TTavrelStackList> list)
{
    std::lock_guard<std::mutex> lock(g_currentLock);
    g_current = std::move(list);
}

} // namespace crashreport
