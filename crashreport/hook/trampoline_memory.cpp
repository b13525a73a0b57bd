#include "crashreport/hook/trampoline_memory.h"

#include "platform/kernel/memory.h"

#include <cstdint>
#include <mutex>
#include <utility>
#include <vector>

namespace crashreport::hook {
namespace {

constexpr std::uintptr_t kReach = std::uintptr_t(1) << 30; // leaves room for the data the moved code reaches
constexpr std::size_t kChunkSize = 64 * 1024;
constexpr std::size_t kSlotsPerChunk = kChunkSize / kTrampolineSlotSize;

// Owns one mapped chunk of trampoline slots.
class TChunk {
public:
    explicit TChunk(void* mapping)
        : Start(reinterpret_cast<std::uintptr_t>(mapping)), Used(kSlotsPerChunk), UsedCount(0)
    {
    }
    ~TChunk()
    {
        if (Start) kernel::FreeMemory(reinterpret_cast<void*>(Start), kChunkSize);
    }
    TChunk(TChunk&& other) noexcept : Start(other.Start), Used(std::move(other.Used)), UsedCount(other.UsedCount)
    {
        other.Start = 0;
    }
    TChunk& operator=(TChunk&& other) noexcept
    {
        std::swap(Start, other.Start);
        std::swap(Used, other.Used);
        std::swap(UsedCount, other.UsedCount);
        return *this;
    }

    std::uintptr_t Start;
    std::vector<bool> Used;
    std::size_t UsedCount;
};

std::mutex g_lock;
// Never destroyed: code patched to jump into a chunk may still run while the
// process ends (after the static objects are gone).
std::vector<TChunk>& Chunks()
{
    static auto* chunks = new std::vector<TChunk>;
    return *chunks;
}
bool g_refuseNear = false;

bool Near(std::uintptr_t chunkStart, std::uintptr_t target)
{
    if (!target || sizeof(void*) == 4) // a 32-bit displacement reaches all of a 32-bit space
        return true;
    // The farthest byte of the chunk from the target must be within reach.
    const std::uintptr_t lo = chunkStart, hi = chunkStart + kChunkSize;
    const std::uintptr_t farthest = target >= lo ? target - lo : hi - target;
    return farthest < kReach;
}

void* MapAt(std::uintptr_t hint)
{
    return kernel::AllocateMemory(hint, kChunkSize, kernel::kProtectRead | kernel::kProtectExecute);
}

// Maps a chunk in the free gap closest to target within reach.
void* MapNear(std::uintptr_t target)
{
    if (!target) return MapAt(0);
    const std::uintptr_t lowest = 0x10000;
    const std::uintptr_t highest = (std::uintptr_t(1) << 47) - kChunkSize;
    const auto regions = kernel::ListMemoryRegions();
    std::uintptr_t best = 0, bestDistance = UINTPTR_MAX;
    std::uintptr_t gapStart = lowest;
    auto consider = [&](std::uintptr_t from, std::uintptr_t to) {
        from = (from + kChunkSize - 1) & ~(kChunkSize - 1);
        if (to < from + kChunkSize) return;
        // The chunk in [from, to) closest to the target.
        const std::uintptr_t last = (to - kChunkSize) & ~(kChunkSize - 1);
        std::uintptr_t at = target & ~(kChunkSize - 1);
        at = at < from ? from : (at > last ? last : at);
        if (at < lowest || at > highest) return;
        const std::uintptr_t d = at > target ? at - target : target - at;
        if (d < bestDistance && Near(at, target)) {
            best = at;
            bestDistance = d;
        }
    };
    for (const auto& r : regions) {
        if (r.Start > gapStart) consider(gapStart, r.Start);
        if (r.End > gapStart) gapStart = r.End;
    }
    consider(gapStart, highest);
    return best ? MapAt(best) : nullptr;
}

} // namespace

void* AllocateTrampoline(const void* nearTo)
{
    const auto target = reinterpret_cast<std::uintptr_t>(nearTo);
    std::lock_guard<std::mutex> lock(g_lock);
    if (target && g_refuseNear) return nullptr;
    for (auto& c : Chunks()) {
        if (c.UsedCount == kSlotsPerChunk || !Near(c.Start, target)) continue;
        for (std::size_t i = 0; i < kSlotsPerChunk; ++i)
            if (!c.Used[i]) {
                c.Used[i] = true;
                ++c.UsedCount;
                return reinterpret_cast<void*>(c.Start + i * kTrampolineSlotSize);
            }
    }
    // A few tries: another thread may map the gap between the scan and the mmap.
    for (int attempt = 0; attempt < 3; ++attempt) {
        void* p = MapNear(target);
        if (!p) continue;
        TChunk c(p);
        c.Used[0] = true;
        c.UsedCount = 1;
        Chunks().push_back(std::move(c));
        return p;
    }
    return nullptr;
}

void RefuseNearTrampolinesForTesting(bool refuse)
{
    std::lock_guard<std::mutex> lock(g_lock);
    g_refuseNear = refuse;
}

void FreeTrampoline(void* slot)
{
    if (!slot) return;
    const auto a = reinterpret_cast<std::uintptr_t>(slot);
    std::lock_guard<std::mutex> lock(g_lock);
    for (auto it = Chunks().begin(); it != Chunks().end(); ++it) {
        if (a < it->Start || a >= it->Start + kChunkSize) continue;
        const std::size_t i = (a - it->Start) / kTrampolineSlotSize;
        if (it->Used[i]) {
            it->Used[i] = false;
            --it->UsedCount;
        }
        if (it->UsedCount == 0) Chunks().erase(it); // unmaps it
        return;
    }
}

} // namespace crashreport::hook
