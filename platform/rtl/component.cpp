#include "platform/rtl/component.h"

#include <algorithm>

namespace rtl {

TComponent::TComponent(TComponent* owner) : owner_(owner)
{
    if (owner_) owner_->owned_.push_back(this);
}

TComponent::~TComponent()
{
    // Children remove themselves from owned_ as they go, so work from a copy.
    auto children = owned_;
    for (auto it = children.rbegin(); it != children.rend(); ++it) {
        (*it)->owner_ = nullptr;
        delete *it;
    }
    if (owner_) owner_->Remove(this);
}

void TComponent::Remove(TComponent* child)
{
    owned_.erase(std::remove(owned_.begin(), owned_.end(), child), owned_.end());
}

} // namespace rtl
