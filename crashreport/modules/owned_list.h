#pragma once
// The reporter's record lists: get by index, delete by index (frees the
// record with its strings and owned objects), clear (deletes from the front
// until empty). Destroying the list clears it. Not signal-safe (allocates).
#include <cstddef>
#include <memory>
#include <utility>
#include <vector>

namespace crashreport {

template <typename T> class TOwnedList {
public:
    int Count() const { return static_cast<int>(items_.size()); }
    T* Item(int index) const { return index >= 0 && index < Count() ? items_[std::size_t(index)].get() : nullptr; }
    T* operator[](int index) const { return Item(index); }
    T* Add(std::unique_ptr<T> item)
    {
        items_.push_back(std::move(item));
        return items_.back().get();
    }
    void Delete(int index)
    {
        if (index >= 0 && index < Count()) items_.erase(items_.begin() + index);
    }
    void Clear()
    {
        while (!items_.empty()) items_.erase(items_.begin());
    }
    std::vector<std::unique_ptr<T>>& Items() { return items_; }
    const std::vector<std::unique_ptr<T>>& Items() const { return items_; }

private:
    std::vector<std::unique_ptr<T>> items_;
};

} // namespace crashreport
