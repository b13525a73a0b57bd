#include "crashreport/modules/module_info.h"

#include <algorithm>

namespace crashreport {

const TTavrelFunctionInfo* TTavrelFunctionsList::FindByAddress(std::uintptr_t address) const
{
    const auto& items = Items();
    auto it = std::upper_bound(items.begin(), items.end(), address,
                               [](std::uintptr_t a, const auto& f) { return a < f->Address; });
    if (it == items.begin()) return nullptr;
    const TTavrelFunctionInfo* f = (it - 1)->get();
    return address <= f->Address + f->Size ? f : nullptr;
}

void TTavrelFunctionsList::SortByAddress()
{
    std::stable_sort(Items().begin(), Items().end(),
                     [](const auto& a, const auto& b) { return a->Address < b->Address; });
}

int TTavrelModulesList::IndexOfHandle(std::uintptr_t handle) const
{
    for (int i = 0; i < Count(); ++i)
        if (Item(i)->Handle == handle) return i;
    return -1;
}

void TTavrelModulesList::SortByHandle()
{
    std::stable_sort(Items().begin(), Items().end(),
                     [](const auto& a, const auto& b) { return a->Handle < b->Handle; });
}

} // namespace crashreport
