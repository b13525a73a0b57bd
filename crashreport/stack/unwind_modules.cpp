#include "crashreport/stack/unwind_modules.h"

#include <algorithm>

#include "platform/kernel/modules.h"

namespace crashreport {

TUnwindModules::TUnwindModules()
{
    for (const kernel::TModuleImage& module : kernel::EnumerateModules()) {
        std::uintptr_t hdr = 0;
        for (int i = 0; i < module.ProgramHeaderCount; ++i)
            if (module.ProgramHeaders[i].p_type == PT_GNU_EH_FRAME)
                hdr = module.Bias + module.ProgramHeaders[i].p_vaddr;
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
