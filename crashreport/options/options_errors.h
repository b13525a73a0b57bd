#pragma once
// Errors raised by the crash reporter's options.
#include <string>

#include "platform/rtl/exception.h"

namespace crashreport {

// The runtime's conversion error: a value of the wrong kind, such as
// assigning no record to an options record.
class EConvertError : public rtl::Exception {
public:
    using Exception::Exception;
};

// A list index out of range.
class EListError : public rtl::Exception {
public:
    using Exception::Exception;
};

// A text index outside 0..95.
class ETextIndexError : public rtl::Exception {
public:
    using Exception::Exception;
};

// The stream form of the options is short or damaged. The message names
// the field and the offset where reading stopped.
class EOptionsStreamError : public rtl::EReadError {
public:
    using EReadError::EReadError;
};

// A guarded start-up or shut-down step failed and no internal-error handler
// was there to take it.
class ECriticalError : public rtl::Exception {
public:
    using Exception::Exception;
};

} // namespace crashreport
