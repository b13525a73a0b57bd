#include "crashreport/hook/code_patch.h"

#include "crashreport/hook/elf_imports.h"
#include "crashreport/hook/hook_state.h"
#include "platform/kernel/memory.h"
#include "platform/kernel/modules.h"

#include <cstdint>
#include <cstring>
#include <mutex>
#include <vector>

namespace crashreport::hook {

namespace {

// Reads and writes of code bytes, as plain instructions: an aligned 8-byte
// move is atomic on x86-64, and no sanitizer instruments these (code pages
// have no shadow memory of the thread sanitizer's).
std::uint64_t LoadCodeWord(const std::uint64_t* cell)
{
    std::uint64_t value;
    asm volatile("movq %1, %0" : "=r"(value) : "m"(*cell) : "memory");
    return value;
}

void StoreCodeWord(std::uint64_t* cell, std::uint64_t value)
{
    asm volatile("movq %1, %0" : "=m"(*cell) : "r"(value) : "memory");
}

void CopyCodeBytes(std::uint8_t* to, const std::uint8_t* from, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) asm volatile("movb %1, %0" : "=m"(to[i]) : "q"(from[i]) : "memory");
}

} // namespace

bool PatchCode(void* address, const void* source, std::size_t count)
{
    if (count == 0) return true;
    // One patch at a time: two patches of one page must not see each other's
    // temporary protection as the page's own.
    static std::mutex patchLock;
    std::lock_guard<std::mutex> lock(patchLock);
    const std::uintptr_t pageSize = kernel::PageSize();
    const auto begin = reinterpret_cast<std::uintptr_t>(address);
    const std::uintptr_t firstPage = begin & ~(pageSize - 1);
    const std::uintptr_t lastPage = (begin + count - 1) & ~(pageSize - 1);

    // Learn every page's protection before touching any of them.
    struct Page {
        std::uintptr_t At;
        int Protection;
    };
    Page pages[4];
    std::vector<Page> more;
    std::size_t pageCount = 0;
    for (std::uintptr_t p = firstPage; p <= lastPage; p += pageSize) {
        kernel::TMemoryRegion region;
        if (!kernel::QueryMemory(reinterpret_cast<void*>(p), region, true)) return false;
        const Page page{p, region.Protection};
        if (pageCount < 4)
            pages[pageCount] = page;
        else
            more.push_back(page);
        ++pageCount;
    }
    auto pageAt = [&](std::size_t i) -> Page& { return i < 4 ? pages[i] : more[i - 4]; };

    std::size_t changed = 0;
    bool ok = true;
    for (; changed < pageCount; ++changed) {
        const Page& page = pageAt(changed);
        if ((page.Protection & (kernel::kProtectRead | kernel::kProtectWrite)) ==
            (kernel::kProtectRead | kernel::kProtectWrite))
            continue;
        if (!kernel::ProtectMemory(reinterpret_cast<void*>(page.At), 1,
                                   page.Protection | kernel::kProtectRead | kernel::kProtectWrite)) {
            ok = false;
            break;
        }
    }
    if (ok) {
        const std::uintptr_t word = begin & ~std::uintptr_t(7);
        if (begin + count <= word + 8) {
            // One aligned 8-byte store: a thread running this code sees the
            // old bytes or the new ones, never a torn mix (a jump at a
            // procedure's aligned entry is written this way).
            auto* cell = reinterpret_cast<std::uint64_t*>(word);
            std::uint64_t value = LoadCodeWord(cell);
            std::memcpy(reinterpret_cast<std::uint8_t*>(&value) + (begin - word), source, count);
            StoreCodeWord(cell, value);
        } else {
            CopyCodeBytes(static_cast<std::uint8_t*>(address), static_cast<const std::uint8_t*>(source), count);
        }
    }
    for (std::size_t i = 0; i < changed; ++i) {
        const Page& page = pageAt(i);
        if ((page.Protection & (kernel::kProtectRead | kernel::kProtectWrite)) !=
            (kernel::kProtectRead | kernel::kProtectWrite))
            kernel::ProtectMemory(reinterpret_cast<void*>(page.At), 1, page.Protection);
    }
    if (ok) kernel::FlushInstructionCache(address, count);
    return ok;
}

bool InRel32Reach(const void* end, const void* destination)
{
    const auto d =
        static_cast<std::int64_t>(reinterpret_cast<std::intptr_t>(destination) - reinterpret_cast<std::intptr_t>(end));
    return d >= INT32_MIN && d <= INT32_MAX;
}

bool WriteJump(void* at, const void* destination)
{
    auto* p = static_cast<std::uint8_t*>(at);
    if (!InRel32Reach(p + 5, destination)) return false;
    std::uint8_t jump[5];
    jump[0] = 0xE9;
    const auto displacement = static_cast<std::int32_t>(reinterpret_cast<std::intptr_t>(destination) -
                                                        reinterpret_cast<std::intptr_t>(p + 5));
    std::memcpy(jump + 1, &displacement, 4);
    return PatchCode(at, jump, sizeof jump);
}

namespace {

// The cell of a "jmp [cell]" at p, or null.
void** JumpCell(const std::uint8_t* p)
{
    if (!kernel::IsMemoryReadable(p, 8)) return nullptr;
#if defined(__x86_64__)
    if (p[0] == 0xF3 && p[1] == 0x0F && p[2] == 0x1E && p[3] == 0xFA) { // endbr64 landing pad
        p += 4;
        if (!kernel::IsMemoryReadable(p, 8)) return nullptr;
    }
    if (p[0] == 0xF2) // bnd prefix of MPX-era PLTs
        ++p;
    if (p[0] != 0xFF || p[1] != 0x25) return nullptr;
    std::int32_t displacement;
    std::memcpy(&displacement, p + 2, 4);
    return reinterpret_cast<void**>(const_cast<std::uint8_t*>(p) + 6 + displacement);
#else
    if (p[0] != 0xFF || p[1] != 0x25) return nullptr;
    std::uint32_t cell;
    std::memcpy(&cell, p + 2, 4);
    return reinterpret_cast<void**>(static_cast<std::uintptr_t>(cell));
#endif
}

} // namespace

void* FollowImportStub(void* address)
{
    if (!address) return address;
    void** cell = JumpCell(static_cast<const std::uint8_t*>(address));
    if (!cell || !kernel::IsMemoryReadable(cell, sizeof(void*))) return address;
    void* value = *cell;
    // A lazily bound PLT cell points back into its own module's PLT.
    kernel::TModuleImage module;
    if (value && kernel::FindModuleByAddress(cell, module) && module.Contains(value)) {
        auto& engine = detail::Engine();
        std::lock_guard<std::recursive_mutex> lock(engine.Lock);
        if (const TModuleImports* imports = detail::KnownModuleImports(module))
            for (const auto& c : imports->Cells)
                if (c.Cell == cell) {
                    if (void* bound = ResolveLazyCell(module, c)) return bound;
                    break;
                }
    }
    return value ? value : address;
}

} // namespace crashreport::hook
