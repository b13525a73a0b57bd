#include "crashreport/stack/unwind_modules.h"

#include <algorithm>

#include "platform/kernel/modules.h"

namespace crashreport {

TUnwindModules::TUnwindModules()
{
    for (const kernel::TModuleImage& module : kernel::EnumerateModules()) {
        std::uintptr_t hdr = 0;
        for (int i = 0; i < module.ProgramHeaderCount; ++i) {
            const ElfW(Phdr)& ph = module.ProgramHeaders[i];
            if (ph.p_type == PT_GNU_EH_FRAME) hdr = module.Bias + ph.p_vaddr;
            // Only the file-backed part of a segment is sure to be mapped.
            if (ph.p_type == PT_LOAD && (ph.p_flags & PF_R) && ph.p_filesz)
                readable_.push_back({module.Bias + ph.p_vaddr, module.Bias + ph.p_vaddr + ph.p_filesz});
        }
        if (!hdr) continue;
        // The header, its table and .eh_frame lie in the read-only segment
        // that holds the header.
        TEntry entry{module.ImageStart, module.ImageEnd, {hdr, {}}};
        for (const kernel::TModuleSegment& s : module.Segments)
            if (hdr >= s.Start && hdr < s.End) entry.Cfi.Bytes = TCfiBytes{s.Start, s.End};
        if (entry.Cfi.Bytes.High == 0) continue;
        entries_.push_back(entry);
    }
    std::sort(entries_.begin(), entries_.end(), [](const TEntry& a, const TEntry& b) { return a.Start < b.Start; });
    std::sort(readable_.begin(), readable_.end());
}

bool TUnwindModules::Readable(std::uintptr_t address, std::size_t length) const
{
    auto it = std::upper_bound(readable_.begin(), readable_.end(), address,
                               [](std::uintptr_t v, const auto& r) { return v < r.first; });
    if (it == readable_.begin()) return false;
    --it;
    return address >= it->first && address < it->second && length <= it->second - address;
}

const TCfiModule* TUnwindModules::Find(std::uintptr_t pc) const
{
    auto it = std::upper_bound(entries_.begin(), entries_.end(), pc,
                               [](std::uintptr_t v, const TEntry& e) { return v < e.Start; });
    if (it == entries_.begin()) return nullptr;
    --it;
    return pc < it->End ? &it->Cfi : nullptr;
}

} // namespace crashreport
