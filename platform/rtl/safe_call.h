#pragma once
// The safe-call boundary: a call whose exceptions must not cross it (a
// callback called by foreign code, for example). SafeCall runs the body and
// turns an exception that leaves it into the failure code E_UNEXPECTED,
// keeping its message; on the caller's side SafeCallCheck raises
// ESafecallException with that message again.
#include "platform/rtl/exception.h"

#include <cstdint>

namespace rtl {

constexpr std::int32_t S_OK = 0;
constexpr std::int32_t E_UNEXPECTED = static_cast<std::int32_t>(0x8000FFFF);

class ESafecallException : public Exception {
public:
    using Exception::Exception;
};

using TSafeCallBody = void (*)(void* data);

std::int32_t SafeCall(TSafeCallBody body, void* data) noexcept;
// Raises ESafecallException with the message kept by the last failed
// SafeCall of this thread when `result` is a failure code.
void SafeCallCheck(std::int32_t result);

// The entry of SafeCall, by which the crash reporter recognises its handler.
const void* SafeCallWrapperAddress();

} // namespace rtl
