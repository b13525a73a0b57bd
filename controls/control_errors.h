#pragma once
// Errors that controls raise when asked for something they cannot do.
#include "platform/rtl/exception.h"

namespace controls {

// An operation that is not valid in the control's current state or range.
class EInvalidOperation : public rtl::Exception {
public:
    using rtl::Exception::Exception;
};

} // namespace controls
