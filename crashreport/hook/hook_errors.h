#pragma once
// The hooking engine's failures. The crash reporter's start-up guard catches
// every EHookError, so a failed interception never stops the program.
#include "platform/rtl/exception.h"

namespace crashreport::hook {

class EHookError : public rtl::Exception {
public:
    using rtl::Exception::Exception;
};

// A null procedure or real-function address.
class EProcNull : public EHookError {
public:
    using EHookError::EHookError;
};

// The trampoline could not be built, or no import entry was found.
class EHookingError : public EHookError {
public:
    using EHookError::EHookError;
};

// The target lies in memory the process shares with the kernel (vDSO, vsyscall).
class ESharedArea : public EHookError {
public:
    using EHookError::EHookError;
};

} // namespace crashreport::hook
