// Virtual-method interception: one slot of a C++ virtual table is replaced.
#include "crashreport/hook/hook_state.h"
#include "platform/kernel/memory.h"
#include "platform/kernel/modules.h"

#include <stdexcept>

namespace crashreport::hook {
namespace {

void** SlotAddress(void* vtable, int slot) { return static_cast<void**>(vtable) + slot; }

// Virtual tables live in a module's read-only relocated data; anything else
// (a table on the heap, a wild pointer) is not written.
void WriteSlot(void** slot, void* value)
{
    kernel::TModuleImage module;
    if (kernel::FindModuleByAddress(slot, module) && module.Contains(slot) &&
        module.Contains(reinterpret_cast<std::uint8_t*>(slot) + sizeof(void*) - 1))
        PatchCode(slot, &value, sizeof value);
}

} // namespace

THookedMethodsList::~THookedMethodsList()
{
    THookedMethodsLock lock(*this);
    const int count = Count();
    for (int i = 0; i < count; ++i) {
        detail::RestoreSlot(*items_.front());
        Delete(0);
    }
}

void THookedMethodsList::Delete(int index)
{
    THookedMethodsLock lock(*this);
    if (index < 0 || index >= Count()) throw std::out_of_range("THookedMethodsList::Delete");
    items_.erase(items_.begin() + index);
}

int THookedMethodsList::Find(const void* vtable, int slot) const
{
    for (std::size_t i = 0; i < items_.size(); ++i)
        if (items_[i]->Class == vtable && items_[i]->Slot == slot) return static_cast<int>(i);
    return -1;
}

void detail::RestoreSlot(const THookedMethod& method)
{
    WriteSlot(SlotAddress(method.Class, method.Slot), method.PreviousMethod);
}

void* InterceptVirtualMethod(void* vtable, int slot, void* replacement)
{
    THookedMethodsList* list = detail::Engine().HookedMethods;
    if (!list || !vtable || slot < 0) return nullptr;
    void** cell = SlotAddress(vtable, slot);
    if (!kernel::IsMemoryReadable(cell, sizeof *cell)) return nullptr;
    THookedMethodsLock lock(*list);
    void* previous = *cell;
    if (previous == replacement) {
        const int index = list->Find(vtable, slot);
        return index >= 0 ? list->Item(index)->PreviousMethod : previous;
    }
    WriteSlot(cell, replacement);
    list->Add(std::make_unique<THookedMethod>(THookedMethod{vtable, previous, slot}));
    return previous;
}

bool RestoreVirtualMethod(void* vtable, int slot)
{
    THookedMethodsList* list = detail::Engine().HookedMethods;
    if (!list) return false;
    THookedMethodsLock lock(*list);
    const int index = list->Find(vtable, slot);
    if (index < 0) return false;
    detail::RestoreSlot(*list->Item(index));
    list->Delete(index);
    return true;
}

int HookedMethodCount()
{
    THookedMethodsList* list = detail::Engine().HookedMethods;
    if (!list) return 0;
    THookedMethodsLock lock(*list);
    return list->Count();
}

} // namespace crashreport::hook
