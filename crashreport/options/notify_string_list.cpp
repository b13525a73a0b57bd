#include "crashreport/options/notify_string_list.h"

#include "crashreport/options/options_errors.h"

namespace crashreport {

void TNotifyStringList::Check(std::size_t index, std::size_t limit) const
{
    if (index >= limit) throw EListError("List index out of bounds (" + std::to_string(index) + ")");
}

const std::string& TNotifyStringList::operator[](std::size_t index) const
{
    Check(index, items_.size());
    return items_[index];
}

std::size_t TNotifyStringList::Add(const std::string& s)
{
    items_.push_back(s);
    Notify();
    return items_.size() - 1;
}

void TNotifyStringList::Insert(std::size_t index, const std::string& s)
{
    Check(index, items_.size() + 1);
    items_.insert(items_.begin() + static_cast<std::ptrdiff_t>(index), s);
    Notify();
}

void TNotifyStringList::Put(std::size_t index, const std::string& s)
{
    Check(index, items_.size());
    items_[index] = s;
    Notify();
}

void TNotifyStringList::Delete(std::size_t index)
{
    Check(index, items_.size());
    items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(index));
    Notify();
}

void TNotifyStringList::Clear()
{
    if (items_.empty()) return;
    items_.clear();
    Notify();
}

void TNotifyStringList::Assign(const std::vector<std::string>& items)
{
    if (&items == &items_) return;
    items_ = items;
    Notify();
}

} // namespace crashreport
