#pragma once
// The framework's component base: an owner, a name and a tag. An owner
// destroys the components it owns when it is destroyed itself.
#include <cstdint>
#include <string>
#include <vector>

namespace rtl {

class TComponent {
public:
    explicit TComponent(TComponent* owner = nullptr);
    virtual ~TComponent();
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    TComponent* Owner() const { return owner_; }
    const std::vector<TComponent*>& Components() const { return owned_; }

    std::string Name;
    std::intptr_t Tag = 0;

private:
    void Remove(TComponent* child);

    TComponent* owner_;
    std::vector<TComponent*> owned_;
};

} // namespace rtl
