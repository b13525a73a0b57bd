#include "platform/rtl/safe_call.h"

#include <exception>
#include <string>

namespace rtl {
namespace {
thread_local std::string t_message;
}

std::int32_t SafeCall(TSafeCallBody body, void* data) noexcept
{
    try {
        body(data);
        return S_OK;
    } catch (const std::exception& e) {
        try {
            t_message = e.what();
        } catch (...) {
            t_message.clear();
        }
    } catch (...) {
        t_message.clear();
    }
    return E_UNEXPECTED;
}

void SafeCallCheck(std::int32_t result)
{
    if (result >= 0) return;
    throw ESafecallException(t_message.empty() ? std::string("Exception in safecall method") : t_message);
}

const void* SafeCallWrapperAddress() { return reinterpret_cast<const void*>(&SafeCall); }

} // namespace rtl
