#pragma once
// A list of strings that tells its owner about every change, so that the
// options record can run its change check when a filter list is edited.
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace crashreport {

class TNotifyStringList {
public:
    using TOnChange = std::function<void()>;

    explicit TNotifyStringList(TOnChange onChange = {}) : onChange_(std::move(onChange)) {}
    TNotifyStringList(const TNotifyStringList&) = delete;
    TNotifyStringList& operator=(const TNotifyStringList&) = delete;

    std::size_t Count() const { return items_.size(); }
    bool Empty() const { return items_.empty(); }
    // Out-of-range indexes raise EListError.
    const std::string& operator[](std::size_t index) const;
    const std::vector<std::string>& Items() const { return items_; }

    std::size_t Add(const std::string& s);
    void Insert(std::size_t index, const std::string& s);
    void Put(std::size_t index, const std::string& s);
    void Delete(std::size_t index);
    void Clear();
    // Replaces the whole content (one notification).
    void Assign(const std::vector<std::string>& items);
    void Assign(const TNotifyStringList& other) { Assign(other.items_); }

private:
    void Check(std::size_t index, std::size_t limit) const;
    void Notify() const
    {
        if (onChange_) onChange_();
    }

    std::vector<std::string> items_;
    TOnChange onChange_;
};

} // namespace crashreport
